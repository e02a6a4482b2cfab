// The pool generator: initial pool, mixing, stirring and output.

#include "random/generator.h"

#include <thread>

#include "base/byte_order.h"
#include "base/scope_exit.h"
#include "crypto/sha256.h"

namespace {

// Initial pool: the low bytes of the classic runtime-library sequence from an unseeded state.
// Fixed here so that it is the same on every platform.
void fillInitialPool(uint8_t* pool) {
    uint32_t state = 1;
    for (uint32_t i = 0; i < RANDOM_POOL_SIZE; ++i) {
        state = state * 214013u + 2531011u;
        pool[i] = static_cast<uint8_t>((state >> 16) & 0x7FFF);
    }
}

// Takes the busy flag, waiting only for a mixing call of the other thread, which is short.
void acquire(RandomGenerator& generator) {
    while (generator.busy.test_and_set(std::memory_order_acquire)) std::this_thread::yield();
}

void release(RandomGenerator& generator) { generator.busy.clear(std::memory_order_release); }

void mixUnlocked(RandomGenerator& generator, const uint8_t* bytes, uint32_t count) {
    for (uint32_t i = 0; i < count; ++i) mixByte(generator, bytes[i]);
}

}  // namespace

RandomGenerator globalRandomGenerator;

RandomGenerator::RandomGenerator() {
    pool.allocate(RANDOM_POOL_SIZE);
    fillInitialPool(pool.data());
}

void randomReset(RandomGenerator& generator) {
    acquire(generator);
    fillInitialPool(generator.pool.data());
    generator.position = 0;
    generator.entropy.store(0);
    release(generator);
}

void mixByte(RandomGenerator& generator, uint8_t b) {
    generator.pool.data()[generator.position] ^= b;
    ++generator.position;
    if (generator.position >= RANDOM_POOL_SIZE) stir(generator);
}

SecureBuffer poolKey(const RandomGenerator& generator) {
    Sha256Context ctx;
    ScopeExit wipeContext([&] { sha256Wipe(ctx); });
    sha256Init(ctx);
    sha256Update(ctx, generator.pool.data(), RANDOM_POOL_SIZE);
    return sha256Final(ctx);
}

void stir(RandomGenerator& generator) {
    CipherContext ctx;
    ScopeExit releaseContext([&] { cipherRelease(ctx); });
    {
        SecureBuffer key = poolKey(generator);
        // The stir always uses AES-256, whatever cipher the user chose.
        cipherInit(ctx, CIPHER_AES256, key);
    }
    // A failed stir leaves the pool as the cipher layer left it; mixing goes on from 0 anyway.
    (void)cipherEncryptPool(ctx, generator.pool.data());
    generator.position = 0;
}

bool addSeed(RandomGenerator& generator, const SecureBuffer& data, uint32_t value, bool credit) {
    if (data.size() < RANDOM_MIN_SEED_BYTES) return false;
    uint8_t valueBytes[4];
    store32Le(valueBytes, value);
    acquire(generator);
    {
        ScopeExit releaseBusy([&] { release(generator); });
        mixUnlocked(generator, data.data(), data.size());
        mixUnlocked(generator, valueBytes, sizeof valueBytes);
    }
    secureWipe(valueBytes, sizeof valueBytes);
    if (credit) generator.entropy.fetch_add(SEED_CREDIT);
    return true;
}

void addEvent(RandomGenerator& generator, uint16_t a, uint16_t b, uint32_t c) {
    if (generator.busy.test_and_set(std::memory_order_acquire)) return;
    ScopeExit releaseBusy([&] { release(generator); });
    uint8_t bytes[8] = {static_cast<uint8_t>(a), static_cast<uint8_t>(b), static_cast<uint8_t>(a >> 8),
                        static_cast<uint8_t>(b >> 8)};
    store32Le(bytes + 4, c);
    mixUnlocked(generator, bytes, sizeof bytes);
    secureWipe(bytes, sizeof bytes);
}

bool generate(RandomGenerator& generator, SecureBuffer& out, uint32_t count, CipherAlgorithm cipher) {
    if (generator.entropy.load() < ENTROPY_THRESHOLD || count == 0 ||
        (cipher != CIPHER_AES256 && cipher != CIPHER_SERPENT)) {
        out.wipe();
        return false;
    }
    acquire(generator);
    ScopeExit releaseBusy([&] { release(generator); });
    CipherContext ctx;
    ScopeExit releaseContext([&] { cipherRelease(ctx); });
    {
        SecureBuffer key = poolKey(generator);
        cipherInit(ctx, cipher, key);
    }
    // The pool moves on under the key just taken from it, so the next call hashes a new pool.
    if (!cipherEncryptPool(ctx, generator.pool.data()) || !cipherKeystream(ctx, out, count) || out.size() != count) {
        out.wipe();
        return false;
    }
    return true;
}

bool generateUint32(RandomGenerator& generator, uint32_t& out) {
    SecureBuffer bytes;
    if (!generate(generator, bytes, 4, CIPHER_AES256)) {
        out = 0;
        return false;
    }
    out = load32Le(bytes.data());
    return true;
}

void randomWipe(RandomGenerator& generator) {
    acquire(generator);
    generator.position = 0;
    generator.entropy.store(0);
    secureWipe(generator.pool.data(), generator.pool.size());
    release(generator);
}
