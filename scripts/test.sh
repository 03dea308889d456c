#!/usr/bin/env bash
# Builds ZoLib and runs every test:
#   1. the whole suite under AddressSanitizer + UndefinedBehaviorSanitizer,
#   2. the threaded tests under ThreadSanitizer,
#   3. shared and static release builds installed into one prefix, moved, and
#      consumed with g++ and clang++ through CMake and pkg-config; the README's
#      commands, the exported symbols, the HTML reference and the Debian
#      packages (tests/install/check-install.sh, 2-3 minutes),
#   4. a short run of each libFuzzer target from its committed seeds (scripts/fuzz.sh),
#   5. the bag suite built for big-endian s390x and run under qemu-user (scripts/cross.sh).
# Exits non-zero on the first failure.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/deps.sh
jobs=$(nproc)
# The NATS component's tests need the client library and the server; say so
# plainly when they are missing (its tests then skip themselves).
if ! pkg-config --exists libnats; then
    echo "test: libnats-dev is not installed: the NATS component is not built or tested"
elif ! command -v nats-server >/dev/null && [[ ! -x /usr/sbin/nats-server ]]; then
    echo "test: nats-server is not installed: the NATS tests skip"
fi

echo "== ASan + UBSan =="
cmake --preset dev >/dev/null
cmake --build --preset dev -j "$jobs"
summary="$(mktemp)"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    ctest --preset dev | tee -a "$summary"

echo "== ThreadSanitizer =="
cmake --preset tsan >/dev/null
cmake --build --preset tsan -j "$jobs"
# The tsan test preset sets TSAN_OPTIONS (halting, and suppressions for
# libraries built without the sanitizer).
ctest --preset tsan | tee -a "$summary"

echo "== Install and consume =="
tests/install/check-install.sh | tee -a "$summary"

echo "== Cross smoke: s390x =="
# Byte order: the bag tests, every architecture's fixtures among them, on a
# big-endian host. scripts/cross.sh ARCH runs the whole suite on each.
scripts/cross.sh s390x --smoke | tee -a "$summary"

echo "== Fuzz smoke =="
# Every target with a seed corpus, a short while each, from the committed
# seeds; new inputs go to a scratch corpus.
fuzz_work="$(mktemp -d)"
trap 'rm -rf "$fuzz_work" "$summary"' EXIT
ZOLIB_FUZZ_WORK="$fuzz_work" scripts/fuzz.sh -j "$jobs" "${ZOLIB_FUZZ_SECONDS:-15}" | tee "$fuzz_work/summary"
fuzzed=$(grep -c '^fuzz: .* ok,' "$fuzz_work/summary")

# Every step above stops the script on failure, so reaching here means all passed.
tests=$(awk '/tests failed out of/ {n += $NF} /^[0-9]+ passed, 0 failed$/ {n += $1} END {print n + 0}' \
    "$summary")
scripts/test-budget.sh --summary
echo "zolib: $((tests + fuzzed)) passed, 0 failed"
