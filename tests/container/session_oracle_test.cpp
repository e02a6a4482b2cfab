// Key splitting and sealing checked against OpenSSL (AES) and libgcrypt (Serpent): the sub-keys
// are the cipher's encryptions of counter blocks 0..3 under the master key, and a sealed blob is
// IV ‖ CBC(cipher key, padded payload) ‖ HMAC(MAC key, IV ‖ ciphertext).

#include <gcrypt.h>
#include <openssl/evp.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <random>
#include <vector>

#include "container/session.h"
#include "random/generator.h"
#include "support/hex.h"

using testsupport::bufferOf;
using testsupport::toHex;
using Bytes = std::vector<uint8_t>;

namespace {

// ECB encryption of whole blocks under a 32-byte key with the other implementation. Serpent in
// libgcrypt reads the key as a little-endian number, so it gets the key reversed.
Bytes oracleEncryptBlocks(CipherAlgorithm algorithm, const Bytes& key, const Bytes& blocks) {
    static const bool gcryptReady = gcry_check_version(nullptr) != nullptr;
    EXPECT_TRUE(gcryptReady);
    Bytes out(blocks.size());
    if (algorithm == CIPHER_AES256) {
        EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
        int length = 0;
        EVP_EncryptInit_ex(ctx, EVP_aes_256_ecb(), nullptr, key.data(), nullptr);
        EVP_CIPHER_CTX_set_padding(ctx, 0);
        EVP_EncryptUpdate(ctx, out.data(), &length, blocks.data(), static_cast<int>(blocks.size()));
        EVP_CIPHER_CTX_free(ctx);
    } else {
        gcry_cipher_hd_t handle;
        Bytes reversed(key.rbegin(), key.rend());
        EXPECT_EQ(gcry_cipher_open(&handle, GCRY_CIPHER_SERPENT256, GCRY_CIPHER_MODE_ECB, 0), 0u);
        EXPECT_EQ(gcry_cipher_setkey(handle, reversed.data(), reversed.size()), 0u);
        EXPECT_EQ(gcry_cipher_encrypt(handle, out.data(), out.size(), blocks.data(), blocks.size()), 0u);
        gcry_cipher_close(handle);
    }
    return out;
}

Bytes counterBlocks(uint32_t count) {
    Bytes blocks;
    for (uint32_t i = 0; i < count; ++i) {
        for (int copy = 0; copy < 4; ++copy) {
            for (int byte = 0; byte < 4; ++byte) blocks.push_back(static_cast<uint8_t>(i >> (8 * byte)));
        }
    }
    return blocks;
}

Bytes oracleCbcDecrypt(CipherAlgorithm algorithm, const Bytes& key, const Bytes& iv, const Bytes& ciphertext) {
    Bytes plain(ciphertext.size());
    Bytes chain = iv;
    for (size_t offset = 0; offset < ciphertext.size(); offset += 16) {
        Bytes block(ciphertext.begin() + offset, ciphertext.begin() + offset + 16);
        // Decryption through the oracle's ECB decrypt.
        Bytes decrypted(16);
        if (algorithm == CIPHER_AES256) {
            EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
            int length = 0;
            EVP_DecryptInit_ex(ctx, EVP_aes_256_ecb(), nullptr, key.data(), nullptr);
            EVP_CIPHER_CTX_set_padding(ctx, 0);
            EVP_DecryptUpdate(ctx, decrypted.data(), &length, block.data(), 16);
            EVP_CIPHER_CTX_free(ctx);
        } else {
            gcry_cipher_hd_t handle;
            Bytes reversed(key.rbegin(), key.rend());
            gcry_cipher_open(&handle, GCRY_CIPHER_SERPENT256, GCRY_CIPHER_MODE_ECB, 0);
            gcry_cipher_setkey(handle, reversed.data(), reversed.size());
            gcry_cipher_decrypt(handle, decrypted.data(), 16, block.data(), 16);
            gcry_cipher_close(handle);
        }
        for (int i = 0; i < 16; ++i) plain[offset + i] = decrypted[i] ^ chain[i];
        chain = block;
    }
    return plain;
}

}  // namespace

TEST(SessionOracle, SubKeysAreTheCounterModeStreamOfTheMasterKey) {
    std::mt19937 rng(31);
    auto generator = std::make_unique<RandomGenerator>();
    generator->entropy = ENTROPY_THRESHOLD;
    for (CipherAlgorithm algorithm : {CIPHER_AES256, CIPHER_SERPENT}) {
        for (int round = 0; round < 20; ++round) {
            Bytes master = testsupport::randomBytes(rng, 32);
            SCOPED_TRACE(std::to_string(algorithm) + " " + toHex(master));
            Bytes stream = oracleEncryptBlocks(algorithm, master, counterBlocks(4));
            Bytes cipherKey(stream.begin(), stream.begin() + 32);
            Bytes macKey(stream.begin() + 32, stream.end());

            CryptoSession session;
            sessionInit(session, bufferOf(master), generator.get(), algorithm);
            ASSERT_TRUE(session.valid);
            for (int i = 0; i < 64; ++i) {
                ASSERT_EQ(session.mac->innerKeyBlock.data()[i], (i < 32 ? macKey[i] : 0) ^ 0x36) << i;
            }

            Bytes payload = testsupport::randomBytes(rng, rng() % 100);
            SecureBuffer sealed = bufferOf(payload);
            ASSERT_TRUE(sessionEncryptChunk(session, sealed));
            Bytes blob(sealed.data(), sealed.data() + sealed.size());
            Bytes iv(blob.begin(), blob.begin() + 16);
            Bytes ciphertext(blob.begin() + 16, blob.end() - 32);
            Bytes padded = payload;
            const size_t pad = 16 - payload.size() % 16;
            padded.insert(padded.end(), pad - 1, 0);
            padded.push_back(static_cast<uint8_t>(pad));
            EXPECT_EQ(toHex(oracleCbcDecrypt(algorithm, cipherKey, iv, ciphertext)), toHex(padded));

            HmacSha256 mac;
            hmacInit(mac, bufferOf(macKey));
            SecureBuffer authenticated(blob.data(), static_cast<uint32_t>(blob.size() - 32));
            EXPECT_EQ(toHex(hmacCompute(mac, authenticated)), toHex(Bytes(blob.end() - 32, blob.end())));
            hmacRelease(mac);
            sessionRelease(session);
        }
    }
}
