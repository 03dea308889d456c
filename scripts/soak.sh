#!/usr/bin/env bash
# Runs the stress tests and the control and cancellation sweeps in their long
# form: each test for SECONDS seconds (default 60) instead of the suite's one.
# The allocation-failure sweep runs its long form before them.
#
#   scripts/soak.sh [SECONDS] [dev|tsan] [gtest arguments...]
#
# dev (the default) runs them under AddressSanitizer + UndefinedBehaviorSanitizer,
# tsan under ThreadSanitizer. Each test prints one "[ counts ]" line (messages
# handled, waits released, sequences, cancellations, ...) and fails on anything
# lost or inconsistent. Exits non-zero on a failure.
#   scripts/soak.sh 600 tsan --gtest_filter='LooperSoak.*'
set -euo pipefail
cd "$(dirname "$0")/.."

seconds="${1:-60}"
preset="${2:-dev}"
shift $(($# < 2 ? $# : 2))
case "$preset" in
    dev | tsan) ;;
    *)
        echo "usage: $0 [SECONDS] [dev|tsan] [gtest arguments...]" >&2
        exit 2
        ;;
esac

cmake --preset "$preset" >/dev/null
cmake --build --preset "$preset" -j 2 --target stress_test alloc_test >/dev/null
# The allocation-failure sweep's long form (larger inputs) first.
ZOLIB_ALLOC_LONG=1 \
    ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 \
    UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    TSAN_OPTIONS=halt_on_error=1 \
    "build/$preset/tests/alloc/alloc_test"
for program in stress_test; do
    ZOLIB_SOAK_SECONDS="$seconds" \
        ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 \
        UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
        TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 \
        "build/$preset/tests/stress/$program" "$@"
done
