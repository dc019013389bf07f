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

# A display number nobody else uses; Xvfb refuses a taken one, so try the next on failure.
started=0
for n in $(seq 90 160); do
  [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ] && continue
  Xvfb ":$n" -screen 0 1024x768x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
  xvfb_pid=$!
  export DISPLAY=":$n"
  for _ in $(seq 50); do
    if xdotool getmouselocation >/dev/null 2>&1; then
      started=1
      break
    fi
    kill -0 "$xvfb_pid" 2>/dev/null || break
    sleep 0.1
  done
  ((started)) && break
  kill "$xvfb_pid" 2>/dev/null || true
  xvfb_pid=""
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
