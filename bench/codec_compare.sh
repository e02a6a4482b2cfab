#!/usr/bin/env bash
# Compressed encryption by the ferrolyn tool next to bzip2 -9, xz -1 and zstd -3 on four files it
# builds itself: text (documentation, manual pages and headers), binaries (programs and
# libraries), one 44-byte line repeated, and random bytes. For each it prints the output size as a
# share of the input, MB/s both ways (per second of wall clock and per CPU second) and the peak
# resident memory, each the median of three runs. The ferrolyn rows include encryption and
# authentication; the others run single-threaded. A summary follows with the codec's aims: sizes
# against bzip2 -9, encoding speed per core against bzip2 -9, peak memory, the random file
# encrypted with compression against without it, and the repeated line decoded against bzip2 -d
# by wall clock.
#   bench/codec_compare.sh [TOOL] [SIZE_MIB] [--inputs DIR]
# TOOL defaults to build/bench/ferrolyn, then build/native/ferrolyn; SIZE_MIB to 64. With
# --inputs the four files are kept in DIR and reused by later runs of the same size.
set -euo pipefail

top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
tool=""
size_mib=64
inputs=""
while (($#)); do
    case "$1" in
        --inputs) inputs=${2:?--inputs needs a directory}; shift ;;
        *) if [[ $1 =~ ^[0-9]+$ ]]; then size_mib=$1; else tool=$1; fi ;;
    esac
    shift
done
if [[ -z $tool ]]; then
    for candidate in "$top/build/bench/ferrolyn" "$top/build/native/ferrolyn"; do
        if [[ -x $candidate ]]; then tool=$candidate; break; fi
    done
fi
if [[ -z $tool || ! -x $tool ]]; then
    echo "usage: $0 [PATH_TO_FERROLYN] [SIZE_MIB] [--inputs DIR]" >&2
    echo "(no ferrolyn in build/bench or build/native)" >&2
    exit 2
fi

