#!/usr/bin/env bash
# Mutation testing: how many small, plausible mistakes in the library and the
# zobag tool the test suite notices.
#
# The mutants are listed in scripts/mutants.txt. Each one replaces an exact
# snippet of one source file. The script copies the working tree (tracked and
# new files, not build output) to build/mutate/tree, builds it there once
# (Debug, no sanitizer, the memcheck preset), and then, mutant by mutant:
# writes the mutated file into the copy, rebuilds incrementally, runs the
# mutant's tests (a ctest -R regular expression) and puts the file back.
# The working tree itself is never touched.
#
# A mutant is
#   caught       when a selected test fails, crashes or times out;
#   survived     when every selected test passes;
#   stale        when its snippet is in neither the hinted file nor exactly
#                one other file under src/ or tools/ (the code moved on:
#                update the list);
#   build-error  when the mutated tree does not compile (a bad mutant: fix it);
#   no-tests     when its regular expression selects no test (fix it).
# The catch rate is caught / (caught + survived).
#
#   scripts/mutate.sh                 every mutant
#   scripts/mutate.sh ID...           only these mutants
#   scripts/mutate.sh -l              list the mutants and where their snippets are
#   options: -t SECONDS  limit for the tests of one mutant (default 300; a hang is caught)
#            -c          first run the whole suite on the unmutated tree (it must pass)
#
# Not part of CI: a full run rebuilds once per mutant (about 20 minutes on two
# cores; a hang costs its test's 120 s time-out). Results and logs go to
# build/mutate/results.txt and build/mutate/ID.log. ZOLIB_MUTANTS=FILE uses
# another list (for trying out new mutants).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
list=${ZOLIB_MUTANTS:-$root/scripts/mutants.txt}  # another list, for trying out new mutants
work=$root/build/mutate
tree=$work/tree
bdir=$tree/build/memcheck
limit=300
check=0
only_list=0

usage() {
    sed -n '2,/^set -euo/p' "$0" | sed '$d; s/^# \{0,1\}//' >&2
    exit 2
}
while getopts "t:clh" opt; do
    case $opt in
    t) limit=$OPTARG ;;
    c) check=1 ;;
    l) only_list=1 ;;
    *) usage ;;
    esac
done
shift $((OPTIND - 1))

# The helper reads the list and finds and applies snippets.
#   ids LIST              "id<TAB>file<TAB>tests" per mutant, in list order
#   locate LIST ID ROOT   the file (relative to ROOT) holding the mutant's snippet
#                         exactly once, or "stale"
#   apply LIST ID ROOT DEST FILE   writes ROOT/FILE with the mutant applied to DEST/FILE
read -r -d '' helper <<'PERL' || true
use strict;
use warnings;

sub parse {
    my ($path) = @_;
    open(my $in, "<", $path) or die "$path: $!\n";
    my (@mutants, $m);
    my $line = 0;
    while (<$in>) {
        $line++;
        chomp;
        next if /^\s*#/;
        if (/^\s*$/) { undef $m; next; }
        my ($key, $value) = /^(\w+):(?: (.*))?$/ or die "$path:$line: not 'key: value'\n";
        $value //= "";
        if ($key eq "id") {
            $m = { id => $value, line => $line, old => [], new => [] };
            push @mutants, $m;
            next;
        }
        die "$path:$line: '$key' before any id\n" unless $m;
        if ($key eq "old" || $key eq "new") { push @{ $m->{$key} }, $value; }
        elsif ($key =~ /^(file|tests|why)$/) { $m->{$key} = $value; }
        else { die "$path:$line: unknown key '$key'\n"; }
    }
    my %seen;
    for my $m (@mutants) {
        for my $k (qw(file tests why)) {
            die "$path:$m->{line}: mutant $m->{id} has no '$k'\n" unless defined $m->{$k};
        }
        die "$path:$m->{line}: mutant $m->{id} has no 'old'\n" unless @{ $m->{old} };
        die "$path:$m->{line}: mutant id $m->{id} is used twice\n" if $seen{ $m->{id} }++;
        $m->{from} = join("\n", @{ $m->{old} });
        $m->{to} = join("\n", @{ $m->{new} });
    }
    return @mutants;
}

