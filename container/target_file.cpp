// Temporary target files and their commit by rename.

#include "container/target_file.h"

#include <cstring>
#include <utility>

#include "base/text.h"

namespace {

#if defined(_WIN32)
constexpr uint32_t PATH_UNIT_BYTES = 2;  // UTF-16LE code units
#else
constexpr uint32_t PATH_UNIT_BYTES = 1;
#endif

// Attempts at a free temporary name before giving up.
constexpr int TEMPORARY_NAME_ATTEMPTS = 100;

// path with an ASCII suffix appended, in the platform's native path form.
NativePath nativePathWithSuffix(const NativePath& path, const char* asciiSuffix) {
    if (path.size() < PATH_UNIT_BYTES) return NativePath();
    NativePath result = path.slice(path.size() - PATH_UNIT_BYTES, 0);  // without the terminator
    const uint32_t suffixChars = static_cast<uint32_t>(std::strlen(asciiSuffix));
    const uint32_t start = result.size();
    result.appendZeros(secureBufferGrownSize(suffixChars, 1) * PATH_UNIT_BYTES);
    for (uint32_t i = 0; i < suffixChars; ++i) {
        result.data()[start + i * PATH_UNIT_BYTES] = static_cast<uint8_t>(asciiSuffix[i]);
    }
    return result;
}

}  // namespace

TargetFile::~TargetFile() { targetDiscard(*this); }

bool targetCreate(TargetFile& target, const NativePath& finalPath) {
    targetDiscard(target);
    target.finalPath = finalPath;
    for (int attempt = 0; attempt < TEMPORARY_NAME_ATTEMPTS; ++attempt) {
        SecureBuffer number = decimalText(static_cast<uint32_t>(attempt));
        char suffix[32] = ".ferrolyn-";
        std::strcat(suffix, textPointer(number));
        std::strcat(suffix, ".tmp");
        NativePath candidate = nativePathWithSuffix(finalPath, suffix);
        if (candidate.empty()) return false;
        if (platformCreateNew(candidate, target.file)) {
            target.temporaryPath = std::move(candidate);
            target.created = true;
            return true;
        }
    }
    return false;
}

bool targetCommit(TargetFile& target) {
    if (!target.created) return false;
    const bool closed = platformClose(target.file);
    if (!closed || !platformRenameOver(target.temporaryPath, target.finalPath)) {
        targetDiscard(target);
        return false;
    }
    target.created = false;
    target.temporaryPath.wipe();
    return true;
}

void targetDiscard(TargetFile& target) {
    (void)platformClose(target.file);
    if (target.created) (void)platformDelete(target.temporaryPath);
    target.created = false;
    target.temporaryPath.wipe();
}
