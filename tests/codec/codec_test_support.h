// Helpers shared by the codec tests: hex, fixture files, deterministic test data and a recording
// allocator for SecureBuffer.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "base/secure_buffer.h"
#include "support/hex.h"

namespace codectest {

inline SecureBuffer hexBuffer(const std::string& hex) { return testsupport::bufferFromHex(hex); }

// Upper-case hex with a space between bytes; long buffers are cut with a note of their size.
inline std::string hexOf(const SecureBuffer& b, uint32_t limit = 64) {
    static const char* digits = "0123456789ABCDEF";
    std::string out;
    for (uint32_t i = 0; i < b.size() && i < limit; ++i) {
        if (i != 0) out += ' ';
        out += digits[b.data()[i] >> 4];
        out += digits[b.data()[i] & 15];
    }
    if (b.size() > limit) out += " ... (" + std::to_string(b.size()) + " bytes)";
    return out;
}

inline SecureBuffer textBuffer(const std::string& s) {
    return SecureBuffer(reinterpret_cast<const uint8_t*>(s.data()), static_cast<uint32_t>(s.size()));
}

inline SecureBuffer repeated(uint8_t value, uint32_t count) {
    SecureBuffer b = SecureBuffer::zeros(count);
    for (uint32_t i = 0; i < count; ++i) b.data()[i] = value;
    return b;
}

// The pattern repeated and cut to count bytes.
inline SecureBuffer cyclic(const std::string& pattern, uint32_t count) {
    SecureBuffer b = SecureBuffer::zeros(count);
    for (uint32_t i = 0; i < count; ++i) b.data()[i] = static_cast<uint8_t>(pattern[i % pattern.size()]);
    return b;
}

// Bytes from a fixed-seed mt19937, whose sequence the standard fixes on every platform.
inline SecureBuffer randomBytes(uint32_t count, uint32_t seed) {
    std::mt19937 generator(seed);
    SecureBuffer b = SecureBuffer::zeros(count);
    for (uint32_t i = 0; i < count; ++i) b.data()[i] = static_cast<uint8_t>(generator() >> 24);
    return b;
}

// English-like text: words from a small vocabulary, single spaces, sentences and line breaks.
// It never holds the byte FF nor a run of four equal bytes, so its run-length coding is exactly
// one byte longer than the text.
inline SecureBuffer englishLikeText(uint32_t count, uint32_t seed) {
    static const char* words[] = {
        "the",    "of",     "and",     "to",      "in",        "a",          "is",        "that",
        "for",    "it",     "as",      "was",     "with",      "be",         "by",        "on",
        "not",    "he",     "this",    "are",     "or",        "his",        "from",      "at",
        "which",  "but",    "have",    "an",      "had",       "they",       "you",       "were",
        "their",  "one",    "all",     "we",      "can",       "her",        "has",       "there",
        "been",   "if",     "more",    "when",    "will",      "would",      "who",       "so",
        "no",     "chunk",  "block",   "cipher",  "file",      "container",  "window",    "passphrase",
        "number", "system", "between", "through", "important", "government", "following", "different"};
    constexpr uint32_t wordCount = sizeof(words) / sizeof(words[0]);
    std::mt19937 generator(seed);
    std::string text;
    text.reserve(count + 32);
    bool sentenceStart = true;
    while (text.size() < count) {
        std::string word = words[generator() % wordCount];
        if (sentenceStart) word[0] = static_cast<char>(word[0] - 'a' + 'A');
        text += word;
        sentenceStart = false;
        const uint32_t r = generator() % 100;
        if (r < 6) {
            text += ".\n";
            sentenceStart = true;
        } else if (r < 12) {
            text += ", ";
        } else if (r < 15) {
            text += ". ";
            sentenceStart = true;
        } else {
            text += ' ';
        }
    }
    text.resize(count);
    return textBuffer(text);
}

inline SecureBuffer readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    return SecureBuffer(reinterpret_cast<const uint8_t*>(bytes.data()), static_cast<uint32_t>(bytes.size()));
}

inline std::string codecDataPath(const std::string& name) { return std::string(FERROLYN_TEST_DATA) + "/codec/" + name; }

// Counts what SecureBuffer asks of the heap while it is installed: the largest single request
// and the most bytes held at once. It passes every request on to malloc and free, so buffers made
// before or after it was installed are released correctly either way.
struct AllocationRecord {
    size_t largestRequest = 0;
    size_t liveBytes = 0;
    size_t peakLiveBytes = 0;
};

inline AllocationRecord& allocationRecord() {
    static AllocationRecord record;
    return record;
}

class RecordingAllocator {
public:
    RecordingAllocator() {
        allocationRecord() = AllocationRecord{};
        previous_ = setSecureBufferAllocator({&obtain, &release});
    }
    ~RecordingAllocator() { setSecureBufferAllocator(previous_); }
    RecordingAllocator(const RecordingAllocator&) = delete;
    RecordingAllocator& operator=(const RecordingAllocator&) = delete;

    const AllocationRecord& record() const { return allocationRecord(); }
    void resetPeak() {
        allocationRecord().peakLiveBytes = allocationRecord().liveBytes;
        allocationRecord().largestRequest = 0;
    }

private:
    static void* obtain(size_t bytes) {
        AllocationRecord& r = allocationRecord();
        if (bytes > r.largestRequest) r.largestRequest = bytes;
        void* memory = std::malloc(bytes);
        if (memory != nullptr) {
            r.liveBytes += bytes;
            if (r.liveBytes > r.peakLiveBytes) r.peakLiveBytes = r.liveBytes;
        }
        return memory;
    }
    static void release(void* memory, size_t bytes) {
        AllocationRecord& r = allocationRecord();
        r.liveBytes = bytes > r.liveBytes ? 0 : r.liveBytes - bytes;
        std::free(memory);
    }

    SecureBufferAllocator previous_;
};

// Lets the first `grant` requests through to malloc and refuses every later one, as a heap that
// runs dry part-way through an operation.
class RefusingAfter {
public:
    explicit RefusingAfter(uint32_t grant) {
        remaining() = grant;
        previous_ = setSecureBufferAllocator({&obtain, &release});
    }
    ~RefusingAfter() { setSecureBufferAllocator(previous_); }
    RefusingAfter(const RefusingAfter&) = delete;
    RefusingAfter& operator=(const RefusingAfter&) = delete;

private:
    static uint32_t& remaining() {
        static uint32_t count = 0;
        return count;
    }
    static void* obtain(size_t bytes) {
        if (remaining() == 0) return nullptr;
        --remaining();
        return std::malloc(bytes);
    }
    static void release(void* memory, size_t) { std::free(memory); }

    SecureBufferAllocator previous_;
};

}  // namespace codectest
