// The pool generator: initial pool, mixing order, stirring, readiness, output as the key stream
// of the pool's hash, and the busy flag shared by generate and addEvent.

#include "random/generator.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <string>
#include <memory>
#include <thread>
#include <vector>

#include "crypto/sha256.h"
#include "support/hex.h"

using testsupport::toHex;

namespace {

// A generator in its initial state; the pool is 4 KiB, so tests keep their own.
std::unique_ptr<RandomGenerator> freshGenerator(uint32_t entropy = 0) {
    auto generator = std::make_unique<RandomGenerator>();
    generator->entropy = entropy;
    return generator;
}

SecureBuffer keystreamOf(CipherAlgorithm cipher, const SecureBuffer& key, uint32_t count) {
    CipherContext ctx;
    cipherInit(ctx, cipher, key);
    SecureBuffer out;
    EXPECT_TRUE(cipherKeystream(ctx, out, count));
    cipherRelease(ctx);
    return out;
}

SecureBuffer poolEncryptedUnder(const SecureBuffer& pool, CipherAlgorithm cipher, const SecureBuffer& key) {
    CipherContext ctx;
    cipherInit(ctx, cipher, key);
    SecureBuffer copy = pool;
    EXPECT_TRUE(cipherEncryptPool(ctx, copy.data()));
    cipherRelease(ctx);
    return copy;
}

SecureBuffer sha256Of(const SecureBuffer& bytes) {
    Sha256Context ctx;
    sha256Init(ctx);
    sha256Update(ctx, bytes);
    return sha256Final(ctx);
}

}  // namespace

TEST(RandomGenerator, InitialPoolIsTheFixedSequence) {
    auto generator = freshGenerator();
    ASSERT_EQ(generator->pool.size(), RANDOM_POOL_SIZE);
    EXPECT_EQ(toHex(generator->pool.slice(8, 0)), "2923be84e16cd6ae");
    EXPECT_EQ(generator->position, 0u);
    EXPECT_EQ(generator->entropy.load(), 0u);
    EXPECT_EQ(toHex(globalRandomGenerator.pool.slice(4, 0)), "2923be84") << "the process-wide instance too";
}

TEST(RandomGenerator, AddEventMixesItsEightBytesInOrder) {
    auto generator = freshGenerator();
    generator->position = 100;
    SecureBuffer before = generator->pool;
    addEvent(*generator, 0x1234, 0x5678, 0x9ABCDEF0);
    EXPECT_EQ(generator->position, 108u);
    const uint8_t expected[8] = {0x34, 0x78, 0x12, 0x56, 0xF0, 0xDE, 0xBC, 0x9A};
    for (uint32_t i = 0; i < RANDOM_POOL_SIZE; ++i) {
        uint8_t mixed = (i >= 100 && i < 108) ? expected[i - 100] : 0;
        ASSERT_EQ(generator->pool.data()[i], before.data()[i] ^ mixed) << i;
    }
    EXPECT_EQ(generator->entropy.load(), 0u) << "events are counted by their callers";
}

TEST(RandomGenerator, AddEventWhileBusyMixesNothing) {
    auto generator = freshGenerator();
    SecureBuffer before = generator->pool;
    ASSERT_FALSE(generator->busy.test_and_set());
    addEvent(*generator, 1, 2, 3);
    generator->busy.clear();
    EXPECT_EQ(generator->position, 0u);
    EXPECT_TRUE(generator->pool.constantTimeEquals(before));
}

TEST(RandomGenerator, AddSeedNeeds32BytesAndCredits) {
    auto generator = freshGenerator();
    SecureBuffer before = generator->pool;
    EXPECT_FALSE(addSeed(*generator, SecureBuffer::zeros(31), 7, true));
    EXPECT_EQ(generator->entropy.load(), 0u);
    EXPECT_EQ(generator->position, 0u);
    EXPECT_TRUE(generator->pool.constantTimeEquals(before));

    SecureBuffer seed = SecureBuffer::zeros(32);
    for (uint32_t i = 0; i < 32; ++i) seed.data()[i] = static_cast<uint8_t>(i + 1);
    EXPECT_TRUE(addSeed(*generator, seed, 0x04030201, true));
    EXPECT_EQ(generator->position, 36u);
    EXPECT_EQ(generator->entropy.load(), SEED_CREDIT);
    for (uint32_t i = 0; i < 32; ++i) ASSERT_EQ(generator->pool.data()[i], before.data()[i] ^ (i + 1)) << i;
    for (uint32_t i = 0; i < 4; ++i) ASSERT_EQ(generator->pool.data()[32 + i], before.data()[32 + i] ^ (i + 1)) << i;

    EXPECT_TRUE(addSeed(*generator, seed, 0, false));
    EXPECT_EQ(generator->entropy.load(), SEED_CREDIT) << "no credit asked, none given";
}

TEST(RandomGenerator, TheByteThatFillsThePoolStirsIt) {
    auto generator = freshGenerator();
    generator->position = RANDOM_POOL_SIZE - 1;
    SecureBuffer mixed = generator->pool;
    mixed.data()[RANDOM_POOL_SIZE - 1] ^= 0x5A;
    SecureBuffer expected = poolEncryptedUnder(mixed, CIPHER_AES256, sha256Of(mixed));
    mixByte(*generator, 0x5A);
    EXPECT_EQ(generator->position, 0u);
    EXPECT_TRUE(generator->pool.constantTimeEquals(expected));
}

