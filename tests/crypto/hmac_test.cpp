// HMAC-SHA256 and PBKDF2: the format's vectors on every SHA-256 engine, key-length contracts, key
// blocks and midstates, verification, and the failure contracts of the derivation.

#include "crypto/hmac.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

#include "crypto/pbkdf2.h"
#include "support/hex.h"
#include "tests/crypto/hmac_vectors.h"

using testsupport::bufferFromHex;
using testsupport::bufferOf;
using testsupport::toHex;

namespace {

SecureBuffer patternKey(uint32_t length) {
    SecureBuffer key = SecureBuffer::zeros(length);
    for (uint32_t i = 0; i < length; ++i) key.data()[i] = static_cast<uint8_t>(i * 7 + 1);
    return key;
}

}  // namespace

class HmacEngines : public ::testing::TestWithParam<Sha256Engine> {
protected:
    void SetUp() override {
        if (!sha256EngineAvailable(GetParam())) GTEST_SKIP() << "the processor lacks this engine";
    }
};

TEST_P(HmacEngines, FormatVectors) {
    for (const auto& row : crypto_vectors::HMAC_VECTORS) {
        SCOPED_TRACE(row.name);
        HmacSha256 ctx;
        hmacInit(ctx, bufferFromHex(row.keyHex), GetParam());
        const SecureBuffer message = bufferFromHex(row.messageHex);
        const SecureBuffer tag = hmacCompute(ctx, message);
        EXPECT_EQ(toHex(tag), row.tagHex);
        if (tag.empty()) continue;
        EXPECT_TRUE(hmacVerify(ctx, message, tag));
        SecureBuffer changed = tag;
        changed.data()[31] ^= 1;
        EXPECT_FALSE(hmacVerify(ctx, message, changed));
        hmacRelease(ctx);
    }
}

// The tag is RFC 2104 over the system's hash: built here from whole SHA-256 hashes of the key
// blocks and the message, which must agree with the midstate shortcut on every message length
// around the block boundaries, for keys of every accepted length.
TEST_P(HmacEngines, MidstatesGiveTheTagOfWholeHashes) {
    const Sha256Engine engine = GetParam();
    std::mt19937 rng(4231);
    for (uint32_t keyBytes = HMAC_MIN_KEY_BYTES; keyBytes <= HMAC_MAX_KEY_BYTES; ++keyBytes) {
        const SecureBuffer key = bufferOf(testsupport::randomBytes(rng, keyBytes));
        HmacSha256 ctx;
        hmacInit(ctx, key, engine);
        ASSERT_TRUE(ctx.valid);
        EXPECT_EQ(ctx.engine, engine);
        for (uint32_t length : {0u, 1u, 31u, 55u, 56u, 63u, 64u, 65u, 119u, 120u, 200u}) {
            SCOPED_TRACE(std::to_string(keyBytes) + "-byte key, " + std::to_string(length) + "-byte message");
            const SecureBuffer message = bufferOf(testsupport::randomBytes(rng, length));
            Sha256Context hash;
            sha256Init(hash, SHA256_ENGINE_PORTABLE);
            sha256Update(hash, ctx.innerKeyBlock);
            sha256Update(hash, message);
            const SecureBuffer innerDigest = sha256Final(hash);
            sha256Init(hash, SHA256_ENGINE_PORTABLE);
            sha256Update(hash, ctx.outerKeyBlock);
            sha256Update(hash, innerDigest);
            ASSERT_EQ(toHex(hmacCompute(ctx, message)), toHex(sha256Final(hash)));
        }
        hmacRelease(ctx);
    }
}

TEST_P(HmacEngines, Pbkdf2FormatVectors) {
    for (const auto& row : crypto_vectors::PBKDF2_VECTORS) {
        SCOPED_TRACE(row.name);
        SecureBuffer out = bufferOf("previous contents");
        ASSERT_TRUE(pbkdf2Sha256(bufferFromHex(row.passwordHex), bufferFromHex(row.saltHex), out, GetParam()));
        EXPECT_EQ(toHex(out), row.keyHex);
    }
}

INSTANTIATE_TEST_SUITE_P(, HmacEngines, ::testing::Values(SHA256_ENGINE_PORTABLE, SHA256_ENGINE_SHA_NI),
                         [](const ::testing::TestParamInfo<Sha256Engine>& info) {
                             return std::string(info.param == SHA256_ENGINE_SHA_NI ? "ShaNi" : "Portable");
                         });

