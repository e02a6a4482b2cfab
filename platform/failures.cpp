// The failure record and the fault hook, shared by the POSIX and Win32 implementations.

#include "platform/failures.h"

#include <atomic>

#if defined(_WIN32)
#include <windows.h>
#else
#include <cerrno>
#endif

namespace {

// Cause and code are stored apart; a reader racing a writer may pair one failure's cause with
// another's code, which only a message would show.
struct FailureSlot {
    std::atomic<uint32_t> cause{CAUSE_NONE};
    std::atomic<int32_t> systemCode{0};
};

FailureSlot failureSlots[PLATFORM_OPERATION_COUNT];

std::atomic<PlatformFaultHook> faultHook{nullptr};
std::atomic<void*> faultContext{nullptr};

// The cause and system code that an injected failure of operation imitates.
void injectedFailure(PlatformOperation operation, PlatformFailureCause& cause, int32_t& code) {
    switch (operation) {
    case PLATFORM_WRITE: cause = CAUSE_DISK_FULL;
#if defined(_WIN32)
        code = ERROR_DISK_FULL;
#else
        code = ENOSPC;
#endif
        return;
    case PLATFORM_READ:
    case PLATFORM_CLOSE:
    case PLATFORM_FLUSH:
    case PLATFORM_FLUSH_FOLDER: cause = CAUSE_OTHER;
#if defined(_WIN32)
        code = ERROR_READ_FAULT;
#else
        code = EIO;
#endif
        return;
    case PLATFORM_OPEN:
    case PLATFORM_CREATE:
    case PLATFORM_RENAME: cause = CAUSE_ACCESS_DENIED;
#if defined(_WIN32)
        code = ERROR_ACCESS_DENIED;
#else
        code = EACCES;
#endif
        return;
    }
    cause = CAUSE_OTHER;
    code = 0;
}

}  // namespace

void platformClearFailures() {
    for (FailureSlot& slot : failureSlots) {
        slot.cause.store(CAUSE_NONE);
        slot.systemCode.store(0);
    }
}

PlatformFailure platformLastFailure(PlatformOperation operation) {
    PlatformFailure failure;
    if (operation >= PLATFORM_OPERATION_COUNT) return failure;
    failure.cause = static_cast<PlatformFailureCause>(failureSlots[operation].cause.load());
    failure.systemCode = failureSlots[operation].systemCode.load();
    return failure;
}

void platformRecordFileTooLarge(PlatformOperation operation) {
#if defined(_WIN32)
    platformRecordFailure(operation, CAUSE_OTHER, ERROR_FILE_TOO_LARGE);
#else
    platformRecordFailure(operation, CAUSE_OTHER, EFBIG);
#endif
}

void platformSetFaultHook(PlatformFaultHook hook, void* context) {
    faultContext.store(context);
    faultHook.store(hook);
}

bool platformFaultInjected(PlatformOperation operation) {
    const PlatformFaultHook hook = faultHook.load(std::memory_order_acquire);
    if (hook == nullptr || !hook(operation, faultContext.load())) return false;
    PlatformFailureCause cause = CAUSE_OTHER;
    int32_t code = 0;
    injectedFailure(operation, cause, code);
    platformRecordFailure(operation, cause, code);
#if defined(_WIN32)
    SetLastError(static_cast<DWORD>(code));
#else
    errno = code;
#endif
    return true;
}

void platformRecordFailure(PlatformOperation operation, PlatformFailureCause cause, int32_t systemCode) {
    if (operation >= PLATFORM_OPERATION_COUNT) return;
    failureSlots[operation].systemCode.store(systemCode);
    failureSlots[operation].cause.store(cause);
}
