#!/usr/bin/env bash
# Ferrolyn next to its peers, whole processes on the same files: throughput (MB/s of plaintext) and
# peak resident memory of encrypting and decrypting one random file held in the page cache, as the
# median of a few runs, for ferrolyn (AES and Serpent, no compression, with a key file; then the
# same on the portable engines with FERROLYN_PORTABLE=1), OpenSSL (enc -aes-256-cbc -pbkdf2 plus
# dgst -sha256 -hmac over its output, the same work as a sealed chunk), age (an X25519 key) and
# gpg (symmetric AES-256, no compression). Then the fixed cost of a 4 KiB file with a key file and
# with a passphrase next to age, and one PBKDF2 derivation alone.
#   bench/peers.sh [FERROLYN_TOOL]      default build/bench/ferrolyn, else build/native/ferrolyn
# Environment: PEERS_SIZE_MIB (256), PEERS_RUNS (3), PEERS_SMALL_RUNS (21).
set -euo pipefail

top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
tool=${1:-}
if [[ -z $tool ]]; then
    for candidate in "$top/build/bench/ferrolyn" "$top/build/native/ferrolyn"; do
        if [[ -x $candidate ]]; then
            tool=$candidate
            break
        fi
    done
fi
if [[ -z $tool ]]; then
    tool="$top/build/bench/ferrolyn"
    cmake -S "$top" -B "$top/build/bench" -DCMAKE_BUILD_TYPE=Release -DFERROLYN_TESTS=OFF >/dev/null
    cmake --build "$top/build/bench" -j "$(nproc)" --target ferrolyn >/dev/null
fi
tool=$(cd "$(dirname "$tool")" && pwd)/$(basename "$tool")
[[ -x $tool ]] || { echo "no ferrolyn tool at $tool" >&2; exit 2; }

size_mib=${PEERS_SIZE_MIB:-256}
runs=${PEERS_RUNS:-3}
small_runs=${PEERS_SMALL_RUNS:-21}

