#!/usr/bin/env bash
# Ferrolyn next to its peers, whole processes on the same files: throughput (MB/s of plaintext) and
# peak resident memory of encrypting and decrypting one random file held in the page cache, as the
# median of a few runs, for ferrolyn (AES and Serpent, no compression, with a key file; then the
# same on the portable engines with FERROLYN_PORTABLE=1), OpenSSL (enc -aes-256-cbc -pbkdf2 plus
# dgst -sha256 -hmac over its output, the same work as a sealed chunk), age (an X25519 key) and
# gpg (symmetric AES-256, no compression). Then the fixed cost of a 4 KiB file with a key file and
# with a passphrase next to age, and one PBKDF2 derivation alone. Every row of a table runs once
# per round, rounds one after the other, so that all rows meet the same load.
#   bench/peers.sh [FERROLYN_TOOL]      default build/bench/ferrolyn, else build/native/ferrolyn
# Environment: PEERS_SIZE_MIB (256), PEERS_RUNS (3), PEERS_SMALL_RUNS (21); PEERS_BASELINE, the
# path of another ferrolyn tool (an older build, say), adds its rows beside every ferrolyn row, in
# the same rounds, marked "baseline".
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

# The rows of one table are measured in rounds: each round runs every row once, in order, so that
# all of them meet the same load on a shared machine; a row's figure is the median over the rounds.
# A row's command is shell words as one string; " ;; " joins the commands of one job (openssl's two),
# timed together.
row_labels=()
row_bytes=()
row_commands=()
add_row() {  # add_row LABEL BYTES COMMAND: BYTES 0 reports the time in milliseconds instead of MB/s
    row_labels+=("$1")
    row_bytes+=("$2")
    row_commands+=("$3")
}

