// The command-line tool: parsing the command line and running its commands over the core.
#pragma once

// Exit statuses. The four job results keep their order: read, write, encryption, wrong key.
constexpr int EXIT_OK = 0;
constexpr int EXIT_USAGE = 2;
constexpr int EXIT_READ_ERROR = 3;
constexpr int EXIT_WRITE_ERROR = 4;
constexpr int EXIT_CRYPTO_ERROR = 5;
constexpr int EXIT_WRONG_KEY = 6;
constexpr int EXIT_CANCELLED = 7;

// Runs the tool on arguments given as UTF-8 (args[0] is the program name) and returns the exit
// status.
int cliRun(int argc, const char* const* args);
