#!/usr/bin/env bash
# Builds everything from scratch and runs every test: the native build, then the core tests again
# under AddressSanitizer with UndefinedBehaviorSanitizer and under ThreadSanitizer, then the Windows
# build with its tests under Wine (the desktop program in Xvfb). Installs what it
# needs with apt-get (as root) when it is missing. Exits non-zero on the first failure.
set -euo pipefail

top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$top"
jobs=$(nproc 2>/dev/null || echo 2)

"$top/tools/install-deps.sh"

build() {  # build DIR [cmake options...]
    local dir=$1
    shift
    rm -rf "$dir"
    cmake -S "$top" -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
    cmake --build "$dir" -j "$jobs"
}

run_tests() {  # run_tests DIR
    (cd "$1" && ctest --output-on-failure -j "$jobs")
}

echo "== native build and tests"
build build/native -DFERROLYN_WERROR=ON
run_tests build/native

echo "== core tests under AddressSanitizer and UndefinedBehaviorSanitizer"
build build/asan -DFERROLYN_SANITIZE=ON -DFERROLYN_BENCH=OFF
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 run_tests build/asan

echo "== the generator shared by two threads, under ThreadSanitizer"
rm -rf build/tsan
cmake -S "$top" -B build/tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DFERROLYN_TSAN=ON -DFERROLYN_BENCH=OFF >/dev/null
cmake --build build/tsan -j "$jobs" --target random_tests
TSAN_OPTIONS=halt_on_error=1 build/tsan/tests/random_tests --gtest_filter='RandomGenerator.*'

echo "== Windows build: Ferrolyn.exe, core tests under Wine, GUI tests under Wine in Xvfb"
build build/win32 -DCMAKE_TOOLCHAIN_FILE="$top/cmake/mingw-i686.cmake" -DFERROLYN_BENCH=OFF -DFERROLYN_WERROR=ON
run_tests build/win32
echo "screenshots of every dialog: build/win32/gui/screenshots"

echo "== all tests passed"
