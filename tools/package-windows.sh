#!/usr/bin/env bash
# Builds the Windows packages from a Windows build tree:
#   tools/package-windows.sh WIN32_BUILD_DIR OUT_DIR
# writes OUT_DIR/Ferrolyn-VERSION-win32.zip (a folder Ferrolyn-VERSION with both programs and the
# Swedish guide LÄSMIG.txt) and OUT_DIR/Ferrolyn-VERSION-setup.exe (the NSIS installer of
# tools/package/windows/ferrolyn.nsi). VERSION is the build's, from project().
#
# The same build gives the same bytes: every time in the packages is SOURCE_DATE_EPOCH (default:
# the time of the source tree's last commit), files go in a fixed order with fixed permissions,
# and the zip holds no owner, group or extra time stamps.
# Needs python3 and makensis (Debian's nsis).
set -euo pipefail

top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=$(realpath "${1:?usage: package-windows.sh WIN32_BUILD_DIR OUT_DIR}")
out=${2:?usage: package-windows.sh WIN32_BUILD_DIR OUT_DIR}
windows=$top/tools/package/windows

fail() { echo "package-windows: $*" >&2; exit 1; }

version_header=$build/generated/base/version.h
[[ -f $version_header ]] || fail "no $version_header: configure and build the Windows build first"
version=$(sed -n 's/^#define FERROLYN_VERSION "\([^"]*\)"$/\1/p' "$version_header")
[[ $version =~ ^[0-9]+(\.[0-9]+){0,3}$ ]] || fail "unexpected version \"$version\" in $version_header"
# The installer's version resource takes four numbers.
vi_version=$version
while [[ $(tr -cd . <<<"$vi_version" | wc -c) -lt 3 ]]; do vi_version+=.0; done

desktop=$build/desktop/Ferrolyn.exe
cli=$build/ferrolyn-cli.exe
for program in "$desktop" "$cli"; do
    [[ -f $program ]] || fail "no $program: build the targets Ferrolyn and ferrolyn first"
done

# The commit's time; in a copy of the tree without git (as git archive makes it), the time its files
# carry, which git archive sets to the commit's.
if [[ -z ${SOURCE_DATE_EPOCH:-} ]]; then
    SOURCE_DATE_EPOCH=$(git -C "$top" log -1 --format=%ct 2>/dev/null) ||
        SOURCE_DATE_EPOCH=$(stat -c %Y "$top/CMakeLists.txt")
fi
[[ $SOURCE_DATE_EPOCH =~ ^[0-9]+$ ]] || fail "SOURCE_DATE_EPOCH is not a number of seconds"
export SOURCE_DATE_EPOCH
# Every time in the packages is in UTC.
export TZ=UTC
export LC_ALL=C.UTF-8

for tool in python3 makensis; do
    command -v "$tool" >/dev/null || fail "$tool is missing (tools/install-deps.sh installs it)"
done

mkdir -p "$out"
out=$(realpath "$out")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

name=Ferrolyn-$version
zip_file=$out/$name-win32.zip
setup_file=$out/$name-setup.exe
stage=$work/$name
mkdir "$stage"
cp "$desktop" "$stage/Ferrolyn.exe"
cp "$cli" "$stage/ferrolyn-cli.exe"
# The guide as Notepad opens it on every Windows version: UTF-8 with a byte-order mark (without
# one, Notepad before Windows 10 reads it as Windows-1252) and CRLF line ends (older Notepads
# show LF-only text as one line).
guide=$stage/LÄSMIG.txt
{
    printf '\xef\xbb\xbf'
    sed -e "s/@VERSION@/$version/g" -e 's/$/\r/' "$windows/guide-sv.txt"
} >"$guide"

# The zip is written by Python's zipfile rather than Info-ZIP's zip, whose Debian build does not
# set the UTF-8 flag on names: Windows would show "LÄSMIG.txt" as its bytes in code page 437. One
# entry per file in a fixed order, the epoch as each entry's time, fixed permissions, and no
# extra fields (owner, group, Unix times).
rm -f "$zip_file"
python3 - "$work" "$zip_file" "$SOURCE_DATE_EPOCH" "$name/" "$name/Ferrolyn.exe" "$name/ferrolyn-cli.exe" \
    "$name/LÄSMIG.txt" <<'PYTHON'
import os, sys, time, zipfile
root, target, epoch, *entries = sys.argv[1:]
# Zip times are local times in two-second steps, here the epoch in UTC.
stamp = time.gmtime(int(epoch))[:6]
if stamp[0] < 1980:
    stamp = (1980, 1, 1, 0, 0, 0)
with zipfile.ZipFile(target, "w") as archive:
    for entry in entries:
        info = zipfile.ZipInfo(entry, stamp)
        info.create_system = 3  # Unix, so that the permissions below are read
        if entry.endswith("/"):
            info.external_attr = (0o40755 << 16) | 0x10
            archive.writestr(info, b"")
        else:
            info.external_attr = 0o100644 << 16
            info.compress_type = zipfile.ZIP_DEFLATED
            with open(os.path.join(root, entry), "rb") as source:
                archive.writestr(info, source.read(), compresslevel=9)
PYTHON
touch -d "@$SOURCE_DATE_EPOCH" "$zip_file"

rm -f "$setup_file"
makensis -V2 -NOCD -INPUTCHARSET UTF8 \
    "-DVERSION=$version" "-DVIVERSION=$vi_version" "-DSTAGE=$stage" \
    "-DICON=$top/resources/ferrolyn.ico" "-DOUTFILE=$setup_file" \
    "$windows/ferrolyn.nsi"
touch -d "@$SOURCE_DATE_EPOCH" "$setup_file"

echo "$zip_file"
echo "$setup_file"
