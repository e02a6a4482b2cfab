// AES blocks against OpenSSL's AES on random keys of all three lengths and random blocks, in both
// directions. Native only.

#include <gtest/gtest.h>

#include "crypto/aes.h"
#include "tests/crypto/cipher_oracles.h"

namespace {

using namespace cipher_test;

constexpr int BLOCKS_PER_KEY_LENGTH = 300;

TEST(AesOracle, MatchesOpensslOnRandomKeysAndBlocks) {
    SeededBytes random(0x41455321);
    for (size_t keyBytes : {size_t{16}, size_t{24}, size_t{32}}) {
        SCOPED_TRACE(keyBytes);
        for (int i = 0; i < BLOCKS_PER_KEY_LENGTH; ++i) {
            const Bytes key = random.next(keyBytes);
            const Bytes plaintext = random.next(16);
            SCOPED_TRACE("key " + toHex(key) + " block " + toHex(plaintext));
            AesKeySchedule schedule;
            ASSERT_TRUE(aesSetKey(schedule, bufferOf(key)));

            Bytes block = plaintext;
            ASSERT_TRUE(aesEncryptBlock(schedule, block.data()));
            ASSERT_EQ(toHex(block), toHex(opensslCrypt(opensslAesEcb(keyBytes), key, {}, plaintext, true)));

            // An unrelated random block, so that decryption is checked on its own.
            const Bytes ciphertext = random.next(16);
            block = ciphertext;
            ASSERT_TRUE(aesDecryptBlock(schedule, block.data()));
            ASSERT_EQ(toHex(block), toHex(opensslCrypt(opensslAesEcb(keyBytes), key, {}, ciphertext, false)));
        }
    }
}

}  // namespace
