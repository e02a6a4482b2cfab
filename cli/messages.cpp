// Failure messages that name the file and the cause.

#include "cli/messages.h"

#include <cstring>

#include "base/secure_buffer.h"
#include "job/passphrase.h"
#include "platform/platform.h"

#if defined(_WIN32)
#include <windows.h>
#endif

namespace {

// The system's text of an error code, without a line end or final period.
std::string systemText(int32_t code) {
    std::string text;
#if defined(_WIN32)
    char buffer[512] = {};
    const DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                        static_cast<DWORD>(code), 0, buffer, sizeof buffer, nullptr);
    text.assign(buffer, length);
#else
    text = std::strerror(code);
#endif
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == '.' || text.back() == ' ')) {
        text.pop_back();
    }
    if (text.empty()) text = "felkod " + std::to_string(code);
    return text;
}

}  // namespace

std::string messageShownPath(const std::string& utf8Path) {
#if defined(_WIN32)
    SecureBuffer converted;
    if (utf8ToCp1252(
            SecureBuffer(reinterpret_cast<const uint8_t*>(utf8Path.data()), static_cast<uint32_t>(utf8Path.size())),
            converted)) {
        return std::string(reinterpret_cast<const char*>(converted.data()), converted.size() - 1);
    }
#endif
    return utf8Path;
}

std::string messageCauseText(const PlatformFailure& failure, FileRole role) {
    switch (failure.cause) {
    case CAUSE_NONE: return std::string();
    case CAUSE_NOT_FOUND: return role == FILE_ROLE_TARGET ? "mappen finns inte" : "filen finns inte";
    case CAUSE_ACCESS_DENIED: return "åtkomst nekas";
    case CAUSE_DISK_FULL: return "disken är full";
    case CAUSE_IS_DIRECTORY: return "det är en mapp";
    case CAUSE_NOT_REGULAR_FILE: return "det är ingen vanlig fil";
    case CAUSE_OTHER: return systemText(failure.systemCode);
    }
    return std::string();
}

std::string messageWithFile(const char* message, const std::string& utf8Path, const PlatformFailure& failure,
                            FileRole role, const char* causeText) {
    std::string text = message;
    if (!text.empty() && text.back() == '.') text.pop_back();
    text += " \"" + messageShownPath(utf8Path) + "\"";
    std::string cause = messageCauseText(failure, role);
    if (cause.empty() && causeText != nullptr) cause = causeText;
    if (!cause.empty()) text += ": " + cause;
    return text + ".";
}

PlatformFailure messageDiagnoseRead(const std::string& utf8Path) {
    platformClearFailures();
    PlatformFile file;
    if (platformOpenRead(nativePathFromUtf8(utf8Path.c_str()), file)) {
        (void)platformClose(file);
        return PlatformFailure();
    }
    return platformLastFailure(PLATFORM_OPEN);
}
