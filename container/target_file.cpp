// Temporary target files and their commit by rename.

#include "container/target_file.h"

TargetFile::~TargetFile() { targetDiscard(*this); }

bool targetCreate(TargetFile& target, const NativePath& finalPath) {
    targetDiscard(target);
    target.finalPath = finalPath;
    target.unflushedBytes = 0;
    if (!platformCreateTemporaryBeside(finalPath, PERMISSIONS_DEFAULT, target.file, target.temporaryPath)) return false;
    target.created = true;
    return true;
}

bool targetOpenStandardOutput(TargetFile& target) {
    targetDiscard(target);
    if (!platformStandardOutput(target.file)) return false;
    target.stream = true;
    return true;
}

bool targetWrite(TargetFile& target, const uint8_t* data, uint32_t count) {
    if (!platformWrite(target.file, data, count)) return false;
    if (target.stream) return true;
    target.unflushedBytes += count;
    if (target.unflushedBytes >= TARGET_WRITEBACK_BYTES) {
        platformStartWriteback(target.file);
        target.unflushedBytes = 0;
    }
    return true;
}

bool targetCommit(TargetFile& target) {
    // Each write reached the stream as it was made; there is nothing to flush or rename.
    if (target.stream) return true;
    if (!target.created) return false;
    // The data must be on the disk before the rename is: otherwise a power cut can leave the
    // target's name on an empty or partial file, and the old target gone.
    const bool flushed = platformFlush(target.file);
    const bool closed = platformClose(target.file);
    if (!flushed || !closed) {
        targetDiscard(target);
        return false;
    }
    if (!platformRenameOver(target.temporaryPath, target.finalPath)) {
        // The rename may have been made (a failing folder flush); then there is nothing to remove.
        targetDiscard(target);
        return false;
    }
    target.created = false;
    target.temporaryPath.wipe();
    return true;
}

void targetDiscard(TargetFile& target) {
    if (target.stream) {
        target.file = PlatformFile();
        target.stream = false;
        return;
    }
    (void)platformClose(target.file);
    if (target.created) (void)platformDelete(target.temporaryPath);
    target.created = false;
    target.temporaryPath.wipe();
}
