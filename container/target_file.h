// The output file of a job, written under a temporary name beside the target and renamed over the
// target only when the job has succeeded. A job that fails or is cancelled removes only its own
// temporary file, so a file that already had the target's name is never lost to a failed job.
// The commit is durable: data, then rename, each on the disk before the job reports success.
#pragma once

#include "platform/platform.h"

struct TargetFile {
    TargetFile() = default;
    TargetFile(const TargetFile&) = delete;
    TargetFile& operator=(const TargetFile&) = delete;
    // A target that was created and not committed is removed.
    ~TargetFile();

    NativePath finalPath;
    NativePath temporaryPath;
    PlatformFile file;
    bool created = false;
    bool stream = false;  // the process's standard output: written in place, never renamed or closed
    uint64_t unflushedBytes = 0;  // written since writeback was last started
};

// Bytes written between two starts of writeback: large enough that the call is rare, small enough
// that the final flush finds little left to write.
constexpr uint64_t TARGET_WRITEBACK_BYTES = uint64_t{8} << 20;

// Creates a new, empty temporary file beside finalPath (same folder, a name that did not exist)
// and opens it for writing. False when no such file can be created.
[[nodiscard]] bool targetCreate(TargetFile& target, const NativePath& finalPath);

// Makes the process's standard output the target: every write goes straight to it, the commit
// only reports success, and nothing written can be taken back. False when there is none.
[[nodiscard]] bool targetOpenStandardOutput(TargetFile& target);

// Writes count bytes to the temporary file (or the standard output), as platformWrite does, and starts the system's
// writeback of what is written each TARGET_WRITEBACK_BYTES.
[[nodiscard]] bool targetWrite(TargetFile& target, const uint8_t* data, uint32_t count);

// Flushes the temporary file's data to the disk, closes it and renames it over the final path,
// whose folder is flushed in turn (platformRenameOver). A failing flush, close or rename removes
// the temporary file and leaves the final path as it was. A failing folder flush, after the
// rename, also returns false: the final path then holds the whole new file, which a power cut may
// still take back.
[[nodiscard]] bool targetCommit(TargetFile& target);

// Closes and removes the temporary file, if one was created and not committed.
void targetDiscard(TargetFile& target);
