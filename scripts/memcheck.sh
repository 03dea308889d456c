#!/usr/bin/env bash
# Runs every test program once under valgrind's memcheck: the `memcheck` preset
# (Debug, no sanitizer: valgrind and the sanitizers do not mix), each program
# with all its tests in one valgrind process. Installs valgrind from Debian.
#
#   scripts/memcheck.sh [PROGRAM...]     # default: every test program
#
# Fails on any memcheck error (in the test process or the children it forks)
# and on memory the test process itself leaks (definitely or indirectly lost).
# Children of the multi-process tests end with _exit and leave what they
# made on purpose, so leaks are not counted there. Logs stay in
# build/memcheck/valgrind/<program>.log; the zobag tool that the tool tests
# start is not followed into.
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
# Tests valgrind cannot run as they are (none at present), e.g.
# [program]="-Suite.Test".
declare -A skip=()
failed=0
for program in "${programs[@]}"; do
    filter=()
    [[ -n "${skip[$program]:-}" ]] && filter=(--gtest_filter="${skip[$program]}")
    path="$(find build/memcheck/tests -type f -executable -name "$program" | head -n 1)"
    # The tests find their data relative to their own directory.
    if (cd "$(dirname "$path")" && valgrind --tool=memcheck --error-exitcode=99 \
        --leak-check=full --show-leak-kinds=definite,indirect --errors-for-leak-kinds=none \
        --fair-sched=yes --child-silent-after-fork=yes --log-file="$logs/$program.log" \
        "./$program" "${filter[@]}" >"$logs/$program.out" 2>&1); then
        status=ok
    else
        status="FAILED ($?)"
        failed=1
    fi
    # The log holds the test process's own leak summary (children are silent).
    if grep -Eq '(definitely|indirectly) lost: [1-9]' "$logs/$program.log"; then
        status="FAILED (leak)"
        failed=1
    fi
    summary="$(grep -h 'ERROR SUMMARY' "$logs/$program.log" | head -n 1 | sed 's/^==[0-9]*== //')"
    tests="$(grep -h '^\[  PASSED  \]\|^\[  FAILED  \]' "$logs/$program.out" | head -n 2 | tr '\n' ' ')"
    echo "memcheck: $program $status; $tests; $summary"
done
exit "$failed"
