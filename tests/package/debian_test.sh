#!/usr/bin/env bash
# The Debian package of the command-line tool: its control fields and contents, lintian without
# errors, and, as root, installed, run (version, man page, bash completion) and removed again.
# Usage: debian_test.sh FERROLYN_BINARY VERSION
set -uo pipefail

top=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
binary=$1
version=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() {
    echo "FAILED: $*"
    failures=$((failures + 1))
}

deb=$("$top/tools/package-debian.sh" "$binary" "$version" "$work/out") || { echo "FAILED: packaging"; exit 1; }
architecture=$(dpkg --print-architecture)
[[ $(basename "$deb") == "ferrolyn_${version}_${architecture}.deb" ]] || fail "package name $(basename "$deb")"

field() { dpkg-deb -f "$deb" "$1"; }
[[ $(field Package) == ferrolyn ]] || fail "Package: $(field Package)"
[[ $(field Version) == "$version" ]] || fail "Version: $(field Version), not $version"
[[ $(field Architecture) == "$architecture" ]] || fail "Architecture: $(field Architecture)"
[[ $(field Depends) == *libc6* ]] || fail "Depends names no C library: $(field Depends)"
[[ $(field Installed-Size) -gt 0 ]] || fail "Installed-Size: $(field Installed-Size)"

contents=$(dpkg-deb -c "$deb")
for file in ./usr/bin/ferrolyn ./usr/share/man/man1/ferrolyn.1.gz ./usr/share/bash-completion/completions/ferrolyn \
    ./usr/share/doc/ferrolyn/copyright ./usr/share/doc/ferrolyn/changelog.gz; do
    grep -q " $file\$" <<<"$contents" || fail "the package lacks $file"
done
grep -v ' root/root ' <<<"$contents" && fail "files not owned by root"

if command -v lintian >/dev/null; then
    lintian --fail-on error --no-tag-display-limit "$deb" > "$work/lintian.txt" 2>&1 || fail "lintian found errors"
    cat "$work/lintian.txt"
else
    fail "lintian is not installed (tools/install-deps.sh installs it)"
fi

# The installed tool prints the version of the build and names its engines, its man page is found,
# and bash completes its commands and options.
check_installed() {  # check_installed PREFIX
    local shown
    shown=$("$1/usr/bin/ferrolyn" --version) || fail "the installed tool does not run"
    [[ ${shown%%$'\n'*} == "ferrolyn $version" ]] ||
        fail "installed --version: '${shown%%$'\n'*}', not 'ferrolyn $version'"
    [[ $shown == *$'\n''Motorer: AES-256 '* ]] || fail "installed --version names no engines: '$shown'"
    MANWIDTH=80 man -l "$1/usr/share/man/man1/ferrolyn.1.gz" 2>&1 | grep -q -- "-o -" ||
        fail "the man page does not render or does not describe -o -"
    local completed
    completed=$(bash -c "_filedir() { :; }; source '$1/usr/share/bash-completion/completions/ferrolyn'
        COMP_WORDS=(ferrolyn enc); COMP_CWORD=1; _ferrolyn; echo \"\${COMPREPLY[*]}\"
        COMP_WORDS=(ferrolyn decrypt --f); COMP_CWORD=2; _ferrolyn; echo \"\${COMPREPLY[*]}\"
        COMP_WORDS=(ferrolyn encrypt a --cipher s); COMP_CWORD=4; _ferrolyn; echo \"\${COMPREPLY[*]}\"")
    [[ $completed == $'encrypt\n--force\nserpent' ]] || fail "bash completion gave: $completed"
}

if [[ $(id -u) -eq 0 ]] && command -v dpkg >/dev/null; then
    dpkg -i "$deb" > "$work/install.log" 2>&1 || { cat "$work/install.log"; fail "dpkg -i"; }
    check_installed ""
    [[ $(command -v ferrolyn) == /usr/bin/ferrolyn ]] || fail "ferrolyn is not on the PATH once installed"
    dpkg -r ferrolyn > "$work/remove.log" 2>&1 || { cat "$work/remove.log"; fail "dpkg -r"; }
    [[ ! -e /usr/bin/ferrolyn && ! -e /usr/share/man/man1/ferrolyn.1.gz ]] || fail "files left after dpkg -r"
else
    # Not root: the package's files are checked where dpkg-deb unpacks them.
    dpkg-deb -x "$deb" "$work/unpacked"
    check_installed "$work/unpacked"
fi

if [[ $failures != 0 ]]; then
    echo "$failures check(s) failed"
    exit 1
fi
echo "all checks passed"
