// Throughput of Serpent on many blocks, path by path (portable loop, SSE2, AVX2): independent
// blocks, CBC decryption of a buffer, and CBC encryption of several chains at once. The first
// argument is the path (0 portable, 1 SSE2, 2 AVX2); rates are in MB/s (10^6 bytes).

#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include "crypto/serpent_simd.h"

namespace {

constexpr size_t CHUNK_BYTES = 2 * 1024 * 1024;

const char* pathName(int64_t argument) {
    switch (argument) {
    case SERPENT_ENGINE_SSE2: return "SSE2";
    case SERPENT_ENGINE_AVX2: return "AVX2";
    default: return "portable";
    }
}

// Keys the schedule and labels the run; false (with the run marked skipped) when the path is
// missing here.
bool setUp(benchmark::State& state, SerpentKeySchedule& schedule) {
    const auto path = static_cast<SerpentEngine>(state.range(0));
    state.SetLabel(pathName(state.range(0)));
    if (!serpentEngineAvailable(path)) {
        state.SkipWithError("path not available on this processor");
        return false;
    }
    SecureBuffer key;
    key.allocate(32);
    for (uint32_t i = 0; i < key.size(); ++i) key.data()[i] = static_cast<uint8_t>(i * 7 + 1);
    if (!serpentSetKey(schedule, key)) {
        state.SkipWithError("key refused");
        return false;
    }
    return true;
}

std::vector<uint8_t> patternBytes(size_t length) {
    std::vector<uint8_t> bytes(length);
    for (size_t i = 0; i < length; ++i) bytes[i] = static_cast<uint8_t>(i * 131 + 17);
    return bytes;
}

void reportRate(benchmark::State& state, size_t bytesPerIteration) {
    const double bytes = static_cast<double>(state.iterations()) * static_cast<double>(bytesPerIteration);
    state.SetBytesProcessed(static_cast<int64_t>(bytes));
    state.counters["MB/s"] = benchmark::Counter(bytes / 1e6, benchmark::Counter::kIsRate);
}

// Independent blocks, in place; the second argument is the buffer's size in bytes.
void BM_SerpentEncryptBlocks(benchmark::State& state) {
    SerpentKeySchedule schedule;
    if (!setUp(state, schedule)) return;
    const auto path = static_cast<SerpentEngine>(state.range(0));
    std::vector<uint8_t> data = patternBytes(static_cast<size_t>(state.range(1)));
    for (auto _ : state) {
        if (!serpentEncryptBlocksOn(path, schedule, data.data(), data.size() / 16)) state.SkipWithError("failed");
        benchmark::ClobberMemory();
    }
    reportRate(state, data.size());
}

void BM_SerpentDecryptBlocks(benchmark::State& state) {
    SerpentKeySchedule schedule;
    if (!setUp(state, schedule)) return;
    const auto path = static_cast<SerpentEngine>(state.range(0));
    std::vector<uint8_t> data = patternBytes(static_cast<size_t>(state.range(1)));
    for (auto _ : state) {
        if (!serpentDecryptBlocksOn(path, schedule, data.data(), data.size() / 16)) state.SkipWithError("failed");
        benchmark::ClobberMemory();
    }
    reportRate(state, data.size());
}

// CBC decryption of one 2 MiB chunk in place (what decrypting a chunk does); every run decrypts
// the previous run's output, which costs the same.
void BM_SerpentCbcDecryptChunk(benchmark::State& state) {
    SerpentKeySchedule schedule;
    if (!setUp(state, schedule)) return;
    const auto path = static_cast<SerpentEngine>(state.range(0));
    std::vector<uint8_t> data = patternBytes(CHUNK_BYTES);
    uint8_t iv[16] = {};
    for (auto _ : state) {
        if (!serpentCbcDecryptOn(path, schedule, iv, data.data(), data.data(), data.size())) {
            state.SkipWithError("failed");
        }
        benchmark::ClobberMemory();
    }
    reportRate(state, data.size());
}

// CBC encryption of several chains of one 2 MiB chunk each (plus a padding block, as a chunk
// gets); the second argument is the number of chains.
void BM_SerpentCbcEncryptLanes(benchmark::State& state) {
    SerpentKeySchedule schedule;
    if (!setUp(state, schedule)) return;
    const auto path = static_cast<SerpentEngine>(state.range(0));
    const auto laneCount = static_cast<size_t>(state.range(1));
    const size_t laneBytes = CHUNK_BYTES + 16;
    std::vector<std::vector<uint8_t>> data(laneCount, patternBytes(laneBytes));
    std::vector<CbcLane> lanes(laneCount);
    for (auto _ : state) {
        for (size_t i = 0; i < laneCount; ++i) lanes[i] = CbcLane{{}, data[i].data(), laneBytes / SERPENT_BLOCK_BYTES};
        if (!serpentCbcEncryptLanesOn(path, schedule, lanes.data(), lanes.size())) state.SkipWithError("failed");
        benchmark::ClobberMemory();
    }
    reportRate(state, laneBytes * laneCount);
}

// Every path, with each of the given second arguments (or none).
void allPaths(benchmark::internal::Benchmark* b, const std::vector<int64_t>& seconds) {
    for (int64_t path : {SERPENT_ENGINE_PORTABLE, SERPENT_ENGINE_SSE2, SERPENT_ENGINE_AVX2}) {
        if (seconds.empty()) {
            b->Arg(path);
        } else {
            for (int64_t second : seconds) b->Args({path, second});
        }
    }
}

void pathsAndSizes(benchmark::internal::Benchmark* b) { allPaths(b, {4096, CHUNK_BYTES}); }
void pathsOnly(benchmark::internal::Benchmark* b) { allPaths(b, {}); }
void pathsAndLaneCounts(benchmark::internal::Benchmark* b) { allPaths(b, {1, 4, 8, 16}); }

}  // namespace

BENCHMARK(BM_SerpentEncryptBlocks)->Apply(pathsAndSizes);
BENCHMARK(BM_SerpentDecryptBlocks)->Apply(pathsAndSizes);
BENCHMARK(BM_SerpentCbcDecryptChunk)->Apply(pathsOnly)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SerpentCbcEncryptLanes)->Apply(pathsAndLaneCounts)->Unit(benchmark::kMillisecond);
