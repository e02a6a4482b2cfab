#!/usr/bin/env bash
# Builds the libFuzzer targets of tests/fuzz with clang, AddressSanitizer and
# UndefinedBehaviorSanitizer in their own build folder, makes seed corpora from the fixtures in
# tests/data, and runs each target.
#   tools/fuzz.sh --smoke [TARGET...]    a few seconds per target (the test run uses this)
#   tools/fuzz.sh [SECONDS] [TARGET...]  each target for SECONDS (default 600) or 10^7 runs
# TARGET is a name such as key_code (without _fuzz); without one every target runs, one after
# the other. FERROLYN_FUZZ_BUILD chooses the build folder (default build/fuzz). A crash leaves its
# input in the build folder's artifacts/ and makes the script fail.
set -euo pipefail

top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${FERROLYN_FUZZ_BUILD:-$top/build/fuzz}
jobs=$(nproc 2>/dev/null || echo 2)

seconds=600
runs=10000000
if [[ ${1:-} == --smoke ]]; then
    seconds=4
    runs=20000
    shift
elif [[ ${1:-} =~ ^[0-9]+$ ]]; then
    seconds=$1
    shift
fi

all_targets=(decompress_block codec_round_trip container_read container_round_trip small_files key_code cp1252)
targets=("$@")
if [[ ${#targets[@]} -eq 0 ]]; then targets=("${all_targets[@]}"); fi

command -v clang++ >/dev/null || { echo "fuzz.sh: clang++ is needed (apt-get install clang)" >&2; exit 1; }

if [[ ! -f $build/CMakeCache.txt ]]; then
    CC=clang CXX=clang++ cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DFERROLYN_FUZZ=ON -DFERROLYN_SANITIZE=ON -DFERROLYN_TESTS=OFF -DFERROLYN_BENCH=OFF >/dev/null
fi
cmake --build "$build" -j "$jobs" --target "${targets[@]/%/_fuzz}"

data=$top/tests/data
fixtures=$data/fixtures

# seeds TARGET: fills corpus/TARGET (kept between runs, so findings and coverage grow) from the
# fixtures. Small seeds only: the large fixtures are cut short.
seeds() {
    local dir=$build/corpus/$1
    mkdir -p "$dir"
    case $1 in
    decompress_block)
        for f in "$data"/codec/*.z; do head -c 65536 "$f" >"$dir/seed-$(basename "$f")"; done
        printf '\000' >"$dir/seed-stored-empty"
        printf '\000hej' >"$dir/seed-stored"
        ;;
    codec_round_trip)
        for f in "$fixtures"/plain/* "$data"/codec/periodic-300.bin; do
            head -c 16384 "$f" >"$dir/seed-$(basename "$f")"
        done
        head -c 16384 "$data/codec/log-2m.txt" >"$dir/seed-log"
        ;;
    container_read)
        for f in "$fixtures"/containers/{empty,one,hej}.*.encrypted "$fixtures"/containers/text-200k.key*.encrypted; do
            cp "$f" "$dir/seed-$(basename "$f")"
        done
        ;;
    container_round_trip)
        # The settings byte first: every cipher, compression and key method, and a stretched one.
        for s in 00 01 02 03 04 05 06 07 e0 f0 f1; do
            { printf "\\x$s"; cat "$fixtures/plain/hej.txt"; } >"$dir/seed-$s-hej"
        done
        { printf '\x03'; head -c 16000 "$fixtures/plain/text-200k.txt"; } >"$dir/seed-03-text"
        ;;
    small_files)
        cp "$fixtures/key.key" "$dir/seed-key"
        printf '\002\000\000\000\001\001' >"$dir/seed-config"
        { printf '\004\002\000\000\000\002\000\000'; head -c 512 /dev/zero; } >"$dir/seed-rand"
        : >"$dir/seed-empty"
        ;;
    key_code)
        cp "$fixtures/keycode.txt" "$dir/seed-keycode"
        printf '  <F0E1D2C3B4A5968778695A4B3C2D1E0F00112233445566778899AABBCCDDEEFF>  ' >"$dir/seed-upper"
        ;;
    cp1252)
        cp "$fixtures/passphrase.txt" "$dir/seed-passphrase"
        printf '\xe2\x82\xac \xc5\xa1 \xe2\x80\x94 \xc3\xa5\xc3\xa4\xc3\xb6' >"$dir/seed-high"
        ;;
    esac
}

# max_len TARGET: the longest input worth trying. The codec and the round trip cost time per
# byte, and their paths are all reached by short inputs.
max_len() {
    case $1 in
    container_read) echo 1048576 ;;
    decompress_block) echo 65536 ;;
    codec_round_trip | container_round_trip) echo 16384 ;;
    *) echo 4096 ;;
    esac
}

mkdir -p "$build/artifacts" "$build/logs"
status=0
for t in "${targets[@]}"; do
    seeds "$t"
    echo "== $t: ${seconds}s or $runs runs"
    # Findings go to artifacts/; the last lines of the log carry libFuzzer's final statistics.
    if ! "$build/tests/fuzz/${t}_fuzz" "$build/corpus/$t" -max_total_time="$seconds" -runs="$runs" \
        -max_len="$(max_len "$t")" -rss_limit_mb=3072 -timeout=60 -print_final_stats=1 \
        -artifact_prefix="$build/artifacts/$t-" >"$build/logs/$t.log" 2>&1; then
        echo "fuzz.sh: $t found a problem; see $build/logs/$t.log and $build/artifacts/" >&2
        tail -n 40 "$build/logs/$t.log" >&2
        status=1
    fi
    grep -E '^(#[0-9]+.*DONE|stat::number_of_executed_units|stat::peak_rss_mb)' "$build/logs/$t.log" | sed 's/^/   /' || true
done
exit $status
