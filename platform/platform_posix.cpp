// The platform layer on POSIX systems: file descriptors, getrandom, the XDG data folder and
// CLOCK_MONOTONIC. Paths are UTF-8 bytes, passed through unchanged.

#include <errno.h>
#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

#include "base/text.h"
#include "platform/platform.h"

namespace {

const char* pathPointer(const NativePath& path) { return textPointer(path); }

bool openWith(const NativePath& path, int flags, PlatformFile& file) {
    file = PlatformFile();
    const char* p = pathPointer(path);
    if (p == nullptr || *p == 0) return false;
    int fd;
    do {
        fd = ::open(p, flags | O_CLOEXEC, 0644);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) return false;
    struct stat info;
    // Only regular files are containers or targets; a directory or device is refused.
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
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

bool platformOpenRead(const NativePath& path, PlatformFile& file) { return openWith(path, O_RDONLY, file); }

bool platformCreateWrite(const NativePath& path, PlatformFile& file) {
    return openWith(path, O_WRONLY | O_CREAT | O_TRUNC, file);
}

bool platformCreateNew(const NativePath& path, PlatformFile& file) {
    return openWith(path, O_WRONLY | O_CREAT | O_EXCL, file);
}

bool platformRead(PlatformFile& file, uint8_t* data, uint32_t count, uint32_t& got) {
    got = 0;
    if (!file.valid) return false;
    while (got < count) {
        ssize_t n = ::read(static_cast<int>(file.handle), data + got, count - got);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return false;
        if (n == 0) break;
        got += static_cast<uint32_t>(n);
    }
    return true;
}

bool platformWrite(PlatformFile& file, const uint8_t* data, uint32_t count) {
    if (!file.valid) return false;
    uint32_t written = 0;
    while (written < count) {
        ssize_t n = ::write(static_cast<int>(file.handle), data + written, count - written);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        written += static_cast<uint32_t>(n);
    }
    return true;
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
    bool ok = ::close(static_cast<int>(file.handle)) == 0;
    file = PlatformFile();
    return ok;
}

bool platformDelete(const NativePath& path) {
    const char* p = pathPointer(path);
    return p != nullptr && ::unlink(p) == 0;
}

bool platformRenameOver(const NativePath& from, const NativePath& to) {
    const char* a = pathPointer(from);
    const char* b = pathPointer(to);
    return a != nullptr && b != nullptr && ::rename(a, b) == 0;
}

bool platformSameFile(const NativePath& a, const NativePath& b) {
    struct stat first, second;
    return identity(a, first) && identity(b, second) && first.st_dev == second.st_dev &&
           first.st_ino == second.st_ino;
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
    return static_cast<uint32_t>(static_cast<uint64_t>(now.tv_sec) * 1000u + static_cast<uint64_t>(now.tv_nsec) / 1000000u);
}
