// What the primitives leave on the stack below their caller after a run on each engine: no
// 16-byte window of the scrubbed depth may hold key-derived state. The HMAC midstates (the
// SHA-256 state after each padded key block, as good as the key) are looked for in every form
// that the portable and the SHA-NI compression keep them in; the AES round keys in the schedule's
// order and in the instructions' order. The expected values come from the portable code.

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "base/stack_scrub.h"
#include "crypto/aes.h"
#include "crypto/hmac.h"
#include "crypto/pbkdf2.h"
#include "support/stack_window.h"
#include "tests/crypto/cipher_test_support.h"

namespace {

using namespace cipher_test;
using Patterns = std::vector<std::vector<uint8_t>>;

struct Sha256EngineRow {
    const char* name;
    Sha256Engine engine;
};

const Sha256EngineRow SHA256_ENGINES[] = {{"Portable", SHA256_ENGINE_PORTABLE}, {"ShaNi", SHA256_ENGINE_SHA_NI}};

std::vector<uint8_t> wordsAsBytes(std::initializer_list<uint32_t> words) {
    std::vector<uint8_t> bytes(4 * words.size());
    std::memcpy(bytes.data(), std::data(words), bytes.size());
    return bytes;
}

// Four consecutive state words in memory order, and the lane orders of the SHA-NI code's vectors
// (ABEF and CDGH with A and C in the top lane, and the shuffles they are made from).
void addStatePatterns(const uint32_t s[8], Patterns& patterns) {
    for (size_t i = 0; i + 4 <= 8; ++i) patterns.push_back(wordsAsBytes({s[i], s[i + 1], s[i + 2], s[i + 3]}));
    patterns.push_back(wordsAsBytes({s[5], s[4], s[1], s[0]}));  // ABEF
    patterns.push_back(wordsAsBytes({s[7], s[6], s[3], s[2]}));  // CDGH
    patterns.push_back(wordsAsBytes({s[1], s[0], s[3], s[2]}));  // CDAB
    patterns.push_back(wordsAsBytes({s[7], s[6], s[5], s[4]}));  // HGFE
}

void addMidstatePatterns(const SecureBuffer& midstate, Patterns& patterns) {
    uint32_t s[8];
    hmacLoadMidstate(midstate, s);
    addStatePatterns(s, patterns);
    secureWipe(s, sizeof s);
}

Patterns midstatePatternsOf(const SecureBuffer& key) {
    HmacSha256 reference;
    hmacInit(reference, key, SHA256_ENGINE_PORTABLE);
    Patterns patterns;
    addMidstatePatterns(reference.innerMidstate, patterns);
    addMidstatePatterns(reference.outerMidstate, patterns);
    hmacRelease(reference);
    // The reference computation's own leftovers below this frame must not count for the run
    // under test.
    stackScrub();
    return patterns;
}

// A copy of the patterns left in a frame below: shows that the hook sees such a leftover.
__attribute__((noinline)) void leaveCopyBelow(const Patterns& patterns) {
    volatile uint8_t copy[256];
    for (size_t i = 0; i < sizeof copy; ++i) copy[i] = patterns[(i / 16) % patterns.size()][i % 16];
    (void)copy;
}

std::string offsetsText(const std::vector<size_t>& offsets) {
    std::string text;
    for (size_t at : offsets) text += " " + std::to_string(at);
    return text;
}

TEST(StackScrubHook, SeesAMidstateCopyLeftBelowTheCaller) {
    SeededBytes random(0x5c0b0001);
    const Patterns patterns = midstatePatternsOf(bufferOf(random.next(32)));
    std::vector<uint8_t> window(STACK_SCRUB_BYTES);
    leaveCopyBelow(patterns);
    testsupport::stackWindowRead(window.data());
    EXPECT_FALSE(testsupport::stackWindowFind(window, patterns).empty());
}

class StackScrubSha256 : public ::testing::TestWithParam<Sha256EngineRow> {
protected:
    void SetUp() override {
        if (!sha256EngineAvailable(GetParam().engine)) GTEST_SKIP() << "the processor lacks the SHA extensions";
    }
};

// The compression alone, which does not scrub: whatever the registers cannot hold must sit in
// memory that it wipes itself (on i686 the state between blocks), never in a spill slot.
TEST_P(StackScrubSha256, CompressionLeavesNoStateBelowTheCaller) {
    SeededBytes random(0x5c0b0005);
    const SecureBuffer key = bufferOf(random.next(32));
    HmacSha256 reference;
    hmacInit(reference, key, SHA256_ENGINE_PORTABLE);
    uint32_t start[8];
    hmacLoadMidstate(reference.innerMidstate, start);
    hmacRelease(reference);
    const Bytes blocks = random.next(3 * SHA256_BLOCK_BYTES);
    Patterns patterns;
    addStatePatterns(start, patterns);
    uint32_t expected[8];
    std::memcpy(expected, start, sizeof start);
    for (size_t n = 0; n < 3; ++n) {
        sha256Compress(expected, blocks.data() + SHA256_BLOCK_BYTES * n, 1, SHA256_ENGINE_PORTABLE);
        addStatePatterns(expected, patterns);
    }
    stackScrub();
    std::vector<uint8_t> window(STACK_SCRUB_BYTES);

    uint32_t state[8];
    std::memcpy(state, start, sizeof start);
    sha256Compress(state, blocks.data(), 3, GetParam().engine);
    testsupport::stackWindowRead(window.data());
    const std::vector<size_t> left = testsupport::stackWindowFind(window, patterns);

    EXPECT_EQ(std::memcmp(state, expected, sizeof state), 0);
    EXPECT_TRUE(left.empty()) << "state left after the compression at offsets" << offsetsText(left);
    stackScrub();
}

TEST_P(StackScrubSha256, HmacLeavesNoMidstateBelowTheCaller) {
    SeededBytes random(0x5c0b0002);
    for (size_t keyBytes : {size_t{16}, size_t{32}, size_t{64}}) {
        SCOPED_TRACE(keyBytes);
        const SecureBuffer key = bufferOf(random.next(keyBytes));
        const Patterns patterns = midstatePatternsOf(key);
        // Three blocks and a part: the bulk compression and the padding both run.
        const SecureBuffer message = bufferOf(random.next(200));
        std::vector<uint8_t> window(STACK_SCRUB_BYTES);

        HmacSha256 mac;
        hmacInit(mac, key, GetParam().engine);
        testsupport::stackWindowRead(window.data());
        const std::vector<size_t> afterInit = testsupport::stackWindowFind(window, patterns);

        const SecureBuffer tag = hmacCompute(mac, message);
        testsupport::stackWindowRead(window.data());
        const std::vector<size_t> afterTag = testsupport::stackWindowFind(window, patterns);
        hmacRelease(mac);

        EXPECT_EQ(tag.size(), HMAC_TAG_BYTES);
        EXPECT_TRUE(afterInit.empty()) << "midstate left after hmacInit at offsets" << offsetsText(afterInit);
        EXPECT_TRUE(afterTag.empty()) << "midstate left after hmacCompute at offsets" << offsetsText(afterTag);
    }
}

TEST_P(StackScrubSha256, Pbkdf2LeavesNoMidstateBelowTheCaller) {
    SeededBytes random(0x5c0b0003);
    const SecureBuffer password = bufferOf(random.next(PBKDF2_PASSWORD_BYTES));
    const SecureBuffer salt = bufferOf(random.next(PBKDF2_SALT_BYTES));
    const Patterns patterns = midstatePatternsOf(password);
    std::vector<uint8_t> window(STACK_SCRUB_BYTES);

    SecureBuffer derived;
    const bool ok = pbkdf2Sha256(password, salt, derived, GetParam().engine);
    testsupport::stackWindowRead(window.data());
    const std::vector<size_t> left = testsupport::stackWindowFind(window, patterns);

    EXPECT_TRUE(ok);
    EXPECT_TRUE(left.empty()) << "midstate left after PBKDF2 at offsets" << offsetsText(left);
}

INSTANTIATE_TEST_SUITE_P(Engines, StackScrubSha256, ::testing::ValuesIn(SHA256_ENGINES),
                         [](const auto& info) { return std::string(info.param.name); });

// --- AES ---

struct AesEngineRow {
    const char* name;
    AesEngine engine;
};

const AesEngineRow AES_ENGINES[] = {{"Portable", AES_ENGINE_PORTABLE}, {"AesNi", AES_ENGINE_NI}};

// Every round key of both arrays as stored and with each 4-byte group reversed, as the AES-NI
// code loads it.
Patterns roundKeyPatternsOf(const AesKeySchedule& schedule) {
    Patterns patterns;
    for (const SecureBuffer* keys : {&schedule.encryptionRoundKeys, &schedule.decryptionRoundKeys}) {
        for (uint32_t r = 0; r <= schedule.rounds; ++r) {
            std::vector<uint8_t> stored(keys->data() + 16 * r, keys->data() + 16 * r + 16);
            std::vector<uint8_t> instructionOrder(16);
            for (size_t i = 0; i < 16; ++i) instructionOrder[i] = stored[4 * (i / 4) + 3 - i % 4];
            patterns.push_back(stored);
            patterns.push_back(instructionOrder);
        }
    }
    return patterns;
}

class StackScrubAes : public ::testing::TestWithParam<AesEngineRow> {
protected:
    void SetUp() override {
        if (!aesEngineAvailable(GetParam().engine)) GTEST_SKIP() << "the processor lacks AES-NI";
    }
};

TEST_P(StackScrubAes, CbcAndLanesLeaveNoRoundKeyBelowTheCaller) {
    SeededBytes random(0x5c0b0004);
    AesKeySchedule schedule;
    ASSERT_TRUE(aesSetKey(schedule, bufferOf(random.next(32))));
    const Patterns patterns = roundKeyPatternsOf(schedule);
    stackScrub();
    const Bytes iv = random.next(16);
    Bytes data = random.next(16 * 37);
    Bytes plain(data.size());
    std::vector<uint8_t> window(STACK_SCRUB_BYTES);
    const AesEngine engine = GetParam().engine;

    const bool encrypted = aesCbcEncrypt(schedule, iv.data(), data.data(), 37, engine);
    testsupport::stackWindowRead(window.data());
    const std::vector<size_t> afterEncrypt = testsupport::stackWindowFind(window, patterns);

    const bool decrypted = aesCbcDecrypt(schedule, iv.data(), data.data(), plain.data(), 37, engine);
    testsupport::stackWindowRead(window.data());
    const std::vector<size_t> afterDecrypt = testsupport::stackWindowFind(window, patterns);

    CbcLane lanes[6];
    for (size_t i = 0; i < 6; ++i) {
        std::memcpy(lanes[i].chainingBlock, iv.data(), 16);
        lanes[i].data = data.data() + 16 * 6 * i;
        lanes[i].blockCount = 6 - i % 3;
    }
    const bool lanesEncrypted = aesCbcEncryptLanes(schedule, lanes, 6, engine);
    testsupport::stackWindowRead(window.data());
    const std::vector<size_t> afterLanes = testsupport::stackWindowFind(window, patterns);
    aesWipe(schedule);

    EXPECT_TRUE(encrypted && decrypted && lanesEncrypted);
    EXPECT_TRUE(afterEncrypt.empty()) << "round key left after CBC encryption at" << offsetsText(afterEncrypt);
    EXPECT_TRUE(afterDecrypt.empty()) << "round key left after CBC decryption at" << offsetsText(afterDecrypt);
    EXPECT_TRUE(afterLanes.empty()) << "round key left after CBC lanes at" << offsetsText(afterLanes);
}

INSTANTIATE_TEST_SUITE_P(Engines, StackScrubAes, ::testing::ValuesIn(AES_ENGINES),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
