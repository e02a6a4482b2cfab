// Terminal services on POSIX and on the Windows console.

#include "cli/terminal.h"

#include <csignal>
#include <cstring>
#include <utility>

#if defined(_WIN32)
#include <io.h>
#include <windows.h>
#else
#include <errno.h>
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

namespace {

// Collects a line typed in pieces: the bytes before the line end, up to limit of them; more makes
// the line too long, but it is still read to its end so that nothing of it is left for the next
// prompt.
struct LineCollector {
    explicit LineCollector(uint32_t most) : limit(most), line(SecureBuffer::zeros(most)) {}
    // Takes count bytes; true once the line end has been seen.
    bool take(const uint8_t* bytes, uint32_t count) {
        for (uint32_t i = 0; i < count; ++i) {
            if (bytes[i] == '\n') return true;
            if (length < limit) line.data()[length] = bytes[i];
            if (length <= limit) ++length;
        }
        return false;
    }
    TerminalLine finish(SecureBuffer& out) {
        if (length > limit) return TERMINAL_LINE_TOO_LONG;
        while (length > 0 && line.data()[length - 1] == '\r') --length;
        line.resize(length);
        out = std::move(line);
        return TERMINAL_LINE_READ;
    }
    uint32_t limit;
    uint32_t length = 0;
    SecureBuffer line;
};

}  // namespace

TerminalLine terminalReadHidden(const char* prompt, uint32_t limit, SecureBuffer& out) {
    LineCollector collector(limit);
#if defined(_WIN32)
    HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    DWORD mode = 0;
    if (!GetConsoleMode(input, &mode)) return TERMINAL_NOT_A_TERMINAL;
    // Echo goes off before the prompt shows, so that nothing typed after it is echoed or lost.
    SetConsoleMode(input, mode & ~static_cast<DWORD>(ENABLE_ECHO_INPUT));
    std::fputs(prompt, stderr);
    wchar_t units[512];
    char bytes[3 * 512];
    bool ended = false;
    bool ok = true;
    DWORD carried = 0;  // a surrogate half kept from the previous read
    while (!ended && ok) {
        DWORD count = 0;
        ok = ReadConsoleW(input, units + carried, 512 - carried, &count, nullptr) && count > 0;
        if (!ok) break;
        count += carried;
        // A surrogate pair split between two reads is kept whole for the next conversion.
        DWORD whole = count;
        if (units[whole - 1] >= 0xD800 && units[whole - 1] <= 0xDBFF) --whole;
        const int converted = WideCharToMultiByte(CP_UTF8, 0, units, static_cast<int>(whole), bytes, sizeof bytes,
                                                  nullptr, nullptr);
        ended = collector.take(reinterpret_cast<const uint8_t*>(bytes), converted > 0 ? static_cast<uint32_t>(converted) : 0);
        carried = count - whole;
        if (carried != 0) units[0] = units[whole];
    }
    SetConsoleMode(input, mode);
    std::fputs("\n", stderr);
    secureWipe(units, sizeof units);
    secureWipe(bytes, sizeof bytes);
    if (!ok && collector.length == 0) return TERMINAL_NOT_A_TERMINAL;
    return collector.finish(out);
#else
    const int fd = STDIN_FILENO;
    struct termios saved;
    if (!::isatty(fd) || ::tcgetattr(fd, &saved) != 0) return TERMINAL_NOT_A_TERMINAL;
    struct termios silent = saved;
    silent.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    // Echo goes off before the prompt shows: TCSAFLUSH drops what was typed before the change, so
    // a line typed in answer to the prompt must come after it.
    ::tcsetattr(fd, TCSAFLUSH, &silent);
    std::fputs(prompt, stderr);
    std::fflush(stderr);
    uint8_t bytes[1024];
    bool ended = false;
    bool ok = true;
    while (!ended) {
        const ssize_t got = ::read(fd, bytes, sizeof bytes);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) {
            ok = got == 0 && collector.length > 0;  // the end of input closes a typed line
            break;
        }
        ended = collector.take(bytes, static_cast<uint32_t>(got));
    }
    ::tcsetattr(fd, TCSAFLUSH, &saved);
    std::fputs("\n", stderr);
    secureWipe(bytes, sizeof bytes);
    if (!ok) return TERMINAL_NOT_A_TERMINAL;
    return collector.finish(out);
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
