// Serpent block cipher: NESSIE vectors through this system's byte orders, the S-box circuits
// against the published tables, the key padding, and schedules that are not valid. The
// comparison with libgcrypt is in serpent_oracle_test.cpp.

#include "crypto/serpent.h"

#include <gtest/gtest.h>

#include "crypto/serpent_sboxes.h"
#include "tests/crypto/cipher_test_support.h"
#include "tests/crypto/serpent_vectors.h"

namespace {

using namespace cipher_test;

TEST(Serpent, NessieVectorsWithKeyBytesReversed) {
    for (const auto& row : NESSIE_SERPENT_VECTORS) {
        SCOPED_TRACE(row.name);
        SerpentKeySchedule schedule;
        ASSERT_TRUE(serpentSetKey(schedule, bufferOf(reversed(fromHex(row.key)))));
        Bytes block = fromHex(row.plaintext);
        ASSERT_TRUE(serpentEncryptBlock(schedule, block.data()));
        EXPECT_EQ(toHex(block), row.ciphertext);
        ASSERT_TRUE(serpentDecryptBlock(schedule, block.data()));
        EXPECT_EQ(toHex(block), row.plaintext);
    }
}

using SboxCircuit = void (*)(uint32_t&, uint32_t&, uint32_t&, uint32_t&);

struct SboxRow {
    const char* name;
    SboxCircuit forward;
    SboxCircuit inverse;
    uint8_t table[16];
};

// The eight S-boxes as published with the cipher (Anderson, Biham, Knudsen: "Serpent: A Proposal
// for the Advanced Encryption Standard", section 2).
const SboxRow SBOXES[] = {
    {"S0", serpentS0, serpentInverseS0, {3, 8, 15, 1, 10, 6, 5, 11, 14, 13, 4, 2, 7, 0, 9, 12}},
    {"S1", serpentS1, serpentInverseS1, {15, 12, 2, 7, 9, 0, 5, 10, 1, 11, 14, 8, 6, 13, 3, 4}},
    {"S2", serpentS2, serpentInverseS2, {8, 6, 7, 9, 3, 12, 10, 15, 13, 1, 14, 4, 0, 11, 5, 2}},
    {"S3", serpentS3, serpentInverseS3, {0, 15, 11, 8, 12, 9, 6, 3, 13, 1, 2, 4, 10, 7, 5, 14}},
    {"S4", serpentS4, serpentInverseS4, {1, 15, 8, 3, 12, 0, 11, 6, 2, 5, 4, 10, 9, 14, 7, 13}},
    {"S5", serpentS5, serpentInverseS5, {15, 5, 2, 11, 4, 10, 9, 12, 0, 3, 14, 8, 13, 6, 7, 1}},
    {"S6", serpentS6, serpentInverseS6, {7, 2, 12, 5, 8, 4, 6, 11, 14, 9, 1, 15, 13, 3, 10, 0}},
    {"S7", serpentS7, serpentInverseS7, {1, 13, 15, 0, 14, 8, 2, 11, 7, 4, 12, 10, 9, 3, 5, 6}},
};

// Feeds the circuit words whose bit position j holds the value j mod 16 (bit 0 of the value in x0)
// and checks that every position comes out as expected[j mod 16].
void expectCircuitComputes(SboxCircuit circuit, const uint8_t expected[16]) {
    uint32_t x[4] = {};
    for (unsigned j = 0; j < 32; ++j) {
        for (unsigned bit = 0; bit < 4; ++bit) x[bit] |= static_cast<uint32_t>(((j % 16) >> bit) & 1) << j;
    }
    circuit(x[0], x[1], x[2], x[3]);
    for (unsigned j = 0; j < 32; ++j) {
        unsigned value = 0;
        for (unsigned bit = 0; bit < 4; ++bit) value |= ((x[bit] >> j) & 1) << bit;
        EXPECT_EQ(value, expected[j % 16]) << "input " << j % 16 << " at bit position " << j;
    }
}

TEST(Serpent, SboxCircuitsMatchPublishedTablesInEveryBitPosition) {
    for (const auto& row : SBOXES) {
        SCOPED_TRACE(row.name);
        uint8_t inverseTable[16] = {};
        for (uint8_t v = 0; v < 16; ++v) inverseTable[row.table[v]] = v;
        {
            SCOPED_TRACE("forward");
            expectCircuitComputes(row.forward, row.table);
        }
        {
            SCOPED_TRACE("inverse");
            expectCircuitComputes(row.inverse, inverseTable);
        }
    }
}

// A short key is padded with one 1 bit just above its most significant bit. With the key read
// as a big-endian number, that makes a 16- or 24-byte key K the same cipher as the 32-byte key
// 00…00 00 00 00 01 ‖ K; any other byte order puts the marker elsewhere.
TEST(Serpent, ShortKeyEqualsLongKeyWithMarkerAbove) {
    SeededBytes random(0x5e7e0001);
    for (size_t shortBytes : {size_t{16}, size_t{24}}) {
        for (int i = 0; i < 20; ++i) {
            const Bytes shortKey = random.next(shortBytes);
            Bytes longKey(32 - shortBytes - 4, 0);
            longKey.insert(longKey.end(), {0, 0, 0, 1});
            longKey.insert(longKey.end(), shortKey.begin(), shortKey.end());
            SCOPED_TRACE("short key " + toHex(shortKey));

            SerpentKeySchedule shortSchedule;
            SerpentKeySchedule longSchedule;
            ASSERT_TRUE(serpentSetKey(shortSchedule, bufferOf(shortKey)));
            ASSERT_TRUE(serpentSetKey(longSchedule, bufferOf(longKey)));
            const Bytes plaintext = random.next(16);
            Bytes a = plaintext;
            Bytes b = plaintext;
            ASSERT_TRUE(serpentEncryptBlock(shortSchedule, a.data()));
            ASSERT_TRUE(serpentEncryptBlock(longSchedule, b.data()));
            EXPECT_EQ(toHex(a), toHex(b));
        }
    }
}

TEST(Serpent, DecryptionInvertsEncryptionForAllKeyLengths) {
    SeededBytes random(0x5e7e0002);
    for (size_t keyBytes : {size_t{16}, size_t{24}, size_t{32}}) {
        SCOPED_TRACE(keyBytes);
        for (int i = 0; i < 100; ++i) {
            SerpentKeySchedule schedule;
            ASSERT_TRUE(serpentSetKey(schedule, bufferOf(random.next(keyBytes))));
            const Bytes plaintext = random.next(16);
            Bytes block = plaintext;
            ASSERT_TRUE(serpentEncryptBlock(schedule, block.data()));
            EXPECT_NE(block, plaintext);
            ASSERT_TRUE(serpentDecryptBlock(schedule, block.data()));
            EXPECT_EQ(block, plaintext);
        }
    }
}

TEST(Serpent, ScheduleNotValidZeroesOnEncryptAndKeepsOnDecrypt) {
    SerpentKeySchedule neverKeyed;
    SerpentKeySchedule wiped;
    ASSERT_TRUE(serpentSetKey(wiped, SecureBuffer::zeros(32)));
    serpentWipe(wiped);
    SerpentKeySchedule refused;
    ASSERT_TRUE(serpentSetKey(refused, SecureBuffer::zeros(32)));
    ASSERT_FALSE(serpentSetKey(refused, SecureBuffer::zeros(20)));
    const struct {
        const char* name;
        const SerpentKeySchedule& schedule;
    } rows[] = {{"never keyed", neverKeyed}, {"wiped", wiped}, {"20-byte key after a good one", refused}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_FALSE(row.schedule.valid);
        const Bytes original = fromHex("a223aa1288463c0e2be38ebd825616c0");
        Bytes block = original;
        EXPECT_FALSE(serpentEncryptBlock(row.schedule, block.data()));
        EXPECT_EQ(toHex(block), "00000000000000000000000000000000");
        block = original;
        EXPECT_FALSE(serpentDecryptBlock(row.schedule, block.data()));
        EXPECT_EQ(block, original);
    }
}

TEST(Serpent, OtherKeyLengthsAreRefused) {
    for (uint32_t length : {0u, 1u, 8u, 15u, 17u, 20u, 23u, 25u, 31u, 33u, 64u}) {
        SCOPED_TRACE(length);
        SerpentKeySchedule schedule;
        EXPECT_FALSE(serpentSetKey(schedule, SecureBuffer::zeros(length)));
        EXPECT_FALSE(schedule.valid);
        EXPECT_TRUE(schedule.subkeys.empty());
    }
}

TEST(Serpent, WipeReleasesZeroedSubkeysAndCanRepeat) {
    AllocationAudit audit;
    {
        SerpentKeySchedule schedule;
        {
            const SecureBuffer key =
                bufferOf(fromHex("000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f"));
            ASSERT_TRUE(serpentSetKey(schedule, key));
        }
        EXPECT_EQ(schedule.subkeys.size(), 4 * SERPENT_SUBKEY_WORDS);
        EXPECT_EQ(AllocationAudit::outstanding(), 1);
        serpentWipe(schedule);
        EXPECT_EQ(AllocationAudit::outstanding(), 0);
        EXPECT_FALSE(schedule.valid);
        serpentWipe(schedule);
        EXPECT_FALSE(schedule.valid);
    }
    EXPECT_EQ(AllocationAudit::releasedWithData(), 0);
}

}  // namespace
