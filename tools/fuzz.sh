#!/usr/bin/env bash
# Long damage runs over every parser of outside input, under Wine's heap checking
# (tests/fuzz/fuzz_parsers.cc). Usage: fuzz.sh <build dir> [inputs per parser] [seed]
# Prints the inputs and time per parser and the total; fails on a broken promise, a crash or
# any heap error Wine reports.
set -uo pipefail
build=$1
inputs=${2:-25000}
seed=${3:-$(date +%s)}
out=$(mktemp)
trap 'rm -f "$out"' EXIT
start=$(date +%s)
LI_WINEDEBUG=warn+heap LI_WINE_STREAM=1 "$build/wine_run.sh" \
  "$build/test_programs/fuzz_parsers.exe" --inputs="$inputs" --seed="$seed" >"$out" 2>&1
rc=$?
end=$(date +%s)
grep -E ' inputs |broke|missing|cannot|:(err|warn):heap' "$out" | head -50
heap_errors=$(grep -c -E ':(err|warn):heap' "$out")
parsers=$(grep -c ' inputs ' "$out")
total=$((parsers * inputs))
echo "fuzz: $total inputs over $parsers parsers (seed $seed) in $((end - start)) s," \
     "exit code $rc, heap errors $heap_errors"
[ "$rc" = 0 ] && [ "$heap_errors" = 0 ] && [ "$parsers" = 5 ]
