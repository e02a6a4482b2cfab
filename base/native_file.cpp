// Runtime streams by native path.

#include "base/native_file.h"

#include <cstring>

#if defined(_WIN32)
#include <cwchar>
#endif

bool isNativePath(const NativePath& path) {
    const uint32_t size = path.size();
    if (size < 2 * NATIVE_UNIT_BYTES || size % NATIVE_UNIT_BYTES != 0) return false;
    for (uint32_t i = size - NATIVE_UNIT_BYTES; i < size; ++i) {
        if (path.data()[i] != 0) return false;
    }
    return true;
}

uint32_t nativePathLength(const NativePath& path) {
    return isNativePath(path) ? path.size() / NATIVE_UNIT_BYTES - 1 : 0;
}

const NativeUnit* nativePathUnits(const NativePath& path) {
    return isNativePath(path) ? reinterpret_cast<const NativeUnit*>(path.data()) : nullptr;
}

std::FILE* openNativeStream(const NativePath& path, const char* mode) {
    if (!isNativePath(path) || mode == nullptr) return nullptr;
#if defined(_WIN32)
    // The modes are ASCII; widen them unit by unit.
    wchar_t wideMode[8] = {};
    const size_t modeLength = std::strlen(mode);
    if (modeLength >= sizeof wideMode / sizeof wideMode[0]) return nullptr;
    for (size_t i = 0; i < modeLength; ++i) wideMode[i] = static_cast<wchar_t>(static_cast<unsigned char>(mode[i]));
    return _wfopen(nativePathUnits(path), wideMode);
#else
    return std::fopen(nativePathUnits(path), mode);
#endif
}
