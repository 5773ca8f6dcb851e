#!/usr/bin/env bash
# Runs the whole suite with CTest under a virtual display (windows, message boxes and GDI+
# need one under Wine). Usage: run_tests.sh <build dir> [ctest regex]
set -uo pipefail
build=$1
filter=${2:-}
# Say which programs the suite runs, so that a log shows whether the shipped 32-bit build ran.
cache="$build/CMakeCache.txt"
if grep -q '^CMAKE_TOOLCHAIN_FILE:.*x86_64' "$cache"; then
  echo "run_tests: the x64 build (no 32-bit Wine runs on this machine)"
elif root=$(sed -n 's/^LI_WINE_ROOT:STRING=//p' "$cache") && [ -n "$root" ]; then
  echo "run_tests: the i686 build, in the emulated 32-bit Wine of $root"
else
  echo "run_tests: the i686 build, in this machine's 32-bit Wine"
fi
args=(--test-dir "$build" --output-on-failure -j "$(nproc)" --timeout 600)
[ -n "$filter" ] && args+=(-R "$filter")
if [ -z "${DISPLAY:-}" ]; then
  exec xvfb-run -a -s "-screen 0 1280x1024x24 -nolisten tcp" ctest "${args[@]}"
fi
exec ctest "${args[@]}"
