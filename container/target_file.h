// The output file of a job, written under a temporary name beside the target and renamed over the
// target only when the job has succeeded. A job that fails or is cancelled removes only its own
// temporary file, so a file that already had the target's name is never lost to a failed job.
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
};

// Creates a new, empty temporary file beside finalPath (same folder, a name that did not exist)
// and opens it for writing. False when no such file can be created.
[[nodiscard]] bool targetCreate(TargetFile& target, const NativePath& finalPath);

// Closes the temporary file and renames it over the final path. On failure the temporary file is
// removed and the final path is left as it was.
[[nodiscard]] bool targetCommit(TargetFile& target);

// Closes and removes the temporary file, if one was created and not committed.
void targetDiscard(TargetFile& target);