sub slurp {
    my ($path) = @_;
    open(my $in, "<", $path) or return undef;
    local $/;
    my $text = <$in>;
    return $text;
}

sub occurrences {
    my ($text, $snippet) = @_;
    my ($count, $at) = (0, 0);
    while (($at = index($text, $snippet, $at)) >= 0) { $count++; $at += length($snippet); }
    return $count;
}

sub find_mutant {
    my ($list, $id) = @_;
    my ($m) = grep { $_->{id} eq $id } parse($list);
    die "no mutant '$id' in $list\n" unless $m;
    return $m;
}

sub locate {
    my ($m, $root) = @_;
    my $hinted = slurp("$root/$m->{file}");
    return $m->{file} if defined $hinted && occurrences($hinted, $m->{from}) == 1;
    my @files = grep { m{^(src|tools)/.*\.(c|cc|cpp|h|hpp)$} }
        split(/\0/, `cd '$root' && git ls-files -z --cached --others --exclude-standard`);
    my @holders;
    for my $f (@files) {
        my $text = slurp("$root/$f");
        next unless defined $text;
        my $n = occurrences($text, $m->{from});
        return "stale" if $n > 1;
        push @holders, $f if $n == 1;
    }
    return @holders == 1 ? $holders[0] : "stale";
}

my $cmd = shift @ARGV;
if ($cmd eq "ids") {
    print "$_->{id}\t$_->{file}\t$_->{tests}\n" for parse($ARGV[0]);
} elsif ($cmd eq "locate") {
    my ($list, $id, $root) = @ARGV;
    print locate(find_mutant($list, $id), $root), "\n";
} elsif ($cmd eq "apply") {
    my ($list, $id, $root, $dest, $file) = @ARGV;
    my $m = find_mutant($list, $id);
    my $text = slurp("$root/$file");
    my $at = index($text, $m->{from});
    die "snippet of $id not in $file\n" if $at < 0;
    substr($text, $at, length($m->{from})) = $m->{to};
    open(my $out, ">", "$dest/$file") or die "$dest/$file: $!\n";
    print $out $text;
    close($out) or die "$dest/$file: $!\n";
} else {
    die "unknown helper command '$cmd'\n";
}
PERL

