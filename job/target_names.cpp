// Default target names.

#include "job/target_names.h"

#include <cstring>
#include <utility>

#include "job/texts.h"

namespace {

constexpr uint32_t EXTENSION_CHARS = sizeof TEXT_ENCRYPTED_EXTENSION - 1;

// The unit at index of path (a byte on POSIX, a UTF-16 unit on Windows).
uint32_t unitAt(const NativePath& path, uint32_t index) {
    const uint8_t* p = path.data() + static_cast<size_t>(index) * NATIVE_UNIT_BYTES;
    return NATIVE_UNIT_BYTES == 1 ? p[0] : static_cast<uint32_t>(p[0] | (p[1] << 8));
}

}  // namespace

bool hasEncryptedExtension(const NativePath& path) {
    const uint32_t count = nativePathLength(path);
    if (count < EXTENSION_CHARS) return false;
    for (uint32_t i = 0; i < EXTENSION_CHARS; ++i) {
        if (unitAt(path, count - EXTENSION_CHARS + i) != static_cast<unsigned char>(TEXT_ENCRYPTED_EXTENSION[i])) {
            return false;
        }
    }
    return true;
}

bool defaultTargetName(const NativePath& source, bool encrypt, NativePath& target) {
    const uint32_t count = nativePathLength(source);
    if (encrypt) {
        NativePath joined = SecureBuffer::zeros((count + EXTENSION_CHARS + 1) * NATIVE_UNIT_BYTES);
        if (count != 0) std::memcpy(joined.data(), source.data(), static_cast<size_t>(count) * NATIVE_UNIT_BYTES);
        for (uint32_t i = 0; i < EXTENSION_CHARS; ++i) {
            uint8_t* unit = joined.data() + static_cast<size_t>(count + i) * NATIVE_UNIT_BYTES;
            unit[0] = static_cast<uint8_t>(TEXT_ENCRYPTED_EXTENSION[i]);
        }
        target = std::move(joined);
        return true;
    }
    if (count <= EXTENSION_CHARS || !hasEncryptedExtension(source)) return false;
    const uint32_t kept = count - EXTENSION_CHARS;
    // A name that is only the extension after a folder ("dir/.encrypted") has no name left.
    const uint32_t last = unitAt(source, kept - 1);
    if (last == '/' || (NATIVE_UNIT_BYTES == 2 && last == '\\')) return false;
    NativePath stripped = SecureBuffer::zeros((kept + 1) * NATIVE_UNIT_BYTES);
    std::memcpy(stripped.data(), source.data(), static_cast<size_t>(kept) * NATIVE_UNIT_BYTES);
    target = std::move(stripped);
    return true;
}
