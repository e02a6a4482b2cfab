#!/bin/bash
# The Windows console tool under Wine, on names in other scripts: default names both ways, an
# output folder, an existing target refused without --force, an input never overwritten even with
# it, several sources, and decryption to standard output.
# Usage: wine_cli_test.sh WINE FERROLYN_CLI_EXE
set -u
wine=$1
tool=$2
# Wine turns the arguments into UTF-16 by the locale's character set.
export LC_ALL=C.UTF-8
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1
export XDG_DATA_HOME="$work/data"

failures=0
fail() {
    echo "FAILED: $*"
    failures=$((failures + 1))
}
# tool ARGS...: runs the console tool, its standard error in err.txt; the status in $status.
tool() {
    "$wine" "$tool" "$@" 2>err.txt
    status=$?
}

name='Łódź 钥匙 ключ.txt'
head -c 300000 /dev/urandom | base64 >"$name"
cp "$name" original.txt

tool new-key-file 'nyckel ñ.key'
[ "$status" = 0 ] || fail "new-key-file: status $status, $(cat err.txt)"

tool encrypt "$name" --key-file 'nyckel ñ.key'
[ "$status" = 0 ] && [ -s "$name.encrypted" ] || fail "encrypt to the default name: status $status, $(cat err.txt)"
cp "$name.encrypted" container.bak

tool encrypt "$name" --key-file 'nyckel ñ.key'
[ "$status" = 2 ] || fail "an existing default target without --force: status $status"
grep -q -- '--force' err.txt || fail "the refusal names --force: $(cat err.txt)"
cmp -s "$name.encrypted" container.bak || fail "the refused target changed"

mkdir ut
tool decrypt "$name.encrypted" -o ut --key-file 'nyckel ñ.key'
[ "$status" = 0 ] && cmp -s "ut/$name" original.txt || fail "decrypt into a folder under the default name: status $status, $(cat err.txt)"

rm "$name"
tool decrypt "$name.encrypted" --key-file 'nyckel ñ.key'
[ "$status" = 0 ] && cmp -s "$name" original.txt || fail "decrypt to the default name: status $status, $(cat err.txt)"

"$wine" "$tool" decrypt "$name.encrypted" -o - --key-file 'nyckel ñ.key' 2>err.txt | cmp -s - original.txt
piped=("${PIPESTATUS[@]}")
[ "${piped[0]}" = 0 ] && [ "${piped[1]}" = 0 ] || fail "decrypt to standard output: ${piped[*]}, $(cat err.txt)"

cp 'nyckel ñ.key' key.bak
tool encrypt "$name" -o 'nyckel ñ.key' --force --key-file 'nyckel ñ.key'
[ "$status" = 2 ] && cmp -s 'nyckel ñ.key' key.bak || fail "the key file as the target, with --force: status $status"

cp original.txt 'andra σ.txt'
mkdir båda
tool encrypt "$name" 'andra σ.txt' -o båda --key-file 'nyckel ñ.key'
[ "$status" = 0 ] && [ -s "båda/$name.encrypted" ] && [ -s 'båda/andra σ.txt.encrypted' ] ||
    fail "two sources into a folder: status $status, $(cat err.txt)"
tool verify "båda/$name.encrypted" 'båda/andra σ.txt.encrypted' --key-file 'nyckel ñ.key'
[ "$status" = 0 ] || fail "verify two containers: status $status, $(cat err.txt)"

if [ "$failures" != 0 ]; then
    echo "$failures check(s) failed"
    exit 1
fi
echo "all checks passed"
