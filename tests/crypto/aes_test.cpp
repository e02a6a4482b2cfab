// AES block cipher: published vectors on every engine, refused key lengths and the behaviour of
// schedules that are not valid. The comparison with a second implementation is in
// aes_oracle_test.cpp, that of the fast engine with the portable one in aes_ni_test.cpp.

#include "crypto/aes.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/crypto/cipher_test_support.h"

namespace {

using namespace cipher_test;

struct AesVector {
    const char* name;
    const char* key;
    const char* plaintext;
    const char* ciphertext;
};

// FIPS-197, appendix B (cipher example) and appendix C.1, C.2, C.3 (example vectors).
const AesVector FIPS197_VECTORS[] = {
    {"B, 128-bit key", "2b7e151628aed2a6abf7158809cf4f3c", "3243f6a8885a308d313198a2e0370734",
     "3925841d02dc09fbdc118597196a0b32"},
    {"C.1, AES-128", "000102030405060708090a0b0c0d0e0f", "00112233445566778899aabbccddeeff",
     "69c4e0d86a7b0430d8cdb78070b4c55a"},
    {"C.2, AES-192", "000102030405060708090a0b0c0d0e0f1011121314151617", "00112233445566778899aabbccddeeff",
     "dda97ca4864cdfe06eaf70a0ec0d7191"},
    {"C.3, AES-256", "000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f",
     "00112233445566778899aabbccddeeff", "8ea2b7ca516745bfeafc49904b496089"},
};

// NIST SP 800-38A, F.1.5 (ECB-AES256) and F.2.5 (CBC-AES256): four blocks under one key, which
// the engines that work on several blocks at once take as one run.
const char* const SP800_38A_KEY = "603deb1015ca71be2b73aef0857d77811f352c073b6108d72d9810a30914dff4";
const char* const SP800_38A_IV = "000102030405060708090a0b0c0d0e0f";
const char* const SP800_38A_PLAINTEXT =
    "6bc1bee22e409f96e93d7e117393172aae2d8a571e03ac9c9eb76fac45af8e51"
    "30c81c46a35ce411e5fbc1191a0a52eff69f2445df4f9b17ad2b417be66c3710";
const char* const SP800_38A_ECB =
    "f3eed1bdb5d2a03c064b5a7e3db181f8591ccb10d410ed26dc5ba74a31362870"
    "b6ed21b99ca6f4f9f153e7b1beafed1d23304b7a39f9f3ff067d8d8f9e24ecc7";
const char* const SP800_38A_CBC =
    "f58c4c04d6e5f1ba779eabfb5f7bfbd69cfc4e967edb808d679f777bc6702c7d"
    "39f23369a9d9bacfa530e26304231461b2eb05e2c39be9fcda6c19078c6a9d1b";

// The published vectors run on every engine; an engine the processor lacks is skipped.
class AesEngines : public ::testing::TestWithParam<AesEngine> {
protected:
    void SetUp() override {
        if (!aesEngineAvailable(GetParam())) GTEST_SKIP() << "the processor lacks this engine";
    }
};

TEST_P(AesEngines, Fips197VectorsEncryptAndDecrypt) {
    const AesEngine engine = GetParam();
    for (const auto& row : FIPS197_VECTORS) {
        SCOPED_TRACE(row.name);
        AesKeySchedule schedule;
        ASSERT_TRUE(aesSetKey(schedule, bufferOf(fromHex(row.key))));
        EXPECT_EQ(schedule.rounds, 6 + fromHex(row.key).size() / 4);

        Bytes block = fromHex(row.plaintext);
        ASSERT_TRUE(aesEncryptBlock(schedule, block.data(), engine));
        EXPECT_EQ(toHex(block), row.ciphertext);
        ASSERT_TRUE(aesDecryptBlock(schedule, block.data(), engine));
        EXPECT_EQ(toHex(block), row.plaintext);

        block = fromHex(row.plaintext);
        ASSERT_TRUE(aesEncryptBlocks(schedule, block.data(), 1, engine));
        EXPECT_EQ(toHex(block), row.ciphertext);
    }
}

TEST_P(AesEngines, Sp800_38aRunsOfFourBlocks) {
    const AesEngine engine = GetParam();
    AesKeySchedule schedule;
    ASSERT_TRUE(aesSetKey(schedule, bufferOf(fromHex(SP800_38A_KEY))));
    const Bytes iv = fromHex(SP800_38A_IV);

    Bytes blocks = fromHex(SP800_38A_PLAINTEXT);
    ASSERT_TRUE(aesEncryptBlocks(schedule, blocks.data(), 4, engine));
    EXPECT_EQ(toHex(blocks), SP800_38A_ECB);

    blocks = fromHex(SP800_38A_PLAINTEXT);
    ASSERT_TRUE(aesCbcEncrypt(schedule, iv.data(), blocks.data(), 4, engine));
    EXPECT_EQ(toHex(blocks), SP800_38A_CBC);

    Bytes plaintext(blocks.size());
    ASSERT_TRUE(aesCbcDecrypt(schedule, iv.data(), blocks.data(), plaintext.data(), 4, engine));
    EXPECT_EQ(toHex(plaintext), SP800_38A_PLAINTEXT);
    ASSERT_TRUE(aesCbcDecrypt(schedule, iv.data(), blocks.data(), blocks.data(), 4, engine));
    EXPECT_EQ(toHex(blocks), SP800_38A_PLAINTEXT) << "in place";

    // The same run in each of three lanes side by side, and its first half in a fourth.
    std::vector<Bytes> lanesData(4, fromHex(SP800_38A_PLAINTEXT));
    CbcLane lanes[4];
    for (size_t i = 0; i < 4; ++i) {
        std::copy(iv.begin(), iv.end(), lanes[i].chainingBlock);
        lanes[i].data = lanesData[i].data();
        lanes[i].blockCount = i == 3 ? 2 : 4;
    }
    ASSERT_TRUE(aesCbcEncryptLanes(schedule, lanes, 4, engine));
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(toHex(lanesData[i]), SP800_38A_CBC);
        EXPECT_EQ(toHex(Bytes(lanes[i].chainingBlock, lanes[i].chainingBlock + 16)), std::string(SP800_38A_CBC + 96));
    }
    EXPECT_EQ(toHex(lanesData[3]), std::string(SP800_38A_CBC, 64) + std::string(SP800_38A_PLAINTEXT + 64));
}

