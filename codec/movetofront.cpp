// Move-to-front stage. The list is a 256-byte array searched with memchr; after block sorting
// the values sought are mostly near the front.

#include "codec/movetofront.h"

#include <cstring>

#include "base/scope_exit.h"

namespace {

void moveToFrontInitList(uint8_t (&list)[256]) {
    for (uint32_t i = 0; i < 256; ++i) list[i] = static_cast<uint8_t>(i);
}

// Moves list[position] to position 0, shifting the entries before it one place down.
void moveToFrontPromote(uint8_t (&list)[256], uint32_t position) {
    const uint8_t value = list[position];
    std::memmove(list + 1, list, position);
    list[0] = value;
}

}  // namespace

void moveToFrontEncode(SecureBuffer& buffer) {
    uint8_t list[256];
    ScopeExit wipeList([&] { secureWipe(list, sizeof list); });
    moveToFrontInitList(list);
    uint8_t* bytes = buffer.data();
    for (uint32_t i = 0; i < buffer.size(); ++i) {
        const uint8_t value = bytes[i];
        // The list is a permutation of all 256 values, so memchr always finds it.
        const auto* found = static_cast<const uint8_t*>(std::memchr(list, value, sizeof list));
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
    for (uint32_t i = 0; i < buffer.size(); ++i) {
        const uint32_t position = bytes[i];
        bytes[i] = list[position];
        moveToFrontPromote(list, position);
    }
}
