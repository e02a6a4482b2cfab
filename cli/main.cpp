// Entry point of the ferrolyn command-line tool.

#include "cli/commands.h"

#if defined(_WIN32)
#include <windows.h>

#include <string>
#include <vector>

// The console hands arguments over in the ANSI code page; take them as UTF-16 and pass UTF-8 on.
int main() {
    int count = 0;
    wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
    const size_t argumentCount = count > 0 ? static_cast<size_t>(count) : 0;
    std::vector<std::string> utf8(argumentCount);
    std::vector<const char*> args;
    for (size_t i = 0; i < argumentCount; ++i) {
        int bytes = WideCharToMultiByte(CP_UTF8, 0, wide[i], -1, nullptr, 0, nullptr, nullptr);
        utf8[i].resize(bytes > 0 ? static_cast<size_t>(bytes) : 1);
        WideCharToMultiByte(CP_UTF8, 0, wide[i], -1, utf8[i].data(), bytes, nullptr, nullptr);
        args.push_back(utf8[i].c_str());
    }
    LocalFree(wide);
    return cliRun(count, args.data());
}
#else
int main(int argc, char** argv) { return cliRun(argc, argv); }
#endif
