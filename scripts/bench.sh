#!/usr/bin/env bash
# Builds the benchmarks (Release, no sanitizers) and prints one table of
# ratios: each ZoLib measurement against its reference (the floor of the same
# work done by hand, or a peer library) measured in the same run, as medians
# over several repetitions run in random interleaved order and over runs.
#   ZOLIB_BENCH_RUNS         runs, each in new processes (default 5)
#   ZOLIB_BENCH_REPETITIONS  repetitions per benchmark and run (default 3)
#   ZOLIB_BENCH_MIN_TIME     seconds per repetition (default 0.2)
#   ZOLIB_BENCH_FILTER       regular expression of benchmarks to run (default all)
# The raw results stay in build/bench/*.json. Benchmarks are never a
# pass/fail test: the table says which targets are met.
set -euo pipefail
cd "$(dirname "$0")/.."

ZOLIB_EXTRA_PACKAGES="libbenchmark-dev libmsgpack-dev python3 ${ZOLIB_EXTRA_PACKAGES:-}" \
    scripts/deps.sh
cmake --preset bench >/dev/null
cmake --build --preset bench -j 2 >/dev/null

echo "bench: $(nproc) cores, load average $(cut -d' ' -f1-3 /proc/loadavg); running..." >&2
# zolib_bench holds everything; zolib_bench_fresh repeats the small compressed
# round trips in a process whose heap is left as it starts (see its source).
# Several runs, each in new processes: a machine whose speed drifts (a shared
# one does) then shows in the spread of the ratios rather than in one value,
# and so does the placement of the stack and the heap, which moves some of
# these timings by half (it changes with the size of the environment too).
rm -f build/bench/zolib_bench*.json
for run in $(seq 1 "${ZOLIB_BENCH_RUNS:-5}"); do
    for program in zolib_bench zolib_bench_fresh; do
        build/bench/bench/$program \
            --benchmark_filter="${ZOLIB_BENCH_FILTER:-.}" \
            --benchmark_repetitions="${ZOLIB_BENCH_REPETITIONS:-3}" \
            --benchmark_min_time="${ZOLIB_BENCH_MIN_TIME:-0.2}" \
            --benchmark_enable_random_interleaving=true \
            --benchmark_report_aggregates_only=true \
            --benchmark_out="build/bench/$program.$run.json" --benchmark_out_format=json \
            >/dev/null 2>&1
    done
done
# A program none of whose benchmarks match the filter leaves an empty file.
python3 scripts/bench_table.py $(find build/bench -maxdepth 1 -name 'zolib_bench*.json' -size +0 | sort)