mutants=$(perl -e "$helper" ids "$list")
if [ $# -gt 0 ]; then
    for id in "$@"; do
        if ! cut -f1 <<<"$mutants" | grep -qxF -- "$id"; then
            echo "mutate: no mutant '$id' in $list" >&2
            exit 2
        fi
    done
    mutants=$(awk -F'\t' 'NR == FNR { want[$1] = 1; next } $1 in want' <(printf '%s\n' "$@") - <<<"$mutants")
fi

if [ "$only_list" = 1 ]; then
    while IFS=$'\t' read -r id _ tests; do
        printf '%-28s %-36s %s\n' "$id" "$(perl -e "$helper" locate "$list" "$id" "$root")" "$tests"
    done <<<"$mutants"
    exit 0
fi

start=$(date +%s)
mkdir -p "$tree"

# The copy: every tracked or new file of the working tree. A file is copied
# (with a fresh time stamp) only when its bytes differ, so that the build in
# the copy stays incremental from one run to the next.
# Files the tree no longer has are removed from the copy, so that no stale
# header is found in their place.
sync_tree() {
    local files=$work/files.txt
    git ls-files --cached --others --exclude-standard | sort >"$files"
    while IFS= read -r f; do
        [ -f "$f" ] || continue
        if ! cmp -s "$f" "$tree/$f"; then
            mkdir -p "$tree/$(dirname "$f")"
            cp "$f" "$tree/$f"
        fi
    done <"$files"
    (cd "$tree" && find . -path ./build -prune -o -type f -printf '%P\n' | sort) |
        comm -23 - "$files" | while IFS= read -r gone; do rm -f "$tree/$gone"; done
}

current=""
restore() {
    if [ -n "$current" ]; then
        cp "$root/$current" "$tree/$current"
        current=""
    fi
}
trap restore EXIT
trap 'restore; exit 130' INT TERM

echo "mutate: copying the tree to build/mutate/tree and building it (memcheck preset)"
sync_tree
if [ ! -f "$bdir/build.ninja" ]; then
    # No relinking of every test program when only the shared library changed.
    (cd "$tree" && cmake --preset memcheck -DZOLIB_WERROR=OFF -DCMAKE_LINK_DEPENDS_NO_SHARED=ON) \
        >"$work/configure.log" 2>&1 || {
        cat "$work/configure.log"
        exit 1
    }
fi
if ! cmake --build "$bdir" -j 2 >"$work/build.log" 2>&1; then
    tail -30 "$work/build.log"
    echo "mutate: the unmutated tree does not build" >&2
    exit 1
fi

run_tests() { # regex log
    timeout -k 10 "$limit" ctest --test-dir "$bdir" -R "$1" -j 2 --no-tests=error \
        --stop-on-failure --output-on-failure >"$2" 2>&1
}

if [ "$check" = 1 ]; then
    # ctest's expressions allow few groups: check with the whole suite.
    echo "mutate: running the test suite on the unmutated tree"
    if ! run_tests . "$work/check.log"; then
        tail -30 "$work/check.log"
        echo "mutate: the unmutated tree fails its tests; mutants would be caught by that" >&2
        exit 1
    fi
fi

results=$work/results.txt
: >"$results"
caught=0 survived=0 stale=0 bad=0
printf '%-28s %-12s %6s  %s\n' "mutant" "result" "time" "file" | tee -a "$results"
while IFS=$'\t' read -r id _ tests; do
    t0=$(date +%s)
    file=$(perl -e "$helper" locate "$list" "$id" "$root")
    log=$work/$id.log
    detail=""
    if [ "$file" = stale ]; then
        result=stale
        file="-"
        stale=$((stale + 1))
    else
        current=$file
        perl -e "$helper" apply "$list" "$id" "$root" "$tree" "$file"
        if ! cmake --build "$bdir" -j 2 >"$log" 2>&1; then
            result=build-error
            detail=$(grep -m1 -E 'error' "$log" || true)
            bad=$((bad + 1))
        elif run_tests "$tests" "$log"; then
            result=survived
            survived=$((survived + 1))
        elif grep -q 'No tests were found' "$log"; then
            result=no-tests
            bad=$((bad + 1))
        else
            result=caught
            if grep -q '\*\*\*Timeout' "$log" || ! grep -q 'tests failed out of' "$log"; then
                result="caught(hang)"
            fi
            # The first test that failed: what a cut of the suite must keep catching.
            detail=$(grep -m1 '\*\*\*' "$log" | sed -E 's/.*Test +#[0-9]+: ([^ ]+) .*/by \1/' || true)
            caught=$((caught + 1))
        fi
        restore
    fi
    printf '%-28s %-12s %5ss  %s%s\n' "$id" "$result" "$(($(date +%s) - t0))" "$file" \
        "${detail:+  $detail}" | tee -a "$results"
done <<<"$mutants"

# Leave the copy built as the working tree is.
cmake --build "$bdir" -j 2 >"$work/build.log" 2>&1 || true

scored=$((caught + survived))
rate=$(awk -v c=$caught -v n=$scored 'BEGIN { printf "%.1f", n ? 100 * c / n : 0 }')
summary="mutate: $caught caught, $survived survived, $stale stale, $bad bad; catch rate $caught/$scored = $rate % ($(($(date +%s) - start)) s)"
echo "$summary" | tee -a "$results"
