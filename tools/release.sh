#!/usr/bin/env bash
# Builds every release artifact of the committed tree into dist/: the Windows zip and installer
# (tools/package-windows.sh), the Debian package of the command-line tool (tools/package-debian.sh)
# and SHA256SUMS over them. The tree is built from a clean copy of the commit, so nothing
# uncommitted goes in, and every time an artifact holds is the commit's (SOURCE_DATE_EPOCH).
#   tools/release.sh [DIST_DIR]        build into DIST_DIR (default dist/)
#   tools/release.sh --check           build twice, in two temporary folders one after the other,
#                                      and compare the artifacts byte for byte; exit 1 if any differs
# Needs what tools/install-deps.sh installs. Takes a few minutes per build.
set -euo pipefail

top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
check=
if [[ ${1:-} == --check ]]; then
    check=1
    shift
fi
commit=$(git -C "$top" rev-parse --verify HEAD^{commit})
SOURCE_DATE_EPOCH=$(git -C "$top" log -1 --format=%ct "$commit")
export SOURCE_DATE_EPOCH
jobs=$(nproc)

# build_release WORK DIST: the commit copied to WORK/source, built in WORK/source/build, packaged
# into DIST.
build_release() {
    local source=$1/source dist=$2
    mkdir -p "$source" "$dist"
    git -C "$top" archive "$commit" | tar -x -C "$source"
    cmake -S "$source" -B "$source/build/win32" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$source/cmake/mingw-i686.cmake" \
          -DCMAKE_BUILD_TYPE=RelWithDebInfo -DFERROLYN_BENCH=OFF -DFERROLYN_TESTS=OFF -DFERROLYN_WERROR=ON >/dev/null
    cmake --build "$source/build/win32" --target Ferrolyn ferrolyn -j "$jobs" >/dev/null
    cmake -S "$source" -B "$source/build/native" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
          -DFERROLYN_BENCH=OFF -DFERROLYN_TESTS=OFF -DFERROLYN_WERROR=ON >/dev/null
    cmake --build "$source/build/native" --target ferrolyn -j "$jobs" >/dev/null
    local version
    version=$(sed -n 's/^#define FERROLYN_VERSION "\(.*\)"$/\1/p' "$source/build/native/generated/base/version.h")
    [[ -n $version ]] || { echo "release: no version in the build" >&2; exit 1; }
    "$source/tools/package-debian.sh" "$source/build/native/ferrolyn" "$version" "$dist" >/dev/null
    "$source/tools/package-windows.sh" "$source/build/win32" "$dist" >/dev/null
    (cd "$dist" && find . -maxdepth 1 -type f ! -name SHA256SUMS -printf '%f\n' | LC_ALL=C sort |
        xargs sha256sum > SHA256SUMS)
}

if [[ -z $check ]]; then
    dist=$(realpath -m "${1:-$top/dist}")
    work=$(mktemp -d)
    trap 'rm -rf "$work"' EXIT
    rm -rf "$dist"
    build_release "$work" "$dist"
    echo "artifacts of $(git -C "$top" rev-parse --short "$commit") in $dist:"
    (cd "$dist" && ls -l --time-style=+ | tail -n +2 && cat SHA256SUMS)
    exit 0
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
echo "first build, in $work/one:"
build_release "$work/one" "$work/one/dist"
cat "$work/one/dist/SHA256SUMS"
echo "second build, in $work/second-copy:"
build_release "$work/second-copy" "$work/second-copy/dist"
cat "$work/second-copy/dist/SHA256SUMS"
if cmp -s "$work/one/dist/SHA256SUMS" "$work/second-copy/dist/SHA256SUMS"; then
    echo "reproducible: both builds of $(git -C "$top" rev-parse --short "$commit") give the same bytes"
else
    echo "NOT reproducible:"
    diff "$work/one/dist/SHA256SUMS" "$work/second-copy/dist/SHA256SUMS" || true
    exit 1
fi
