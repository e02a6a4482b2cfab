#!/usr/bin/env bash
# Two builds of ferrolyn_bench side by side: the same benchmarks of build A and build B run in
# alternating rounds (A B, then B A, then A B, ...), so that both meet the same load on a shared
# machine and neither always runs first, and
# each benchmark's median throughput (or time) over the rounds is printed with the ratio B / A.
#   bench/bench_ab.sh A_BENCH B_BENCH [FILTER] [ROUNDS]
# FILTER is a --benchmark_filter regex (default: everything); ROUNDS defaults to 5.
set -euo pipefail

[[ $# -ge 2 ]] || { echo "usage: $0 A_BENCH B_BENCH [FILTER] [ROUNDS]" >&2; exit 2; }
a=$1
b=$2
filter=${3:-.}
rounds=${4:-5}
for program in "$a" "$b"; do
    [[ -x $program ]] || { echo "no benchmark program at $program" >&2; exit 2; }
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
for ((round = 0; round < rounds; round++)); do
    order="a b"
    ((round % 2 == 1)) && order="b a"
    for side in $order; do
        program=$a
        [[ $side == b ]] && program=$b
        "$program" --benchmark_filter="$filter" --benchmark_format=json >"$work/$side-$round.json" 2>/dev/null
    done
done

python3 - "$work" "$rounds" <<'EOF'
import json, statistics, sys
work, rounds = sys.argv[1], int(sys.argv[2])

def figures(side):
    # name -> list over rounds of (value, unit): bytes per second where the benchmark sets it,
    # otherwise real time.
    result = {}
    order = []
    for r in range(rounds):
        with open(f"{work}/{side}-{r}.json") as f:
            for bench in json.load(f)["benchmarks"]:
                if bench.get("run_type") == "aggregate":
                    continue
                name = bench["name"]
                if name not in result:
                    result[name] = []
                    order.append(name)
                if "bytes_per_second" in bench:
                    result[name].append((bench["bytes_per_second"] / 1e6, "MB/s"))
                else:
                    result[name].append((bench["real_time"], bench["time_unit"]))
    return result, order

a, order = figures("a")
b, _ = figures("b")
print(f"{'benchmark':58} {'A':>12} {'B':>12} {'B/A':>7}   (medians of {rounds} alternating rounds)")
for name in order:
    if name not in b:
        print(f"{name:58} only in A")
        continue
    unit = a[name][0][1]
    ma = statistics.median(v for v, _ in a[name])
    mb = statistics.median(v for v, _ in b[name])
    print(f"{name:58} {ma:9.1f} {unit:>2} {mb:9.1f} {unit:>2} {mb / ma:7.3f}")
for name in b:
    if name not in a:
        print(f"{name:58} only in B")
EOF
