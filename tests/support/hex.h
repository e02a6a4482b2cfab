// Hex conversions and buffer builders shared by the tests.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "base/secure_buffer.h"

namespace testsupport {

// The bytes that hex spells; spaces may group the digits. Any other character, or an odd number
// of digits, is a typo in a test table, not a test outcome: the test program stops.
inline std::vector<uint8_t> fromHex(std::string_view hex) {
    std::vector<uint8_t> bytes;
    int high = -1;
    for (char c : hex) {
        int v;
        if (c >= '0' && c <= '9')
            v = c - '0';
        else if (c >= 'a' && c <= 'f')
            v = c - 'a' + 10;
        else if (c >= 'A' && c <= 'F')
            v = c - 'A' + 10;
        else if (c == ' ' || c == '\n')
            continue;
        else
            std::abort();
        if (high < 0) {
            high = v;
        } else {
            bytes.push_back(static_cast<uint8_t>(high * 16 + v));
            high = -1;
        }
    }
    if (high >= 0) std::abort();
    return bytes;
}

inline std::string toHex(const uint8_t* data, size_t size) {
    static const char* digits = "0123456789abcdef";
    std::string out;
    for (size_t i = 0; i < size; ++i) {
        out += digits[data[i] >> 4];
        out += digits[data[i] & 15];
    }
    return out;
}

inline std::string toHex(const SecureBuffer& b) { return toHex(b.data(), b.size()); }
inline std::string toHex(const std::vector<uint8_t>& b) { return toHex(b.data(), b.size()); }

inline SecureBuffer bufferFromHex(std::string_view hex) {
    std::vector<uint8_t> bytes = fromHex(hex);
    return SecureBuffer(bytes.data(), static_cast<uint32_t>(bytes.size()));
}

inline SecureBuffer bufferOf(const std::string& s) {
    return SecureBuffer(reinterpret_cast<const uint8_t*>(s.data()), static_cast<uint32_t>(s.size()));
}

inline SecureBuffer bufferOf(const std::vector<uint8_t>& v) {
    return SecureBuffer(v.data(), static_cast<uint32_t>(v.size()));
}

inline std::vector<uint8_t> randomBytes(std::mt19937& rng, size_t count) {
    std::vector<uint8_t> out(count);
    for (auto& b : out) b = static_cast<uint8_t>(rng());
    return out;
}

}  // namespace testsupport