missing=()
command -v bzip2 >/dev/null || missing+=(bzip2)
command -v xz >/dev/null || missing+=(xz-utils)
command -v zstd >/dev/null || missing+=(zstd)
[[ -x /usr/bin/time ]] || missing+=(time)
if ((${#missing[@]})); then
    apt-get install -y -qq "${missing[@]}" >/dev/null
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export XDG_DATA_HOME="$work/data"  # the tool's seed file stays in the temporary directory
mkdir -p "$XDG_DATA_HOME"
"$tool" new-key-file "$work/k.key" >/dev/null
[[ -n $inputs ]] || inputs="$work/inputs"
mkdir -p "$inputs"

bytes=$((size_mib << 20))

# Repeats the bytes of SOURCE until they fill TARGET to the file size, then cuts it there.
fill_to_size() {  # fill_to_size SOURCE TARGET
    local source=$1 target=$2
    [[ -s $source ]] || { echo "no input for $target" >&2; exit 1; }
    cp "$source" "$target"
    while (($(stat -c %s "$target") < bytes)); do  # doubling: a 44-byte line takes 21 steps
        cat "$target" "$target" > "$target.twice"
        mv "$target.twice" "$target"
    done
    truncate -s "$bytes" "$target"
}

# Writes at most LIMIT bytes of the files named in LIST (NUL-separated), gzip files decompressed.
# The reading stops early when the limit is reached: a closed pipe there is not an error.
gather() {  # gather LIMIT LIST
    (xargs -0 -r zcat -f -- < "$2" 2>/dev/null || true) | head -c "$1" || true
}

build_text() {  # a third each of documentation, manual pages and headers
    local third=$((bytes / 3 + 1))
    find /usr/share/doc -type f \( -name '*.gz' -o -exec grep -Iq . {} \; \) -print0 2>/dev/null |
        sort -z > "$1.doc"
    find /usr/share/man -type f -print0 2>/dev/null | sort -z > "$1.man"
    find /usr/include -type f -print0 2>/dev/null | sort -z > "$1.include"
    {
        gather "$third" "$1.doc"
        gather "$third" "$1.man"
        gather "$third" "$1.include"
    } > "$1.parts"
    fill_to_size "$1.parts" "$1"
    rm -f "$1.parts" "$1.doc" "$1.man" "$1.include"
}

build_binary() {  # half programs, half shared libraries and other executables
    local half=$((bytes / 2 + 1))
    find /usr/bin -type f -print0 2>/dev/null | sort -z > "$1.bin"
    find /usr/lib -type f \( -name '*.so' -o -name '*.so.*' -o -perm -u+x \) -print0 2>/dev/null |
        sort -z > "$1.lib"
    {
        gather "$half" "$1.bin"
        gather "$half" "$1.lib"
    } > "$1.parts"
    fill_to_size "$1.parts" "$1"
    rm -f "$1.parts" "$1.bin" "$1.lib"
}

build_repeated() {
    local line="Ferrolyn krypterar en fil i taget, i block."  # 43 characters and a newline
    [[ ${#line} -eq 43 ]] || { echo "the repeated line must be 43 characters" >&2; exit 1; }
    printf '%s\n' "$line" > "$1.parts"
    fill_to_size "$1.parts" "$1"
    rm -f "$1.parts"
}

build_random() {
    head -c "$bytes" /dev/urandom > "$1"
}

files=(text binary repeated random)
for file in "${files[@]}"; do
    path="$inputs/$file-$size_mib"
    if [[ ! -f $path || $(stat -c %s "$path") -ne $bytes ]]; then
        echo "building $path ..." >&2
        "build_$file" "$path"
    fi
done

# Runs a command three times, standard output to OUTPUT; prints the median wall seconds, CPU
# seconds (user + system) and peak resident memory in KiB.
measure() {  # measure OUTPUT COMMAND...
    local output=$1
    shift
    local runs=()
    for _ in 1 2 3; do
        /usr/bin/time -f '%e %U %S %M' -o "$work/time.log" "$@" > "$output"
        runs+=("$(tail -n 1 "$work/time.log")")
    done
    printf '%s\n' "${runs[@]}" | awk '
        function median(a,   i, j, t) {
            for (i = 1; i <= 3; i++) for (j = i + 1; j <= 3; j++) if (a[j] < a[i]) { t = a[i]; a[i] = a[j]; a[j] = t }
            return a[2]
        }
        { w[NR] = $1; c[NR] = $2 + $3; m[NR] = $4 }
        END { printf "%s %s %s\n", median(w), median(c), median(m) }'
}

# One table row from the output size and the two measure results.
row() {  # row FILE PROGRAM OUTPUT_BYTES "ENCODE" "DECODE"
    awk -v f="$1" -v n="$2" -v o="$3" -v e="$4" -v d="$5" -v b="$bytes" '
        function rate(seconds) { return b / 1e6 / (seconds > 0.005 ? seconds : 0.005) }
        BEGIN {
            split(e, E, " "); split(d, D, " ")
            printf "%-9s %-9s %7.2f %%  %8.1f %8.1f  %8.1f %8.1f  %7.1f %7.1f\n", f, n, 100 * o / b,
                rate(E[1]), rate(E[2]), rate(D[1]), rate(D[2]), E[3] / 1024, D[3] / 1024
        }'
}

check_same() {  # check_same ORIGINAL RESTORED LABEL
    cmp -s "$1" "$2" || { echo "$3: the round trip differs" >&2; exit 1; }
}

echo "input: $size_mib MiB each; tool: $tool"
echo "MB/s: 10^6 input bytes per second of wall clock (wall) and of user + system time (cpu);"
echo "MiB: peak resident memory; medians of 3 runs."
printf '%-9s %-9s %9s  %8s %8s  %8s %8s  %7s %7s\n' file program size enc-wall enc-cpu \
    dec-wall dec-cpu enc-MiB dec-MiB
# Kept for the summary: output bytes and the measure results, by "file program".
declare -A out_bytes encodes decodes
for file in "${files[@]}"; do
    in="$inputs/$file-$size_mib"

    encode=$(measure /dev/null "$tool" encrypt "$in" -o "$work/c.enc" --force --key-file "$work/k.key" --cipher aes --compress)
    decode=$(measure /dev/null "$tool" decrypt "$work/c.enc" -o "$work/back" --force --key-file "$work/k.key")
    check_same "$in" "$work/back" "ferrolyn $file"
    out_bytes["$file ferrolyn"]=$(stat -c %s "$work/c.enc")
    encodes["$file ferrolyn"]=$encode
    decodes["$file ferrolyn"]=$decode
    row "$file" "ferrolyn" "${out_bytes["$file ferrolyn"]}" "$encode" "$decode"
    rm -f "$work/c.enc" "$work/back"

    encode=$(measure "$work/c.bz2" bzip2 -9 -c "$in")
    decode=$(measure "$work/back" bzip2 -d -c "$work/c.bz2")
    check_same "$in" "$work/back" "bzip2 $file"
    out_bytes["$file bzip2"]=$(stat -c %s "$work/c.bz2")
    encodes["$file bzip2"]=$encode
    decodes["$file bzip2"]=$decode
    row "$file" "bzip2 -9" "${out_bytes["$file bzip2"]}" "$encode" "$decode"
    rm -f "$work/c.bz2" "$work/back"

    encode=$(measure "$work/c.xz" xz -1 -T1 -c "$in")
    decode=$(measure "$work/back" xz -d -T1 -c "$work/c.xz")
    check_same "$in" "$work/back" "xz $file"
    row "$file" "xz -1" "$(stat -c %s "$work/c.xz")" "$encode" "$decode"
    rm -f "$work/c.xz" "$work/back"

    encode=$(measure "$work/c.zst" zstd -3 -T1 -q -c "$in")
    decode=$(measure "$work/back" zstd -d -q -c "$work/c.zst")
    check_same "$in" "$work/back" "zstd $file"
    row "$file" "zstd -3" "$(stat -c %s "$work/c.zst")" "$encode" "$decode"
    rm -f "$work/c.zst" "$work/back"
done

# The random file encrypted without compression, for the speed it costs to look at it.
plain=$(measure /dev/null "$tool" encrypt "$inputs/random-$size_mib" -o "$work/c.enc" --force --key-file "$work/k.key" \
    --cipher aes --no-compress)
rm -f "$work/c.enc"

peak=0
for file in "${files[@]}"; do
    for m in "${encodes["$file ferrolyn"]}" "${decodes["$file ferrolyn"]}"; do
        kib=${m##* }
        ((kib > peak)) && peak=$kib
    done
done

echo
echo "aims                                              measured    aim"
awk -v tf="${out_bytes["text ferrolyn"]}" -v tb="${out_bytes["text bzip2"]}" \
    -v bf="${out_bytes["binary ferrolyn"]}" -v bb="${out_bytes["binary bzip2"]}" \
    -v te="${encodes["text ferrolyn"]}" -v tbe="${encodes["text bzip2"]}" \
    -v be="${encodes["binary ferrolyn"]}" -v bbe="${encodes["binary bzip2"]}" \
    -v rc="${encodes["random ferrolyn"]}" -v rp="$plain" \
    -v rd="${decodes["repeated ferrolyn"]}" -v rbd="${decodes["repeated bzip2"]}" -v peak="$peak" '
    function first(m,   f) { split(m, f, " "); return f[1] > 0.005 ? f[1] : 0.005 }
    function cpu(m,   f) { split(m, f, " "); return f[2] > 0.005 ? f[2] : 0.005 }
    BEGIN {
        printf "text size / bzip2 -9                              %8.3f  <= 1.03\n", tf / tb
        printf "machine code size / bzip2 -9                      %8.3f  <= 1.04\n", bf / bb
        printf "text encoding per core / bzip2 -9                 %8.2f  >= 1.0\n", cpu(tbe) / cpu(te)
        printf "machine code encoding per core / bzip2 -9         %8.2f  >= 1.0\n", cpu(bbe) / cpu(be)
        printf "peak memory of ferrolyn, MiB                      %8.1f  <= 64\n", peak / 1024
        printf "random, compressed / plain encryption speed       %8.2f  >= 0.5   (%.2f s against %.2f s)\n",
            first(rp) / first(rc), first(rc), first(rp)
        printf "repeated line, decoding speed / bzip2 -d          %8.2f  >= 1.0   (%.2f s against %.2f s)\n",
            first(rbd) / first(rd), first(rd), first(rbd)
    }'

