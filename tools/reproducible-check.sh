#!/usr/bin/env bash
# Builds the committed tree twice, from two copies in different folders one after the other, and
# compares the programs byte for byte: Ferrolyn.exe and ferrolyn-cli.exe (MinGW) and the native
# ferrolyn. Prints the SHA-256 of each build and exits 1 if any program differs.
#   tools/reproducible-check.sh [COMMIT]     (default HEAD; takes a few minutes)
set -euo pipefail

top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
commit=$(git -C "$top" rev-parse --verify "${1:-HEAD}^{commit}")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# Any time an artifact takes comes from the commit, not from the clock.
SOURCE_DATE_EPOCH=$(git -C "$top" log -1 --format=%ct "$commit")
export SOURCE_DATE_EPOCH

build() {
    local source=$1
    mkdir -p "$source"
    git -C "$top" archive "$commit" | tar -x -C "$source"
    cmake -S "$source" -B "$source/build/win32" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$source/cmake/mingw-i686.cmake" \
          -DCMAKE_BUILD_TYPE=RelWithDebInfo -DFERROLYN_BENCH=OFF -DFERROLYN_TESTS=OFF >/dev/null
    cmake --build "$source/build/win32" --target Ferrolyn ferrolyn -j2 >/dev/null
    cmake -S "$source" -B "$source/build/native" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
          -DFERROLYN_BENCH=OFF -DFERROLYN_TESTS=OFF >/dev/null
    cmake --build "$source/build/native" --target ferrolyn -j2 >/dev/null
    (cd "$source/build" && sha256sum win32/desktop/Ferrolyn.exe win32/ferrolyn-cli.exe native/ferrolyn)
}

echo "first build, in $work/one:"
build "$work/one" | tee "$work/one.sums"
echo "second build, in $work/second-copy:"
build "$work/second-copy" | tee "$work/two.sums"
if cmp -s "$work/one.sums" "$work/two.sums"; then
    echo "reproducible: both builds of $(git -C "$top" rev-parse --short "$commit") give the same bytes"
else
    echo "NOT reproducible:"
    diff "$work/one.sums" "$work/two.sums" || true
    exit 1
fi
