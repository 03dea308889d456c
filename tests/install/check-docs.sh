#!/usr/bin/env bash
# Checks an HTML reference (Doxygen output): every local link of the main page
# leads to a file, and the main page links the examples (shown as pages), the
# design notes and the reliability record.
set -euo pipefail
html="${1:?usage: check-docs.sh HTML_DIR}"
links="$(grep -o 'href="[^"]*"' "$html/index.html" | sed 's/^href="//; s/"$//; s/#.*//' | sort -u)"
status=0
for link in $links; do
    [[ $link == *:* || -z $link ]] && continue
    [[ -f $html/$link ]] || { echo "docs: index.html links $link, which is missing"; status=1; }
done
for wanted in 'looper_2Counter_8cpp-example.html' 'examples.html' 'md_design.html' \
    'md_reliability.html'; do
    grep -qx "$wanted" <<<"$links" || { echo "docs: index.html does not link $wanted"; status=1; }
done
[[ $status -eq 0 ]] && echo "docs: $(wc -w <<<"$links") links of the main page resolve"
exit $status
