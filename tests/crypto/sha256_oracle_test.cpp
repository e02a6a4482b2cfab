// SHA-256 against OpenSSL: the system's digest is OpenSSL's with each 4-byte group reversed.

#include <openssl/sha.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

#include "crypto/sha256.h"
#include "support/hex.h"

using testsupport::toHex;

namespace {

std::vector<uint8_t> opensslDigestWordsReversed(const std::vector<uint8_t>& message) {
    std::vector<uint8_t> digest(SHA256_DIGEST_LENGTH);
    SHA256(message.data(), message.size(), digest.data());
    for (size_t word = 0; word < 8; ++word) std::reverse(digest.begin() + 4 * word, digest.begin() + 4 * word + 4);
    return digest;
}

std::string ourDigest(const std::vector<uint8_t>& message) {
    Sha256Context ctx;
    sha256Init(ctx);
    sha256Update(ctx, message.data(), static_cast<uint32_t>(message.size()));
    return toHex(sha256Final(ctx));
}

}  // namespace

TEST(Sha256Oracle, EveryLengthUpTo300) {
    std::mt19937 rng(300);
    for (size_t length = 0; length <= 300; ++length) {
        SCOPED_TRACE(length);
        std::vector<uint8_t> message = testsupport::randomBytes(rng, length);
        ASSERT_EQ(ourDigest(message), toHex(opensslDigestWordsReversed(message)));
    }
}

TEST(Sha256Oracle, MegabytesInRandomSizedUpdates) {
    std::mt19937 rng(2024);
    for (size_t length : {size_t(1) << 20, (size_t(3) << 20) + 17}) {
        SCOPED_TRACE(length);
        std::vector<uint8_t> message = testsupport::randomBytes(rng, length);
        std::string expected = toHex(opensslDigestWordsReversed(message));
        EXPECT_EQ(ourDigest(message), expected);
        Sha256Context ctx;
        sha256Init(ctx);
        size_t offset = 0;
        while (offset < length) {
            size_t step = std::min<size_t>(rng() % 300, length - offset);
            sha256Update(ctx, message.data() + offset, static_cast<uint32_t>(step));
            offset += step;
        }
        EXPECT_EQ(toHex(sha256Final(ctx)), expected);
    }
}
