// Whole-file encryption and decryption through the pipelines, in MB/s of plaintext, with the
// process's peak resident memory (ru_maxrss) as a counter. Arguments: cipher (0 AES, 1 Serpent),
// compression (0, 1), workers (1: the one-thread pipeline; 0: one per processor). Rates are of
// wall time, since the work runs on other threads than the benchmark's.

#include <benchmark/benchmark.h>

#include <sys/resource.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "job/job_entry.h"
#include "random/generator.h"

namespace {

constexpr size_t FILE_BYTES = size_t(64) << 20;

std::filesystem::path benchDirectory() {
    static const std::filesystem::path dir = [] {
        auto path = std::filesystem::temp_directory_path() / "ferrolyn-pipeline-bench";
        std::filesystem::create_directories(path);
        return path;
    }();
    return dir;
}

// A 64 MiB source: text-like lines, so that compression has something to do.
std::filesystem::path sourceFile() {
    const auto path = benchDirectory() / "source.bin";
    if (!std::filesystem::exists(path) || std::filesystem::file_size(path) != FILE_BYTES) {
        std::mt19937 rng(1);
        static const char* words[] = {"ferrolyn ", "krypterar ", "filer ",    "i ",   "block ",
                                      "om ",       "två ",       "megabyte ", "med ", "nyckel\n"};
        std::string text;
        text.reserve(FILE_BYTES);
        while (text.size() < FILE_BYTES) text += words[rng() % 10];
        text.resize(FILE_BYTES);
        std::ofstream(path, std::ios::binary).write(text.data(), static_cast<std::streamsize>(text.size()));
    }
    return path;
}

NativePath nativeOf(const std::filesystem::path& path) { return nativePathFromUtf8(path.string().c_str()); }

double peakMegabytes() {
    struct rusage usage;
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_maxrss) / 1024.0;
}

PipelineOptions optionsFor(const benchmark::State& state) {
    globalRandomGenerator.entropy = ENTROPY_THRESHOLD;
    PipelineOptions options;
    options.generator = &globalRandomGenerator;
    options.cipher = static_cast<CipherAlgorithm>(state.range(0));
    options.compress = state.range(1) != 0;
    options.workers = static_cast<uint32_t>(state.range(2));
    return options;
}

SecureBuffer benchKey() {
    SecureBuffer key = SecureBuffer::zeros(32);
    for (uint32_t i = 0; i < 32; ++i) key.data()[i] = static_cast<uint8_t>(i + 1);
    return key;
}

void BM_EncryptFile(benchmark::State& state) {
    const NativePath source = nativeOf(sourceFile());
    const NativePath target = nativeOf(benchDirectory() / "container.enc");
    const PipelineOptions options = optionsFor(state);
    for (auto _ : state) {
        JobResult result;
        if (!encryptWithKeyFile(options, benchKey(), source, target, result)) state.SkipWithError("encryption failed");
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * FILE_BYTES));
    state.counters["peak_MiB"] = peakMegabytes();
}
BENCHMARK(BM_EncryptFile)
    ->ArgsProduct({{0, 1}, {0, 1}, {1, 0}})
    ->Unit(benchmark::kMillisecond)
    ->Iterations(2)
    ->UseRealTime();

void BM_DecryptFile(benchmark::State& state) {
    const NativePath source = nativeOf(sourceFile());
    const NativePath container = nativeOf(benchDirectory() / "container.enc");
    const NativePath target = nativeOf(benchDirectory() / "plain.out");
    const PipelineOptions options = optionsFor(state);
    JobResult result;
    if (!encryptWithKeyFile(options, benchKey(), source, container, result)) state.SkipWithError("encryption failed");
    for (auto _ : state) {
        if (!decryptWithKeyFile(options, benchKey(), container, target, result))
            state.SkipWithError("decryption failed");
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * FILE_BYTES));
    state.counters["peak_MiB"] = peakMegabytes();
}
BENCHMARK(BM_DecryptFile)
    ->ArgsProduct({{0, 1}, {0, 1}, {1, 0}})
    ->Unit(benchmark::kMillisecond)
    ->Iterations(2)
    ->UseRealTime();

}  // namespace
