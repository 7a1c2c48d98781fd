#!/usr/bin/env bash
# A folder dragged from another program and dropped onto the window is
# checked: real drag and drop through the window system (openbox on Xvfb),
# the mouse driven by xdotool. A check that starts puts the folder first
# in the stored Recent paths. Skipped where those tools are not installed.
# usage: drop.sh PATH/TO/quimbel PATH/TO/drag_source
set -euo pipefail
program="$(realpath "$1")"
source_program="$(realpath "$2")"
for tool in Xvfb openbox xdotool; do
  command -v "$tool" >/dev/null || { echo "skipped: $tool is not installed"; exit 77; }
done

work="$(mktemp -d)"
cleanup() {
  for pid in ${source_pid:-} ${pid:-} ${wm:-} ${xvfb:-}; do kill "$pid" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT
source "$(dirname "$0")/display.sh"
start_display "$work"
export XDG_CONFIG_HOME="$work/config"

mkdir -p "$work/site"
printf '<a href="gone.html">Gone</a>\n<a href="index.html">Here</a>\n' >"$work/site/index.html"

find_window() {  # find_window TITLE_PATTERN: waits for it, prints its id
  local window=""
  for _ in $(seq 300); do
    window="$(xdotool search --onlyvisible --name "$1" 2>/dev/null | head -1 || true)"
    [ -n "$window" ] && break
    sleep 0.1
  done
  [ -n "$window" ] || { echo "FAIL: no window $1" >&2; exit 1; }
  echo "$window"
}
centre() {  # centre WINDOW: prints "x y" of its middle
  eval "$(xdotool getwindowgeometry --shell "$1")"
  echo "$((X + WIDTH / 2)) $((Y + HEIGHT / 2))"
}

"$program" >/dev/null 2>&1 &
pid=$!
target="$(find_window '^Quimbel$')"
"$source_program" "$work/site" >/dev/null 2>&1 &
source_pid=$!
source_window="$(find_window '^drag-source$')"
sleep 1
read -r to_x to_y <<<"$(centre "$target")"
conf="$work/config/Marrowfen/Quimbel.conf"
# A drag is made of many small moves; tried up to three times, as a window
# manager may still be placing a window on the first.
for attempt in 1 2 3; do
  read -r from_x from_y <<<"$(centre "$source_window")"
  xdotool mousemove "$from_x" "$from_y"
  sleep 0.3
  xdotool mousedown 1
  for step in $(seq 1 12); do
    xdotool mousemove $((from_x + (to_x - from_x) * step / 12)) $((from_y + (to_y - from_y) * step / 12))
    sleep 0.1
  done
  sleep 0.5
  xdotool mouseup 1
  for _ in $(seq 50); do
    grep -qxF "Path1=$work/site" "$conf" 2>/dev/null && break
    sleep 0.1
  done
  grep -qxF "Path1=$work/site" "$conf" 2>/dev/null && break
  echo "drop attempt $attempt not taken"
  [ "$attempt" = 3 ] && { echo "FAIL: the dropped folder was not checked"; exit 1; }
done
echo "dropped folder checked (attempt $attempt)"
