// Helpers for the block cipher and cipher context tests: hex conversion, seeded random bytes and
// an allocator audit that sees every region SecureBuffer obtains and gives back.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "base/secure_buffer.h"

namespace cipher_test {

using Bytes = std::vector<uint8_t>;

inline Bytes fromHex(std::string_view hex) {
    auto nibble = [](char c) -> uint8_t {
        if (c >= '0' && c <= '9') return static_cast<uint8_t>(c - '0');
        if (c >= 'a' && c <= 'f') return static_cast<uint8_t>(c - 'a' + 10);
        if (c >= 'A' && c <= 'F') return static_cast<uint8_t>(c - 'A' + 10);
        std::abort();  // a typo in a test table, not a test outcome
    };
    if (hex.size() % 2 != 0) std::abort();
    Bytes bytes;
    for (size_t i = 0; i < hex.size(); i += 2)
        bytes.push_back(static_cast<uint8_t>(nibble(hex[i]) << 4 | nibble(hex[i + 1])));
    return bytes;
}

inline std::string toHex(const uint8_t* bytes, size_t count) {
    static const char digits[] = "0123456789abcdef";
    std::string text;
    for (size_t i = 0; i < count; ++i) {
        text += digits[bytes[i] >> 4];
        text += digits[bytes[i] & 15];
    }
    return text;
}

inline std::string toHex(const Bytes& bytes) { return toHex(bytes.data(), bytes.size()); }
inline std::string toHex(const SecureBuffer& bytes) { return toHex(bytes.data(), bytes.size()); }

inline SecureBuffer bufferOf(const Bytes& bytes) {
    return SecureBuffer(bytes.data(), static_cast<uint32_t>(bytes.size()));
}

inline Bytes bytesOf(const SecureBuffer& buffer) {
    return Bytes(buffer.data(), buffer.data() + buffer.size());
}

inline Bytes reversed(Bytes bytes) { return Bytes(bytes.rbegin(), bytes.rend()); }

// Deterministic on every platform: std::mt19937's output sequence is fixed by the standard.
class SeededBytes {
public:
    explicit SeededBytes(uint32_t seed) : engine_(seed) {}
    Bytes next(size_t count) {
        Bytes bytes(count);
        for (auto& byte : bytes) byte = static_cast<uint8_t>(engine_() >> 24);
        return bytes;
    }
    uint32_t below(uint32_t bound) { return static_cast<uint32_t>(engine_() % bound); }

private:
    std::mt19937 engine_;
};

// Routes SecureBuffer's memory through a counting allocator for its lifetime and records any
// region given back with a non-zero byte in it. SecureBuffer requires that allocators change
// only while no buffer lives: construct it before the test's first buffer and let it end after
// the last one.
class AllocationAudit {
public:
    AllocationAudit() {
        counters() = Counters{};
        previous_ = setSecureBufferAllocator({obtain, release});
    }
    ~AllocationAudit() { setSecureBufferAllocator(previous_); }
    AllocationAudit(const AllocationAudit&) = delete;
    AllocationAudit& operator=(const AllocationAudit&) = delete;

    static int64_t outstanding() { return counters().obtained - counters().released; }
    static int64_t releasedWithData() { return counters().releasedWithData; }
    static int64_t released() { return counters().released; }

private:
    struct Counters {
        int64_t obtained = 0;
        int64_t released = 0;
        int64_t releasedWithData = 0;
    };
    static Counters& counters() {
        static Counters state;
        return state;
    }
    static void* obtain(size_t bytes) {
        ++counters().obtained;
        return std::malloc(bytes);
    }
    static void release(void* memory, size_t bytes) {
        const auto* p = static_cast<const uint8_t*>(memory);
        for (size_t i = 0; i < bytes; ++i) {
            if (p[i] != 0) {
                ++counters().releasedWithData;
                break;
            }
        }
        ++counters().released;
        std::free(memory);
    }

    SecureBufferAllocator previous_{};
};

}  // namespace cipher_test
