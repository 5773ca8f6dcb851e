#!/usr/bin/env bash
# The main job: one complete silent installation under Wine, the way a deployment tool runs
# it, against the local fake publisher (tests/fake_publisher), which serves the signed
# stand-in setup program (tests/stand_in) as the browser's setup archive. It shows
#   1. the installer's full 32-bit exit code,
#   2. what the setup program received (the stand-in's report: command line, switches and
#      every file handed over),
#   3. the status and statistics requests the servers received during this run, decoded,
#   4. the registry values left behind, and
#   5. the log,
#   6. the same installation through the window under a virtual display: the offer screen,
#      Install pressed with real mouse input, the progress screen, the exit code (pictures
#      of both screens in build/demo/),
# then three short runs: the interface query, an elevated child started without a master,
# and an archive without a valid signature.
#
# Left behind in build/demo/ of the source folder: lite_installer.log (the log as written,
# UTF-16LE), requests.jsonl (this run's requests only) and setup_report.json.
# Exit status 0 when the silent installation succeeded (exit code 0 and a complete hand-over).
# Usage: demo.sh <build dir>
set -uo pipefail
source_dir=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "$1" && pwd)
exe="$build/lite_installer.exe"
runner="$build/test_programs/run_and_report.exe"
show="python3 $source_dir/tools/demo_show.py"
temp="$build/demo_temp"
out="$source_dir/build/demo"
port=$(sed -n 's/^LI_LOCAL_PORT:STRING=//p' "$build/CMakeCache.txt")
served="$build/fake_publisher/files/browser-setup.arc"
echo "demo: $("$source_dir/tools/build_route.sh" "$build")"
request_log="$build/fake_publisher/requests.jsonl"
browser_key='HKCU\Software\Zorvin\ZorvinBrowser'

# What a deployment tool passes: the parameters the download site would otherwise stamp into
# the file (language, banner, user and distribution identifiers, download date), and "vup" and
# "scup", which ask for the variations seed and the server configuration bundle.
distr_params="lang=en&banerid=1104&zorvinuid=2718281828459045&distr_zorvinuid=3141592653589793"
distr_params+="&browser=1&pps=1&win10pin=0&download_date=20260411&vup=1&scup=1"

for needed in "$exe" "$runner" "$build/stand_in/good.exe" "$build/stand_in/unsigned.exe"; do
  if [ ! -f "$needed" ]; then
    echo "demo: $needed is missing; run 'make build-local' first" >&2
    exit 1
  fi
done
if [ -z "$port" ]; then
  echo "demo: $build is not a local-profile build (no LI_LOCAL_PORT)" >&2
  exit 1
fi

# Wine sees the Unix file system as drive Z:.
windows_path() { printf 'Z:%s' "$1" | tr '/' '\\'; }
section() { echo; echo "== $1"; }
# The log is UTF-16LE with a byte-order mark; system error texts end in carriage returns.
log_text() { iconv -f UTF-16LE -t UTF-8 "$1" | sed -e '1s/^\xEF\xBB\xBF//' -e 's/\r$//'; }

publisher() { python3 "$source_dir/tests/fake_publisher/fixture.py" "$1" "$build" "$port" \
                --source "$source_dir" >/dev/null; }
# A run that did not end keeps the archive's bytes in the user's profile, where the tests'
# runs of the same URL would resume them: none are left before or after the demo.
forget_kept() {
  "$build/wine_run.sh" cmd /c 'del /q "%LOCALAPPDATA%\LiteInstallerData\setup-archive.*"' \
    >/dev/null 2>&1
}
cleanup() {
  forget_kept
  publisher stop 2>/dev/null
  rm -f "$served"
  rm -rf "$temp"
}
trap cleanup EXIT

serve() {
  mkdir -p "$(dirname "$served")"
  cp "$build/stand_in/$1.exe" "$served"
}

# Runs the installer with its own temporary folder (TMP and TEMP), so that the log and the
# files handed to the setup are this run's only. Sets $exit_code (the full 32-bit value).
run_installer() {
  rm -rf "$temp"
  mkdir -p "$temp"
  # Wine gives every process the elevated half of a split administrator token, and an
  # elevated installer only appends to a log that exists: as one an earlier run left.
  : > "$temp/lite_installer.log"
  local output
  output=$("$build/wine_run.sh" "$runner" "--temp=$(windows_path "$temp")" \
           "$(windows_path "$exe")" "$@" | tr -d '\r')
  exit_code=$(printf '%s\n' "$output" | sed -n 's/^exit code: \(-\{0,1\}[0-9]*\)$/\1/p' | tail -1)
  [ -n "$exit_code" ] || { printf '%s\n' "$output"; exit_code="(none)"; }
}

hex32() { [[ "$1" =~ ^-?[0-9]+$ ]] && printf '0x%08X' $(( $1 & 0xFFFFFFFF )) || echo "?"; }

