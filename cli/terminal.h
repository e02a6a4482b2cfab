// The few terminal services the command-line tool needs: whether a stream is a terminal, reading
// a line without echo, and turning Ctrl-C into a cancel request.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstdio>

#include "base/secure_buffer.h"

bool terminalIsTerminal(std::FILE* stream);

enum TerminalLine : uint8_t { TERMINAL_LINE_READ, TERMINAL_LINE_TOO_LONG, TERMINAL_NOT_A_TERMINAL };

// Shows prompt on standard error and reads one line from the terminal with echo off, into wiped
// memory only (no stdio buffer). The line, without its line end, goes to out as UTF-8 bytes (no
// NUL). A line longer than limit bytes is read to its end and refused (TERMINAL_LINE_TOO_LONG,
// out untouched), never cut.
[[nodiscard]] TerminalLine terminalReadHidden(const char* prompt, uint32_t limit, SecureBuffer& out);

// From now on Ctrl-C (and on POSIX a termination request) sets flag instead of ending the
// process. A second one ends the process at once with exitStatus, after removing the unfinished
// files of the platform layer (a job's temporary target). The flag must live as long as the
// process.
void terminalCancelOnInterrupt(std::atomic<bool>* flag, int exitStatus);