TEST(Hmac, KeyLengthDecidesValidity) {
    struct Row {
        uint32_t keyBytes;
        bool valid;
    };
    const Row rows[] = {{0, false}, {15, false}, {16, true}, {32, true}, {64, true}, {65, false}};
    SecureBuffer message = bufferOf("message");
    for (const Row& row : rows) {
        SCOPED_TRACE(row.keyBytes);
        HmacSha256 ctx;
        hmacInit(ctx, patternKey(row.keyBytes));
        EXPECT_EQ(ctx.valid, row.valid);
        SecureBuffer tag = hmacCompute(ctx, message);
        EXPECT_EQ(tag.size(), row.valid ? 32u : 0u);
        EXPECT_EQ(hmacVerify(ctx, message, tag), row.valid);
        EXPECT_EQ(ctx.innerKeyBlock.size(), row.valid ? 64u : 0u);
        EXPECT_EQ(ctx.outerKeyBlock.size(), row.valid ? 64u : 0u);
        EXPECT_EQ(ctx.innerMidstate.size(), row.valid ? 32u : 0u);
        EXPECT_EQ(ctx.outerMidstate.size(), row.valid ? 32u : 0u);
        hmacRelease(ctx);
    }
}

TEST(Hmac, KeyBlocksArePaddedKeyXorPad) {
    for (uint32_t length : {16u, 33u, 64u}) {
        SCOPED_TRACE(length);
        SecureBuffer key = patternKey(length);
        HmacSha256 ctx;
        hmacInit(ctx, key);
        for (uint32_t i = 0; i < 64; ++i) {
            uint8_t k = i < length ? key.data()[i] : 0;
            ASSERT_EQ(ctx.innerKeyBlock.data()[i], k ^ 0x36) << i;
            ASSERT_EQ(ctx.outerKeyBlock.data()[i], k ^ 0x5c) << i;
        }
        hmacRelease(ctx);
        EXPECT_TRUE(ctx.innerKeyBlock.empty());
        EXPECT_TRUE(ctx.outerKeyBlock.empty());
        EXPECT_TRUE(ctx.innerMidstate.empty());
        EXPECT_TRUE(ctx.outerMidstate.empty());
        EXPECT_TRUE(hmacCompute(ctx, bufferOf("x")).empty()) << "a released context has no key";
    }
}

TEST(Hmac, VerificationRejectsAnyChangedOrResizedTag) {
    HmacSha256 ctx;
    hmacInit(ctx, patternKey(32));
    SecureBuffer message = bufferOf("authenticated");
    SecureBuffer tag = hmacCompute(ctx, message);
    ASSERT_EQ(tag.size(), 32u);
    EXPECT_TRUE(hmacVerify(ctx, message, tag));

    SecureBuffer emptyTag = hmacCompute(ctx, SecureBuffer());
    EXPECT_EQ(emptyTag.size(), 32u) << "the empty message has a tag";
    EXPECT_TRUE(hmacVerify(ctx, SecureBuffer(), emptyTag));

    for (uint32_t bit = 0; bit < 256; ++bit) {
        SecureBuffer changed = tag;
        changed.data()[bit / 8] ^= static_cast<uint8_t>(1u << (bit % 8));
        ASSERT_FALSE(hmacVerify(ctx, message, changed)) << bit;
    }
    EXPECT_FALSE(hmacVerify(ctx, message, tag.slice(31, 0)));
    SecureBuffer longer = tag;
    longer.appendZeros(1);
    EXPECT_FALSE(hmacVerify(ctx, message, longer));
    EXPECT_FALSE(hmacVerify(ctx, bufferOf("authenticateD"), tag));
    hmacRelease(ctx);
}

TEST(Pbkdf2, RefusesWrongLengthsAndEmptiesTheOutput) {
    struct Row {
        uint32_t passwordBytes, saltBytes;
    };
    const Row rows[] = {{31, 8}, {33, 8}, {32, 7}, {32, 9}, {0, 0}};
    for (const Row& row : rows) {
        SCOPED_TRACE(std::to_string(row.passwordBytes) + "/" + std::to_string(row.saltBytes));
        SecureBuffer out = bufferOf("previous contents");
        EXPECT_FALSE(pbkdf2Sha256(patternKey(row.passwordBytes), patternKey(row.saltBytes), out));
        EXPECT_TRUE(out.empty());
    }
}

TEST(Pbkdf2, DeterministicAndSensitiveToEverySaltBit) {
    SecureBuffer password = patternKey(32);
    SecureBuffer salt = patternKey(8);
    SecureBuffer out = bufferOf("will be replaced, not mixed in");
    ASSERT_TRUE(pbkdf2Sha256(password, salt, out));
    ASSERT_EQ(out.size(), 32u);
    std::string first = toHex(out);
    ASSERT_TRUE(pbkdf2Sha256(password, salt, out));
    EXPECT_EQ(toHex(out), first) << "the same output buffer again gives the same key";

    SecureBuffer otherSalt = salt;
    otherSalt.data()[7] ^= 0x80;
    SecureBuffer other;
    ASSERT_TRUE(pbkdf2Sha256(password, otherSalt, other));
    EXPECT_NE(toHex(other), first);
}