# Short runs: the command, the exit code against the expected one, and the telling log lines.
short_run() {
  local title=$1 expected=$2
  shift 2
  section "$title"
  echo "   lite_installer.exe $*"
  run_installer "$@"
  local verdict="as expected"
  [[ " $expected " == *" $exit_code "* ]] || verdict="UNEXPECTED (expected $expected)"
  echo "   exit code: $exit_code ($(hex32 "$exit_code")), $verdict"
  if [ -f "$temp/lite_installer.log" ]; then
    log_text "$temp/lite_installer.log" |
      grep -E 'ERROR|ret code|Installer exit with code|Verification|Setup process exit' |
      cut -c 21- | sed 's/^/   | /'
  else
    echo "   (no log written)"
  fi
}

echo "Zorvin Browser lite installer: a silent installation as a deployment tool runs it"
echo "build: $build (fake publisher on https://localhost:$port)"

if ! publisher start; then
  echo "demo: the fake publisher did not start; see $build/fake_publisher/server.log" >&2
  exit 1
fi
serve good
forget_kept
# A run leaves "lang" (and, after a failure, the hand-over values): start from a clean key.
"$build/wine_run.sh" reg delete "$browser_key" /f >/dev/null 2>&1

section "Silent installation"
echo "   lite_installer.exe --silent --send-statistics --distr-info-params=$distr_params"
echo "   (the publisher serves the signed stand-in setup as the archive; TMP and TEMP are"
echo "   $(windows_path "$temp"))"
export LI_STAND_IN_REPORT
LI_STAND_IN_REPORT=$(windows_path "$temp/setup_report.json")
export LI_STAND_IN_WINDOW_MS=0
run_installer --silent --send-statistics "--distr-info-params=$distr_params"
main_exit=$exit_code
unset LI_STAND_IN_REPORT LI_STAND_IN_WINDOW_MS

# The statistics pings are fire-and-forget: give the server a moment to log the last one.
sleep 1
mkdir -p "$out"
rm -f "$out/lite_installer.log" "$out/requests.jsonl" "$out/setup_report.json"
cp "$request_log" "$out/requests.jsonl"
[ -f "$temp/lite_installer.log" ] && cp "$temp/lite_installer.log" "$out/lite_installer.log"
[ -f "$temp/setup_report.json" ] && cp "$temp/setup_report.json" "$out/setup_report.json"

section "1. Exit code"
case "$main_exit" in
  0) meaning="the setup program's own exit code: the installation succeeded" ;;
  401) meaning="the archive could not be downloaded" ;;
  402) meaning="the archive failed verification and was not run" ;;
  400) meaning="the install flow stopped before the setup ran" ;;
  *) meaning="the setup program's own exit code" ;;
esac
echo "   $main_exit ($(hex32 "$main_exit")): $meaning"

section "2. What the setup program received (its report, $out/setup_report.json)"
if [ -f "$out/setup_report.json" ]; then
  $show report "$out/setup_report.json"
else
  echo "   (no report: the setup program did not run)"
fi

section "3. What the servers received during this run ($out/requests.jsonl)"
$show requests "$out/requests.jsonl"

section "4. Registry values left under $browser_key"
"$build/wine_run.sh" reg query "$browser_key" 2>/dev/null | tr -d '\r' | sed -n 's/^    /   /p'
echo "   (after a success only \"lang\" stays; the hand-over values stay after a failure)"

section "5. The log ($out/lite_installer.log, UTF-16LE)"
if [ -f "$out/lite_installer.log" ]; then
  log_text "$out/lite_installer.log" | sed 's/^/   /'
else
  echo "   (no log written)"
fi

main_ok=1
if [ "$main_exit" != 0 ]; then
  main_ok=0
elif ! problems=$($show check "$out/setup_report.json"); then
  main_ok=0
  echo
  echo "The hand-over is incomplete:"
  printf '%s\n' "$problems" | sed 's/^/   /'
fi

section "6. The same installation with its window (virtual display, real mouse input)"
echo "   lite_installer.exe --send-statistics   (pictures in $out/)"
rm -rf "$temp"
mkdir -p "$temp"
export LI_STAND_IN_WINDOW_MS=1500  # the "browser" window stays a moment: time for a picture
window_ok=1
xvfb-run -a -s "-screen 0 1024x768x24 -nolisten tcp" \
  "$source_dir/tools/demo_window.sh" "$build" "$out" "$(windows_path "$temp")" || window_ok=0
unset LI_STAND_IN_WINDOW_MS
"$build/wine_run.sh" reg delete "$browser_key" /f >/dev/null 2>&1

echo
echo "== Shorter runs"
short_run "Windows 10 interface query (answered before anything else: 700 available, 701 not)" \
  "700 701" --check-the-interface
short_run "Elevated child started without a master (no events to wait for: -1)" "-1" \
  --run-as-admin --parent-installer-process-id=1 "--setup-cmd-line=fake_browser_arc --silent"
serve unsigned
short_run "Silent installation of an archive without a valid signature (402: never run)" "402" \
  --silent
"$build/wine_run.sh" reg delete "$browser_key" /f >/dev/null 2>&1

echo
if [ "$main_ok" = 1 ] && [ "$window_ok" = 1 ]; then
  echo "demo: the silent installation succeeded (exit code 0, every file handed over), and so"
  echo "did the installation through the window"
  exit 0
fi
[ "$main_ok" = 1 ] || echo "demo: the silent installation FAILED (exit code $main_exit)"
[ "$window_ok" = 1 ] || echo "demo: the installation through the window FAILED (section 6)"
exit 1