// Runs of blocks fail like single blocks: encryption zeroes all of them, decryption touches none.
TEST_P(AesEngines, RunsUnderAScheduleNotValid) {
    const AesEngine engine = GetParam();
    AesKeySchedule schedule;
    const Bytes iv = fromHex(SP800_38A_IV);
    const Bytes original = fromHex(SP800_38A_PLAINTEXT);
    const std::string zeros(2 * original.size(), '0');

    Bytes blocks = original;
    EXPECT_FALSE(aesEncryptBlocks(schedule, blocks.data(), 4, engine));
    EXPECT_EQ(toHex(blocks), zeros);
    blocks = original;
    EXPECT_FALSE(aesCbcEncrypt(schedule, iv.data(), blocks.data(), 4, engine));
    EXPECT_EQ(toHex(blocks), zeros);
    blocks = original;
    Bytes output = original;
    EXPECT_FALSE(aesCbcDecrypt(schedule, iv.data(), blocks.data(), output.data(), 4, engine));
    EXPECT_EQ(output, original);
    EXPECT_FALSE(aesDecryptBlock(schedule, blocks.data(), engine));
    EXPECT_EQ(blocks, original);

    // Lanes: every lane's blocks and chaining block are zeroed, and nothing beyond its blocks.
    Bytes first = original;
    Bytes second = original;
    CbcLane lanes[2] = {CbcLane{{}, first.data(), 4}, CbcLane{{}, second.data(), 1}};
    for (auto& lane : lanes) std::copy(iv.begin(), iv.end(), lane.chainingBlock);
    EXPECT_FALSE(aesCbcEncryptLanes(schedule, lanes, 2, engine));
    EXPECT_EQ(toHex(first), zeros);
    EXPECT_EQ(toHex(second), zeros.substr(0, 32) + toHex(Bytes(original.begin() + 16, original.end())));
    for (const auto& lane : lanes)
        EXPECT_EQ(toHex(Bytes(lane.chainingBlock, lane.chainingBlock + 16)), zeros.substr(0, 32));
}

INSTANTIATE_TEST_SUITE_P(, AesEngines, ::testing::Values(AES_ENGINE_PORTABLE, AES_ENGINE_NI),
                         [](const ::testing::TestParamInfo<AesEngine>& info) {
                             return std::string(info.param == AES_ENGINE_NI ? "AesNi" : "Portable");
                         });

