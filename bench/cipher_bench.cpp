// Throughput of the block ciphers on single blocks, of padded CBC over a 2 MiB chunk in both
// directions, and of the counter-mode key stream and pool encryption, for AES-256 and Serpent.
// Argument 0 of the context benchmarks is CIPHER_AES256, 1 CIPHER_SERPENT; they run AES on the
// preferred engine. The BM_Aes* benchmarks take the AES engine as argument 0 (AES_ENGINE_PORTABLE,
// AES_ENGINE_NI), so that both engines show side by side.

#include <benchmark/benchmark.h>

#include <cstdint>
#include <string>
#include <vector>

#include "crypto/aes.h"
#include "crypto/cipher.h"
#include "crypto/engines.h"
#include "crypto/serpent.h"

namespace {

constexpr uint32_t CHUNK_BYTES = 2 * 1024 * 1024;

SecureBuffer benchKey() {
    SecureBuffer key;
    key.allocate(32);
    for (uint32_t i = 0; i < key.size(); ++i) key.data()[i] = static_cast<uint8_t>(i * 7 + 1);
    return key;
}

SecureBuffer patternBuffer(uint32_t length) {
    SecureBuffer buffer;
    buffer.allocate(length);
    for (uint32_t i = 0; i < length; ++i) buffer.data()[i] = static_cast<uint8_t>(i * 131 + 17);
    return buffer;
}

// The cipher of argument 0, AES with the engine every AES operation here runs on. Serpent's path
// is left to the run's context ("engines"): it serves only the operations on many independent
// blocks, while one CBC chain is encrypted a block at a time on any path.
std::string algorithmName(int64_t argument) {
    if (argument != CIPHER_AES256) return "Serpent";
    return std::string("AES-256, ") + engineName(enginesInUse().aes);
}

const uint8_t BENCH_IV[16] = {0x0f, 0x1e, 0x2d, 0x3c, 0x4b, 0x5a, 0x69, 0x78,
                              0x87, 0x96, 0xa5, 0xb4, 0xc3, 0xd2, 0xe1, 0xf0};

// The engine of argument 0, or false with the benchmark skipped when this processor lacks it.
bool engineOf(benchmark::State& state, AesEngine& engine) {
    engine = static_cast<AesEngine>(state.range(0));
    state.SetLabel(engineName(engine));
    if (aesEngineAvailable(engine)) return true;
    state.SkipWithError("engine not available on this processor");
    return false;
}

// Single blocks: each block is fed the previous result, so this measures one block's latency,
// including the fast engine's loading of the round keys on every call.
void aesBlocks(benchmark::State& state, bool encrypt) {
    AesEngine engine;
    if (!engineOf(state, engine)) return;
    AesKeySchedule schedule;
    if (!aesSetKey(schedule, benchKey())) state.SkipWithError("key refused");
    uint8_t block[16] = {};
    for (auto _ : state) {
        const bool ok = encrypt ? aesEncryptBlock(schedule, block, engine) : aesDecryptBlock(schedule, block, engine);
        benchmark::DoNotOptimize(ok);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * 16);
}

// The three runs of AES over one 2 MiB chunk, in place, without the context's copies and padding:
// independent blocks (the rate of the key stream and the pool), CBC encryption and CBC decryption.
enum class AesRun { EACH_BLOCK, CBC_ENCRYPT, CBC_DECRYPT };

void aesRun(benchmark::State& state, AesRun run) {
    AesEngine engine;
    if (!engineOf(state, engine)) return;
    AesKeySchedule schedule;
    if (!aesSetKey(schedule, benchKey())) state.SkipWithError("key refused");
    SecureBuffer buffer = patternBuffer(CHUNK_BYTES);
    const size_t blockCount = CHUNK_BYTES / 16;
    for (auto _ : state) {
        bool ok = false;
        switch (run) {
        case AesRun::EACH_BLOCK: ok = aesEncryptBlocks(schedule, buffer.data(), blockCount, engine); break;
        case AesRun::CBC_ENCRYPT: ok = aesCbcEncrypt(schedule, BENCH_IV, buffer.data(), blockCount, engine); break;
        case AesRun::CBC_DECRYPT:
            ok = aesCbcDecrypt(schedule, BENCH_IV, buffer.data(), buffer.data(), blockCount, engine);
            break;
        }
        if (!ok) state.SkipWithError("AES failed");
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * CHUNK_BYTES);
}

void BM_AesEachBlock(benchmark::State& state) { aesRun(state, AesRun::EACH_BLOCK); }
void BM_AesCbcEncrypt(benchmark::State& state) { aesRun(state, AesRun::CBC_ENCRYPT); }
void BM_AesCbcDecrypt(benchmark::State& state) { aesRun(state, AesRun::CBC_DECRYPT); }

void serpentBlocks(benchmark::State& state, bool encrypt) {
    SerpentKeySchedule schedule;
    if (!serpentSetKey(schedule, benchKey())) state.SkipWithError("key refused");
    uint8_t block[16] = {};
    for (auto _ : state) {
        const bool ok = encrypt ? serpentEncryptBlock(schedule, block) : serpentDecryptBlock(schedule, block);
        benchmark::DoNotOptimize(ok);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * 16);
}

void BM_AesEncryptBlock(benchmark::State& state) { aesBlocks(state, true); }
void BM_AesDecryptBlock(benchmark::State& state) { aesBlocks(state, false); }
void BM_SerpentEncryptBlock(benchmark::State& state) { serpentBlocks(state, true); }
void BM_SerpentDecryptBlock(benchmark::State& state) { serpentBlocks(state, false); }

// Padded CBC over one 2 MiB chunk, including the working copy the operation makes; restoring the
// input between runs is not timed.
void BM_CbcEncryptChunk(benchmark::State& state) {
    const auto algorithm = static_cast<CipherAlgorithm>(state.range(0));
    state.SetLabel(algorithmName(state.range(0)));
    CipherContext ctx;
    cipherInit(ctx, algorithm, benchKey());
    const SecureBuffer plaintext = patternBuffer(CHUNK_BYTES);
    SecureBuffer buffer;
    for (auto _ : state) {
        state.PauseTiming();
        buffer.assign(plaintext);
        cipherSetChainingBlock(ctx, BENCH_IV);
        state.ResumeTiming();
        if (!cipherEncryptPadded(ctx, buffer)) state.SkipWithError("encryption failed");
        benchmark::DoNotOptimize(buffer.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * CHUNK_BYTES);
}

void BM_CbcDecryptChunk(benchmark::State& state) {
    const auto algorithm = static_cast<CipherAlgorithm>(state.range(0));
    state.SetLabel(algorithmName(state.range(0)));
    CipherContext ctx;
    cipherInit(ctx, algorithm, benchKey());
    SecureBuffer ciphertext = patternBuffer(CHUNK_BYTES);
    cipherSetChainingBlock(ctx, BENCH_IV);
    if (!cipherEncryptPadded(ctx, ciphertext)) state.SkipWithError("encryption failed");
    SecureBuffer buffer;
    for (auto _ : state) {
        state.PauseTiming();
        buffer.assign(ciphertext);
        cipherSetChainingBlock(ctx, BENCH_IV);
        state.ResumeTiming();
        if (!cipherDecryptPadded(ctx, buffer)) state.SkipWithError("decryption failed");
        benchmark::DoNotOptimize(buffer.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * CHUNK_BYTES);
}

// Key stream: 64 bytes is what key splitting draws; the longer run shows the per-block rate.
void BM_Keystream(benchmark::State& state) {
    const auto algorithm = static_cast<CipherAlgorithm>(state.range(0));
    const auto length = static_cast<uint32_t>(state.range(1));
    state.SetLabel(algorithmName(state.range(0)));
    CipherContext ctx;
    cipherInit(ctx, algorithm, benchKey());
    SecureBuffer out;
    for (auto _ : state) {
        if (!cipherKeystream(ctx, out, length)) state.SkipWithError("key stream failed");
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * length);
}

void BM_EncryptPool(benchmark::State& state) {
    const auto algorithm = static_cast<CipherAlgorithm>(state.range(0));
    state.SetLabel(algorithmName(state.range(0)));
    CipherContext ctx;
    cipherInit(ctx, algorithm, benchKey());
    std::vector<uint8_t> pool(CIPHER_POOL_BYTES, 0x33);
    for (auto _ : state) {
        if (!cipherEncryptPool(ctx, pool.data())) state.SkipWithError("pool encryption failed");
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * CIPHER_POOL_BYTES);
}

}  // namespace

BENCHMARK(BM_AesEncryptBlock)->Arg(AES_ENGINE_PORTABLE)->Arg(AES_ENGINE_NI);
BENCHMARK(BM_AesDecryptBlock)->Arg(AES_ENGINE_PORTABLE)->Arg(AES_ENGINE_NI);
BENCHMARK(BM_AesEachBlock)->Arg(AES_ENGINE_PORTABLE)->Arg(AES_ENGINE_NI)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_AesCbcEncrypt)->Arg(AES_ENGINE_PORTABLE)->Arg(AES_ENGINE_NI)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_AesCbcDecrypt)->Arg(AES_ENGINE_PORTABLE)->Arg(AES_ENGINE_NI)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_SerpentEncryptBlock);
BENCHMARK(BM_SerpentDecryptBlock);
BENCHMARK(BM_CbcEncryptChunk)->Arg(CIPHER_AES256)->Arg(CIPHER_SERPENT)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CbcDecryptChunk)->Arg(CIPHER_AES256)->Arg(CIPHER_SERPENT)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Keystream)
    ->Args({CIPHER_AES256, 64})
    ->Args({CIPHER_SERPENT, 64})
    ->Args({CIPHER_AES256, 65536})
    ->Args({CIPHER_SERPENT, 65536});
BENCHMARK(BM_EncryptPool)->Arg(CIPHER_AES256)->Arg(CIPHER_SERPENT);
