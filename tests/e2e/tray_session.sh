#!/usr/bin/env bash
# End-to-end run of the real program in a private X session with a tint2
# panel as the system tray:
#   1. Tarnwell starts with its tray icon and no visible window;
#   2. a second start ends with exit code 0 and the first goes on, its main
#      window still hidden;
#   3. "結束" from the tray menu ends the program with exit code 0.
# Usage: tray_session.sh <tarnwell binary>
set -uo pipefail

binary=${1:?usage: tray_session.sh <tarnwell binary>}
here=$(cd "$(dirname "$0")" && pwd)
skip=77

need() {
  for tool in "$@"; do
    if ! command -v "$tool" >/dev/null 2>&1; then
      if [[ ${CI:-} == true ]]; then
        echo "FAIL: $tool is not installed"
        exit 1
      fi
      echo "SKIP: $tool is not installed"
      exit $skip
    fi
  done
}
need Xvfb tint2 xdotool xprop

work=$(mktemp -d "${TMPDIR:-/tmp}/tarnwell-e2e.XXXXXX")
pids=()
cleanup() {
  for ((i = ${#pids[@]} - 1; i >= 0; i--)); do
    kill "${pids[i]}" 2>/dev/null
    wait "${pids[i]}" 2>/dev/null
  done
  rm -rf "$work"
}
trap cleanup EXIT

fail() {
  echo "FAIL: $*"
  for log in "$work"/*.log; do
    [[ -s $log ]] && { echo "--- $(basename "$log")"; tail -n 40 "$log"; }
  done
  exit 1
}

# Poll a command until it succeeds, for at most $1 tenths of a second.
wait_for() {
  local tenths=$1
  shift
  for ((i = 0; i < tenths; i++)); do
    "$@" >/dev/null 2>&1 && return 0
    sleep 0.1
  done
  return 1
}

# A private X server on the first free display.
exec {displayfd}<> <(:)
Xvfb -displayfd "$displayfd" -screen 0 1280x900x24 -noreset -nolisten tcp \
  >"$work/xvfb.log" 2>&1 &
pids+=($!)
read -r -t 20 -u "$displayfd" display || fail "Xvfb did not start"
exec {displayfd}<&-
export DISPLAY=:$display
echo "X display $DISPLAY"

# tint2 waits for a window manager unless the desktop count is set.
xprop -root -f _NET_NUMBER_OF_DESKTOPS 32c -set _NET_NUMBER_OF_DESKTOPS 1
echo 'panel_items = S' >"$work/tint2rc"
tint2 -c "$work/tint2rc" >"$work/tint2.log" 2>&1 &
pids+=($!)
wait_for 100 xdotool search --classname tint2 || fail "tint2 did not start"

# The program's own environment: no session bus (so the tray is the X11 one
# of tint2), a private runtime directory (so the single-instance socket is
# this test's own), the sanitizer settings for the ASan build.
export DBUS_SESSION_BUS_ADDRESS=unix:path=$work/no-bus
export XDG_RUNTIME_DIR=$work/run
mkdir -m 700 "$XDG_RUNTIME_DIR"
unset QT_QPA_PLATFORM
export ASAN_OPTIONS=detect_stack_use_after_return=1:abort_on_error=0
export LSAN_OPTIONS=suppressions=$here/../support/lsan-system-libraries.supp:print_suppressions=0

# 1. First start: a tray icon, no visible window.
"$binary" >"$work/first.log" 2>&1 &
first=$!
pids+=("$first")
icon_window() { xdotool search --onlyvisible --classname tarnwell | head -n 1 | grep .; }
wait_for 300 icon_window || fail "no tray icon appeared"
icon=$(icon_window)
echo "tray icon window $icon"
if xdotool search --onlyvisible --name '^frmMain$' >/dev/null 2>&1; then
  fail "the main window is visible at start"
fi
kill -0 "$first" 2>/dev/null || fail "the first instance ended"

# 2. A second start ends at once with 0; the first goes on, still hidden.
started=$(date +%s%N)
timeout 20 "$binary" >"$work/second.log" 2>&1
second_rc=$?
ended=$(date +%s%N)
echo "second start ended with $second_rc after $(((ended - started) / 1000000)) ms"
[[ $second_rc -eq 0 ]] || fail "the second start ended with $second_rc"
[[ ! -s $work/second.log ]] || fail "the second start printed: $(cat "$work/second.log")"
sleep 0.3
kill -0 "$first" 2>/dev/null || fail "the first instance ended after the second start"
if xdotool search --onlyvisible --name '^frmMain$' >/dev/null 2>&1; then
  fail "the second start showed the hidden main window"
fi

# 3. Right press on the icon, then the last item of the menu: "結束".
eval "$(xdotool getwindowgeometry --shell "$icon")"
xdotool mousemove $((X + WIDTH / 2)) $((Y + HEIGHT / 2)) mousedown 3
menu_window() { xdotool search --onlyvisible --classname tarnwell | grep -vx "$icon" | head -n 1 | grep .; }
wait_for 100 menu_window || { xdotool mouseup 3; fail "the tray menu did not open"; }
xdotool mouseup 3
sleep 0.2
xdotool key Up
sleep 0.1
xdotool key Return

for ((i = 0; i < 300; i++)); do
  kill -0 "$first" 2>/dev/null || break
  sleep 0.1
done
kill -0 "$first" 2>/dev/null && fail "the program did not end after 結束"
wait "$first"
first_rc=$?
pids=("${pids[@]:0:2}")
[[ $first_rc -eq 0 ]] || fail "the program ended with $first_rc"
echo "PASS: tray start, second start and 結束 from the tray menu"