TEST(Aes, PreferredEngineIsAvailableAndFixed) {
    const AesEngine preferred = aesPreferredEngine();
    EXPECT_TRUE(aesEngineAvailable(preferred));
    EXPECT_TRUE(aesEngineAvailable(AES_ENGINE_PORTABLE));
    EXPECT_EQ(aesPreferredEngine(), preferred);
    EXPECT_EQ(preferred == AES_ENGINE_NI, aesEngineAvailable(AES_ENGINE_NI)) << "the fast engine wins when present";
}

// Every key length but 16, 24 and 32 is refused and leaves a schedule that cannot be used, even
// one that held a good key before.
TEST(Aes, OtherKeyLengthsAreRefused) {
    const uint32_t lengths[] = {0, 1, 15, 17, 20, 23, 25, 31, 33, 64};
    for (uint32_t length : lengths) {
        SCOPED_TRACE(length);
        AesKeySchedule schedule;
        ASSERT_TRUE(aesSetKey(schedule, SecureBuffer::zeros(32)));
        EXPECT_FALSE(aesSetKey(schedule, SecureBuffer::zeros(length)));
        EXPECT_FALSE(schedule.valid);
        EXPECT_TRUE(schedule.encryptionRoundKeys.empty());
        EXPECT_TRUE(schedule.decryptionRoundKeys.empty());

        Bytes block = fromHex("00112233445566778899aabbccddeeff");
        EXPECT_FALSE(aesEncryptBlock(schedule, block.data()));
        EXPECT_EQ(toHex(block), "00000000000000000000000000000000");
    }
}

TEST(Aes, ScheduleNotValidZeroesOnEncryptAndKeepsOnDecrypt) {
    AesKeySchedule neverKeyed;
    AesKeySchedule wiped;
    ASSERT_TRUE(aesSetKey(wiped, SecureBuffer::zeros(32)));
    aesWipe(wiped);
    const struct {
        const char* name;
        const AesKeySchedule& schedule;
    } rows[] = {{"never keyed", neverKeyed}, {"wiped", wiped}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const Bytes original = fromHex("8ea2b7ca516745bfeafc49904b496089");
        Bytes block = original;
        EXPECT_FALSE(aesEncryptBlock(row.schedule, block.data()));
        EXPECT_EQ(toHex(block), "00000000000000000000000000000000");
        block = original;
        EXPECT_FALSE(aesDecryptBlock(row.schedule, block.data()));
        EXPECT_EQ(block, original);
    }
}

// The round keys live in memory that is zero when it goes back to the allocator, all of it is
// given back by the wipe, and wiping twice is harmless.
TEST(Aes, WipeReleasesZeroedRoundKeysAndCanRepeat) {
    AllocationAudit audit;
    {
        AesKeySchedule schedule;
        {
            const SecureBuffer key =
                bufferOf(fromHex("000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f"));
            ASSERT_TRUE(aesSetKey(schedule, key));
        }
        EXPECT_EQ(AllocationAudit::outstanding(), 2);
        aesWipe(schedule);
        EXPECT_EQ(AllocationAudit::outstanding(), 0);
        EXPECT_FALSE(schedule.valid);
        EXPECT_EQ(schedule.rounds, 0u);
        aesWipe(schedule);
        EXPECT_FALSE(schedule.valid);
    }
    EXPECT_EQ(AllocationAudit::releasedWithData(), 0);
}

// A key change replaces both directions' round keys, so no stale decryption keys survive.
TEST(Aes, RekeyingReplacesBothDirections) {
    AesKeySchedule schedule;
    ASSERT_TRUE(aesSetKey(schedule, bufferOf(fromHex("000102030405060708090a0b0c0d0e0f1011121314151617"))));
    ASSERT_TRUE(aesSetKey(schedule, bufferOf(fromHex("2b7e151628aed2a6abf7158809cf4f3c"))));
    EXPECT_EQ(schedule.rounds, 10u);
    Bytes block = fromHex("3925841d02dc09fbdc118597196a0b32");
    ASSERT_TRUE(aesDecryptBlock(schedule, block.data()));
    EXPECT_EQ(toHex(block), "3243f6a8885a308d313198a2e0370734");
}

}  // namespace