# Peers that are missing are installed from the distribution.
missing=()
command -v openssl >/dev/null || missing+=(openssl)
command -v age >/dev/null || missing+=(age)
command -v gpg >/dev/null || missing+=(gnupg)
[[ -x /usr/bin/time ]] || missing+=(time)
if ((${#missing[@]})); then
    apt-get update -qq >/dev/null
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}" >/dev/null
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export XDG_DATA_HOME="$work/data"
export GNUPGHOME="$work/gnupg"
mkdir -p "$XDG_DATA_HOME" "$GNUPGHOME"
chmod 700 "$GNUPGHOME"

"$tool" new-key-file "$work/k.key" >/dev/null
printf 'korrekt hast batteri zon\n' > "$work/pass.txt"
age-keygen -o "$work/age.key" 2>/dev/null
recipient=$(age-keygen -y "$work/age.key")
hmac_key=$(head -c 32 /dev/urandom | od -An -tx1 | tr -d ' \n')

bytes=$((size_mib << 20))
head -c "$bytes" /dev/urandom > "$work/big.bin"
head -c 4096 /dev/urandom > "$work/small.bin"
cat "$work/big.bin" > /dev/null  # into the page cache

# run_timed SECONDS_FILE RSS_FILE COMMAND...: one run; appends its wall time and peak memory (KiB).
run_timed() {
    local seconds_file=$1 rss_file=$2
    shift 2
    local start end
    start=$(date +%s%N)
    /usr/bin/time -f %M -o "$work/rss" "$@" >/dev/null 2>"$work/stderr" || {
        echo "failed: $*" >&2
        cat "$work/stderr" >&2
        exit 1
    }
    end=$(date +%s%N)
    echo "$(( (end - start) / 1000 ))" >> "$seconds_file"  # microseconds
    tail -n 1 "$work/rss" >> "$rss_file"
}

median() { sort -n "$1" | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

# measure LABEL BYTES COMMAND...: the median of $runs runs as MB/s and peak MiB.
measure() {
    local label=$1 amount=$2
    shift 2
    : > "$work/t"
    : > "$work/m"
    for ((i = 0; i < runs; i++)); do run_timed "$work/t" "$work/m" "$@"; done
    awk -v l="$label" -v b="$amount" -v us="$(median "$work/t")" -v kib="$(sort -n "$work/m" | tail -n 1)" \
        'BEGIN { printf "%-46s %9.1f MB/s   peak %7.1f MiB\n", l, b / us, kib / 1024 }'
}

# measure_sum LABEL BYTES: two commands of one job (given as two strings) timed together.
measure_pair() {
    local label=$1 amount=$2 first=$3 second=$4
    : > "$work/t"
    : > "$work/m"
    for ((i = 0; i < runs; i++)); do
        : > "$work/t1"
        run_timed "$work/t1" "$work/m" bash -c "$first"
        run_timed "$work/t1" "$work/m" bash -c "$second"
        awk '{ s += $1 } END { print s }' "$work/t1" >> "$work/t"
    done
    awk -v l="$label" -v b="$amount" -v us="$(median "$work/t")" -v kib="$(sort -n "$work/m" | tail -n 1)" \
        'BEGIN { printf "%-46s %9.1f MB/s   peak %7.1f MiB\n", l, b / us, kib / 1024 }'
}

# fixed_cost LABEL COMMAND...: the median whole-process time of $small_runs runs, in milliseconds.
fixed_cost() {
    local label=$1
    shift
    : > "$work/t"
    : > "$work/m"
    for ((i = 0; i < small_runs; i++)); do run_timed "$work/t" "$work/m" "$@"; done
    awk -v l="$label" -v us="$(median "$work/t")" 'BEGIN { printf "%-46s %9.2f ms\n", l, us / 1000 }'
}

ferrolyn_rows() {  # ferrolyn_rows PREFIX: encrypt and decrypt with each cipher
    local prefix=$1
    for cipher in aes serpent; do
        measure "$prefix encrypt $cipher" "$bytes" "$tool" encrypt "$work/big.bin" -o "$work/f.enc" \
            --key-file "$work/k.key" --cipher "$cipher" --no-compress
        measure "$prefix decrypt $cipher" "$bytes" "$tool" decrypt "$work/f.enc" -o "$work/f.out" \
            --key-file "$work/k.key"
        cmp -s "$work/big.bin" "$work/f.out" || { echo "ferrolyn round trip differs" >&2; exit 1; }
        rm -f "$work/f.enc" "$work/f.out"
    done
}

echo "file: $size_mib MiB of random bytes in the page cache; medians of $runs runs; $(nproc) processors"
echo "tool: $tool"
echo
ferrolyn_rows "ferrolyn"
FERROLYN_PORTABLE=1 ferrolyn_rows "ferrolyn portable"

big=$work/big.bin
measure_pair "openssl enc -aes-256-cbc -pbkdf2 + dgst -hmac" "$bytes" \
    "openssl enc -aes-256-cbc -pbkdf2 -pass pass:x -in '$big' -out '$work/o.enc'" \
    "openssl dgst -sha256 -mac HMAC -macopt hexkey:$hmac_key '$work/o.enc'"
measure_pair "openssl dgst -hmac + enc -d -aes-256-cbc" "$bytes" \
    "openssl dgst -sha256 -mac HMAC -macopt hexkey:$hmac_key '$work/o.enc'" \
    "openssl enc -d -aes-256-cbc -pbkdf2 -pass pass:x -in '$work/o.enc' -out '$work/o.out'"
cmp -s "$big" "$work/o.out" || { echo "openssl round trip differs" >&2; exit 1; }
rm -f "$work/o.enc" "$work/o.out"

measure "age encrypt (X25519)" "$bytes" age -r "$recipient" -o "$work/a.age" "$big"
measure "age decrypt (X25519)" "$bytes" age -d -i "$work/age.key" -o "$work/a.out" "$work/a.age"
cmp -s "$big" "$work/a.out" || { echo "age round trip differs" >&2; exit 1; }
rm -f "$work/a.age" "$work/a.out"

gpg_common=(gpg --batch --yes --quiet --pinentry-mode loopback --passphrase x)
measure "gpg --symmetric AES256, no compression" "$bytes" "${gpg_common[@]}" --symmetric --cipher-algo AES256 \
    --compress-algo none -o "$work/g.gpg" "$big"
measure "gpg --decrypt" "$bytes" "${gpg_common[@]}" --decrypt -o "$work/g.out" "$work/g.gpg"
cmp -s "$big" "$work/g.out" || { echo "gpg round trip differs" >&2; exit 1; }
rm -f "$work/g.gpg" "$work/g.out"

echo
echo "4 KiB file, whole process, medians of $small_runs runs"
small=$work/small.bin
fixed_cost "ferrolyn encrypt, key file" "$tool" encrypt "$small" -o "$work/s.enc" --key-file "$work/k.key" --no-compress
fixed_cost "ferrolyn decrypt, key file" "$tool" decrypt "$work/s.enc" -o "$work/s.out" --key-file "$work/k.key"
fixed_cost "ferrolyn encrypt, passphrase" "$tool" encrypt "$small" -o "$work/p.enc" --passphrase-file "$work/pass.txt" --no-compress
fixed_cost "ferrolyn decrypt, passphrase" "$tool" decrypt "$work/p.enc" -o "$work/p.out" --passphrase-file "$work/pass.txt"
cmp -s "$small" "$work/p.out" || { echo "ferrolyn passphrase round trip differs" >&2; exit 1; }
fixed_cost "ferrolyn portable encrypt, passphrase" env FERROLYN_PORTABLE=1 "$tool" encrypt "$small" -o "$work/p.enc" \
    --passphrase-file "$work/pass.txt" --no-compress
fixed_cost "age encrypt (X25519)" age -r "$recipient" -o "$work/s.age" "$small"
fixed_cost "age decrypt (X25519)" age -d -i "$work/age.key" -o "$work/s.out" "$work/s.age"

# PBKDF2 alone: the benchmark program beside the tool when there is one; otherwise the difference
# between the passphrase and the key-file encryption above says the same.
bench_program=$(dirname "$tool")/bench/ferrolyn_bench
if [[ -x $bench_program ]]; then
    echo
    "$bench_program" --benchmark_filter='Pbkdf2' 2>/dev/null | awk '/^BM_/ { printf "%-46s %9s %s  %s\n", "PBKDF2 (75000 iterations) " $1, $2, $3, $NF }'
fi
