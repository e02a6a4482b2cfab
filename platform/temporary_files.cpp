// Temporary files beside their final name, for writes that become visible only by a rename.

#include <cstring>
#include <utility>

#include "base/text.h"
#include "platform/platform.h"

namespace {

// Attempts at a free temporary name before giving up.
constexpr int TEMPORARY_NAME_ATTEMPTS = 100;

// path with an ASCII suffix appended, in the platform's native path form.
NativePath nativePathWithSuffix(const NativePath& path, const char* asciiSuffix) {
    if (path.size() < NATIVE_UNIT_BYTES) return NativePath();
    NativePath result = path.slice(path.size() - NATIVE_UNIT_BYTES, 0);  // without the terminator
    const uint32_t suffixChars = static_cast<uint32_t>(std::strlen(asciiSuffix));
    const uint32_t start = result.size();
    result.appendZeros(secureBufferGrownSize(suffixChars, 1) * NATIVE_UNIT_BYTES);
    for (uint32_t i = 0; i < suffixChars; ++i) {
        result.data()[start + i * NATIVE_UNIT_BYTES] = static_cast<uint8_t>(asciiSuffix[i]);
    }
    return result;
}

}  // namespace

bool platformCreateTemporaryBeside(const NativePath& finalPath, PlatformPermissions permissions, PlatformFile& file,
                                   NativePath& temporaryPath) {
    temporaryPath.wipe();
    if (!isNativePath(finalPath)) return false;
    for (int attempt = 0; attempt < TEMPORARY_NAME_ATTEMPTS; ++attempt) {
        SecureBuffer number = decimalText(static_cast<uint32_t>(attempt));
        char suffix[32] = ".ferrolyn-";
        std::strcat(suffix, textPointer(number));
        std::strcat(suffix, ".tmp");
        NativePath candidate = nativePathWithSuffix(finalPath, suffix);
        if (candidate.empty()) return false;
        if (platformCreateNew(candidate, file, permissions)) {
            temporaryPath = std::move(candidate);
            return true;
        }
    }
    return false;
}
