// The table of unfinished files, the same on every system; the removal of one file lives in each
// platform file.

#include "platform/unfinished_files.h"

#include <cstring>

#include "platform/platform.h"

UnfinishedFiles unfinishedFiles;

namespace {

// The units of path before its first zero unit, or UNFINISHED_PATH_UNITS when that many come
// before it or it has none: such a path is never recorded.
uint32_t recordableLength(const NativePath& path) {
    const uint32_t units = path.size() / NATIVE_UNIT_BYTES;
    for (uint32_t i = 0; i < units && i < UNFINISHED_PATH_UNITS; ++i) {
        NativeUnit unit;
        std::memcpy(&unit, path.data() + static_cast<size_t>(i) * NATIVE_UNIT_BYTES, NATIVE_UNIT_BYTES);
        if (unit == 0) return i;
    }
    return UNFINISHED_PATH_UNITS;
}

}  // namespace

void unfinishedTrack(UnfinishedFiles& files, const NativePath& path, intptr_t handle) {
    const uint32_t length = recordableLength(path);
    if (length >= UNFINISHED_PATH_UNITS) return;
    for (UnfinishedFile& slot : files.slots) {
        int expected = UNFINISHED_SLOT_FREE;
        if (!slot.state.compare_exchange_strong(expected, UNFINISHED_SLOT_BUSY)) continue;
        std::memcpy(slot.path, path.data(), static_cast<size_t>(length) * NATIVE_UNIT_BYTES);
        slot.path[length] = 0;
        slot.handle.store(handle);
        slot.state.store(UNFINISHED_SLOT_HELD);
        return;
    }
}

void unfinishedUntrack(UnfinishedFiles& files, const NativePath& path) {
    const uint32_t length = recordableLength(path);
    if (length >= UNFINISHED_PATH_UNITS) return;
    // The terminator takes part, so that a recorded path that only begins with path differs.
    const size_t compared = (static_cast<size_t>(length) + 1) * NATIVE_UNIT_BYTES;
    for (UnfinishedFile& slot : files.slots) {
        if (slot.state.load() != UNFINISHED_SLOT_HELD || std::memcmp(slot.path, path.data(), compared) != 0) continue;
        int expected = UNFINISHED_SLOT_HELD;
        if (!slot.state.compare_exchange_strong(expected, UNFINISHED_SLOT_BUSY)) continue;
        secureWipe(slot.path, sizeof slot.path);
        slot.handle.store(UNFINISHED_NO_HANDLE);
        slot.state.store(UNFINISHED_SLOT_FREE);
        return;
    }
}

void unfinishedForgetHandle(UnfinishedFiles& files, intptr_t handle) {
    for (UnfinishedFile& slot : files.slots) {
        if (slot.state.load() == UNFINISHED_SLOT_HELD && slot.handle.load() == handle) {
            slot.handle.store(UNFINISHED_NO_HANDLE);
        }
    }
}

void unfinishedRemoveAll(const UnfinishedFiles& files) {
    for (const UnfinishedFile& slot : files.slots) {
        if (slot.state.load() == UNFINISHED_SLOT_HELD) unfinishedFileRemove(slot.path, slot.handle.load());
    }
}

void platformRemoveUnfinishedFiles() { unfinishedRemoveAll(unfinishedFiles); }
