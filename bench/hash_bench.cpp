// Throughput of SHA-256 and HMAC-SHA256, and the time of one PBKDF2 derivation, on each SHA-256
// engine: argument 0 is SHA256_ENGINE_PORTABLE or SHA256_ENGINE_SHA_NI.

#include <benchmark/benchmark.h>

#include <cstdint>

#include "crypto/engines.h"
#include "crypto/hmac.h"
#include "crypto/pbkdf2.h"
#include "crypto/sha256.h"

namespace {

SecureBuffer patternBytes(uint32_t length) {
    SecureBuffer b = SecureBuffer::zeros(length);
    for (uint32_t i = 0; i < length; ++i) b.data()[i] = static_cast<uint8_t>(i * 131 + (i >> 11));
    return b;
}

// The engine of argument 0, or false with the benchmark skipped when this processor lacks it.
bool engineOf(benchmark::State& state, Sha256Engine& engine) {
    engine = static_cast<Sha256Engine>(state.range(0));
    state.SetLabel(engineName(engine));
    if (sha256EngineAvailable(engine)) return true;
    state.SkipWithError("engine not available on this processor");
    return false;
}

void BM_Sha256(benchmark::State& state) {
    Sha256Engine engine;
    if (!engineOf(state, engine)) return;
    SecureBuffer message = patternBytes(static_cast<uint32_t>(state.range(1)));
    for (auto _ : state) {
        Sha256Context ctx;
        sha256Init(ctx, engine);
        sha256Update(ctx, message);
        benchmark::DoNotOptimize(sha256Final(ctx));
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(1));
}
BENCHMARK(BM_Sha256)
    ->Args({SHA256_ENGINE_PORTABLE, 4096})
    ->Args({SHA256_ENGINE_SHA_NI, 4096})
    ->Args({SHA256_ENGINE_PORTABLE, 2 << 20})
    ->Args({SHA256_ENGINE_SHA_NI, 2 << 20});

// One 2 MiB chunk's tag; the 32-byte case is the cost of a key check.
void BM_HmacSha256(benchmark::State& state) {
    Sha256Engine engine;
    if (!engineOf(state, engine)) return;
    SecureBuffer message = patternBytes(static_cast<uint32_t>(state.range(1)));
    HmacSha256 ctx;
    hmacInit(ctx, patternBytes(32), engine);
    for (auto _ : state) benchmark::DoNotOptimize(hmacCompute(ctx, message));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(1));
    hmacRelease(ctx);
}
BENCHMARK(BM_HmacSha256)
    ->Args({SHA256_ENGINE_PORTABLE, 32})
    ->Args({SHA256_ENGINE_SHA_NI, 32})
    ->Args({SHA256_ENGINE_PORTABLE, 2 << 20})
    ->Args({SHA256_ENGINE_SHA_NI, 2 << 20});

void BM_Pbkdf2Derivation(benchmark::State& state) {
    Sha256Engine engine;
    if (!engineOf(state, engine)) return;
    SecureBuffer password = patternBytes(32);
    SecureBuffer salt = patternBytes(8);
    SecureBuffer out;
    for (auto _ : state) {
        if (!pbkdf2Sha256(password, salt, out, engine)) state.SkipWithError("derivation refused its inputs");
    }
}
BENCHMARK(BM_Pbkdf2Derivation)->Arg(SHA256_ENGINE_PORTABLE)->Arg(SHA256_ENGINE_SHA_NI)->Unit(benchmark::kMillisecond);

}  // namespace
