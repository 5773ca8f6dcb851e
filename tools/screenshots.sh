#!/usr/bin/env bash
# Photographs the installer window under a virtual display: the offer screen, the progress
# screen, the first slide of a run that skipped the offer, and two message dialogs, in
# English and in German (the language whose texts are longest), at 100 % and at 150 % scale.
# Each picture is cropped to the window's own rectangle, which the window program reports.
# Exits non-zero when a screen was never shown.
# Usage: screenshots.sh <build dir>
#   pictures in <build dir>/screenshots/<screen>-<language>-<percent>.png
set -euo pipefail
build=$(cd "$1" && pwd)
program="$build/test_programs/window_screens.exe"
out="$build/screenshots"
if [ ! -f "$program" ]; then
  echo "screenshots: $program is missing; run 'make build-local' first" >&2
  exit 1
fi
rm -rf "$out"
mkdir -p "$out"

# Wine sees the Unix file system as drive Z:.
windows_path() { printf 'Z:%s' "$1" | tr '/' '\\'; }

# A Wine server left from an earlier run keeps its desktop on that run's display.
"$build/wine_run.sh" --server -w 2>/dev/null || true

export LI_SCREENS_OUT="$out" LI_SCREENS_PROGRAM="$program" LI_SCREENS_RUN="$build/wine_run.sh"
status=0
for language in en de; do
  for percent in 100 150; do
    handshake="$out/handshake-$language-$percent"
    mkdir -p "$handshake"
    scale=$(awk "BEGIN { print $percent / 100 }")
    LI_SCREENS_HANDSHAKE="$handshake" LI_SCREENS_SUFFIX="$language-$percent" \
    LI_SCREENS_ARGS="--dir=$(windows_path "$handshake") --language=$language --force-device-scale-factor=$scale" \
    xvfb-run -a -s "-screen 0 1600x1200x24 -nolisten tcp" bash -c '
      set -u
      missing=0
      # shellcheck disable=SC2086
      "$LI_SCREENS_RUN" "$LI_SCREENS_PROGRAM" $LI_SCREENS_ARGS &
      runner=$!
      for screen in offer progress skipped error disk; do
        for _ in $(seq 1 600); do
          [ -f "$LI_SCREENS_HANDSHAKE/$screen.ready" ] && break
          kill -0 "$runner" 2>/dev/null || break
          sleep 0.1
        done
        if [ -f "$LI_SCREENS_HANDSHAKE/$screen.ready" ]; then
          read -r left top right bottom < "$LI_SCREENS_HANDSHAKE/$screen.ready"
          picture="$LI_SCREENS_OUT/$screen-$LI_SCREENS_SUFFIX.png"
          xwd -root -silent |
            convert xwd:- -crop "$((right - left))x$((bottom - top))+$left+$top" +repage "$picture"
          echo "screenshots: $(basename "$picture")"
        else
          echo "screenshots: $screen ($LI_SCREENS_SUFFIX) was never shown" >&2
          missing=1
        fi
        touch "$LI_SCREENS_HANDSHAKE/$screen.done"
      done
      wait "$runner"
      "$LI_SCREENS_RUN" --server -k 2>/dev/null || true
      exit $missing
    ' || status=1
    rm -rf "$handshake"
  done
done
exit $status
