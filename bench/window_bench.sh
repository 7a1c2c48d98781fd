#!/usr/bin/env bash
# The window at a million rows, as an author sees it: under Xvfb with
# openbox when they are installed (offscreen otherwise). First a million
# local rows checked from disk (local_rows_bench: the check, Esc in a
# re-run, select-all, a re-run, a filter typed), then a million network
# rows fed as a run adds them (proxy_bench: sorts, a filter, scrolling).
# Each step's time to result, longest stall and memory. Figures of past
# runs: bench/figures.md.
set -euo pipefail
cd "$(dirname "$0")/.."
QUIMBEL_BUILD_TYPE=Release QUIMBEL_BUILD_DIR=build-bench bash scripts/build.sh >/dev/null
work=$(mktemp -d)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT
if command -v Xvfb >/dev/null && command -v openbox >/dev/null; then
  . tests/window/display.sh
  start_display "$work"
  pids+=("$xvfb" "$wm")
  echo "window: Xvfb $DISPLAY with openbox"
else
  export QT_QPA_PLATFORM=offscreen XDG_CONFIG_HOME="$work"
  echo "window: offscreen (no Xvfb or openbox here)"
fi
build-bench/bench/local_rows_bench "${1:-1000}" "${2:-1000}" 2>/dev/null
build-bench/bench/proxy_bench "$(( ${1:-1000} * ${2:-1000} ))" 2>/dev/null
