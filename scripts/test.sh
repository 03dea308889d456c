#!/usr/bin/env bash
# Builds ZoLib and runs every test:
#   1. the whole suite under AddressSanitizer + UndefinedBehaviorSanitizer,
#   2. the threaded tests under ThreadSanitizer,
#   3. an install of the release build consumed through CMake and pkg-config,
#   4. a short run of each libFuzzer target from its committed seeds.
# Exits non-zero on the first failure.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/deps.sh
jobs=$(nproc)

echo "== ASan + UBSan =="
cmake --preset dev >/dev/null
cmake --build --preset dev -j "$jobs"
summary="$(mktemp)"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    ctest --preset dev | tee -a "$summary"

echo "== ThreadSanitizer =="
cmake --preset tsan >/dev/null
cmake --build --preset tsan -j "$jobs"
TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 ctest --preset tsan | tee -a "$summary"

echo "== Install and consume =="
tests/install/check-install.sh | tee -a "$summary"

echo "== Fuzz smoke =="
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j "$jobs"
fuzz_work="$(mktemp -d)"
trap 'rm -rf "$fuzz_work" "$summary"' EXIT
fuzzed=0
for target in fuzz_unflatten fuzz_peek fuzz_unzip fuzz_loadfile fuzz_fromjson fuzz_channel; do
    # New inputs go to a scratch corpus; the committed seeds are only read.
    mkdir -p "$fuzz_work/$target"
    dict=()
    [[ -f fuzz/$target.dict ]] && dict=(-dict="fuzz/$target.dict")
    if ! build/fuzz/fuzz/$target -max_total_time="${ZOLIB_FUZZ_SECONDS:-15}" -timeout=10 \
        -rss_limit_mb=2048 -artifact_prefix="build/fuzz/$target-" "${dict[@]}" \
        "$fuzz_work/$target" "fuzz/corpus/$target" >"$fuzz_work/$target.log" 2>&1; then
        tail -n 60 "$fuzz_work/$target.log"
        echo "fuzz: $target FAILED (reproducer kept as build/fuzz/$target-*)"
        exit 1
    fi
    echo "fuzz: $target ok, $(grep -o 'Done [0-9]* runs' "$fuzz_work/$target.log")"
    fuzzed=$((fuzzed + 1))
done

# Every step above stops the script on failure, so reaching here means all passed.
tests=$(awk '/tests failed out of/ {n += $NF} /^[0-9]+ passed, 0 failed$/ {n += $1} END {print n + 0}' \
    "$summary")
echo "zolib: $((tests + fuzzed)) passed, 0 failed"
