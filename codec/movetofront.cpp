// Move-to-front stage. The decoder, and the encoder where SSE2 is not always there (32-bit x86),
// keep the list as a 256-byte array. After block sorting the values sought are mostly at or near
// the front: position 0, a search of the first 16 entries eight at a time and short moves are
// handled inline, the rest with memchr and memmove. Where SSE2 is always there (x86-64), the
// encoder instead keeps the position of every value and moves one to the front with sixteen
// 16-byte steps whatever its position. Both encoders give the same bytes.

#include "codec/movetofront.h"

#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "base/byte_order.h"
#include "base/scope_exit.h"

namespace {

void moveToFrontInitList(uint8_t (&list)[256]) {
    for (uint32_t i = 0; i < 256; ++i) list[i] = static_cast<uint8_t>(i);
}

// Below this position an entry is found (eight entries at a time) and moved to the front inline
// rather than by memchr and memmove.
constexpr uint32_t MOVE_TO_FRONT_SHORT_MOVE = 16;

// Moves list[position] to position 0, shifting the entries before it one place down.
void moveToFrontPromote(uint8_t (&list)[256], uint32_t position) {
    const uint8_t value = list[position];
    if (position < MOVE_TO_FRONT_SHORT_MOVE) {
        for (uint32_t i = position; i > 0; --i) list[i] = list[i - 1];
    } else {
        std::memmove(list + 1, list, position);
    }
    list[0] = value;
}

#if defined(__SSE2__)

void moveToFrontEncodeBytes(uint8_t* bytes, uint32_t size) {
    alignas(16) uint8_t positions[256];  // positions[v]: where v is in the list
    ScopeExit wipePositions([&] { secureWipe(positions, sizeof positions); });
    for (uint32_t i = 0; i < 256; ++i) positions[i] = static_cast<uint8_t>(i);
    for (uint32_t i = 0; i < size; ++i) {
        const uint8_t value = bytes[i];
        const uint8_t position = positions[value];
        bytes[i] = position;
        if (position == 0) continue;
        // Every value before this one moves down a place: p < position (unsigned) is
        // min(p, position - 1) == p, and subtracting the all-ones compare result adds one.
        const __m128i last = _mm_set1_epi8(static_cast<char>(position - 1));
        for (uint32_t at = 0; at < 256; at += 16) {
            auto* lane = reinterpret_cast<__m128i*>(positions + at);
            const __m128i p = _mm_load_si128(lane);
            const __m128i before = _mm_cmpeq_epi8(_mm_min_epu8(p, last), p);
            _mm_store_si128(lane, _mm_sub_epi8(p, before));
        }
        positions[value] = 0;
    }
}

#else

constexpr uint64_t MOVE_TO_FRONT_ONES = 0x0101010101010101ull;
constexpr uint64_t MOVE_TO_FRONT_HIGHS = 0x8080808080808080ull;

// Entries e..e+7 as one word, entry e in the low byte.
uint64_t moveToFrontLoadWord(const uint8_t* entries) {
    return load32Le(entries) | (static_cast<uint64_t>(load32Le(entries + 4)) << 32);
}

// Position of value among the first MOVE_TO_FRONT_SHORT_MOVE entries, or that count when it is
// further on. The lowest byte flagged by the zero-byte test is exact (a borrow can only flag
// bytes above a true zero).
uint32_t moveToFrontFindNear(const uint8_t (&list)[256], uint8_t value) {
    const uint64_t pattern = MOVE_TO_FRONT_ONES * value;
    for (uint32_t at = 0; at < MOVE_TO_FRONT_SHORT_MOVE; at += 8) {
        const uint64_t x = moveToFrontLoadWord(list + at) ^ pattern;
        const uint64_t zero = (x - MOVE_TO_FRONT_ONES) & ~x & MOVE_TO_FRONT_HIGHS;
        if (zero != 0) return at + static_cast<uint32_t>(__builtin_ctzll(zero)) / 8;
    }
    return MOVE_TO_FRONT_SHORT_MOVE;
}

void moveToFrontEncodeBytes(uint8_t* bytes, uint32_t size) {
    uint8_t list[256];
    ScopeExit wipeList([&] { secureWipe(list, sizeof list); });
    moveToFrontInitList(list);
    for (uint32_t i = 0; i < size; ++i) {
        const uint8_t value = bytes[i];
        // Most values repeat the one before; then the list does not change.
        if (list[0] == value) {
            bytes[i] = 0;
            continue;
        }
        uint32_t position = moveToFrontFindNear(list, value);
        if (position == MOVE_TO_FRONT_SHORT_MOVE) {
            // The list is a permutation of all 256 values, so memchr always finds it.
            const auto* found = static_cast<const uint8_t*>(
                std::memchr(list + MOVE_TO_FRONT_SHORT_MOVE, value, sizeof list - MOVE_TO_FRONT_SHORT_MOVE));
            position = static_cast<uint32_t>(found - list);
        }
        moveToFrontPromote(list, position);
        bytes[i] = static_cast<uint8_t>(position);
    }
}

#endif

}  // namespace

void moveToFrontEncode(SecureBuffer& buffer) { moveToFrontEncodeBytes(buffer.data(), buffer.size()); }

void moveToFrontDecode(SecureBuffer& buffer) { moveToFrontDecodeBytes(buffer.data(), buffer.size()); }

void moveToFrontDecodeBytes(uint8_t* bytes, uint32_t size) {
    uint8_t list[256];
    ScopeExit wipeList([&] { secureWipe(list, sizeof list); });
    moveToFrontInitList(list);
    for (uint32_t i = 0; i < size; ++i) {
        const uint32_t position = bytes[i];
        if (position == 0) {
            bytes[i] = list[0];
            continue;
        }
        const uint8_t value = list[position];
        moveToFrontPromote(list, position);
        bytes[i] = value;
    }
}
