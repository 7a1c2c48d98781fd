#!/usr/bin/env bash
# The window's placement under a real window manager (openbox on Xvfb):
# three starts in a row leave the same stored placement, and a session that
# ended maximised starts the next time maximised, and wholly on screen once
# restored. Offscreen tests cannot see this: only a window manager adds a
# frame.
# usage: placement.sh PATH/TO/quimbel
set -euo pipefail
program="$(realpath "$1")"
for tool in Xvfb openbox xdotool wmctrl; do
  command -v "$tool" >/dev/null || { echo "skipped: $tool is not installed"; exit 77; }
done

work="$(mktemp -d)"
cleanup() {
  [ -n "${wm:-}" ] && kill "$wm" 2>/dev/null || true
  [ -n "${xvfb:-}" ] && kill "$xvfb" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
source "$(dirname "$0")/display.sh"
start_display "$work"

stored() { grep -E '^(x|y|cx|cy)=' "$work/Marrowfen/Quimbel.conf" | sort | tr '\n' ' '; }

# Starts the program, waits for its window, runs "$@" on it, closes it as
# the user would (the window manager's close), and waits for the exit.
session() {
  "$program" >/dev/null 2>&1 &
  local pid=$! window=""
  for _ in $(seq 300); do
    window="$(xdotool search --onlyvisible --name '^Quimbel$' 2>/dev/null | head -1 || true)"
    [ -n "$window" ] && break
    sleep 0.1
  done
  [ -n "$window" ] || { echo "FAIL: no window"; kill "$pid"; exit 1; }
  sleep 1
  "$@" "$window"
  sleep 1
  wmctrl -i -c "$window"
  for _ in $(seq 300); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
  if kill -0 "$pid" 2>/dev/null; then echo "FAIL: the program did not quit"; kill "$pid"; exit 1; fi
}
nothing() { :; }
maximise() { wmctrl -i -r "$1" -b add,maximized_vert,maximized_horz; }
on_screen() {
  # The frame's outer edges lie within the screen.
  eval "$(xdotool getwindowgeometry --shell "$1")"
  local extents
  extents="$(xprop -id "$1" _NET_FRAME_EXTENTS | sed 's/.*= //; s/,//g')"
  read -r left right top bottom <<<"${extents:-0 0 0 0}"
  if (( X - left < 0 || Y - top < 0 || X + WIDTH + right > 1280 || Y + HEIGHT + bottom > 1024 )); then
    echo "FAIL: window off screen at ${X},${Y} ${WIDTH}x${HEIGHT} (frame $left $right $top $bottom)"
    exit 1
  fi
}

session nothing
first="$(stored)"
session nothing
session nothing
third="$(stored)"
if [ "$first" != "$third" ]; then
  echo "FAIL: the placement moved between starts: '$first' then '$third'"
  exit 1
fi
restored() {
  # Maximised again, as it was left; back to normal, wholly on screen.
  if ! xprop -id "$1" _NET_WM_STATE | grep -q _NET_WM_STATE_MAXIMIZED_VERT; then
    echo "FAIL: a session left maximised did not come back maximised"
    exit 1
  fi
  wmctrl -i -r "$1" -b remove,maximized_vert,maximized_horz
  sleep 1
  on_screen "$1"
}
unmaximise() { wmctrl -i -r "$1" -b remove,maximized_vert,maximized_horz; }
session maximise
session restored
session unmaximise
session on_screen
echo "placement stable over three starts ($first); a maximised session comes back maximised, and on screen"
