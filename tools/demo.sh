#!/usr/bin/env bash
# The main job: runs the installer once under Wine and shows what it did.
set -uo pipefail
build=$1
exe="$build/lite_installer.exe"
prefix="$build/wineprefix"
echo "== running $exe --check-the-interface under Wine"
"$build/wine_run.sh" "$build/test_programs/run_and_report.exe" "$(winepath -w "$exe" 2>/dev/null || echo "$exe")" --check-the-interface
