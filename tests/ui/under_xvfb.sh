#!/usr/bin/env bash
# Runs a command on a virtual X display of its own, with Qt's X11 platform: the window as an
# operator's desktop would show it. Ends the display with the command and passes its status on.
#
#   under_xvfb.sh COMMAND [ARGS...]
set -euo pipefail

for tool in Xvfb xdotool; do
  if ! command -v "$tool" >/dev/null; then
    echo "$tool is missing: run scripts/deps" >&2
    exit 1
  fi
done

work=$(mktemp -d)
xvfb_pid=""
cleanup() {
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

# Xvfb picks a display number nobody uses and writes it to a descriptor once it serves it:
# two displays started at the same moment (ctest runs two tests at once) cannot end up as one,
# with one test's program seen by the other.
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$work/display" >"$work/xvfb.log" 2>&1 &
xvfb_pid=$!
started=0
for _ in $(seq 100); do
  if [ -s "$work/display" ]; then
    export DISPLAY=":$(tr -d '[:space:]' <"$work/display")"
    xdotool getmouselocation >/dev/null 2>&1 && started=1 && break
  fi
  kill -0 "$xvfb_pid" 2>/dev/null || break
  sleep 0.05
done
if ((!started)); then
  echo "no virtual X display could be started" >&2
  cat "$work/xvfb.log" >&2
  exit 1
fi

export QT_QPA_PLATFORM=xcb
status=0
"$@" || status=$?
exit "$status"
