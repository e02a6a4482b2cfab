#!/usr/bin/env bash
# End-to-end throughput of the ferrolyn tool on a large file: encryption and decryption with each
# cipher, with and without compression, in MB/s with the peak resident memory of each run, next to
# OpenSSL's AES-256-CBC encryption plus an HMAC-SHA256 pass over the same file.
#   bench/whole_file.sh [SIZE_MIB]        default 256
#   bench/whole_file.sh --large           also a 5 GiB sparse file, once, without compression
set -euo pipefail

top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
tool="$top/build/bench/ferrolyn"
if [[ ! -x "$tool" ]]; then
    cmake -S "$top" -B "$top/build/bench" -DCMAKE_BUILD_TYPE=Release -DFERROLYN_TESTS=OFF >/dev/null
    cmake --build "$top/build/bench" -j "$(nproc)" --target ferrolyn >/dev/null
fi
command -v /usr/bin/time >/dev/null || apt-get install -y -qq time >/dev/null

large=0
size_mib=256
for arg in "$@"; do
    case "$arg" in
        --large) large=1 ;;
        *) size_mib=$arg ;;
    esac
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export XDG_DATA_HOME="$work/data"
mkdir -p "$XDG_DATA_HOME"
"$tool" new-key-file "$work/k.key" >/dev/null

# Random bytes for the plain runs; text for the compressed ones, where the codec has work to do.
head -c "$((size_mib << 20))" /dev/urandom > "$work/random.bin"
yes "Ferrolyn krypterar en fil i taget i block om två megabyte, med nyckelfil eller lösenfras." |
    head -c "$((size_mib << 20))" > "$work/text.bin" || true  # yes ends on a closed pipe

measure() {  # measure LABEL BYTES COMMAND...
    local label=$1 bytes=$2
    shift 2
    local log="$work/time.log"
    /usr/bin/time -v "$@" 2> "$log" >/dev/null
    local seconds rss
    seconds=$(awk -F': ' '/Elapsed \(wall clock\)/ {n = split($2, p, ":"); s = 0; for (i = 1; i <= n; i++) s = s * 60 + p[i]; print s}' "$log")
    rss=$(awk -F': ' '/Maximum resident set size/ {print $2}' "$log")
    awk -v l="$label" -v b="$bytes" -v s="$seconds" -v r="$rss" \
        'BEGIN { printf "%-44s %8.1f MB/s   peak %6.1f MiB\n", l, b / 1e6 / s, r / 1024 }'
}

bytes=$((size_mib << 20))
echo "file size: $size_mib MiB"
for cipher in aes serpent; do
    for mode in no-compress compress; do
        source="$work/random.bin"
        [[ $mode == compress ]] && source="$work/text.bin"
        measure "encrypt $cipher --$mode" "$bytes" "$tool" encrypt "$source" -o "$work/c.enc" --force --key-file "$work/k.key" --cipher "$cipher" "--$mode"
        measure "decrypt $cipher --$mode" "$bytes" "$tool" decrypt "$work/c.enc" -o "$work/back.bin" --force --key-file "$work/k.key"
        cmp -s "$source" "$work/back.bin" || { echo "round trip differs"; exit 1; }
    done
done
measure "openssl enc -aes-256-cbc" "$bytes" openssl enc -aes-256-cbc -K "$(printf '%064d' 0)" -iv "$(printf '%032d' 0)" -in "$work/random.bin" -out "$work/o.enc"
measure "openssl dgst -sha256 -hmac" "$bytes" openssl dgst -sha256 -hmac k "$work/o.enc"

if ((large)); then
    rm -f "$work/random.bin" "$work/text.bin" "$work/c.enc" "$work/back.bin" "$work/o.enc"
    truncate -s 5G "$work/large.bin"
    measure "encrypt aes 5 GiB (sparse)" $((5 << 30)) "$tool" encrypt "$work/large.bin" -o "$work/c.enc" --force --key-file "$work/k.key" --cipher aes --no-compress
    measure "decrypt aes 5 GiB" $((5 << 30)) "$tool" decrypt "$work/c.enc" -o "$work/back.bin" --force --key-file "$work/k.key"
    cmp -s "$work/large.bin" "$work/back.bin" && echo "5 GiB round trip identical" || { echo "5 GiB round trip differs"; exit 1; }
fi
