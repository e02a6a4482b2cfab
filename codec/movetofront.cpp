// Move-to-front stage. The list is a 256-byte array searched with memchr; after block sorting
// the values sought are mostly at or near the front, so positions 0 and 1 and short moves are
// handled inline.

#include "codec/movetofront.h"

#include <cstring>

#include "base/scope_exit.h"

namespace {

void moveToFrontInitList(uint8_t (&list)[256]) {
    for (uint32_t i = 0; i < 256; ++i) list[i] = static_cast<uint8_t>(i);
}

// Below this position an entry is moved to the front by an inline loop rather than memmove.
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

}  // namespace

void moveToFrontEncode(SecureBuffer& buffer) {
    uint8_t list[256];
    ScopeExit wipeList([&] { secureWipe(list, sizeof list); });
    moveToFrontInitList(list);
    uint8_t* bytes = buffer.data();
    const uint32_t size = buffer.size();
    for (uint32_t i = 0; i < size; ++i) {
        const uint8_t value = bytes[i];
        if (list[0] == value) {
            bytes[i] = 0;
            continue;
        }
        if (list[1] == value) {
            list[1] = list[0];
            list[0] = value;
            bytes[i] = 1;
            continue;
        }
        // The list is a permutation of all 256 values, so memchr always finds it.
        const auto* found = static_cast<const uint8_t*>(std::memchr(list + 2, value, sizeof list - 2));
        const uint32_t position = static_cast<uint32_t>(found - list);
        moveToFrontPromote(list, position);
        bytes[i] = static_cast<uint8_t>(position);
    }
}

void moveToFrontDecode(SecureBuffer& buffer) {
    uint8_t list[256];
    ScopeExit wipeList([&] { secureWipe(list, sizeof list); });
    moveToFrontInitList(list);
    uint8_t* bytes = buffer.data();
    const uint32_t size = buffer.size();
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
