// Loading and storing integers at a given byte order. All byte-order decisions in the system go
// through these helpers; none casts pointers.
#pragma once

#include <cstdint>

inline uint16_t load16Le(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

inline uint32_t load32Le(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
           (static_cast<uint32_t>(p[3]) << 24);
}

inline uint32_t load32Be(const uint8_t* p) {
    return (static_cast<uint32_t>(p[0]) << 24) | (static_cast<uint32_t>(p[1]) << 16) |
           (static_cast<uint32_t>(p[2]) << 8) | static_cast<uint32_t>(p[3]);
}

inline void store16Le(uint8_t* p, uint16_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}

inline void store32Le(uint8_t* p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
    p[2] = static_cast<uint8_t>(v >> 16);
    p[3] = static_cast<uint8_t>(v >> 24);
}

inline void store32Be(uint8_t* p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v >> 24);
    p[1] = static_cast<uint8_t>(v >> 16);
    p[2] = static_cast<uint8_t>(v >> 8);
    p[3] = static_cast<uint8_t>(v);
}

inline void store64Be(uint8_t* p, uint64_t v) {
    store32Be(p, static_cast<uint32_t>(v >> 32));
    store32Be(p + 4, static_cast<uint32_t>(v));
}

inline uint32_t rotl32(uint32_t v, unsigned n) { return (v << n) | (v >> ((32 - n) & 31)); }
inline uint32_t rotr32(uint32_t v, unsigned n) { return (v >> n) | (v << ((32 - n) & 31)); }
