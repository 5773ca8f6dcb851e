#!/usr/bin/env bash
# Photographs the installer window under a virtual display: the offer screen, the progress
# screen, the first slide of a run that skipped the offer, and two message dialogs, each as a
# PNG of the whole 1024 x 768 screen (xwd, converted by ImageMagick) and cropped to the window.
# Usage: screenshots.sh <build dir>   (pictures in <build dir>/screenshots/)
set -euo pipefail
build=$(cd "$1" && pwd)
program="$build/test_programs/window_screens.exe"
out="$build/screenshots"
if [ ! -f "$program" ]; then
  echo "screenshots: $program is missing; run 'make build-local' first" >&2
  exit 1
fi
rm -rf "$out"
mkdir -p "$out/handshake"

# Wine sees the Unix file system as drive Z:.
windows_path() { printf 'Z:%s' "$1" | tr '/' '\\'; }

# A Wine server left from an earlier run keeps its desktop on that run's display.
WINEPREFIX="$build/wineprefix" wineserver -w 2>/dev/null || true

export LI_SCREENS_OUT="$out" LI_SCREENS_PROGRAM="$program" LI_SCREENS_RUN="$build/wine_run.sh"
export LI_SCREENS_DIR_ARG
LI_SCREENS_DIR_ARG="--dir=$(windows_path "$out/handshake")"
xvfb-run -a -s "-screen 0 1024x768x24 -nolisten tcp" bash -c '
  set -u
  "$LI_SCREENS_RUN" "$LI_SCREENS_PROGRAM" "$LI_SCREENS_DIR_ARG" &
  runner=$!
  for screen in offer progress skipped error disk; do
    for _ in $(seq 1 600); do
      [ -f "$LI_SCREENS_OUT/handshake/$screen.ready" ] && break
      kill -0 "$runner" 2>/dev/null || break
      sleep 0.1
    done
    if [ -f "$LI_SCREENS_OUT/handshake/$screen.ready" ]; then
      xwd -root -silent | convert xwd:- "$LI_SCREENS_OUT/$screen-screen.png"
      echo "screenshots: $screen"
    else
      echo "screenshots: $screen was never shown" >&2
    fi
    touch "$LI_SCREENS_OUT/handshake/$screen.done"
  done
  wait "$runner"
  WINEPREFIX="$(dirname "$LI_SCREENS_RUN")/wineprefix" wineserver -k 2>/dev/null || true
'
# The window is centred on the 1024 x 768 screen: 728 x 400 for the main window (its
# shadow is a separate window around it), 410 x 186 for a message dialog.
for screen in offer progress skipped; do
  [ -f "$out/$screen-screen.png" ] &&
    convert "$out/$screen-screen.png" -crop 744x416+140+176 +repage "$out/$screen.png"
done
for screen in error disk; do
  [ -f "$out/$screen-screen.png" ] &&
    convert "$out/$screen-screen.png" -crop 426x202+299+283 +repage "$out/$screen.png"
done
rm -rf "$out/handshake"
ls "$out"
