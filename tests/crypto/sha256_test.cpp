// SHA-256 in the system's digest byte order: the format's own vectors and streaming at every split
// point on every engine, starting from a midstate, padding boundaries, re-use after the digest,
// and wiping. The fast compression function against the portable one is in sha256_ni_test.cpp.

#include "crypto/sha256.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "support/hex.h"

using testsupport::bufferOf;
using testsupport::toHex;

namespace {

std::string digestOf(const std::string& message, Sha256Engine engine = sha256PreferredEngine()) {
    Sha256Context ctx;
    sha256Init(ctx, engine);
    sha256Update(ctx, reinterpret_cast<const uint8_t*>(message.data()), static_cast<uint32_t>(message.size()));
    return toHex(sha256Final(ctx));
}

}  // namespace

class Sha256Engines : public ::testing::TestWithParam<Sha256Engine> {
protected:
    void SetUp() override {
        if (!sha256EngineAvailable(GetParam())) GTEST_SKIP() << "the processor lacks this engine";
    }
};

// The format's own vectors: the FIPS 180-4 digests with every 4-byte group reversed.
TEST_P(Sha256Engines, FormatVectors) {
    struct Row {
        const char* name;
        std::string message;
        const char* digest;
    };
    const Row rows[] = {
        {"abc", "abc", "bf1678baeacf018fde4041412322ae5da36103b09c7a179661ff10b4ad1500f2"},
        {"empty", "", "42c4b0e3141cfc98c8f4fb9a24b96f99e441ae274c939b641b9995a455b85278"},
        // FIPS 180-4 two-block example, 248d6a61 d20638b8 ... reversed per word.
        {"two blocks", "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
         "616a8d24b83806d29326c0e539603e0c59e43ca36721ff64d4edecf6c106db19"},
        // FIPS 180-2 appendix B.3, one million "a": cdc76e5c 9914fb92 ... reversed per word.
        {"million a", std::string(1000000, 'a'), "5c6ec7cd92fb1499e2c7a181673ed784489a80f10e2097a4cc396d04d02c11c7"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(digestOf(row.message, GetParam()), row.digest);
    }
}

// Streaming must agree with one update for every split point of messages around the padding
// boundaries (55 needs one padding block, 56..63 two, 64 compresses during the update).
TEST_P(Sha256Engines, StreamingAgreesWithOneShotAtEverySplit) {
    const Sha256Engine engine = GetParam();
    std::mt19937 rng(1);
    for (size_t length : {0, 1, 55, 56, 63, 64, 65, 119, 120, 128, 200}) {
        std::vector<uint8_t> message = testsupport::randomBytes(rng, length);
        Sha256Context whole;
        sha256Init(whole, engine);
        sha256Update(whole, message.data(), static_cast<uint32_t>(length));
        std::string expected = toHex(sha256Final(whole));
        for (size_t split = 0; split <= length; ++split) {
            SCOPED_TRACE(std::to_string(length) + " split at " + std::to_string(split));
            Sha256Context parts;
            sha256Init(parts, engine);
            sha256Update(parts, message.data(), static_cast<uint32_t>(split));
            sha256Update(parts, message.data() + split, static_cast<uint32_t>(length - split));
            ASSERT_EQ(toHex(sha256Final(parts)), expected);
        }
    }
}

// A hash started from the state after k whole blocks, fed the rest, equals the hash of the whole
// message: the byte count, and so the padding, counts the blocks already compressed.
TEST_P(Sha256Engines, StartingFromAMidstateCountsItsBlocks) {
    const Sha256Engine engine = GetParam();
    std::mt19937 rng(2);
    for (size_t length : {64, 100, 128, 191, 192, 250}) {
        std::vector<uint8_t> message = testsupport::randomBytes(rng, length);
        const std::string expected = toHex([&] {
            Sha256Context ctx;
            sha256Init(ctx, SHA256_ENGINE_PORTABLE);
            sha256Update(ctx, message.data(), static_cast<uint32_t>(length));
            return sha256Final(ctx);
        }());
        for (uint32_t blocks = 0; blocks <= length / 64; ++blocks) {
            SCOPED_TRACE(std::to_string(length) + " bytes after " + std::to_string(blocks) + " blocks");
            Sha256Context start;
            sha256Init(start, engine);
            uint32_t midstate[8];
            std::copy(std::begin(start.state), std::end(start.state), midstate);
            sha256Compress(midstate, message.data(), blocks, engine);
            Sha256Context ctx;
            sha256InitFromMidstate(ctx, midstate, blocks, engine);
            EXPECT_EQ(ctx.byteCountLow, 64 * blocks);
            sha256Update(ctx, message.data() + 64 * blocks, static_cast<uint32_t>(length - 64 * blocks));
            ASSERT_EQ(toHex(sha256Final(ctx)), expected);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(, Sha256Engines, ::testing::Values(SHA256_ENGINE_PORTABLE, SHA256_ENGINE_SHA_NI),
                         [](const ::testing::TestParamInfo<Sha256Engine>& info) {
                             return std::string(info.param == SHA256_ENGINE_SHA_NI ? "ShaNi" : "Portable");
                         });

TEST(Sha256, PreferredEngineIsAvailableAndFixed) {
    const Sha256Engine preferred = sha256PreferredEngine();
    EXPECT_TRUE(sha256EngineAvailable(preferred));
    EXPECT_EQ(sha256PreferredEngine(), preferred);
    EXPECT_EQ(preferred == SHA256_ENGINE_SHA_NI, sha256EngineAvailable(SHA256_ENGINE_SHA_NI));
    Sha256Context ctx;
    sha256Init(ctx);
    EXPECT_EQ(ctx.engine, preferred);
}

TEST(Sha256, OfTextHashesTheTerminatingZero) {
    SecureBuffer abc = bufferOf(std::string("abc", 4));
    EXPECT_EQ(toHex(sha256OfText(abc)), "cd1411dcbd144907f9c12c8710c93ea2bc0322eab29a777957a27de1fc24a682");
    EXPECT_TRUE(sha256OfText(bufferOf(std::string("", 1))).empty());
    EXPECT_TRUE(sha256OfText(SecureBuffer()).empty());
}

TEST(Sha256, FinalTwiceAndUpdateAfterFinal) {
    Sha256Context ctx;
    sha256Init(ctx);
    sha256Update(ctx, reinterpret_cast<const uint8_t*>("xyz"), 3);
    std::string first = toHex(sha256Final(ctx));
    EXPECT_EQ(toHex(sha256Final(ctx)), first);
    sha256Update(ctx, reinterpret_cast<const uint8_t*>("abc"), 3);
    EXPECT_EQ(toHex(sha256Final(ctx)), digestOf("abc"));
    // Even an update of no bytes after the digest starts a new message.
    sha256Update(ctx, nullptr, 0);
    EXPECT_EQ(toHex(sha256Final(ctx)), digestOf(""));
}

TEST(Sha256, WipeZeroesStateBlockAndCount) {
    Sha256Context ctx;
    sha256Init(ctx);
    sha256Update(ctx, reinterpret_cast<const uint8_t*>("partial block"), 13);
    sha256Wipe(ctx);
    EXPECT_EQ(ctx.byteCountLow, 0u);
    EXPECT_EQ(ctx.byteCountHigh, 0u);
    for (uint32_t word : ctx.state) EXPECT_EQ(word, 0u);
    for (uint8_t byte : ctx.block) EXPECT_EQ(byte, 0);
    EXPECT_FALSE(ctx.finished);
    (void)sha256Final(ctx);
    sha256Wipe(ctx);
    EXPECT_TRUE(ctx.finished) << "the finished flag is left as it is";
}

TEST(Sha256, ByteCountCarriesIntoTheHighWord) {
    Sha256Context ctx;
    sha256Init(ctx);
    ctx.byteCountLow = 0xFFFFFFF0u;
    uint8_t bytes[32] = {};
    sha256Update(ctx, bytes, 32);
    EXPECT_EQ(ctx.byteCountHigh, 1u);
    EXPECT_EQ(ctx.byteCountLow, 0x10u);
}
