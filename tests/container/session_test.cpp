// Key splitting and sealed chunks: failed-session contracts, sealed sizes, tamper detection at
// every bit and every length, the not-ready generator, key check values and key codes.

#include "container/key_code.h"
#include "container/session.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "base/text.h"
#include "random/generator.h"
#include "support/hex.h"

using testsupport::bufferOf;
using testsupport::toHex;

namespace {

SecureBuffer testKey(uint8_t salt = 0) {
    SecureBuffer key = SecureBuffer::zeros(32);
    for (uint32_t i = 0; i < 32; ++i) key.data()[i] = static_cast<uint8_t>(i * 13 + salt + 1);
    return key;
}

std::unique_ptr<RandomGenerator> readyGenerator() {
    auto generator = std::make_unique<RandomGenerator>();
    generator->entropy = ENTROPY_THRESHOLD;
    return generator;
}

// A text buffer of s with its NUL.

}  // namespace

TEST(CryptoSession, RefusedKeysAndAlgorithmsFailEveryChunk) {
    auto generator = readyGenerator();
    struct Row {
        const char* name;
        SecureBuffer key;
        CipherAlgorithm algorithm;
    };
    const Row rows[] = {
        {"32 zero bytes", SecureBuffer::zeros(32), CIPHER_AES256},
        {"31 bytes", testKey().slice(31, 0), CIPHER_AES256},
        {"33 bytes",
         [] {
             SecureBuffer k = testKey();
             k.appendZeros(1);
             return k;
         }(),
         CIPHER_SERPENT},
        {"empty", SecureBuffer(), CIPHER_AES256},
        {"algorithm 2", testKey(), static_cast<CipherAlgorithm>(2)},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        CryptoSession session;
        sessionInit(session, row.key, generator.get(), row.algorithm);
        EXPECT_FALSE(session.valid);
        SecureBuffer buffer = bufferOf("payload");
        EXPECT_FALSE(sessionEncryptChunk(session, buffer));
        EXPECT_TRUE(buffer.empty());
        buffer = SecureBuffer::zeros(80);
        EXPECT_FALSE(sessionDecryptChunk(session, buffer));
        EXPECT_TRUE(buffer.empty());
        sessionRelease(session);
    }
}

TEST(CryptoSession, SealedSizesAndRoundTrips) {
    auto generator = readyGenerator();
    for (CipherAlgorithm algorithm : {CIPHER_AES256, CIPHER_SERPENT}) {
        CryptoSession session;
        sessionInit(session, testKey(), generator.get(), algorithm);
        ASSERT_TRUE(session.valid);
        for (uint32_t length : {0u, 1u, 11u, 12u, 15u, 16u, 17u, 1000u, 4100u}) {
            SCOPED_TRACE(std::to_string(algorithm) + " length " + std::to_string(length));
            SecureBuffer plain = SecureBuffer::zeros(length);
            for (uint32_t i = 0; i < length; ++i) plain.data()[i] = static_cast<uint8_t>(i * 7);
            SecureBuffer buffer = plain;
            ASSERT_TRUE(sessionEncryptChunk(session, buffer));
            EXPECT_EQ(buffer.size(), 16 * (length / 16 + 1) + 48);
            ASSERT_TRUE(sessionDecryptChunk(session, buffer));
            EXPECT_TRUE(buffer.constantTimeEquals(plain));
        }
        sessionRelease(session);
        EXPECT_EQ(session.cipher, nullptr);
        EXPECT_EQ(session.mac, nullptr);
        EXPECT_EQ(session.generator, nullptr);
    }
}

TEST(CryptoSession, EveryBitFlipAndEveryTruncationIsRefused) {
    auto generator = readyGenerator();
    CryptoSession session;
    sessionInit(session, testKey(), generator.get(), CIPHER_SERPENT);
    SecureBuffer sealed = bufferOf("twenty plaintext bytes");
    ASSERT_TRUE(sessionEncryptChunk(session, sealed));
    ASSERT_EQ(sealed.size(), 80u);
    for (uint32_t bit = 0; bit < sealed.size() * 8; ++bit) {
        SecureBuffer damaged = sealed;
        damaged.data()[bit / 8] ^= static_cast<uint8_t>(1u << (bit % 8));
        ASSERT_FALSE(sessionDecryptChunk(session, damaged)) << "bit " << bit;
        ASSERT_TRUE(damaged.empty());
    }
    for (uint32_t length = 0; length < sealed.size(); ++length) {
        SecureBuffer cut = sealed.slice(length, 0);
        ASSERT_FALSE(sessionDecryptChunk(session, cut)) << "length " << length;
        ASSERT_TRUE(cut.empty());
    }
    SecureBuffer longer = sealed;
    longer.appendZeros(16);
    EXPECT_FALSE(sessionDecryptChunk(session, longer));
    SecureBuffer intact = sealed;
    EXPECT_TRUE(sessionDecryptChunk(session, intact)) << "the session is still usable";
    sessionRelease(session);
}

