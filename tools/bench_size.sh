#!/usr/bin/env bash
# The size of the shipped executable: builds the release profile (`make build`) and reports it
# with tools/size_report.sh (sections and the objects that weigh most) when that script is
# there, otherwise with the plain file sizes. The local-profile executable of the benchmark's
# build folder is listed beside it for comparison.
# Usage: bench_size.sh [build dir]
# With BENCH_SUMMARY set, appends its figures there (tab-separated) for the summary table.
set -euo pipefail
build=${1:-build/local}
release=${RELEASE_BUILD:-build/release}
make --no-print-directory build RELEASE_BUILD="$release" >/dev/null
exe="$release/lite_installer.exe"
if [ -x tools/size_report.sh ]; then
  tools/size_report.sh "$release"
else
  ls -l "$exe" "$build/lite_installer.exe"
fi
size=$(stat -c %s "$exe")
local_size=$(stat -c %s "$build/lite_installer.exe")
echo "release: $size bytes; local profile ($build): $local_size bytes"
if [ -n "${BENCH_SUMMARY:-}" ]; then
  printf 'executable size\trelease lite_installer.exe\t%s bytes (%s KB)\n' "$size" "$((size / 1024))" >>"$BENCH_SUMMARY"
  printf 'executable size\tlocal-profile lite_installer.exe\t%s bytes (%s KB)\n' "$local_size" "$((local_size / 1024))" >>"$BENCH_SUMMARY"
fi
