#!/usr/bin/env bash
# Compares the symbols libzolib.so exports (nm -D --defined-only, demangled)
# with the committed list tests/install/symbols.txt, so that an accidental
# export or a lost one shows up. After a deliberate change of the API:
#   tests/install/check-symbols.sh --update path/to/libzolib.so
set -euo pipefail
list="$(dirname "$0")/symbols.txt"
update=0
if [[ ${1:-} == --update ]]; then update=1; shift; fi
lib="${1:?usage: check-symbols.sh [--update] LIBZOLIB.so}"

exported() { nm -D --defined-only -C "$lib" | cut -d' ' -f3- | LC_ALL=C sort -u; }

if [[ $update -eq 1 ]]; then
    exported >"$list"
    echo "symbols: $(wc -l <"$list") written to $list"
elif diff -u --label symbols.txt --label "$lib" "$list" <(exported); then
    echo "symbols: $(wc -l <"$list") exported, as listed"
else
    echo "symbols: the exports differ from symbols.txt (+ exported, not listed; - listed, not exported)"
    exit 1
fi
