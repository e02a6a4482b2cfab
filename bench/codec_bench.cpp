// Throughput of compressBlock (mode 2) and decompressBlock on one 2 MiB chunk of English-like
// text, C-like source code, random bytes, a short periodic pattern, machine code (this program's
// own file) and a 44-byte line repeated. The "ratio" counter is compressed / original size.

#include <benchmark/benchmark.h>

#include <cstdint>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "codec/framing.h"

namespace {

constexpr uint32_t BENCH_CHUNK_BYTES = CODEC_CHUNK_MAX_BYTES;

SecureBuffer benchFromString(std::string& text) {
    text.resize(BENCH_CHUNK_BYTES, ' ');
    SecureBuffer buffer(reinterpret_cast<const uint8_t*>(text.data()), BENCH_CHUNK_BYTES);
    return buffer;
}

// Words drawn with a skewed (roughly Zipf) distribution, sentences, commas and paragraphs.
SecureBuffer benchEnglishText() {
    static const char* words[] = {
        "the",      "of",        "and",        "to",        "in",         "a",         "is",          "that",
        "for",      "it",        "as",         "was",       "with",       "be",        "by",          "on",
        "not",      "he",        "this",       "are",       "or",         "his",       "from",        "at",
        "which",    "but",       "have",       "an",        "had",        "they",      "you",         "were",
        "their",    "one",       "all",        "we",        "can",        "her",       "has",         "there",
        "been",     "if",        "more",       "when",      "will",       "would",     "who",         "so",
        "no",       "time",      "people",     "could",     "first",      "water",     "after",       "where",
        "through",  "before",    "between",    "country",   "government", "important", "development", "because",
        "without",  "another",   "however",    "something", "following",  "different", "children",    "everything",
        "question", "encrypted", "passphrase", "container", "winter",     "morning",   "village",     "library"};
    constexpr uint32_t wordCount = sizeof(words) / sizeof(words[0]);
    std::mt19937 generator(1);
    std::string text;
    bool capital = true;
    while (text.size() < BENCH_CHUNK_BYTES) {
        // The product of two uniform draws favours the frequent words at the front.
        const uint32_t pick = (generator() % wordCount) * (generator() % wordCount) / wordCount;
        std::string word = words[pick];
        if (capital) word[0] = static_cast<char>(word[0] - 'a' + 'A');
        text += word;
        capital = false;
        const uint32_t r = generator() % 100;
        if (r < 1) {
            text += ".\n\n";
            capital = true;
        } else if (r < 7) {
            text += ". ";
            capital = true;
        } else if (r < 13) {
            text += ", ";
        } else {
            text += ' ';
        }
    }
    return benchFromString(text);
}

// Functions with declarations, loops, conditions and comments, indented by four spaces, with
// identifiers made of two parts from small vocabularies.
SecureBuffer benchSourceCode() {
    static const char* heads[] = {"buffer", "length", "index",  "count",  "value",    "result", "offset",
                                  "block",  "state",  "key",    "table",  "position", "chunk",  "header",
                                  "cipher", "digest", "window", "record", "stream",   "token"};
    static const char* tails[] = {"",      "Size", "Count", "Index", "Bytes", "End", "Start", "Mask",
                                  "Limit", "Next", "Left",  "Right", "Base",  "Tag", "Step"};
    static const char* types[] = {"uint32_t", "uint8_t", "size_t", "bool", "int", "uint64_t"};
    static const char* operators[] = {"+", "-", "^", "&", "|", "<<", ">>", "*"};
    std::mt19937 generator(2);
    auto name = [&] { return std::string(heads[generator() % 20]) + tails[generator() % 15]; };
    auto type = [&] { return std::string(types[generator() % 6]); };
    auto number = [&] { return std::to_string(generator() % (generator() % 2 ? 16 : 65536)); };
    std::string text;
    uint32_t function = 0;
    while (text.size() < BENCH_CHUNK_BYTES) {
        text += "// Returns the " + name() + " of the " + name() + " after " + number() + " steps.\n";
        text += type() + " " + name() + std::to_string(function++) + "(const " + type() + "* " + name() + ", " +
                type() + " " + name() + ") {\n";
        const uint32_t statements = 2 + generator() % 10;
        for (uint32_t s = 0; s < statements; ++s) {
            const std::string indent(4 * (1 + generator() % 2), ' ');
            switch (generator() % 5) {
            case 0:
                text += indent + type() + " " + name() + " = " + name() + " " + operators[generator() % 8] + " " +
                        number() + ";\n";
                break;
            case 1:
                text += indent + "for (" + type() + " i = 0; i < " + name() + "; ++i) {\n" + indent + "    " + name() +
                        "[i] " + operators[generator() % 8] + "= " + name() + "[i + " + number() + "];\n" + indent +
                        "}\n";
                break;
            case 2: text += indent + "if (" + name() + " == " + number() + ") return " + name() + ";\n"; break;
            case 3: text += indent + "// " + name() + " is at most " + number() + " here.\n"; break;
            default: text += indent + name() + " = " + name() + "(" + name() + ", " + number() + ");\n"; break;
            }
        }
        text += "    return " + name() + ";\n}\n\n";
    }
    return benchFromString(text);
}

SecureBuffer benchRandomBytes() {
    std::mt19937 generator(3);
    SecureBuffer buffer = SecureBuffer::zeros(BENCH_CHUNK_BYTES);
    for (uint32_t i = 0; i < buffer.size(); ++i) buffer.data()[i] = static_cast<uint8_t>(generator() >> 24);
    return buffer;
}

SecureBuffer benchPeriodic() {
    std::string text;
    while (text.size() < BENCH_CHUNK_BYTES) text += "row 17; col 4|";
    return benchFromString(text);
}

// The benchmark's own executable, repeated to fill the chunk: real machine code and data.
SecureBuffer benchMachineCode() {
    std::ifstream in("/proc/self/exe", std::ios::binary);
    const std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::string text;
    while (!bytes.empty() && text.size() < BENCH_CHUNK_BYTES) text.append(bytes.begin(), bytes.end());
    if (text.empty()) text = "no executable to read";
    while (text.size() < BENCH_CHUNK_BYTES) text += text;
    return benchFromString(text);
}

SecureBuffer benchRepeatedLine() {
    std::string text;
    while (text.size() < BENCH_CHUNK_BYTES) text += "Ferrolyn krypterar en fil i taget, i block.\n";
    return benchFromString(text);
}

SecureBuffer benchInput(int64_t kind) {
    switch (kind) {
    case 0: return benchEnglishText();
    case 1: return benchSourceCode();
    case 2: return benchRandomBytes();
    case 3: return benchPeriodic();
    case 4: return benchMachineCode();
    default: return benchRepeatedLine();
    }
}

const char* benchKindName(int64_t kind) {
    static const char* names[] = {"text", "source", "random", "periodic", "machine code", "repeated line"};
    return names[kind];
}

void benchCompress(benchmark::State& state) {
    const SecureBuffer input = benchInput(state.range(0));
    SecureBuffer buffer;
    for (auto _ : state) {
        state.PauseTiming();
        buffer.assign(input);
        state.ResumeTiming();
        if (!compressBlock(buffer, METHOD_BLOCKSORT)) state.SkipWithError("compressBlock failed");
        benchmark::DoNotOptimize(buffer.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * BENCH_CHUNK_BYTES);
    state.SetLabel(benchKindName(state.range(0)));
    state.counters["ratio"] = static_cast<double>(buffer.size()) / BENCH_CHUNK_BYTES;
    state.counters["method"] = buffer.data()[0];
}

void benchDecompress(benchmark::State& state) {
    SecureBuffer compressed = benchInput(state.range(0));
    if (!compressBlock(compressed, METHOD_BLOCKSORT)) state.SkipWithError("compressBlock failed");
    SecureBuffer buffer;
    for (auto _ : state) {
        state.PauseTiming();
        buffer.assign(compressed);
        state.ResumeTiming();
        if (!decompressBlock(buffer)) state.SkipWithError("decompressBlock failed");
        benchmark::DoNotOptimize(buffer.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * BENCH_CHUNK_BYTES);
    state.SetLabel(benchKindName(state.range(0)));
}

}  // namespace

BENCHMARK(benchCompress)->DenseRange(0, 5)->Unit(benchmark::kMillisecond);
BENCHMARK(benchDecompress)->DenseRange(0, 5)->Unit(benchmark::kMillisecond);
