// AES block cipher: published vectors, refused key lengths and the behaviour of schedules that
// are not valid. The comparison with a second implementation is in aes_oracle_test.cpp.

#include "crypto/aes.h"

#include <gtest/gtest.h>

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

TEST(Aes, Fips197VectorsEncryptAndDecrypt) {
    for (const auto& row : FIPS197_VECTORS) {
        SCOPED_TRACE(row.name);
        AesKeySchedule schedule;
        ASSERT_TRUE(aesSetKey(schedule, bufferOf(fromHex(row.key))));
        EXPECT_EQ(schedule.rounds, 6 + fromHex(row.key).size() / 4);

        Bytes block = fromHex(row.plaintext);
        ASSERT_TRUE(aesEncryptBlock(schedule, block.data()));
        EXPECT_EQ(toHex(block), row.ciphertext);
        ASSERT_TRUE(aesDecryptBlock(schedule, block.data()));
        EXPECT_EQ(toHex(block), row.plaintext);
    }
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
