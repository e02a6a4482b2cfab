// The platform layer on POSIX systems: file descriptors, getrandom, the XDG data folder and
// CLOCK_MONOTONIC. Paths are UTF-8 bytes, passed through unchanged.

#if defined(__linux__) && !defined(_GNU_SOURCE)
#define _GNU_SOURCE 1  // sync_file_range, renameat2
#endif

#include <errno.h>
#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

#include "base/text.h"
#include "platform/failures.h"
#include "platform/platform.h"
#include "platform/unfinished_files.h"

namespace {

const char* pathPointer(const NativePath& path) { return textPointer(path); }

PlatformFailureCause causeOf(int error) {
    switch (error) {
    case ENOENT:
    case ENOTDIR: return CAUSE_NOT_FOUND;
    case EACCES:
    case EPERM:
    case EROFS: return CAUSE_ACCESS_DENIED;
    case ENOSPC:
    case EDQUOT: return CAUSE_DISK_FULL;
    case EISDIR: return CAUSE_IS_DIRECTORY;
    // A FIFO opened for writing without a reader, or a device that is not there.
    case ENXIO: return CAUSE_NOT_REGULAR_FILE;
    default: return CAUSE_OTHER;
    }
}

bool failWithErrno(PlatformOperation operation) {
    const int error = errno;
    platformRecordFailure(operation, causeOf(error), error);
    errno = error;
    return false;
}

// Why a file of this type is not one the layer opens; CAUSE_NONE for a regular file.
PlatformFailureCause causeOfType(mode_t mode) {
    if (S_ISREG(mode)) return CAUSE_NONE;
    return S_ISDIR(mode) ? CAUSE_IS_DIRECTORY : CAUSE_NOT_REGULAR_FILE;
}

// What an open accepts besides regular files.
enum OpenKinds { REGULAR_FILES_ONLY, REGULAR_FILES_AND_PIPES };

bool openWith(const NativePath& path, int flags, mode_t mode, OpenKinds kinds, PlatformOperation operation,
              PlatformFile& file) {
    file = PlatformFile();
    const char* p = pathPointer(path);
    if (p == nullptr || *p == 0) {
        platformRecordFailure(operation, CAUSE_NOT_FOUND, ENOENT);
        return false;
    }
    if (platformFaultInjected(operation)) return false;
    int fd;
    // O_NONBLOCK keeps the open itself from waiting, as it would for a FIFO without a writer or
    // reader on the other side; the type is checked before anything else happens. Where pipes are
    // wanted the open waits for the writer, as a reader of a pipe expects.
    const int waiting = kinds == REGULAR_FILES_AND_PIPES ? 0 : O_NONBLOCK;
    do {
        fd = ::open(p, flags | O_CLOEXEC | waiting, mode);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) return failWithErrno(operation);
    struct stat info;
    if (::fstat(fd, &info) != 0) {
        (void)failWithErrno(operation);
        ::close(fd);
        return false;
    }
    // Only regular files are sources, containers or targets; a folder, FIFO or device is refused.
    PlatformFailureCause typeCause = causeOfType(info.st_mode);
    if (kinds == REGULAR_FILES_AND_PIPES && S_ISFIFO(info.st_mode)) typeCause = CAUSE_NONE;
    const int statusFlags = ::fcntl(fd, F_GETFL);
    if (typeCause != CAUSE_NONE || statusFlags < 0 || ::fcntl(fd, F_SETFL, statusFlags & ~O_NONBLOCK) != 0) {
        if (typeCause != CAUSE_NONE)
            platformRecordFailure(operation, typeCause, 0);
        else
            (void)failWithErrno(operation);
        ::close(fd);
        return false;
    }
    file.handle = fd;
    file.valid = true;
    return true;
}

bool identity(const NativePath& path, struct stat& info) {
    const char* p = pathPointer(path);
    return p != nullptr && ::stat(p, &info) == 0;
}

// Flushes the folder that holds path, so that a rename in it survives a power cut. A file system
// that cannot flush a folder (EINVAL) and a folder the process may not open for reading (a drop
// folder of mode -wx) leave nothing more to do.
bool flushFolderOf(const char* path) {
    if (platformFaultInjected(PLATFORM_FLUSH_FOLDER)) return false;
    const char* slash = std::strrchr(path, '/');
    std::string folder = slash == nullptr
                             ? std::string(".")
                             : std::string(path, slash == path ? size_t{1} : static_cast<size_t>(slash - path));
    int fd;
    do {
        fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    secureWipe(folder.data(), folder.size());
    if (fd < 0) return errno == EACCES || errno == EPERM ? true : failWithErrno(PLATFORM_FLUSH_FOLDER);
    int result;
    do {
        result = ::fsync(fd);
    } while (result != 0 && errno == EINTR);
    const bool ok = result == 0 || errno == EINVAL || errno == ENOTSUP;
    if (!ok) (void)failWithErrno(PLATFORM_FLUSH_FOLDER);
    ::close(fd);
    return ok;
}

// A folder, FIFO or device under the target's name is not replaced.
bool refusesReplacement(const char* path) {
    struct stat existing;
    if (::stat(path, &existing) != 0 || causeOfType(existing.st_mode) == CAUSE_NONE) return false;
    platformRecordFailure(PLATFORM_RENAME, causeOfType(existing.st_mode), 0);
    return true;
}

// Renames from to to only when nothing has the name to.
bool renameExclusive(const char* from, const char* to) {
#if defined(__linux__) && defined(RENAME_NOREPLACE)
    if (::renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE) == 0) return true;
    if (errno != EINVAL && errno != ENOSYS) return false;
#endif
    // A file system without the exclusive rename: a hard link fails as well when to exists.
    if (::link(from, to) != 0) return false;
    (void)::unlink(from);
    return true;
}

bool makeDirectory(const std::string& path) {
    if (::mkdir(path.c_str(), 0700) == 0) return true;
    struct stat info;
    return errno == EEXIST && ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

}  // namespace

NativePath nativePathFromText(const SecureBuffer& text) {
    if (textPointer(text) == nullptr) return NativePath();
    return NativePath(text);
}

NativePath nativePathFromUtf8(const char* utf8) { return fromNulTerminated(utf8); }

std::string utf8FromNativePath(const NativePath& path) {
    if (!isNativePath(path)) return std::string();
    return std::string(reinterpret_cast<const char*>(path.data()), path.size() - 1);
}

bool platformStandardOutput(PlatformFile& file) {
    if (::fcntl(STDOUT_FILENO, F_GETFD) < 0) return false;
    file.handle = STDOUT_FILENO;
    file.valid = true;
    return true;
}

bool platformOpenRead(const NativePath& path, PlatformFile& file) {
    return openWith(path, O_RDONLY, 0, REGULAR_FILES_ONLY, PLATFORM_OPEN, file);
}

bool platformOpenReadStream(const NativePath& path, PlatformFile& file) {
    return openWith(path, O_RDONLY, 0, REGULAR_FILES_AND_PIPES, PLATFORM_OPEN, file);
}

bool platformCreateWrite(const NativePath& path, PlatformFile& file) {
    return openWith(path, O_WRONLY | O_CREAT | O_TRUNC, 0644, REGULAR_FILES_ONLY, PLATFORM_CREATE, file);
}

bool platformCreateNew(const NativePath& path, PlatformFile& file, PlatformPermissions permissions) {
    const mode_t mode = permissions == PERMISSIONS_OWNER_ONLY ? 0600 : 0644;
    if (!openWith(path, O_WRONLY | O_CREAT | O_EXCL, mode, REGULAR_FILES_ONLY, PLATFORM_CREATE, file)) return false;
    // Removed by its path: an unlinked file is gone from the folder while still open.
    unfinishedTrack(unfinishedFiles, path, UNFINISHED_NO_HANDLE);
    return true;
}

bool platformRead(PlatformFile& file, uint8_t* data, uint32_t count, uint32_t& got) {
    got = 0;
    if (!file.valid) return false;
    if (platformFaultInjected(PLATFORM_READ)) return false;
    while (got < count) {
        ssize_t n = ::read(static_cast<int>(file.handle), data + got, count - got);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return failWithErrno(PLATFORM_READ);
        if (n == 0) break;
        got += static_cast<uint32_t>(n);
    }
    return true;
}

bool platformWrite(PlatformFile& file, const uint8_t* data, uint32_t count) {
    if (!file.valid) return false;
    if (platformFaultInjected(PLATFORM_WRITE)) return false;
    uint32_t written = 0;
    while (written < count) {
        ssize_t n = ::write(static_cast<int>(file.handle), data + written, count - written);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return failWithErrno(PLATFORM_WRITE);
        if (n == 0) {
            platformRecordFailure(PLATFORM_WRITE, CAUSE_DISK_FULL, ENOSPC);
            return false;
        }
        written += static_cast<uint32_t>(n);
    }
    return true;
}

bool platformFlush(PlatformFile& file) {
    if (!file.valid) return false;
    if (platformFaultInjected(PLATFORM_FLUSH)) return false;
    int result;
    do {
#if defined(__linux__)
        result = ::fdatasync(static_cast<int>(file.handle));
#else
        result = ::fsync(static_cast<int>(file.handle));
#endif
    } while (result != 0 && errno == EINTR);
    return result == 0 || failWithErrno(PLATFORM_FLUSH);
}

void platformStartWriteback(PlatformFile& file) {
#if defined(__linux__)
    // Offset 0 and length 0 cover the whole file; pages already on their way are not waited for.
    if (file.valid) (void)::sync_file_range(static_cast<int>(file.handle), 0, 0, SYNC_FILE_RANGE_WRITE);
#else
    (void)file;
#endif
}

bool platformSeek(PlatformFile& file, uint64_t offset) {
    if (!file.valid || offset > static_cast<uint64_t>(INT64_MAX)) return false;
    return ::lseek(static_cast<int>(file.handle), static_cast<off_t>(offset), SEEK_SET) >= 0;
}

bool platformFileSize(PlatformFile& file, uint64_t& size) {
    struct stat info;
    if (!file.valid || ::fstat(static_cast<int>(file.handle), &info) != 0) return false;
    size = static_cast<uint64_t>(info.st_size);
    return true;
}

bool platformClose(PlatformFile& file) {
    if (!file.valid) return true;
    const bool injected = platformFaultInjected(PLATFORM_CLOSE);
    // The descriptor is released even when close reports an error; retrying could close another.
    bool ok = ::close(static_cast<int>(file.handle)) == 0;
    if (!ok) (void)failWithErrno(PLATFORM_CLOSE);
    file = PlatformFile();
    return ok && !injected;
}

bool platformDelete(const NativePath& path) {
    const char* p = pathPointer(path);
    if (p == nullptr || ::unlink(p) != 0) return false;
    unfinishedUntrack(unfinishedFiles, path);
    return true;
}

bool platformRenameOver(const NativePath& from, const NativePath& to) {
    const char* a = pathPointer(from);
    const char* b = pathPointer(to);
    if (a == nullptr || b == nullptr) return false;
    if (platformFaultInjected(PLATFORM_RENAME) || refusesReplacement(b)) return false;
    if (::rename(a, b) != 0) return failWithErrno(PLATFORM_RENAME);
    unfinishedUntrack(unfinishedFiles, from);
    return flushFolderOf(b);
}

bool platformRenameNew(const NativePath& from, const NativePath& to) {
    const char* a = pathPointer(from);
    const char* b = pathPointer(to);
    if (a == nullptr || b == nullptr) return false;
    if (platformFaultInjected(PLATFORM_RENAME)) return false;
    if (!renameExclusive(a, b)) return failWithErrno(PLATFORM_RENAME);
    unfinishedUntrack(unfinishedFiles, from);
    return flushFolderOf(b);
}

void unfinishedFileRemove(const NativeUnit* path, intptr_t) { (void)::unlink(path); }

bool platformSameFile(const NativePath& a, const NativePath& b) {
    struct stat first, second;
    return identity(a, first) && identity(b, second) && first.st_dev == second.st_dev && first.st_ino == second.st_ino;
}

bool platformSystemRandom(uint8_t* data, uint32_t count) {
    uint32_t filled = 0;
    while (filled < count) {
        ssize_t n = ::getrandom(data + filled, count - filled, 0);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        filled += static_cast<uint32_t>(n);
    }
    return true;
}

bool selectWorkingDirectory() {
    std::string base;
    const char* xdg = std::getenv("XDG_DATA_HOME");
    if (xdg != nullptr && *xdg == '/') {
        base = xdg;
    } else {
        const char* home = std::getenv("HOME");
        if (home == nullptr || *home == 0) return false;
        base = std::string(home) + "/.local";
        if (!makeDirectory(base)) return false;
        base += "/share";
    }
    if (!makeDirectory(base)) return false;
    std::string folder = base + "/QX_wd";
    return makeDirectory(folder) && ::chdir(folder.c_str()) == 0;
}

uint64_t platformCalendarSeconds() { return static_cast<uint64_t>(std::time(nullptr)); }

uint32_t platformElapsedMilliseconds() {
    struct timespec now;
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<uint32_t>(static_cast<uint64_t>(now.tv_sec) * 1000u +
                                 static_cast<uint64_t>(now.tv_nsec) / 1000000u);
}
