#!/usr/bin/env bash
# The test budget: how much of the repository's C and C++ is tests.
#
# Counts the lines of every C/C++ file git tracks (.c .cc .cpp .h .hpp) that
# hold code: blank lines and lines that are only a comment (// or /* */, the
# "*" lines inside a block comment included) do not count. Build directories
# and files git does not track are left out. Test lines are
# those under tests/ and fuzz/; the share is test lines over all lines.
#
#   scripts/test-budget.sh             the totals, then one line per top-level folder
#   scripts/test-budget.sh --summary   the totals only
set -euo pipefail
cd "$(dirname "$0")/.."

summary_only=0
case "${1:-}" in
"") ;;
-s | --summary) summary_only=1 ;;
*)
    echo "usage: $0 [--summary]" >&2
    exit 2
    ;;
esac

# The files git tracks; outside a git checkout, every C/C++ file but the build directories.
list_files() {
    if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
        git ls-files -z -- '*.c' '*.cc' '*.cpp' '*.h' '*.hpp'
    else
        find . \( -name build -o -name '.*' ! -name . \) -prune -o -type f \
            \( -name '*.c' -o -name '*.cc' -o -name '*.cpp' -o -name '*.h' -o -name '*.hpp' \) \
            -printf '%P\0'
    fi
}

list_files |
    SUMMARY_ONLY=$summary_only perl -0 -ne '
    chomp;
    my $file = $_;
    my ($top) = $file =~ m{^([^/]+)/} ? ($1) : (".");
    open(my $in, "<", $file) or die "$file: $!\n";
    local $/ = "\n";
    my ($block, $raw) = (0, undef);
    my $lines = 0;
    while (my $line = <$in>) {
        my $code = 0;
        pos($line) = 0;
        while (pos($line) < length($line)) {
            if ($block) {
                if ($line =~ m{\G.*?\*/}gc) { $block = 0; } else { last; }
            } elsif (defined $raw) {
                $code = 1;
                if ($line =~ m{\G.*?\)\Q$raw\E"}gc) { undef $raw; } else { last; }
            } elsif ($line =~ m{\G\s+}gc) {
            } elsif ($line =~ m{\G//}gc) {
                last;
            } elsif ($line =~ m{\G/\*}gc) {
                $block = 1;
            } elsif ($line =~ m{\G(?:u8|u|U|L)?R"([^()\\\s]{0,16})\(}gc) {
                $code = 1;
                $raw = $1;
            } elsif ($line =~ m{\G"(?:[^"\\]|\\.)*"?}gc) {
                $code = 1;
            } elsif ($line =~ m{\G\x27(?:[^\x27\\]|\\.)*\x27?}gc) {
                $code = 1;
            } elsif ($line =~ m{\G[A-Za-z0-9_.]+(?:\x27[A-Za-z0-9_]+)*}gc) {
                $code = 1;    # identifiers and numbers, digit separators included
            } else {
                $line =~ m{\G.}gcs;
                $code = 1;
            }
        }
        $lines++ if $code;
    }
    close($in);
    $per{$top} += $lines;
    $all += $lines;
    $tests += $lines if $top eq "tests" || $top eq "fuzz";
    END {
        $all ||= 0;
        $tests ||= 0;
        printf("test budget: %d test lines (tests/ + fuzz/) of %d C/C++ lines = %.1f %% (target 25-33 %%)\n",
               $tests, $all, $all ? 100.0 * $tests / $all : 0);
        exit 0 if $ENV{SUMMARY_ONLY};
        for my $top (sort keys %per) {
            printf("  %-10s %7d\n", $top . "/", $per{$top});
        }
    }
'
