#!/usr/bin/env bash
# The Windows console tool under Wine next to the native tool, in rounds that run each case once
# (so that every case meets the same load): AES encryption of one random file, no compression, with
# a key file, as whole-process MB/s; and the Windows tool on a 4 KiB file, the fixed cost of
# starting Wine, which the net figure (the big file's time less that cost) leaves out. Medians.
#   bench/wine_vs_native.sh NATIVE_TOOL WINDOWS_TOOL.exe WINE_PREFIX
# Environment: WINE_BENCH_SIZE_MIB (64), WINE_BENCH_RUNS (3).
set -euo pipefail

top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
native=$(realpath "$1")
windows=$(realpath "$2")
prefix=$(realpath -m "$3")
size_mib=${WINE_BENCH_SIZE_MIB:-64}
runs=${WINE_BENCH_RUNS:-3}

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export XDG_DATA_HOME="$work/data"
mkdir -p "$XDG_DATA_HOME"
bytes=$((size_mib << 20))
head -c "$bytes" /dev/urandom > "$work/big.bin"
head -c 4096 /dev/urandom > "$work/small.bin"
"$native" new-key-file "$work/k.key" >/dev/null

# Wine's drive Z: is the Linux root.
winpath() { printf 'Z:%s' "${1//\//\\}"; }

elapsed_us() {  # elapsed_us COMMAND...: runs it, prints its wall time in microseconds
    local start end
    start=$(date +%s%N)
    "$@" >/dev/null 2>"$work/stderr" || { echo "failed: $*" >&2; cat "$work/stderr" >&2; exit 1; }
    end=$(date +%s%N)
    echo $(((end - start) / 1000))
}

median() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

wine_encrypt() {  # wine_encrypt SOURCE TARGET
    "$top/tools/wine-run.sh" "$prefix" "$windows" encrypt "$(winpath "$1")" -o "$(winpath "$2")" --force \
        --key-file "$(winpath "$work/k.key")" --cipher aes --no-compress
}

: > "$work/native"
: > "$work/wine"
: > "$work/fixed"
for ((i = 0; i < runs; i++)); do
    elapsed_us "$native" encrypt "$work/big.bin" -o "$work/n.enc" --force --key-file "$work/k.key" --cipher aes \
        --no-compress >> "$work/native"
    elapsed_us wine_encrypt "$work/big.bin" "$work/w.enc" >> "$work/wine"
    elapsed_us wine_encrypt "$work/small.bin" "$work/s.enc" >> "$work/fixed"
done
"$native" decrypt "$work/w.enc" -o "$work/w.out" --force --key-file "$work/k.key" >/dev/null
cmp -s "$work/big.bin" "$work/w.out" || { echo "the Windows tool's container does not decrypt" >&2; exit 1; }

native_us=$(median < "$work/native")
wine_us=$(median < "$work/wine")
fixed_us=$(median < "$work/fixed")
echo "AES encryption of $size_mib MiB, no compression, key file; medians of $runs rounds"
awk -v b="$bytes" -v n="$native_us" -v w="$wine_us" -v f="$fixed_us" 'BEGIN {
    net = w > f ? w - f : 0
    printf "%-40s %9.1f MB/s\n", "native tool", b / n
    printf "%-40s %9.1f MB/s   (%.3f x native)\n", "Windows tool under Wine, whole process", b / w, n / w
    printf "%-40s %9.2f s\n", "Windows tool under Wine, 4 KiB file", f / 1e6
    if (net > 0) printf "%-40s %9.1f MB/s   (%.3f x native)\n", "Windows tool under Wine, less that", b / net, n / net
}'
