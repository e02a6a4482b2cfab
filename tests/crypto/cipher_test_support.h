// Helpers for the block cipher and cipher context tests: byte vectors and seeded random bytes,
// over the shared hex conversion and allocator audit of tests/support.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "base/secure_buffer.h"
#include "support/allocators.h"
#include "support/hex.h"

namespace cipher_test {

using Bytes = std::vector<uint8_t>;

using testsupport::fromHex;
using testsupport::toHex;

inline SecureBuffer bufferOf(const Bytes& bytes) {
    return SecureBuffer(bytes.data(), static_cast<uint32_t>(bytes.size()));
}

inline Bytes bytesOf(const SecureBuffer& buffer) { return Bytes(buffer.data(), buffer.data() + buffer.size()); }

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

using testsupport::AllocationAudit;

}  // namespace cipher_test
