# Sourced by the window checks: start_display WORK starts Xvfb on a free-ish
# display and openbox on it, points the program's settings at WORK, and
# leaves their process ids in $xvfb and $wm for the caller's cleanup.
start_display() {
  local display=":$(( 90 + RANDOM % 200 ))"
  Xvfb "$display" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
  xvfb=$!
  export DISPLAY="$display" XDG_CONFIG_HOME="$1" HOME="$1" QT_QPA_PLATFORM=xcb
  # Under AddressSanitizer: libxkbcommon-x11 copies a counted, unterminated
  # string with strndup, which strict string checks take for an overflow.
  if [ -n "${ASAN_OPTIONS:-}" ]; then export ASAN_OPTIONS="$ASAN_OPTIONS:strict_string_checks=0"; fi
  for _ in $(seq 50); do xdotool getdisplaygeometry >/dev/null 2>&1 && break; sleep 0.1; done
  openbox >/dev/null 2>&1 &
  wm=$!
  sleep 1
}
