#!/usr/bin/env bash
# Runs the libFuzzer targets, each for a given time, from the committed seeds.
#
#   scripts/fuzz.sh [-j N] SECONDS [TARGET...]
#
# Without targets, every target that has a seed corpus in fuzz/corpus/ runs.
# Up to N targets (default 1) run at once, each as one process: the machine is
# shared, so a long campaign is one or two at a time. New inputs collect in
# build/fuzz/work/<target> (or $ZOLIB_FUZZ_WORK/<target>), so a later run starts
# from what an earlier one found; the committed seeds are only read. A finding
# ends its target and is kept as build/fuzz/<target>-crash-* (or -leak-,
# -timeout-, -oom-); the log stays in the work directory.
#
# Prints one line per target (runs, seconds, corpus size, peak memory) and
# exits 1 when any target found something.
set -euo pipefail
cd "$(dirname "$0")/.."

parallel=1
if [[ "${1:-}" == "-j" ]]; then
    parallel="$2"
    shift 2
fi
if [[ $# -lt 1 || ! "$1" =~ ^[0-9]+$ ]]; then
    echo "usage: $0 [-j N] SECONDS [TARGET...]" >&2
    exit 2
fi
seconds="$1"
shift
targets=("$@")
if [[ ${#targets[@]} -eq 0 ]]; then
    for dir in fuzz/corpus/*/; do
        targets+=("$(basename "$dir")")
    done
fi

if [[ "${ZOLIB_FUZZ_NO_BUILD:-0}" != 1 ]]; then
    cmake --preset fuzz >/dev/null
    cmake --build --preset fuzz -j 2 >/dev/null
fi
work="${ZOLIB_FUZZ_WORK:-build/fuzz/work}"
mkdir -p "$work"

run_one() {
    local target="$1"
    local log="$work/$target.log"
    mkdir -p "$work/$target"
    local dict=()
    [[ -f fuzz/$target.dict ]] && dict=(-dict="fuzz/$target.dict")
    # -timeout: one input taking this long is a finding (a loop); the memory
    # limit catches inputs that make the code allocate hugely.
    if build/fuzz/fuzz/"$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
        -print_final_stats=1 -artifact_prefix="build/fuzz/$target-" "${dict[@]}" \
        "$work/$target" "fuzz/corpus/$target" >"$log" 2>&1; then
        echo ok >"$work/$target.status"
    else
        echo FAILED >"$work/$target.status"
    fi
}

running=0
for target in "${targets[@]}"; do
    if [[ ! -x build/fuzz/fuzz/$target ]]; then
        echo "fuzz: no target $target" >&2
        exit 2
    fi
    rm -f "$work/$target.status"
    run_one "$target" &
    running=$((running + 1))
    if [[ $running -ge $parallel ]]; then
        wait -n || true
        running=$((running - 1))
    fi
done
wait

failed=0
for target in "${targets[@]}"; do
    log="$work/$target.log"
    status="$(cat "$work/$target.status" 2>/dev/null || echo FAILED)"
    stat() { grep -o "stat::$1: *[0-9]*" "$log" | grep -o '[0-9]*$' || echo "?"; }
    runs="$(stat number_of_executed_units)"
    done_line="$(grep -o 'Done [0-9]* runs in [0-9]* second' "$log" | tail -n 1 || true)"
    secs="$(grep -o 'in [0-9]* second' <<<"$done_line" | grep -o '[0-9]*' || echo "?")"
    corpus="$(find "$work/$target" -type f | wc -l)"
    echo "fuzz: $target $status, $runs runs in ${secs} s, corpus $corpus," \
        "peak $(stat peak_rss_mb) MB"
    if [[ "$status" != ok ]]; then
        tail -n 60 "$log"
        echo "fuzz: $target FAILED (reproducer kept as build/fuzz/$target-*, log $log)"
        failed=1
    fi
done
exit "$failed"
