#!/usr/bin/env bash
# Compares the benchmarks of an earlier revision with the working tree's, in
# the same minutes: builds REV (default HEAD~1) in build/ab/, then runs the
# two programs by turns, each in new processes, and prints per benchmark the
# median time of each side and their ratio.
#   scripts/bench-ab.sh [REV]
#   ZOLIB_AB_ROUNDS       turns per side (default 6)
#   ZOLIB_BENCH_FILTER    regular expression of benchmarks (default all)
#   ZOLIB_BENCH_MIN_TIME  seconds per repetition (default 0.2)
# The programs find their libraries through the run path of their own build
# tree, so a copy of one program still loads the newest libraries of that
# tree: each side here runs from its own tree, and LD_LIBRARY_PATH names its
# libraries as well. A shared machine drifts within minutes; only turns
# taken side by side compare.
set -euo pipefail
cd "$(dirname "$0")/.."

rev=${1:-HEAD~1}
rounds=${ZOLIB_AB_ROUNDS:-6}
base=$PWD/build/ab/tree
git rev-parse --verify -q "$rev^{commit}" >/dev/null || { echo "bench-ab: no revision $rev" >&2; exit 2; }

ZOLIB_EXTRA_PACKAGES="libbenchmark-dev libmsgpack-dev python3 ${ZOLIB_EXTRA_PACKAGES:-}" \
    scripts/deps.sh
rm -rf "$base"
mkdir -p build/ab
git archive --format=tar "$rev" | (mkdir -p "$base" && tar -x -C "$base")
for tree in "$base" "$PWD"; do
    (cd "$tree" && cmake --preset bench >/dev/null && cmake --build --preset bench -j 2 >/dev/null)
done

run() {  # tree label turn
    local tree=$1
    LD_LIBRARY_PATH="$tree/build/bench/src:$tree/build/bench/src/nats" \
        "$tree/build/bench/bench/zolib_bench" \
        --benchmark_filter="${ZOLIB_BENCH_FILTER:-.}" \
        --benchmark_repetitions=3 --benchmark_report_aggregates_only=true \
        --benchmark_min_time="${ZOLIB_BENCH_MIN_TIME:-0.2}" \
        --benchmark_enable_random_interleaving=true \
        --benchmark_out="build/ab/$2.$3.json" --benchmark_out_format=json >/dev/null 2>&1
}
rm -f build/ab/*.json
echo "bench-ab: $rev against the working tree, $rounds turns each; load $(cut -d' ' -f1-3 /proc/loadavg)" >&2
for turn in $(seq 1 "$rounds"); do
    # Which side goes first alternates, so that neither always follows the other.
    if ((turn % 2)); then
        run "$base" before "$turn"
        run "$PWD" after "$turn"
    else
        run "$PWD" after "$turn"
        run "$base" before "$turn"
    fi
done

python3 - "$rev" <<'EOF'
import glob, json, statistics, sys

def medians(label):
    times = {}
    for name in glob.glob(f"build/ab/{label}.*.json"):
        for b in json.load(open(name))["benchmarks"]:
            if b.get("aggregate_name") == "median":
                # A per-benchmark repetition count shows in the name (/repeats:9).
                name = "/".join(p for p in b["run_name"].split("/") if not p.startswith("repeats:"))
                times.setdefault(name, []).append(b["real_time"])
    return {k: statistics.median(v) for k, v in times.items()}

def ratios(label):
    # Per process, reference time over ZoLib time for each pair BM_X_ZoLib /
    # BM_X_<reference> measured in it, as the benchmark table reports them.
    out = {}
    for name in glob.glob(f"build/ab/{label}.*.json"):
        times = {b["run_name"].split("/")[0]: b["real_time"]
                 for b in json.load(open(name))["benchmarks"] if b.get("aggregate_name") == "median"}
        for ours, t in times.items():
            if not ours.endswith("_ZoLib"):
                continue
            prefix = ours[: -len("ZoLib")]
            for ref, r in times.items():
                if ref.startswith(prefix) and ref != ours and "_" not in ref[len(prefix):]:
                    out.setdefault(f"{ours} vs {ref[len(prefix):]}", []).append(r / t)
    return {k: statistics.median(v) for k, v in out.items()}

before, after = medians("before"), medians("after")
print(f"{'benchmark':48} {sys.argv[1][:12]:>12} {'now':>12} {'now/before':>10}")
for name in sorted(set(before) & set(after)):
    print(f"{name:48} {before[name]:12.4g} {after[name]:12.4g} {after[name] / before[name]:10.3f}")
rb, ra = ratios("before"), ratios("after")
if rb or ra:
    print(f"\n{'ratio (median over processes)':48} {sys.argv[1][:12]:>12} {'now':>12}")
    for name in sorted(set(rb) & set(ra)):
        print(f"{name:48} {rb[name]:12.3f} {ra[name]:12.3f}")
EOF
