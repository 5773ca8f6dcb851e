#!/usr/bin/env bash
# The main job: runs the installer under Wine the way a user or a deployment tool would, and
# shows for each run its full exit code and the log lines it wrote.
#
# Each run gets a fresh temporary folder (TMP and TEMP point there), so the log shown is
# exactly that run's. The log is UTF-16LE; iconv turns it into UTF-8 for the terminal.
# The silent installations download from the local fake publisher (tests/fake_publisher),
# which serves a signed stand-in for the browser setup program (tests/stand_in).
# Usage: demo.sh <build dir>
set -uo pipefail
source_dir=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "$1" && pwd)
exe="$build/lite_installer.exe"
runner="$build/test_programs/run_and_report.exe"
temp="$build/demo_temp"
port=$(sed -n 's/^LI_LOCAL_PORT:STRING=//p' "$build/CMakeCache.txt")
served="$build/fake_publisher/files/browser-setup.arc"

if [ ! -f "$exe" ] || [ ! -f "$runner" ]; then
  echo "demo: $exe or $runner is missing; run 'make build-local' first" >&2
  exit 1
fi

# Wine sees the Unix file system as drive Z:.
windows_path() { printf 'Z:%s' "$1" | tr '/' '\\'; }

run() {
  local title=$1
  shift
  echo
  echo "== $title"
  echo "   lite_installer.exe $*"
  rm -rf "$temp"
  mkdir -p "$temp"
  "$build/wine_run.sh" "$runner" "--temp=$(windows_path "$temp")" "$(windows_path "$exe")" "$@"
  local log="$temp/lite_installer.log"
  echo "-- log ($(windows_path "$log")):"
  if [ -f "$log" ]; then
    # Drop the byte-order mark and the carriage returns of system error texts.
    iconv -f UTF-16LE -t UTF-8 "$log" | sed -e '1s/^\xEF\xBB\xBF//' -e 's/\r$//' | sed 's/^/   /'
  else
    echo "   (no log written)"
  fi
}

publisher() { python3 "$source_dir/tests/fake_publisher/fixture.py" "$1" "$build" "$port" \
                --source "$source_dir" >/dev/null; }
cleanup() {
  publisher stop 2>/dev/null
  rm -f "$served"
  rm -rf "$temp"
}
trap cleanup EXIT

# Serves one stand-in variant as the setup archive; false when the fixtures are not built.
serve() {
  [ -f "$build/stand_in/$1.exe" ] || return 1
  mkdir -p "$(dirname "$served")"
  cp "$build/stand_in/$1.exe" "$served"
}

run "Windows 10 interface query (answered before anything else: 700 available, 701 not)" \
  --check-the-interface
run "Interactive master installation (the window comes in a later stage)" --brand-name=zorvin

if [ -n "$port" ] && publisher start && serve good; then
  run "Silent installation: download, verification and setup run (the setup's exit code)" \
    --silent --send-statistics
  serve unsigned
  run "Silent installation of an archive without a valid signature (402: not run)" --silent
else
  echo
  echo "== (the fake publisher or the stand-in fixtures are missing: silent runs skipped)"
fi

run "Elevated child started without a master (no events to wait for: -1)" \
  --run-as-admin --parent-installer-process-id=1 "--setup-cmd-line=fake_browser_arc --silent"