run_rows() {  # run_rows ROUNDS: measures and prints the rows added since the last call
    local rounds=$1 i part parts
    for ((i = 0; i < ${#row_labels[@]}; i++)); do : > "$work/t$i"; : > "$work/m$i"; done
    for ((round = 0; round < rounds; round++)); do
        for ((i = 0; i < ${#row_labels[@]}; i++)); do
            : > "$work/one"
            parts=${row_commands[$i]}
            while [[ -n $parts ]]; do
                part=${parts%% ;; *}
                [[ $part == "$parts" ]] && parts= || parts=${parts#* ;; }
                eval "run_timed \"\$work/one\" \"\$work/m$i\" $part"
            done
            awk '{ s += $1 } END { print s }' "$work/one" >> "$work/t$i"
        done
    done
    for ((i = 0; i < ${#row_labels[@]}; i++)); do
        awk -v l="${row_labels[$i]}" -v b="${row_bytes[$i]}" -v us="$(median "$work/t$i")" \
            -v kib="$(sort -n "$work/m$i" | tail -n 1)" 'BEGIN {
                if (b > 0) printf "%-46s %9.1f MB/s   peak %7.1f MiB\n", l, b / us, kib / 1024
                else printf "%-46s %9.2f ms\n", l, us / 1000 }'
    done
    row_labels=()
    row_bytes=()
    row_commands=()
}

same() {  # same EXPECTED ACTUAL WHAT: a round trip must give the original bytes back
    cmp -s "$1" "$2" || { echo "$3 round trip differs" >&2; exit 1; }
}

echo "file: $size_mib MiB of random bytes in the page cache; medians of $runs rounds; $(nproc) processors"
echo "tool: $tool"
baseline=${PEERS_BASELINE:-}
if [[ -n $baseline ]]; then
    baseline=$(cd "$(dirname "$baseline")" && pwd)/$(basename "$baseline")
    [[ -x $baseline ]] || { echo "no baseline tool at $baseline" >&2; exit 2; }
    echo "baseline: $baseline"
fi
echo
big=$work/big.bin
# The tools whose ferrolyn rows are measured: the tool, and the baseline beside it.
tools=("$tool")
names=(ferrolyn)
[[ -n $baseline ]] && tools+=("$baseline") && names+=("baseline")
ferrolyn_outputs=()
for prefix in "" "portable "; do
    environment=
    [[ -n $prefix ]] && environment="env FERROLYN_PORTABLE=1"
    for cipher in aes serpent; do
        for t in "${!tools[@]}"; do
            out="$work/f-${names[$t]}-${prefix%% }$cipher"
            ferrolyn_outputs+=("$out.out")
            add_row "${names[$t]} ${prefix}encrypt $cipher" "$bytes" "$environment '${tools[$t]}' encrypt '$big' \
                -o '$out.enc' --force --key-file '$work/k.key' --cipher $cipher --no-compress"
            add_row "${names[$t]} ${prefix}decrypt $cipher" "$bytes" "$environment '${tools[$t]}' decrypt '$out.enc' \
                -o '$out.out' --force --key-file '$work/k.key'"
        done
    done
done
add_row "openssl enc -aes-256-cbc -pbkdf2 + dgst -hmac" "$bytes" \
    "openssl enc -aes-256-cbc -pbkdf2 -pass pass:x -in '$big' -out '$work/o.enc' ;; \
     openssl dgst -sha256 -mac HMAC -macopt hexkey:$hmac_key '$work/o.enc'"
add_row "openssl dgst -hmac + enc -d -aes-256-cbc" "$bytes" \
    "openssl dgst -sha256 -mac HMAC -macopt hexkey:$hmac_key '$work/o.enc' ;; \
     openssl enc -d -aes-256-cbc -pbkdf2 -pass pass:x -in '$work/o.enc' -out '$work/o.out'"
add_row "age encrypt (X25519)" "$bytes" "age -r '$recipient' -o '$work/a.age' '$big'"
add_row "age decrypt (X25519)" "$bytes" "age -d -i '$work/age.key' -o '$work/a.out' '$work/a.age'"
# ferrolyn's output is on the disk when it ends (flushed before and after its rename); age's only
# once something flushes it: these rows make both sides durable.
add_row "age encrypt (X25519) + sync" "$bytes" "age -r '$recipient' -o '$work/a.age' '$big' ;; sync '$work/a.age'"
add_row "age decrypt (X25519) + sync" "$bytes" "age -d -i '$work/age.key' -o '$work/a.out' '$work/a.age' ;; \
     sync '$work/a.out'"
gpg_common="gpg --batch --yes --quiet --pinentry-mode loopback --passphrase x"
add_row "gpg --symmetric AES256, no compression" "$bytes" "$gpg_common --symmetric --cipher-algo AES256 \
    --compress-algo none -o '$work/g.gpg' '$big'"
add_row "gpg --decrypt" "$bytes" "$gpg_common --decrypt -o '$work/g.out' '$work/g.gpg'"
run_rows "$runs"
for output in "${ferrolyn_outputs[@]}"; do same "$big" "$output" ferrolyn; done
same "$big" "$work/o.out" openssl
same "$big" "$work/a.out" age
same "$big" "$work/g.out" gpg
rm -f "$work"/f-*.enc "$work"/f-*.out "$work"/o.* "$work"/a.* "$work"/g.*

echo
echo "4 KiB file, whole process, medians of $small_runs rounds"
small=$work/small.bin
# What starting any program costs here: the floor under every row below.
add_row "process start alone (/bin/true)" 0 "/bin/true"
for t in "${!tools[@]}"; do
    n=${names[$t]}
    add_row "$n encrypt, key file" 0 "'${tools[$t]}' encrypt '$small' -o '$work/s-$n.enc' --force \
        --key-file '$work/k.key' --no-compress"
    add_row "$n decrypt, key file" 0 "'${tools[$t]}' decrypt '$work/s-$n.enc' -o '$work/s-$n.out' --force \
        --key-file '$work/k.key'"
    add_row "$n encrypt, passphrase" 0 "'${tools[$t]}' encrypt '$small' -o '$work/p-$n.enc' --force \
        --passphrase-file '$work/pass.txt' --no-compress"
    add_row "$n decrypt, passphrase" 0 "'${tools[$t]}' decrypt '$work/p-$n.enc' -o '$work/p-$n.out' --force \
        --passphrase-file '$work/pass.txt'"
    add_row "$n portable encrypt, passphrase" 0 "env FERROLYN_PORTABLE=1 '${tools[$t]}' encrypt '$small' \
        -o '$work/q-$n.enc' --force --passphrase-file '$work/pass.txt' --no-compress"
done
add_row "age encrypt (X25519)" 0 "age -r '$recipient' -o '$work/s.age' '$small'"
add_row "age decrypt (X25519)" 0 "age -d -i '$work/age.key' -o '$work/s.age.out' '$work/s.age'"
run_rows "$small_runs"
for n in "${names[@]}"; do
    same "$small" "$work/s-$n.out" "$n key file"
    same "$small" "$work/p-$n.out" "$n passphrase"
done
same "$small" "$work/s.age.out" age

# PBKDF2 alone: the benchmark program beside the tool when there is one; otherwise the difference
# between the passphrase and the key-file encryption above says the same.
bench_program=$(dirname "$tool")/bench/ferrolyn_bench
if [[ -x $bench_program ]]; then
    echo
    "$bench_program" --benchmark_filter='Pbkdf2' 2>/dev/null | awk '/^BM_/ { printf "%-46s %9s %s  %s\n", "PBKDF2 (75000 iterations) " $1, $2, $3, $NF }'
fi
