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

# The configurations are CMakePresets.json's: a preset NAME builds in build/NAME, and its cache
# variables are the only place the options of a build are written down.
build() {  # build PRESET [cmake --build options...]: configures build/PRESET afresh and builds it
    local preset=$1
    shift
    rm -rf "build/$preset"
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset" -j "$jobs" "$@"
}

# Wine's 32-bit side is a 32-bit Linux program; it starts where the kernel runs those, or through
# the user-mode emulator that tools/install-deps.sh registers where the kernel cannot.
wine_can_start() {
    [[ -x /usr/lib/wine/wineserver32 ]] && timeout 60 /usr/lib/wine/wineserver32 --version >/dev/null 2>&1
}

run_tests() {  # run_tests DIR [CTEST_ARGUMENTS...]
    local dir=$1
    shift
    (cd "$dir" && ctest --output-on-failure -j "$jobs" "$@")
}

echo "== native build and tests"
build native
run_tests build/native

echo "== core tests under AddressSanitizer and UndefinedBehaviorSanitizer"
build asan
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 run_tests build/asan

echo "== the portable code on this CPU: the same native tests with the fast paths switched off"
# The Debian package test packages and runs the same binary again; it gains nothing here.
FERROLYN_PORTABLE=1 run_tests build/native -E '^debian_package$'

echo "== the generator and the parallel pipeline under ThreadSanitizer"
build tsan --target random_tests container_tests
TSAN_OPTIONS=halt_on_error=1 build/tsan/tests/random_tests --gtest_filter='RandomGenerator.*'
TSAN_OPTIONS=halt_on_error=1 build/tsan/tests/container_tests \
    --gtest_filter='ParallelPipeline.*:PipelineCancel.*:PipelineErrors.*:FaultInjection.*:ForgedTableSize.*:DamagedMultiChunkContainer.*:ReorderedChunks.*:SealInPlace.*:OpenInPlace.*-ParallelPipeline.SameContainerAndPlaintextAsOneWorker'

echo "== fuzz targets, a short smoke run each (tools/fuzz.sh SECONDS for a long one)"
tools/fuzz.sh --smoke

echo "== Windows build: Ferrolyn.exe and ferrolyn-cli.exe, core tests under Wine, GUI tests under Wine in Xvfb"
build win32
if wine_can_start; then
    run_tests build/win32
    echo "screenshots of every dialog: build/win32/gui/screenshots"
    # Wine hands the environment on to the Windows programs, so the core tests run a second time
    # on the portable code there too; not the GUI tests, nor the import and layer checks, which
    # run none of our code.
    echo "== the Windows core tests again with the fast paths switched off"
    (cd build/win32 && FERROLYN_PORTABLE=1 ctest --output-on-failure -j "$jobs" \
        -E '^(gui_tests|ferrolyn_exe_imports|include_layers)$')
else
    # Wine's 32-bit side is a 32-bit Linux program: a kernel without 32-bit support cannot start
    # it. The Windows programs are still built (warnings as errors) and checked for their imports.
    echo "!! this kernel cannot run 32-bit programs, so Wine cannot start here: the Windows tests under"
    echo "!! Wine are NOT run; the Windows programs are built and their imports checked"
    (cd build/win32 && ctest --output-on-failure -R 'ferrolyn_exe_imports|include_layers')
fi

echo "== all tests passed"
