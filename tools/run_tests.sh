#!/usr/bin/env bash
# Runs the whole suite with CTest under a virtual display (windows, message boxes and GDI+
# need one under Wine). Usage: run_tests.sh <build dir> [ctest regex]
set -uo pipefail
build=$1
filter=${2:-}
echo "run_tests: $("$(dirname "$0")/build_route.sh" "$build")"
args=(--test-dir "$build" --output-on-failure -j "$(nproc)" --timeout 600)
[ -n "$filter" ] && args+=(-R "$filter")
if [ -z "${DISPLAY:-}" ]; then
  exec xvfb-run -a -s "-screen 0 1280x1024x24 -nolisten tcp" ctest "${args[@]}"
fi
exec ctest "${args[@]}"