TEST(RandomGenerator, ReadinessThreshold) {
    auto generator = freshGenerator(ENTROPY_THRESHOLD - 1);
    SecureBuffer out = SecureBuffer::zeros(3);
    EXPECT_FALSE(generate(*generator, out, 16, CIPHER_AES256));
    EXPECT_TRUE(out.empty());
    uint32_t value = 77;
    EXPECT_FALSE(generateUint32(*generator, value));
    EXPECT_EQ(value, 0u);
    generator->entropy.fetch_add(1);
    EXPECT_TRUE(generate(*generator, out, 16, CIPHER_AES256));
    EXPECT_EQ(out.size(), 16u);
    EXPECT_EQ(generator->entropy.load(), ENTROPY_THRESHOLD) << "output does not consume entropy";
}

TEST(RandomGenerator, RefusesZeroCountAndUnknownCipher) {
    auto generator = freshGenerator(ENTROPY_THRESHOLD);
    SecureBuffer before = generator->pool;
    SecureBuffer out = SecureBuffer::zeros(3);
    EXPECT_FALSE(generate(*generator, out, 0, CIPHER_AES256));
    EXPECT_TRUE(out.empty());
    out = SecureBuffer::zeros(3);
    EXPECT_FALSE(generate(*generator, out, 16, static_cast<CipherAlgorithm>(2)));
    EXPECT_TRUE(out.empty());
    EXPECT_TRUE(generator->pool.constantTimeEquals(before));
}

// Output is the key stream of the selected cipher under SHA-256 of the pool; the pool is then
// encrypted under that key, so the next call uses the hash of the encrypted pool.
TEST(RandomGenerator, OutputIsTheKeyStreamOfThePoolsHash) {
    for (CipherAlgorithm cipher : {CIPHER_AES256, CIPHER_SERPENT}) {
        for (uint32_t count : {1u, 5u, 16u, 17u, 512u}) {
            SCOPED_TRACE(std::to_string(cipher) + " count " + std::to_string(count));
            auto generator = freshGenerator(ENTROPY_THRESHOLD);
            SecureBuffer key1 = sha256Of(generator->pool);
            SecureBuffer pool1 = poolEncryptedUnder(generator->pool, cipher, key1);
            SecureBuffer key2 = sha256Of(pool1);

            SecureBuffer first, second;
            ASSERT_TRUE(generate(*generator, first, count, cipher));
            EXPECT_EQ(toHex(first), toHex(keystreamOf(cipher, key1, count)));
            EXPECT_TRUE(generator->pool.constantTimeEquals(pool1));
            EXPECT_EQ(generator->position, 0u);
            ASSERT_TRUE(generate(*generator, second, count, cipher));
            EXPECT_EQ(toHex(second), toHex(keystreamOf(cipher, key2, count)));
            EXPECT_NE(toHex(first), toHex(second));
        }
    }
}

TEST(RandomGenerator, Uint32IsLittleEndianOfFourAesBytes) {
    auto a = freshGenerator(ENTROPY_THRESHOLD);
    auto b = freshGenerator(ENTROPY_THRESHOLD);
    SecureBuffer bytes;
    ASSERT_TRUE(generate(*a, bytes, 4, CIPHER_AES256));
    uint32_t value = 0;
    ASSERT_TRUE(generateUint32(*b, value));
    EXPECT_EQ(value, bytes.data()[0] | bytes.data()[1] << 8 | bytes.data()[2] << 16 |
                         static_cast<uint32_t>(bytes.data()[3]) << 24);
}

TEST(RandomGenerator, WipeZeroesEverything) {
    auto generator = freshGenerator(ENTROPY_THRESHOLD);
    generator->position = 9;
    randomWipe(*generator);
    EXPECT_EQ(generator->position, 0u);
    EXPECT_EQ(generator->entropy.load(), 0u);
    EXPECT_TRUE(generator->pool.constantTimeEquals(SecureBuffer::zeros(RANDOM_POOL_SIZE)));
}

// generate on a worker while the user-interface thread feeds events: the pool is never touched by
// both at once (ThreadSanitizer checks the build with FERROLYN_TSAN), and addEvent never waits.
TEST(RandomGenerator, GenerateAndEventsOnTwoThreads) {
    auto generator = freshGenerator(ENTROPY_THRESHOLD);
    std::atomic<bool> stop{false};
    std::thread feeder([&] {
        uint32_t i = 0;
        while (!stop.load()) {
            addEvent(*generator, static_cast<uint16_t>(i), static_cast<uint16_t>(i >> 16), i);
            ++i;
        }
    });
    std::vector<std::string> outputs;
    for (int i = 0; i < 200; ++i) {
        SecureBuffer out;
        ASSERT_TRUE(generate(*generator, out, 16, i % 2 ? CIPHER_SERPENT : CIPHER_AES256));
        outputs.push_back(toHex(out));
    }
    stop = true;
    feeder.join();
    std::sort(outputs.begin(), outputs.end());
    EXPECT_EQ(std::unique(outputs.begin(), outputs.end()), outputs.end()) << "outputs repeat";
    EXPECT_LT(generator->position, RANDOM_POOL_SIZE);
}
