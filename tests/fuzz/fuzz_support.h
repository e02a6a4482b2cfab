// Shared pieces of the fuzz targets: a file in memory that the core opens by path, a private
// scratch folder, and a hard stop for a broken property. Linux only, like libFuzzer builds here.
#pragma once

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace fuzzsupport {

// Ends the run so that libFuzzer records the input; message names the broken property.
[[noreturn]] inline void broken(const char* message) {
    std::fprintf(stderr, "property broken: %s\n", message);
    std::abort();
}

inline void require(bool condition, const char* message) {
    if (!condition) broken(message);
}

// A regular file that lives in memory (memfd). path() opens it afresh through /proc, so code that
// takes a path reads exactly the bytes last given to set(), from the start.
class MemoryFile {
public:
    explicit MemoryFile(const char* name) : fd_(memfd_create(name, MFD_CLOEXEC)) {
        if (fd_ < 0) broken("memfd_create failed");
        path_ = "/proc/self/fd/" + std::to_string(fd_);
    }
    ~MemoryFile() { ::close(fd_); }
    MemoryFile(const MemoryFile&) = delete;
    MemoryFile& operator=(const MemoryFile&) = delete;

    void set(const uint8_t* data, size_t size) {
        if (::ftruncate(fd_, 0) != 0) broken("ftruncate failed");
        size_t done = 0;
        while (done < size) {
            const ssize_t n = ::pwrite(fd_, data + done, size - done, static_cast<off_t>(done));
            if (n <= 0) broken("pwrite failed");
            done += static_cast<size_t>(n);
        }
    }
    const std::string& path() const { return path_; }

private:
    int fd_;
    std::string path_;
};

// A new folder for the process under TMPDIR (or /tmp); it is left for the system to clean, as the
// fuzzer ends the process without running destructors.
inline std::string scratchFolder(const char* tag) {
    const char* base = std::getenv("TMPDIR");
    std::string pattern =
        std::string(base != nullptr && *base != 0 ? base : "/tmp") + "/ferrolyn-fuzz-" + tag + "-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) broken("mkdtemp failed");
    return pattern;
}

}  // namespace fuzzsupport
