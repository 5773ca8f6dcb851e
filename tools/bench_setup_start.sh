#!/usr/bin/env bash
# Benchmark: from the end of the archive download to the start of the setup program (the
# consent check, the archive lock, the signature verification, the statistics saved for the
# setup and the launch event), over whole silent install flows against the fake publisher
# with the signed stand-in setup program as the archive.
# Usage: bench_setup_start.sh [build dir] [runs]
# With BENCH_SUMMARY set, appends its figures there (tab-separated) for the summary table.
set -euo pipefail
build=${1:-build/local}
runs=${2:-9}
jobs=${JOBS:-2}
port=$(sed -n 's/^LI_LOCAL_PORT:STRING=//p' "$build/CMakeCache.txt")
cmake --build "$build" --target setup_start_bench stand_in_fixtures -j "$jobs" >/dev/null
archive="Z:$(realpath "$build/stand_in/good.exe" | tr / '\\')"
size=$(stat -c %s "$build/stand_in/good.exe")

python3 tests/fake_publisher/fixture.py start "$build" "$port" >/dev/null
trap 'python3 tests/fake_publisher/fixture.py stop "$build" "$port" >/dev/null' EXIT

echo "archive: stand-in good.exe ($size bytes) from https://localhost:$port, $runs runs"
echo "== GetModule returned -> RunModule entered (the first run loads the trust providers)"
out=$("$build/wine_run.sh" "$build/test_programs/setup_start_bench.exe" "$archive" "$runs" | tr -d '\r')
echo "$out"
line=$(echo "$out" | grep '^min ' || true)
if [ -z "$line" ]; then
  echo "bench_setup_start: no run reached the setup" >&2
  exit 1
fi
min=$(echo "$line" | sed -n 's/^min \([0-9.]*\) ms, median \([0-9.]*\) ms.*/\1/p')
median=$(echo "$line" | sed -n 's/^min \([0-9.]*\) ms, median \([0-9.]*\) ms.*/\2/p')
if [ -n "${BENCH_SUMMARY:-}" ]; then
  printf 'download end -> setup start\tmin, %s runs (%s KB archive)\t%s ms\n' "$runs" "$((size / 1024))" "$min" >>"$BENCH_SUMMARY"
  printf 'download end -> setup start\tmedian\t%s ms\n' "$median" >>"$BENCH_SUMMARY"
fi
