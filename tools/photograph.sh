# Photographs a window on the virtual display, for tools/screenshots.sh and
# tools/demo_window.sh (sourced; needs xdotool, xwd and ImageMagick).
#
# A picture of the screen can be wrong while the window itself is drawn right: another
# window stacked over it (its own shadow, whose clear pixels are black without a compositing
# window manager) turns the picture blank. So the screen's picture of the window's rectangle
# must show more than one colour and match the window's own contents (`xwd -id`), or the
# photograph fails.

# x_window_at <left> <top> <width> <height>: prints the visible X window with exactly that
# rectangle (a Windows program's top-level window under Wine); fails when there is none.
x_window_at() {
  local id X Y WIDTH HEIGHT SCREEN
  for id in $(xdotool search --onlyvisible --name '.*' 2>/dev/null); do
    eval "$(xdotool getwindowgeometry --shell "$id" 2>/dev/null)" || continue
    if [ "$X" = "$1" ] && [ "$Y" = "$2" ] && [ "$WIDTH" = "$3" ] && [ "$HEIGHT" = "$4" ]; then
      echo "$id"
      return 0
    fi
  done
  return 1
}

# photograph_window <x window> <picture.png>: writes the screen's picture of the window's
# rectangle; fails, saying why on standard error, when it could not be taken or is not the
# window's own picture (at most 1 % of the pixels may differ: a percentage that moved
# between the two pictures). A window still painting on a slow machine gets two more tries,
# a second apart.
photograph_window() {
  local attempt
  for attempt in 1 2 3; do
    if photograph_once "$@" 2>"$2.why"; then
      rm -f "$2.why"
      return 0
    fi
    [ $attempt = 3 ] || sleep 1
  done
  cat "$2.why" >&2
  rm -f "$2.why"
  return 1
}

photograph_once() {
  local - window=$1 picture=$2 own colours differing X Y WIDTH HEIGHT SCREEN
  set -o pipefail
  if ! eval "$(xdotool getwindowgeometry --shell "$window")"; then
    echo "photograph: window $window has no geometry" >&2
    return 1
  fi
  own=$(mktemp --suffix=.png)
  if ! xwd -root -silent |
         convert xwd:- -crop "${WIDTH}x${HEIGHT}+${X}+${Y}" +repage "$picture" ||
     ! xwd -id "$window" -silent | convert xwd:- "$own"; then
    echo "photograph: $(basename "$picture") could not be taken" >&2
    rm -f "$own"
    return 1
  fi
  colours=$(convert "$picture" -format '%k' info:)
  # AE: the number of pixels that differ by more than the fuzz; "compare" exits 1 when any do.
  differing=$(compare -metric AE -fuzz 2% "$picture" "$own" null: 2>&1)
  differing=${differing%% *}  # newer ImageMagick adds the share in brackets
  rm -f "$own"
  if [ "${colours:-0}" -le 1 ]; then
    echo "photograph: $(basename "$picture") is one colour: the window is not what the screen shows" >&2
    return 1
  fi
  if ! awk -v n="$differing" -v all=$((WIDTH * HEIGHT)) \
       'BEGIN { exit !(n ~ /^[0-9.e+]+$/ && n + 0 <= all / 100) }'; then
    echo "photograph: $(basename "$picture") differs from the window's own contents" \
         "($differing of $((WIDTH * HEIGHT)) pixels): something covers the window" >&2
    return 1
  fi
}
