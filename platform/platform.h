// The thin operating-system layer under the core: files by native path, system random bytes,
// the working directory and clocks. One implementation for Win32 (platform_win32.cpp), one for
// POSIX (platform_posix.cpp); nothing else in the core calls the operating system directly.
// Every failing file operation records its cause (platform/failures.h).
#pragma once

#include <cstdint>
#include <string>

#include "base/native_file.h"
#include "base/secure_buffer.h"
#include "platform/failures.h"

// The native path of an 8-bit ANSI text buffer: on Windows converted with the ANSI code page, on
// POSIX the bytes unchanged. An empty or unterminated text gives an empty path.
NativePath nativePathFromText(const SecureBuffer& text);

// The native path of a UTF-8 string as given on a command line or in a test: on Windows
// converted from UTF-8 to UTF-16, on POSIX the bytes unchanged.
NativePath nativePathFromUtf8(const char* utf8);

// The UTF-8 text of a native path: on Windows converted from UTF-16, on POSIX the bytes
// unchanged. Empty when path is not a native path or holds an unpaired surrogate.
std::string utf8FromNativePath(const NativePath& path);

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

// As platformOpenRead, but a FIFO or pipe is accepted as well (its open waits for a writer, and it
// is read until the writer closes it): for the small files a user may hand over through a pipe.
// A folder or device is still refused.
[[nodiscard]] bool platformOpenReadStream(const NativePath& path, PlatformFile& file);

// Creates a file for writing, not shared, truncating an existing one.
[[nodiscard]] bool platformCreateWrite(const NativePath& path, PlatformFile& file);

// Who may read a file that the layer creates. On POSIX: PERMISSIONS_DEFAULT is mode 0644 under
// the umask, PERMISSIONS_OWNER_ONLY mode 0600 (for keys and seeds). On Windows the folder's
// inherited rights apply to both.
enum PlatformPermissions : uint8_t { PERMISSIONS_DEFAULT, PERMISSIONS_OWNER_ONLY };

// Creates a new file for writing, not shared; fails when anything already has that name. The file
// counts as unfinished (see platformRemoveUnfinishedFiles) until it is renamed or deleted through
// this layer.
[[nodiscard]] bool platformCreateNew(const NativePath& path, PlatformFile& file,
                                     PlatformPermissions permissions = PERMISSIONS_DEFAULT);

// Creates a new file as platformCreateNew does, in the folder of finalPath under a name that did
// not exist there (finalPath plus ".ferrolyn-<n>.tmp"), so that a rename onto finalPath stays in
// one folder. temporaryPath receives its name. False, with nothing created and temporaryPath
// empty, when no such file can be created.
[[nodiscard]] bool platformCreateTemporaryBeside(const NativePath& finalPath, PlatformPermissions permissions,
                                                 PlatformFile& file, NativePath& temporaryPath);

// The process's standard output, for writing. It stays the process's: it is never closed through
// this layer, so the file must not be handed to platformClose. False when the process has none.
[[nodiscard]] bool platformStandardOutput(PlatformFile& file);

// Reads up to count bytes into data; got receives the number read (0 at the end of the file).
[[nodiscard]] bool platformRead(PlatformFile& file, uint8_t* data, uint32_t count, uint32_t& got);

// Writes all count bytes or fails.
[[nodiscard]] bool platformWrite(PlatformFile& file, const uint8_t* data, uint32_t count);

// Waits until the file's data (and the size that reaches it) is on the disk: fdatasync on
// POSIX, FlushFileBuffers on Windows. A failure means written bytes may be lost: a write error.
[[nodiscard]] bool platformFlush(PlatformFile& file);

// Asks the system to start writing the file's data to the disk now, without waiting for it (Linux:
// sync_file_range), so that a later platformFlush waits for little. A hint: where the system has
// no such call (Windows writes back on its own) or it fails, nothing happens.
void platformStartWriteback(PlatformFile& file);

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
// is left alone and the call fails. The rename is on the disk when the call returns true: on
// POSIX the folder is flushed after it (PLATFORM_FLUSH_FOLDER; a file system that cannot flush a
// folder, or a folder the process may not open for reading, is taken as it is), on Windows the
// move is made with MOVEFILE_WRITE_THROUGH. A failing folder flush returns false with the rename
// made. Flush from's data first (platformFlush), or the rename may reach the disk before it.
[[nodiscard]] bool platformRenameOver(const NativePath& from, const NativePath& to);

// As platformRenameOver, but fails when anything has the name to, which is then left untouched:
// the check and the rename are one step (Linux: renameat2 with RENAME_NOREPLACE, else a hard link
// and the removal of from; Windows: MoveFileExW without MOVEFILE_REPLACE_EXISTING).
[[nodiscard]] bool platformRenameNew(const NativePath& from, const NativePath& to);

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
