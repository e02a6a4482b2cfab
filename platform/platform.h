// The thin operating-system layer under the core: files by native path, system random bytes,
// the working directory and clocks. One implementation for Win32 (platform_win32.cpp), one for
// POSIX (platform_posix.cpp); nothing else in the core calls the operating system directly.
// Every failing file operation records its cause (platform/failures.h).
#pragma once

#include <cstdint>

#include "base/native_file.h"
#include "base/secure_buffer.h"
#include "platform/failures.h"

// The native path of an 8-bit ANSI text buffer: on Windows converted with the ANSI code page, on
// POSIX the bytes unchanged. An empty or unterminated text gives an empty path.
NativePath nativePathFromText(const SecureBuffer& text);

// The native path of a UTF-8 string as given on a command line or in a test: on Windows
// converted from UTF-8 to UTF-16, on POSIX the bytes unchanged.
NativePath nativePathFromUtf8(const char* utf8);

// An open file. handle is the platform's descriptor or handle; valid says whether it is open.
struct PlatformFile {
    intptr_t handle = -1;
    bool valid = false;
};

// The three opening calls accept regular files only: a folder, FIFO, socket or device is refused
// (CAUSE_IS_DIRECTORY, CAUSE_NOT_REGULAR_FILE) without waiting for the other end of a FIFO and
// before any byte is read or written.

// Opens an existing file for reading, shared for reading only. False when it cannot be opened.
[[nodiscard]] bool platformOpenRead(const NativePath& path, PlatformFile& file);

// Creates a file for writing, not shared, truncating an existing one.
[[nodiscard]] bool platformCreateWrite(const NativePath& path, PlatformFile& file);

// Creates a new file for writing, not shared; fails when anything already has that name. The file
// counts as unfinished (see platformRemoveUnfinishedFiles) until it is renamed or deleted through
// this layer.
[[nodiscard]] bool platformCreateNew(const NativePath& path, PlatformFile& file);

// Reads up to count bytes into data; got receives the number read (0 at the end of the file).
[[nodiscard]] bool platformRead(PlatformFile& file, uint8_t* data, uint32_t count, uint32_t& got);

// Writes all count bytes or fails.
[[nodiscard]] bool platformWrite(PlatformFile& file, const uint8_t* data, uint32_t count);

// Moves the file position to offset bytes from the start.
[[nodiscard]] bool platformSeek(PlatformFile& file, uint64_t offset);

// The file's size in bytes.
[[nodiscard]] bool platformFileSize(PlatformFile& file, uint64_t& size);

// Closes the file if it is open and marks it not valid. Returns false when the system reports an
// error on close (data may not have reached the disk).
bool platformClose(PlatformFile& file);

// Deletes the file at path.
bool platformDelete(const NativePath& path);

// Renames from over to, replacing an existing regular file at to; a folder, FIFO or device at to
// is left alone and the call fails.
[[nodiscard]] bool platformRenameOver(const NativePath& from, const NativePath& to);

// Removes the unfinished files (made by platformCreateNew, neither renamed nor deleted since) of
// the process, for a program that is about to end at once. Safe in a POSIX signal handler and in
// a Windows console control handler while other threads still write those files; the files are
// gone by the time the process has ended (on Windows they vanish as their handles close). At
// most four unfinished files, and on POSIX only paths below 4096 bytes, are known to it.
void platformRemoveUnfinishedFiles();

// Whether the two paths name the same existing file (Windows: volume serial and file index;
// POSIX: device and inode). False when either does not exist.
bool platformSameFile(const NativePath& a, const NativePath& b);

// Fills count bytes from the operating system's cryptographic random source.
[[nodiscard]] bool platformSystemRandom(uint8_t* data, uint32_t count);

// Makes the program's working directory the current directory, creating it when missing:
// Windows: the local application-data folder plus "\QX_wd"; POSIX: $XDG_DATA_HOME, else
// $HOME/.local/share, plus "/QX_wd". False when it cannot be created or entered (for example a
// plain file has that name).
[[nodiscard]] bool selectWorkingDirectory();

// Seconds since 1 January 1970.
uint64_t platformCalendarSeconds();

// Milliseconds elapsed since an arbitrary start, from a clock that keeps running while the process
// waits (monotonic on POSIX).
uint32_t platformElapsedMilliseconds();
