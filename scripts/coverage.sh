#!/usr/bin/env bash
# Measures the line coverage of the library (src/) by the whole test suite:
# builds the `coverage` preset (gcc --coverage), runs every test once and
# reports with gcovr, which scripts/deps.sh installs from Debian.
#
#   scripts/coverage.sh            # summary and per-file table on stdout
#
# The detailed HTML report goes to build/coverage/report/index.html.
set -euo pipefail
cd "$(dirname "$0")/.."

ZOLIB_EXTRA_PACKAGES="gcovr" scripts/deps.sh
cmake --preset coverage >/dev/null
cmake --build --preset coverage -j 2
# Counts from an earlier run would add up with this one's.
find build/coverage -name '*.gcda' -delete
ctest --preset coverage
mkdir -p build/coverage/report
gcovr --root . --filter 'src/' --exclude-unreachable-branches \
    --html-details build/coverage/report/index.html \
    --txt - --print-summary build/coverage
