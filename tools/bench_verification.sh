#!/usr/bin/env bash
# Benchmark: verification of a 100 MB signed archive (the stand-in's "big" variant) under Wine,
# next to sha256sum of the same file on the host. Both run warm (the file in the page cache).
# Usage: bench_verification.sh [build dir] [runs]
# With BENCH_SUMMARY set, appends its figures there (tab-separated) for the summary table.
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
verify_out=$("$build/wine_run.sh" "$build/test_programs/verify_bench.exe" "$win_path" "$runs" | tr -d '\r')
echo "$verify_out"

echo "== sha256sum on the host"
sha_times=()
for n in $(seq 1 "$runs"); do
  start=$(date +%s%N)
  sha256sum "$file" >/dev/null
  end=$(date +%s%N)
  echo "run $n: $(( (end - start) / 1000000 )) ms"
  sha_times+=("$(( (end - start) / 1000000 ))")
done

if [ -n "${BENCH_SUMMARY:-}" ]; then
  best_verify=$(echo "$verify_out" | sed -n 's/.*total \([0-9.]*\) ms.*/\1/p' | sort -g | head -1)
  best_sha=$(printf '%s\n' "${sha_times[@]}" | sort -g | head -1)
  {
    printf 'verification, %s MB archive\tlist + Authenticode under Wine, best of %s\t%s ms\n' "$((size / 1000000))" "$runs" "$best_verify"
    printf 'verification, %s MB archive\tsha256sum on the host\t%s ms\n' "$((size / 1000000))" "$best_sha"
  } >>"$BENCH_SUMMARY"
fi
