#!/usr/bin/env bash
# Benchmark: from process start to the offer screen painted, for the local-profile installer
# against a minimal Win32 program that opens one window of the same size, alternating, under
# a virtual display, with the fake publisher serving (median of several starts each).
# Usage: bench_first_paint.sh [build dir] [runs]
# With BENCH_SUMMARY set, appends its figures there (tab-separated) for the summary table.
set -euo pipefail
build=$(cd "${1:-build/local}" && pwd)
runs=${2:-9}
port=$(sed -n 's/^LI_LOCAL_PORT:STRING=//p' "$build/CMakeCache.txt")
cmake --build "$build" --target first_paint_bench lite_installer -j "${JOBS:-2}" >/dev/null
installer="Z:$(printf '%s' "$build/lite_installer.exe" | tr / '\\')"

python3 tests/fake_publisher/fixture.py start "$build" "$port" >/dev/null
trap 'python3 tests/fake_publisher/fixture.py stop "$build" "$port" >/dev/null' EXIT
# A Wine server left from an earlier run keeps its desktop on that run's display.
"$build/wine_run.sh" --server -w 2>/dev/null || true

echo "== process start -> first window painted, $runs starts each"
out=$(xvfb-run -a -s "-screen 0 1024x768x24 -nolisten tcp" \
        "$build/wine_run.sh" "$build/test_programs/first_paint_bench.exe" "$installer" "$runs" |
      tr -d '\r')
"$build/wine_run.sh" --server -k 2>/dev/null || true
echo "$out"
line=$(echo "$out" | grep '^median: ' || true)
if [ -z "$line" ]; then
  echo "bench_first_paint: no median reported" >&2
  exit 1
fi
read -r minimal installer ratio < <(echo "$line" |
  sed -n 's/^median: minimal \([0-9.]*\) ms, installer \([0-9.]*\) ms, ratio \([0-9.]*\)$/\1 \2 \3/p')
if [ -n "${BENCH_SUMMARY:-}" ]; then
  printf 'start -> offer screen painted\tinstaller, median of %s\t%s ms\n' "$runs" "$installer" >>"$BENCH_SUMMARY"
  printf 'start -> offer screen painted\tminimal window, median of %s\t%s ms\n' "$runs" "$minimal" >>"$BENCH_SUMMARY"
  printf 'start -> offer screen painted\tinstaller / minimal\t%s\n' "$ratio" >>"$BENCH_SUMMARY"
fi
