// Why the platform layer's file operations fail: the last cause seen for each kind of operation,
// for messages that name the cause. Also the seam through which tests make operations fail: inert
// (one pointer load per operation) until a test installs a hook.
#pragma once

#include <cstdint>

// The file operations that can fail, as the hook and the failure record see them.
enum PlatformOperation : uint32_t {
    PLATFORM_OPEN = 0,  // platformOpenRead
    PLATFORM_CREATE,    // platformCreateWrite, platformCreateNew
    PLATFORM_READ,
    PLATFORM_WRITE,
    PLATFORM_CLOSE,
    PLATFORM_RENAME,        // platformRenameOver, platformRenameNew
    PLATFORM_FLUSH,         // platformFlush: a file's data to the disk
    PLATFORM_FLUSH_FOLDER,  // POSIX: a folder's entries to the disk after a rename
};
constexpr uint32_t PLATFORM_OPERATION_COUNT = 8;

enum PlatformFailureCause : uint32_t {
    CAUSE_NONE = 0,
    CAUSE_NOT_FOUND,         // the file or a folder on its path does not exist
    CAUSE_ACCESS_DENIED,     // permissions, a read-only medium
    CAUSE_DISK_FULL,         // no space or quota left
    CAUSE_IS_DIRECTORY,      // the path names a folder
    CAUSE_NOT_REGULAR_FILE,  // a pipe, socket or device
    CAUSE_OTHER,             // see the system's error code
};

struct PlatformFailure {
    PlatformFailureCause cause = CAUSE_NONE;
    // errno on POSIX, GetLastError() on Windows; 0 when the layer itself refused (a folder or
    // device where a file was wanted).
    int32_t systemCode = 0;
};

// Forgets every recorded failure. Call before the operations whose failure is to be explained.
void platformClearFailures();

// The last failure of operation since platformClearFailures; cause CAUSE_NONE when none. Failures
// from several threads may interleave; each call returns one of them whole or CAUSE_NONE.
PlatformFailure platformLastFailure(PlatformOperation operation);

// Records that a file was refused for its size before operation could use it: the system's own
// code for a file too large (EFBIG, ERROR_FILE_TOO_LARGE), so that a message names the cause.
void platformRecordFileTooLarge(PlatformOperation operation);

// --- Test seam ---

// Asked before each operation of the platform layer's file functions with the operation and the
// context it was installed with; true makes that call fail as the system would: a write as a full
// disk, a read, a close or a flush as an input/output error (a close still releases the file), an
// open, create or rename as access denied. Hooks run on whatever thread calls the platform layer, so a
// hook MUST be thread-safe.
using PlatformFaultHook = bool (*)(PlatformOperation operation, void* context);

// Installs hook (null removes it). Install and remove only while no other thread uses the
// platform layer's files.
void platformSetFaultHook(PlatformFaultHook hook, void* context);

// --- For the implementations of the platform layer only ---

// Whether the installed hook makes this call fail; records the injected failure when it does.
[[nodiscard]] bool platformFaultInjected(PlatformOperation operation);

void platformRecordFailure(PlatformOperation operation, PlatformFailureCause cause, int32_t systemCode);
