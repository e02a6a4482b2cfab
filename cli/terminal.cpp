// Terminal services on POSIX and on the Windows console.

#include "cli/terminal.h"

#include <csignal>
#include <cstring>

#if defined(_WIN32)
#include <io.h>
#include <windows.h>
#else
#include <termios.h>
#include <unistd.h>
#endif

#include "platform/platform.h"

namespace {

std::atomic<bool>* interruptFlag = nullptr;
// Interrupts seen since the flag was handed over; the second one ends the process.
std::atomic<int> interruptCount{0};
int interruptExitStatus = 1;
static_assert(std::atomic<int>::is_always_lock_free, "the signal handler counts with a lock-free atomic");

#if defined(_WIN32)
BOOL WINAPI onConsoleControl(DWORD type) {
    if ((type == CTRL_C_EVENT || type == CTRL_BREAK_EVENT) && interruptFlag != nullptr) {
        interruptFlag->store(true);
        if (interruptCount.fetch_add(1) >= 1) {
            platformRemoveUnfinishedFiles();
            ExitProcess(static_cast<UINT>(interruptExitStatus));
        }
        return TRUE;
    }
    return FALSE;
}
#else
// Only async-signal-safe work: atomics, unlink (inside platformRemoveUnfinishedFiles), write and
// _exit.
void onSignal(int) {
    if (interruptFlag == nullptr) return;
    interruptFlag->store(true);
    if (interruptCount.fetch_add(1) >= 1) {
        platformRemoveUnfinishedFiles();
        static const char newline = '\n';
        (void)!::write(STDERR_FILENO, &newline, 1);
        ::_exit(interruptExitStatus);
    }
}
#endif

}  // namespace

bool terminalIsTerminal(std::FILE* stream) {
#if defined(_WIN32)
    return _isatty(_fileno(stream)) != 0;
#else
    return ::isatty(::fileno(stream)) != 0;
#endif
}

bool terminalReadHidden(const char* prompt, SecureBuffer& out) {
#if defined(_WIN32)
    HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    DWORD mode = 0;
    if (!GetConsoleMode(input, &mode)) return false;
    std::fputs(prompt, stderr);
    SetConsoleMode(input, mode & ~static_cast<DWORD>(ENABLE_ECHO_INPUT));
    wchar_t units[1024];
    DWORD count = 0;
    const BOOL ok = ReadConsoleW(input, units, 1023, &count, nullptr);
    SetConsoleMode(input, mode);
    std::fputs("\n", stderr);
    if (!ok) return false;
    while (count > 0 && (units[count - 1] == L'\n' || units[count - 1] == L'\r')) --count;
    int bytes = WideCharToMultiByte(CP_UTF8, 0, units, static_cast<int>(count), nullptr, 0, nullptr, nullptr);
    SecureBuffer line = SecureBuffer::zeros(static_cast<uint32_t>(bytes));
    if (bytes > 0) {
        WideCharToMultiByte(CP_UTF8, 0, units, static_cast<int>(count), reinterpret_cast<char*>(line.data()), bytes,
                            nullptr, nullptr);
    }
    secureWipe(units, sizeof units);
    out = std::move(line);
    return true;
#else
    const int fd = ::fileno(stdin);
    struct termios saved;
    if (!::isatty(fd) || ::tcgetattr(fd, &saved) != 0) return false;
    struct termios silent = saved;
    silent.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    std::fputs(prompt, stderr);
    std::fflush(stderr);
    ::tcsetattr(fd, TCSAFLUSH, &silent);
    char chars[1024];
    const bool ok = std::fgets(chars, sizeof chars, stdin) != nullptr;
    ::tcsetattr(fd, TCSAFLUSH, &saved);
    std::fputs("\n", stderr);
    size_t length = ok ? std::strlen(chars) : 0;
    while (length > 0 && (chars[length - 1] == '\n' || chars[length - 1] == '\r')) --length;
    if (ok) out.assign(reinterpret_cast<const uint8_t*>(chars), static_cast<uint32_t>(length));
    secureWipe(chars, sizeof chars);
    return ok;
#endif
}

void terminalCancelOnInterrupt(std::atomic<bool>* flag, int exitStatus) {
    interruptExitStatus = exitStatus;
    interruptCount.store(0);
    interruptFlag = flag;
#if defined(_WIN32)
    SetConsoleCtrlHandler(onConsoleControl, TRUE);
#else
    struct sigaction action;
    std::memset(&action, 0, sizeof action);
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGTERM, &action, nullptr);
#endif
}
