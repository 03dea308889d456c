#!/usr/bin/env bash
# Builds ZoLib and runs every test:
#   1. the whole suite under AddressSanitizer + UndefinedBehaviorSanitizer,
#   2. the threaded tests under ThreadSanitizer,
#   3. an install of the release build consumed through CMake and pkg-config.
# Exits non-zero on the first failure.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/deps.sh
jobs=$(nproc)

echo "== ASan + UBSan =="
cmake --preset dev >/dev/null
cmake --build --preset dev -j "$jobs"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    ctest --preset dev

echo "== ThreadSanitizer =="
cmake --preset tsan >/dev/null
cmake --build --preset tsan -j "$jobs"
TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 ctest --preset tsan

echo "== Install and consume =="
tests/install/check-install.sh
