#!/usr/bin/env bash
# The interactive part of the demo, run under a virtual display by tools/demo.sh: starts the
# installer with its window, photographs the offer screen, presses Install with real mouse
# input (xdotool), photographs the progress screen while the stand-in setup reports its
# stages, waits for the window to close and prints the exit code.
# Usage: demo_window.sh <build dir> <output folder> <temp folder (Windows path)>
# Pictures: <output folder>/offer-screen.png and progress-screen.png. Exit status 0 when the
# installation ended with exit code 0 and both screens were photographed, each picture
# showing the window's own contents (tools/photograph.sh).
set -uo pipefail
# shellcheck source=tools/photograph.sh
source "$(dirname "$0")/photograph.sh"
build=$1 out=$2 temp=$3
exe="Z:$(printf '%s' "$build/lite_installer.exe" | tr / '\\')"
result="$out/window-run.txt"
rm -f "$result" "$out/offer-screen.png" "$out/progress-screen.png"

"$build/wine_run.sh" "$build/test_programs/run_and_report.exe" "--temp=$temp" "$exe" \
  --send-statistics >"$result" 2>&1 &
runner=$!

# The window's title is "Zorvin"; the shadow around it is a window of its own.
window=""
for _ in $(seq 1 300); do
  window=$(xdotool search --onlyvisible --name '^Zorvin$' 2>/dev/null | head -1)
  [ -n "$window" ] && break
  kill -0 "$runner" 2>/dev/null || break
  sleep 0.1
done
status=0
photograph() {  # <name>: the window's rectangle of the screen
  if photograph_window "$window" "$out/$1.png"; then
    echo "   window: $1 photographed ($out/$1.png)"
  else
    echo "   window: $1 FAILED" >&2
    status=1
  fi
}
if [ -z "$window" ]; then
  echo "   window: never shown" >&2
  status=1
else
  sleep 1.5  # every control painted
  photograph offer-screen
  eval "$(xdotool getwindowgeometry --shell "$window")"
  # The Install button: 112 x 32 at (557, 305) of the 728 x 400 window.
  xdotool mousemove $((X + 557 + 56)) $((Y + 305 + 16)) click 1
  echo "   window: Install pressed with the mouse"
  sleep 1.5
  if xdotool search --onlyvisible --name '^Zorvin$' >/dev/null 2>&1; then
    photograph progress-screen
  else
    echo "   window: closed before the progress screen could be photographed" >&2
    status=1
  fi
fi
for _ in $(seq 1 1200); do kill -0 "$runner" 2>/dev/null || break; sleep 0.1; done
if kill -0 "$runner" 2>/dev/null; then
  echo "   window: still open after two minutes; ended" >&2
  kill "$runner" 2>/dev/null
  status=1
fi
wait "$runner" 2>/dev/null
exit_code=$(tr -d '\r' <"$result" | sed -n 's/^exit code: \(-\{0,1\}[0-9]*\)$/\1/p' | tail -1)
echo "   exit code: ${exit_code:-(none)}"
[ "$exit_code" = 0 ] || status=1
exit $status
