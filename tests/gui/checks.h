// The GUI driver's checks: each prints what failed under the scenario's name and is counted, so
// that a run ends with "N passed, N failed".
#pragma once

#include <cstdio>
#include <string>

#include "tests/gui/gui_support.h"

namespace gui {

struct Results {
    int passed = 0;
    int failed = 0;
    std::string scenario;
};
inline Results results;

inline void check(bool ok, const std::string& what) {
    if (ok) {
        ++results.passed;
    } else {
        ++results.failed;
        std::printf("FAIL [%s] %s\n", results.scenario.c_str(), what.c_str());
        std::fflush(stdout);
    }
}

inline void checkText(const std::wstring& actual, const std::wstring& expected, const std::string& what) {
    check(actual == expected, what + ": got \"" + narrow(actual) + "\", expected \"" + narrow(expected) + "\"");
}

}  // namespace gui
