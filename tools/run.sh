#!/usr/bin/env bash
# Builds Ferrolyn.exe and starts it under Wine on the current display. Without a display it
# builds the command-line tool instead and says how to use it. Installs what it needs with
# apt-get (as root) when it is missing.
set -euo pipefail

top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$top"
"$top/tools/install-deps.sh"

if [[ -z "${DISPLAY:-}" ]]; then
    cmake -S "$top" -B build/native -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
    cmake --build build/native -j 2 --target ferrolyn
    echo "No display: Ferrolyn.exe needs one (X11, or Xvfb). The command-line tool is built:"
    echo "  build/native/ferrolyn new-key-file my.key"
    echo "  build/native/ferrolyn encrypt FILE --key-file my.key"
    echo "  build/native/ferrolyn decrypt FILE.encrypted -o FILE --key-file my.key"
    echo "See README.md for every command."
    exit 0
fi

if [[ ! -f build/win32/CMakeCache.txt ]]; then
    cmake -S "$top" -B build/win32 -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DCMAKE_TOOLCHAIN_FILE="$top/cmake/mingw-i686.cmake" -DFERROLYN_BENCH=OFF >/dev/null
fi
cmake --build build/win32 -j 2 --target Ferrolyn
# The prefix lives outside build/win32, which the test command rebuilds from scratch: it holds
# the program's working folder with its seed file and settings.
exec "$top/tools/wine-run.sh" "$top/build/wine-desktop" "$top/build/win32/desktop/Ferrolyn.exe"
