// The command-line tool's test fixture: each test gets its own folder with a key file, a key code
// file and a passphrase file, and runs the built tool there as a process.
#pragma once

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace clitest {

constexpr int EXIT_USAGE = 2, EXIT_READ = 3, EXIT_WRITE = 4, EXIT_WRONG_KEY = 6, EXIT_CANCELLED = 7;

inline std::vector<char> readAll(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<char>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void writeAll(const fs::path& path, const std::vector<char>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

inline void writeText(const fs::path& path, const std::string& text) {
    writeAll(path, std::vector<char>(text.begin(), text.end()));
}

// Text-like bytes that the codec can compress, quickly made.
inline std::vector<char> textBytes(size_t count, uint32_t seed) {
    static const char* words[] = {"och ", "att ", "det ", "som ", "en ", "på ", "är ", "för ", "med ", "till\n"};
    std::mt19937 rng(seed);
    std::vector<char> out;
    out.reserve(count);
    while (out.size() < count) {
        const char* w = words[rng() % 10];
        for (const char* p = w; *p && out.size() < count; ++p) out.push_back(*p);
    }
    return out;
}

class Cli : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() / ("ferrolyn-cli-" + std::to_string(::getpid()) + "-" +
                                            ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir_);
        fs::create_directories(dir_ / "data");
        writeKeyMaterial();
    }
    void TearDown() override { fs::remove_all(dir_); }

    fs::path at(const std::string& name) const { return dir_ / name; }
    fs::path workingDirectory() const { return dir_ / "data" / "QX_wd"; }

    // Runs the tool with the given arguments; the working directory lives inside the test folder.
    // input, when given, is a shell command whose output is piped into the tool. A tool that
    // hangs is killed after ten minutes and reported as status -1.
    int run(const std::string& arguments, std::string* output = nullptr, const std::string& input = "") const {
        const fs::path captured = dir_ / "stdout.txt";
        const std::string command =
            "cd '" + dir_.string() + "' && " + (input.empty() ? "" : input + " | ") + "XDG_DATA_HOME='" +
            (dir_ / "data").string() + "' " + runAs_ + "timeout -s KILL 600 '" FERROLYN_CLI "' " + arguments + " > '" +
            captured.string() + "' 2> '" + (dir_ / "stderr.txt").string() + "'" + (input.empty() ? " < /dev/null" : "");
        const int status = std::system(command.c_str());
        if (output != nullptr) {
            std::vector<char> bytes = readAll(captured);
            output->assign(bytes.begin(), bytes.end());
        }
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    std::string errors() const {
        std::vector<char> bytes = readAll(dir_ / "stderr.txt");
        return std::string(bytes.begin(), bytes.end());
    }

    void writeKeyMaterial() {
        ASSERT_EQ(run("new-key-file key.key"), 0) << errors();
        std::string code;
        ASSERT_EQ(run("new-key-code", &code), 0) << errors();
        writeText(at("code.txt"), code);
        writeText(at("pass.txt"), "lösenord med å, ä och ö\n");
    }

    fs::path dir_;
    std::string runAs_;  // a command that runs the tool as another user, or empty
};

}  // namespace clitest