// IV and tag with no ciphertext between them can carry a valid tag; opening it must fail cleanly.
TEST(CryptoSession, AuthenticBlobWithoutCiphertextFailsCleanly) {
    auto generator = readyGenerator();
    CryptoSession session;
    sessionInit(session, testKey(), generator.get(), CIPHER_AES256);
    for (uint32_t ivBytes : {0u, 15u, 16u, 17u, 31u}) {
        SCOPED_TRACE(ivBytes);
        SecureBuffer blob = SecureBuffer::zeros(ivBytes);
        blob.append(hmacCompute(*session.mac, blob));
        EXPECT_FALSE(sessionDecryptChunk(session, blob));
        EXPECT_TRUE(blob.empty());
    }
    sessionRelease(session);
}

TEST(CryptoSession, NotReadyGeneratorLeavesThePlaintextAndFailsForGood) {
    auto generator = readyGenerator();
    generator->entropy = ENTROPY_THRESHOLD - 1;
    CryptoSession session;
    sessionInit(session, testKey(), generator.get(), CIPHER_AES256);
    ASSERT_TRUE(session.valid);
    SecureBuffer buffer = bufferOf("still here");
    EXPECT_FALSE(sessionEncryptChunk(session, buffer));
    EXPECT_EQ(toHex(buffer), toHex(bufferOf("still here")));
    EXPECT_FALSE(session.valid);
    generator->entropy = ENTROPY_THRESHOLD;
    EXPECT_FALSE(sessionEncryptChunk(session, buffer)) << "a failed session stays failed";
    EXPECT_TRUE(buffer.empty());

    CryptoSession noGenerator;
    sessionInit(noGenerator, testKey(), nullptr, CIPHER_AES256);
    buffer = bufferOf("x");
    EXPECT_FALSE(sessionEncryptChunk(noGenerator, buffer));
    EXPECT_TRUE(buffer.empty());
}

TEST(CryptoSession, FreshIvPerChunkAndCiphersDoNotMix) {
    auto generator = readyGenerator();
    CryptoSession aes, serpent;
    sessionInit(aes, testKey(), generator.get(), CIPHER_AES256);
    sessionInit(serpent, testKey(), generator.get(), CIPHER_SERPENT);
    SecureBuffer first = bufferOf("same plaintext"), second = first;
    ASSERT_TRUE(sessionEncryptChunk(aes, first));
    ASSERT_TRUE(sessionEncryptChunk(aes, second));
    EXPECT_NE(toHex(first.slice(16, 0)), toHex(second.slice(16, 0)));
    EXPECT_NE(toHex(first), toHex(second));
    SecureBuffer other = first;
    EXPECT_FALSE(sessionDecryptChunk(serpent, other)) << "sub-keys of the other cipher must not open it";
    ASSERT_TRUE(sessionDecryptChunk(aes, first));
    ASSERT_TRUE(sessionDecryptChunk(aes, second));
    EXPECT_TRUE(first.constantTimeEquals(second));
    EXPECT_FALSE(aes.mac->innerKeyBlock.constantTimeEquals(serpent.mac->innerKeyBlock));
}

TEST(KeyCheckValue, EightBytesThatFollowEveryKeyBit) {
    SecureBuffer key = testKey();
    SecureBuffer check = keyCheckValue(key);
    ASSERT_EQ(check.size(), 8u);
    for (uint32_t bit = 0; bit < 256; ++bit) {
        SecureBuffer changed = key;
        changed.data()[bit / 8] ^= static_cast<uint8_t>(1u << (bit % 8));
        ASSERT_FALSE(keyCheckValue(changed).constantTimeEquals(check)) << bit;
    }
    EXPECT_TRUE(keyCheckValue(SecureBuffer::zeros(10)).empty()) << "too short to key an HMAC";
    // The check value is the HMAC of "PPTestValue" cut to 8 bytes.
    HmacSha256 mac;
    hmacInit(mac, key);
    EXPECT_EQ(toHex(check), toHex(hmacCompute(mac, bufferOf("PPTestValue")).slice(8, 0)));
    hmacRelease(mac);
}
