// Throughput of SHA-256 and HMAC-SHA256, and the time of one PBKDF2 derivation.

#include <benchmark/benchmark.h>

#include <cstdint>

#include "crypto/hmac.h"
#include "crypto/pbkdf2.h"
#include "crypto/sha256.h"

namespace {

SecureBuffer patternBytes(uint32_t length) {
    SecureBuffer b = SecureBuffer::zeros(length);
    for (uint32_t i = 0; i < length; ++i) b.data()[i] = static_cast<uint8_t>(i * 131 + (i >> 11));
    return b;
}

void BM_Sha256(benchmark::State& state) {
    SecureBuffer message = patternBytes(static_cast<uint32_t>(state.range(0)));
    for (auto _ : state) {
        Sha256Context ctx;
        sha256Init(ctx);
        sha256Update(ctx, message);
        benchmark::DoNotOptimize(sha256Final(ctx));
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}
BENCHMARK(BM_Sha256)->Arg(4096)->Arg(2 << 20);

void BM_HmacSha256(benchmark::State& state) {
    SecureBuffer message = patternBytes(static_cast<uint32_t>(state.range(0)));
    HmacSha256 ctx;
    hmacInit(ctx, patternBytes(32));
    for (auto _ : state) benchmark::DoNotOptimize(hmacCompute(ctx, message));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
    hmacRelease(ctx);
}
BENCHMARK(BM_HmacSha256)->Arg(2 << 20);

void BM_Pbkdf2Derivation(benchmark::State& state) {
    SecureBuffer password = patternBytes(32);
    SecureBuffer salt = patternBytes(8);
    SecureBuffer out;
    for (auto _ : state) {
        if (!pbkdf2Sha256(password, salt, out)) state.SkipWithError("derivation refused its inputs");
    }
}
BENCHMARK(BM_Pbkdf2Derivation)->Unit(benchmark::kMillisecond);

}  // namespace
