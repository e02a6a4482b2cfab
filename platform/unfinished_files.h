// The files the platform layer created and has not yet finished, so that an interrupt can remove
// them; shared by both platform files, each of which owns only the removal of one file. Not for
// layers above the platform: they see platformRemoveUnfinishedFiles alone.
#pragma once

#include <atomic>
#include <cstdint>

#include "base/native_file.h"

// A table has a fixed number of slots and a fixed path length: recording and forgetting never
// allocate, and a signal handler or console control handler may walk the table while other threads
// record and forget. A path of UNFINISHED_PATH_UNITS units or more, and a file beyond the
// UNFINISHED_SLOTS-th, are not recorded.
constexpr int UNFINISHED_SLOTS = 4;
#if defined(_WIN32)
constexpr uint32_t UNFINISHED_PATH_UNITS = 1024;
#else
constexpr uint32_t UNFINISHED_PATH_UNITS = 4096;  // PATH_MAX on Linux
#endif

// A handle value that stands for none: the file is removed by its path. It is also the value of
// PlatformFile::handle when closed, and INVALID_HANDLE_VALUE on Windows.
constexpr intptr_t UNFINISHED_NO_HANDLE = -1;

// Slot states: free, being changed by a recording or forgetting thread, holding a file.
constexpr int UNFINISHED_SLOT_FREE = 0;
constexpr int UNFINISHED_SLOT_BUSY = 1;
constexpr int UNFINISHED_SLOT_HELD = 2;
static_assert(std::atomic<int>::is_always_lock_free && std::atomic<intptr_t>::is_always_lock_free,
              "an interrupt handler reads the slots and must not wait for a lock");

// One file from its creation to its rename or deletion. path and handle are meaningful only while
// state is UNFINISHED_SLOT_HELD; path is zero-filled when the slot is free.
struct UnfinishedFile {
    std::atomic<int> state{UNFINISHED_SLOT_FREE};
    std::atomic<intptr_t> handle{UNFINISHED_NO_HANDLE};
    NativeUnit path[UNFINISHED_PATH_UNITS] = {};
};

struct UnfinishedFiles {
    UnfinishedFile slots[UNFINISHED_SLOTS];
};

// The process's table, filled by platformCreateNew and emptied by the renames and deletes of the
// platform layer; platformRemoveUnfinishedFiles removes what it holds.
extern UnfinishedFiles unfinishedFiles;

// Records the file at path (its units up to the first zero unit) and its open handle, or
// UNFINISHED_NO_HANDLE where the system removes files by path only. Nothing is recorded when path
// is too long, holds no zero unit, or every slot is taken.
void unfinishedTrack(UnfinishedFiles& files, const NativePath& path, intptr_t handle);

// Forgets the file at path (its units up to the first zero unit) and wipes its recorded path;
// nothing happens when it is not recorded.
void unfinishedUntrack(UnfinishedFiles& files, const NativePath& path);

// The handle is about to close: a file recorded with it is removed by its path from now on.
void unfinishedForgetHandle(UnfinishedFiles& files, intptr_t handle);

// Calls unfinishedFileRemove for every file the table holds; the table itself is left as it is.
// Safe in a signal handler and a console control handler, as unfinishedFileRemove must be.
void unfinishedRemoveAll(const UnfinishedFiles& files);

// Defined by each platform file: removes one unfinished file, through handle when it is not
// UNFINISHED_NO_HANDLE (the file vanishes when the handle closes), otherwise by its zero-terminated
// path. MUST be async-signal-safe (no allocation, no lock); a failure is ignored.
void unfinishedFileRemove(const NativeUnit* path, intptr_t handle);
