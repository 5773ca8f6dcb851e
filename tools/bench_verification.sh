#!/usr/bin/env bash
# Benchmark: verification of a 100 MB signed archive (the stand-in's "big" variant) under Wine,
# next to sha256sum of the same file on the host. Both run warm (the file in the page cache).
# Usage: bench_verification.sh [build dir] [runs]
set -euo pipefail
build=${1:-build/local}
runs=${2:-3}
jobs=${JOBS:-2}
cmake --build "$build" --target stand_in_big verify_bench -j "$jobs" >/dev/null
file="$build/stand_in/big.exe"
win_path="Z:$(realpath "$file" | tr / '\\')"
size=$(stat -c %s "$file")
echo "file: $file ($size bytes)"
cat "$file" >/dev/null  # warm the page cache

echo "== verification under Wine (list check + Authenticode with revocation on)"
"$build/wine_run.sh" "$build/test_programs/verify_bench.exe" "$win_path" "$runs" | tr -d '\r'

echo "== sha256sum on the host"
for n in $(seq 1 "$runs"); do
  start=$(date +%s%N)
  sha256sum "$file" >/dev/null
  end=$(date +%s%N)
  echo "run $n: $(( (end - start) / 1000000 )) ms"
done
