// Serpent against libgcrypt's Serpent, which reads key and block little-endian: our cipher must
// equal it when handed the key bytes reversed and the block unchanged. Native only.

#include <gtest/gtest.h>

#include "crypto/serpent.h"
#include "tests/crypto/cipher_oracles.h"
#include "tests/crypto/serpent_vectors.h"

namespace {

using namespace cipher_test;

constexpr int BLOCKS_PER_KEY_LENGTH = 300;

// libgcrypt reproduces every NESSIE row with key and blocks exactly as written, which shows that
// the rows are in little-endian form and that reversing the key is the whole mapping to ours.
TEST(SerpentOracle, LibgcryptReproducesNessieRowsAsWritten) {
    for (const auto& row : NESSIE_SERPENT_VECTORS) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(toHex(gcryptSerpent(GCRY_CIPHER_MODE_ECB, fromHex(row.key), {}, fromHex(row.plaintext), true)),
                  row.ciphertext);
    }
}

TEST(SerpentOracle, MatchesLibgcryptWithReversedKeyOnRandomKeysAndBlocks) {
    SeededBytes random(0x53455250);
    forRandomKeysAndBlocks(random, BLOCKS_PER_KEY_LENGTH, [&](const Bytes& key, const Bytes& plaintext) {
        SerpentKeySchedule schedule;
        ASSERT_TRUE(serpentSetKey(schedule, bufferOf(key)));

        Bytes block = plaintext;
        ASSERT_TRUE(serpentEncryptBlock(schedule, block.data()));
        ASSERT_EQ(toHex(block), toHex(gcryptSerpent(GCRY_CIPHER_MODE_ECB, reversed(key), {}, plaintext, true)));

        // An unrelated random block, so that decryption is checked on its own.
        const Bytes ciphertext = random.next(16);
        block = ciphertext;
        ASSERT_TRUE(serpentDecryptBlock(schedule, block.data()));
        ASSERT_EQ(toHex(block), toHex(gcryptSerpent(GCRY_CIPHER_MODE_ECB, reversed(key), {}, ciphertext, false)));
    });
}

}  // namespace
