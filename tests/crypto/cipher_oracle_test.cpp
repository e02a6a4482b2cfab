// Padded CBC and the key stream against OpenSSL's AES-256 and libgcrypt's Serpent. The test
// applies the system's padding (p − 1 zero bytes, then p) and the oracles run with padding off.
// Native only.

#include <gtest/gtest.h>

#include "crypto/cipher.h"
#include "tests/crypto/cipher_oracles.h"

namespace {

using namespace cipher_test;

Bytes systemPadded(const Bytes& plaintext) {
    Bytes padded = plaintext;
    const size_t padding = 16 - plaintext.size() % 16;
    padded.insert(padded.end(), padding - 1, 0);
    padded.push_back(static_cast<uint8_t>(padding));
    return padded;
}

// CBC or ECB through the oracle for the algorithm; Serpent gets the key bytes reversed, as
// libgcrypt reads the key little-endian and we read it big-endian.
Bytes oracleCrypt(CipherAlgorithm algorithm, bool cbc, const Bytes& key, const Bytes& iv, const Bytes& input,
                  bool encrypt) {
    if (algorithm == CIPHER_AES256) {
        return opensslCrypt(cbc ? EVP_aes_256_cbc() : EVP_aes_256_ecb(), key, iv, input, encrypt);
    }
    return gcryptSerpent(cbc ? GCRY_CIPHER_MODE_CBC : GCRY_CIPHER_MODE_ECB, reversed(key), iv, input, encrypt);
}

const struct {
    const char* name;
    CipherAlgorithm algorithm;
} ALGORITHMS[] = {{"AES-256 vs OpenSSL", CIPHER_AES256}, {"Serpent vs libgcrypt", CIPHER_SERPENT}};

TEST(CipherOracle, PaddedCbcMatchesOracleOnRandomInputs) {
    SeededBytes random(0x43424301);
    // All lengths around the first blocks, then a few long ones, the last a whole 2 MiB chunk.
    std::vector<uint32_t> lengths;
    for (uint32_t length = 0; length <= 70; ++length) lengths.push_back(length);
    for (uint32_t length : {255u, 256u, 1000u, 4097u, 65536u + 3u, 2u * 1024u * 1024u}) lengths.push_back(length);
    for (const auto& algorithm : ALGORITHMS) {
        for (uint32_t length : lengths) {
            SCOPED_TRACE(std::string(algorithm.name) + ", " + std::to_string(length) + " bytes");
            const Bytes key = random.next(32);
            const Bytes iv = random.next(16);
            const Bytes plaintext = random.next(length);

            CipherContext ctx;
            cipherInit(ctx, algorithm.algorithm, bufferOf(key));
            cipherSetChainingBlock(ctx, iv.data());
            SecureBuffer buffer = bufferOf(plaintext);
            ASSERT_TRUE(cipherEncryptPadded(ctx, buffer));
            const Bytes expected = oracleCrypt(algorithm.algorithm, true, key, iv, systemPadded(plaintext), true);
            ASSERT_FALSE(expected.empty());
            ASSERT_TRUE(bytesOf(buffer) == expected)
                << "ours   " << toHex(buffer).substr(0, 96) << "\noracle " << toHex(expected).substr(0, 96);

            // Decrypt an oracle ciphertext of other random data, so decryption is checked on its own.
            const Bytes other = random.next(length);
            const Bytes otherCiphertext = oracleCrypt(algorithm.algorithm, true, key, iv, systemPadded(other), true);
            SecureBuffer decrypted = bufferOf(otherCiphertext);
            cipherSetChainingBlock(ctx, iv.data());
            ASSERT_TRUE(cipherDecryptPadded(ctx, decrypted));
            ASSERT_TRUE(bytesOf(decrypted) == other);
        }
    }
}

TEST(CipherOracle, KeystreamIsOracleEncryptionOfCounterBlocks) {
    SeededBytes random(0x43424302);
    constexpr uint32_t LENGTH = 1000;
    for (const auto& algorithm : ALGORITHMS) {
        SCOPED_TRACE(algorithm.name);
        const Bytes key = random.next(32);
        Bytes counters;
        for (uint32_t i = 0; i < (LENGTH + 15) / 16; ++i) {
            for (int copy = 0; copy < 4; ++copy) {
                for (int byte = 0; byte < 4; ++byte) counters.push_back(static_cast<uint8_t>(i >> (8 * byte)));
            }
        }
        Bytes expected = oracleCrypt(algorithm.algorithm, false, key, {}, counters, true);
        ASSERT_FALSE(expected.empty());
        expected.resize(LENGTH);

        CipherContext ctx;
        cipherInit(ctx, algorithm.algorithm, bufferOf(key));
        SecureBuffer out;
        ASSERT_TRUE(cipherKeystream(ctx, out, LENGTH));
        EXPECT_TRUE(bytesOf(out) == expected);
    }
}

// The value cipher_test.cpp expects from the AES key stream under the zero key.
TEST(CipherOracle, AesOfZeroBlockUnderZeroKey) {
    EXPECT_EQ(toHex(opensslCrypt(EVP_aes_256_ecb(), Bytes(32, 0), {}, Bytes(16, 0), true)),
              "dc95c078a2408989ad48a21492842087");
}

}  // namespace
