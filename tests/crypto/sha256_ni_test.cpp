// The SHA-NI compression function against the portable one: random chaining states (not only the
// initial hash value) and random runs of 0 to 9 blocks and of 1 MiB, at unaligned addresses; and
// whole hashes with many small updates, which take both the context's block and the caller's
// memory.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "crypto/sha256.h"
#include "crypto/sha256_constants.h"
#include "support/hex.h"

using testsupport::toHex;

namespace {

class Sha256NiAgreement : public ::testing::Test {
protected:
    void SetUp() override {
        if (!sha256EngineAvailable(SHA256_ENGINE_SHA_NI)) GTEST_SKIP() << "the processor lacks the SHA extensions";
    }
};

// The SHA-NI engine reads the round constants with aligned 16-byte loads, which fault on any other
// address. Checked on every build, so that the 32-bit Windows build, whose test machine may lack
// the SHA extensions, still shows a lost alignment.
TEST(Sha256Constants, AlignedForVectorLoads) {
    EXPECT_EQ(reinterpret_cast<uintptr_t>(SHA256_ROUND_CONSTANTS) % 16, 0u);
}

std::string stateHex(const uint32_t state[8]) {
    std::string text;
    for (int j = 0; j < 8; ++j)
        text += toHex(std::vector<uint8_t>{static_cast<uint8_t>(state[j] >> 24), static_cast<uint8_t>(state[j] >> 16),
                                           static_cast<uint8_t>(state[j] >> 8), static_cast<uint8_t>(state[j])}) +
                " ";
    return text;
}

TEST_F(Sha256NiAgreement, CompressionOfRandomStatesAndRuns) {
    std::mt19937 rng(0x5a5a);
    for (int round = 0; round < 200; ++round) {
        const size_t blockCount = static_cast<size_t>(round % 10);
        const size_t offset = static_cast<size_t>(rng() % 16);
        std::vector<uint8_t> storage = testsupport::randomBytes(rng, offset + 64 * blockCount);
        const uint8_t* blocks = storage.data() + offset;
        uint32_t portable[8];
        for (uint32_t& word : portable) word = static_cast<uint32_t>(rng());
        uint32_t fast[8];
        std::copy(portable, portable + 8, fast);
        SCOPED_TRACE("round " + std::to_string(round) + ", state " + stateHex(portable) + ", " +
                     std::to_string(blockCount) + " blocks at offset " + std::to_string(offset));
        sha256Compress(portable, blocks, blockCount, SHA256_ENGINE_PORTABLE);
        sha256Compress(fast, blocks, blockCount, SHA256_ENGINE_SHA_NI);
        ASSERT_EQ(stateHex(fast), stateHex(portable));
    }
}

TEST_F(Sha256NiAgreement, CompressionOfOneMebibyte) {
    std::mt19937 rng(0x5a5b);
    std::vector<uint8_t> storage = testsupport::randomBytes(rng, 3 + (1u << 20));
    uint32_t portable[8] = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                            0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};
    uint32_t fast[8];
    std::copy(portable, portable + 8, fast);
    sha256Compress(portable, storage.data() + 3, (1u << 20) / 64, SHA256_ENGINE_PORTABLE);
    sha256Compress(fast, storage.data() + 3, (1u << 20) / 64, SHA256_ENGINE_SHA_NI);
    EXPECT_EQ(stateHex(fast), stateHex(portable));
}

TEST_F(Sha256NiAgreement, WholeHashesInRandomSizedUpdates) {
    std::mt19937 rng(0x5a5c);
    for (size_t length : {size_t{0}, size_t{63}, size_t{64}, size_t{1000}, size_t{70000}}) {
        SCOPED_TRACE(length);
        std::vector<uint8_t> message = testsupport::randomBytes(rng, length);
        std::string digests[2];
        const Sha256Engine engines[2] = {SHA256_ENGINE_PORTABLE, SHA256_ENGINE_SHA_NI};
        for (int e = 0; e < 2; ++e) {
            std::mt19937 steps(static_cast<uint32_t>(length));
            Sha256Context ctx;
            sha256Init(ctx, engines[e]);
            for (size_t offset = 0; offset < length;) {
                const size_t step = std::min<size_t>(steps() % 200, length - offset);
                sha256Update(ctx, message.data() + offset, static_cast<uint32_t>(step));
                offset += step;
            }
            digests[e] = toHex(sha256Final(ctx));
        }
        EXPECT_EQ(digests[1], digests[0]);
    }
}

}  // namespace
