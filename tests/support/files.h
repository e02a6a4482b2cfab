// Real files for tests: a temporary folder per test, whole-file reads and writes, folder listings,
// native paths of std::filesystem paths, and a guard for the current directory. Portable: the same
// code runs natively and as 32-bit Windows code.
#pragma once

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "base/secure_buffer.h"
#include "platform/platform.h"

namespace testsupport {

namespace fs = std::filesystem;

using Bytes = std::vector<uint8_t>;

// A new, empty folder under the system's temporary folder; removed with its contents at the end.
class TempDir {
public:
    TempDir() {
        std::random_device entropy;
        for (int attempt = 0; attempt < 100; ++attempt) {
            fs::path candidate = fs::temp_directory_path() /
                                 ("ferrolyn-test-" + std::to_string(entropy()) + "-" + std::to_string(entropy()));
            std::error_code error;
            if (fs::create_directory(candidate, error)) {
                path_ = candidate;
                return;
            }
        }
        throw std::runtime_error("no temporary folder could be created");
    }
    ~TempDir() {
        std::error_code error;
        fs::remove_all(path_, error);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const fs::path& path() const { return path_; }
    fs::path operator/(const std::string& name) const { return path_ / name; }

private:
    fs::path path_;
};

// Makes dir the current directory and restores the previous one at the end, whatever happens.
class CurrentDirectoryGuard {
public:
    explicit CurrentDirectoryGuard(const fs::path& dir) : previous_(fs::current_path()) { fs::current_path(dir); }
    ~CurrentDirectoryGuard() {
        std::error_code error;
        fs::current_path(previous_, error);
    }
    CurrentDirectoryGuard(const CurrentDirectoryGuard&) = delete;
    CurrentDirectoryGuard& operator=(const CurrentDirectoryGuard&) = delete;

private:
    fs::path previous_;
};

inline NativePath nativePathOf(const fs::path& path) {
    const std::u8string utf8 = path.u8string();
    return nativePathFromUtf8(reinterpret_cast<const char*>(utf8.c_str()));
}

// The whole file; empty when it cannot be read.
inline Bytes readFileBytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void writeFileBytes(const fs::path& path, const Bytes& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!out) throw std::runtime_error("test file could not be written");
}

inline void writeFileBytes(const fs::path& path, const std::string& text) {
    writeFileBytes(path, Bytes(text.begin(), text.end()));
}

// The names in a folder, sorted; temporary files that a job left behind show up here.
inline std::vector<std::string> fileNames(const fs::path& dir) {
    std::vector<std::string> names;
    for (const fs::directory_entry& entry : fs::directory_iterator(dir)) {
        const std::u8string name = entry.path().filename().u8string();
        names.emplace_back(name.begin(), name.end());
    }
    std::sort(names.begin(), names.end());
    return names;
}

inline Bytes bytesOf(const SecureBuffer& buffer) { return Bytes(buffer.data(), buffer.data() + buffer.size()); }

// A file under the repository's test data folder; the names there are ASCII.
inline fs::path testDataPath(const std::string& relative) { return fs::path(FERROLYN_TEST_DATA) / relative; }

}  // namespace testsupport
