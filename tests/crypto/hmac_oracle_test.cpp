// HMAC and PBKDF2 against constructions built here from OpenSSL's SHA-256, with every digest
// (the inner one included) in the system's order: each 4-byte group reversed.

#include <openssl/evp.h>
#include <openssl/sha.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

#include "crypto/hmac.h"
#include "crypto/pbkdf2.h"
#include "support/hex.h"
#include "tests/crypto/hmac_vectors.h"

using testsupport::bufferOf;
using testsupport::toHex;
using Bytes = std::vector<uint8_t>;

namespace {

Bytes oracleSha256(const Bytes& message) {
    Bytes digest(SHA256_DIGEST_LENGTH);
    SHA256(message.data(), message.size(), digest.data());
    for (size_t word = 0; word < 8; ++word) std::reverse(digest.begin() + 4 * word, digest.begin() + 4 * word + 4);
    return digest;
}

Bytes oracleHmac(const Bytes& key, const Bytes& message) {
    Bytes inner(64, 0x36), outer(64, 0x5c);
    for (size_t i = 0; i < key.size(); ++i) {
        inner[i] ^= key[i];
        outer[i] ^= key[i];
    }
    inner.insert(inner.end(), message.begin(), message.end());
    Bytes innerDigest = oracleSha256(inner);
    outer.insert(outer.end(), innerDigest.begin(), innerDigest.end());
    return oracleSha256(outer);
}

Bytes oraclePbkdf2(const Bytes& password, const Bytes& salt) {
    Bytes u = salt;
    for (uint8_t b : {0xF8, 0x24, 0x01, 0x00}) u.push_back(b);
    Bytes out(32, 0);
    for (int i = 0; i < 75000; ++i) {
        u = oracleHmac(password, u);
        for (size_t j = 0; j < 32; ++j) out[j] ^= u[j];
    }
    return out;
}

}  // namespace

TEST(HmacOracle, RandomKeysAndMessages) {
    std::mt19937 rng(99);
    for (int round = 0; round < 300; ++round) {
        Bytes key = testsupport::randomBytes(rng, 16 + rng() % 49);
        Bytes message = testsupport::randomBytes(rng, round < 150 ? rng() % 200 : rng() % 5000);
        SCOPED_TRACE("key " + toHex(key) + " message bytes " + std::to_string(message.size()));
        HmacSha256 ctx;
        hmacInit(ctx, bufferOf(key));
        Bytes expected = oracleHmac(key, message);
        ASSERT_EQ(toHex(hmacCompute(ctx, bufferOf(message))), toHex(expected));
        ASSERT_TRUE(hmacVerify(ctx, bufferOf(message), bufferOf(expected)));
        hmacRelease(ctx);
    }
}

// The format's vector table, recomputed from OpenSSL's SHA-256.
TEST(HmacOracle, FormatVectorsAgree) {
    for (const auto& row : crypto_vectors::HMAC_VECTORS) {
        SCOPED_TRACE(row.name);
        const Bytes key = testsupport::fromHex(row.keyHex);
        if (key.size() < 16 || key.size() > 64) {
            EXPECT_STREQ(row.tagHex, "") << "a refused key has no tag";
            continue;
        }
        EXPECT_EQ(toHex(oracleHmac(key, testsupport::fromHex(row.messageHex))), row.tagHex);
    }
}

TEST(Pbkdf2Oracle, FormatVectorsAgree) {
    for (const auto& row : crypto_vectors::PBKDF2_VECTORS) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(toHex(oraclePbkdf2(testsupport::fromHex(row.passwordHex), testsupport::fromHex(row.saltHex))),
                  row.keyHex);
    }
}

TEST(Pbkdf2Oracle, MatchesTheOracleLoopAndDiffersFromRfc2898) {
    std::mt19937 rng(75000);
    for (int round = 0; round < 3; ++round) {
        Bytes password = testsupport::randomBytes(rng, 32);
        Bytes salt = testsupport::randomBytes(rng, 8);
        SCOPED_TRACE(toHex(password) + " / " + toHex(salt));
        SecureBuffer out;
        ASSERT_TRUE(pbkdf2Sha256(bufferOf(password), bufferOf(salt), out));
        EXPECT_EQ(toHex(out), toHex(oraclePbkdf2(password, salt)));

        Bytes rfc(32);
        ASSERT_EQ(PKCS5_PBKDF2_HMAC(reinterpret_cast<const char*>(password.data()), 32, salt.data(), 8, 75000,
                                    EVP_sha256(), 32, rfc.data()),
                  1);
        EXPECT_NE(toHex(out), toHex(rfc));
    }
}
