#!/usr/bin/env bash
# Runs every test program once under valgrind's memcheck: the `memcheck` preset
# (Debug, no sanitizer: valgrind and the sanitizers do not mix), each program
# with all its tests in one valgrind process. Installs valgrind from Debian.
#
#   scripts/memcheck.sh [PROGRAM...]     # default: every test program
#
# Fails on any memcheck error or definite/indirect leak; logs stay in
# build/memcheck/valgrind/<program>.log. The zobag tool the tool tests start,
# and the children of the multi-process tests, are not followed into.
set -euo pipefail
cd "$(dirname "$0")/.."

ZOLIB_EXTRA_PACKAGES="valgrind" scripts/deps.sh
cmake --preset memcheck >/dev/null
cmake --build --preset memcheck -j 2 >/dev/null

programs=("$@")
if [[ ${#programs[@]} -eq 0 ]]; then
    while IFS= read -r path; do
        programs+=("$(basename "$path")")
    done < <(find build/memcheck/tests -type f -executable -name '*_test' | sort)
fi
logs="$PWD/build/memcheck/valgrind"
mkdir -p "$logs"
failed=0
for program in "${programs[@]}"; do
    path="$(find build/memcheck/tests -type f -executable -name "$program" | head -n 1)"
    # The tests find their data relative to their own directory.
    if (cd "$(dirname "$path")" && valgrind --tool=memcheck --error-exitcode=99 \
        --leak-check=full --show-leak-kinds=definite,indirect \
        --errors-for-leak-kinds=definite,indirect --fair-sched=yes \
        --child-silent-after-fork=yes --log-file="$logs/$program.log" \
        "./$program" >"$logs/$program.out" 2>&1); then
        status=ok
    else
        status="FAILED ($?)"
        failed=1
    fi
    summary="$(grep -h 'ERROR SUMMARY' "$logs/$program.log" | head -n 1 | sed 's/^==[0-9]*== //')"
    tests="$(grep -h '^\[  PASSED  \]\|^\[  FAILED  \]' "$logs/$program.out" | head -n 2 | tr '\n' ' ')"
    echo "memcheck: $program $status; $tests; $summary"
done
exit "$failed"
