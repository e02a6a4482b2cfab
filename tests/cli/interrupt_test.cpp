// Ctrl-C in the command-line tool: the first one only asks the job to stop; a second one ends the
// process at once with the cancel status, after removing the job's temporary file. Runs the
// handler in a child process that waits forever, as a job blocked in a system call would.

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <string>
#include <thread>

#include "cli/terminal.h"
#include "platform/platform.h"

namespace fs = std::filesystem;

namespace {

constexpr int EXIT_CANCELLED = 7;

std::atomic<bool> cancelFlag{false};

// The child: takes over Ctrl-C, creates an unfinished file, reports 'r'; after the first
// interrupt reports 'c'; then waits until something ends it.
[[noreturn]] void child(const fs::path& file, int report) {
    terminalCancelOnInterrupt(&cancelFlag, EXIT_CANCELLED);
    PlatformFile handle;
    if (!platformCreateNew(nativePathFromUtf8(file.c_str()), handle)) ::_exit(90);
    if (::write(report, "r", 1) != 1) ::_exit(91);
    while (!cancelFlag.load()) ::usleep(1000);
    if (::write(report, "c", 1) != 1) ::_exit(92);
    for (;;) ::pause();
}

char readReport(int fd) {
    char c = 0;
    return ::read(fd, &c, 1) == 1 ? c : 0;
}

}  // namespace

TEST(Interrupt, SecondCtrlCEndsAtOnceAndRemovesTheTemporaryFile) {
    const fs::path dir = fs::temp_directory_path() / ("ferrolyn-interrupt-" + std::to_string(::getpid()));
    fs::remove_all(dir);
    fs::create_directories(dir);
    const fs::path file = dir / "target.bin.ferrolyn-0.tmp";
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        ::close(fds[0]);
        child(file, fds[1]);
    }
    ::close(fds[1]);
    ASSERT_EQ(readReport(fds[0]), 'r');
    EXPECT_TRUE(fs::exists(file));

    ASSERT_EQ(::kill(pid, SIGINT), 0);
    ASSERT_EQ(readReport(fds[0]), 'c') << "the first Ctrl-C must only ask to cancel";
    int status = 0;
    EXPECT_EQ(::waitpid(pid, &status, WNOHANG), 0) << "the first Ctrl-C ended the process";
    EXPECT_TRUE(fs::exists(file));

    ASSERT_EQ(::kill(pid, SIGINT), 0);
    // A guard against a child that never ends: it is killed after a minute and the test fails.
    pid_t ended = 0;
    for (int i = 0; i < 6000 && ended == 0; ++i) {
        ended = ::waitpid(pid, &status, WNOHANG);
        if (ended == 0) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (ended == 0) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, &status, 0);
        ADD_FAILURE() << "the second Ctrl-C did not end the process";
    } else {
        ASSERT_TRUE(WIFEXITED(status)) << status;
        EXPECT_EQ(WEXITSTATUS(status), EXIT_CANCELLED);
    }
    EXPECT_FALSE(fs::exists(file)) << "the temporary file was left behind";
    ::close(fds[0]);
    fs::remove_all(dir);
}
