#!/usr/bin/env bash
# Starts the real program (on the virtual X display that under_xvfb.sh provides) over the
# kernel's serial ports, with a
# simulated supply served on a pseudo-terminal behind a fake sysfs tree (pz4sim-pty), and no
# driver library anywhere. Checks that it polls, that a reading reaches the window (the set
# field of a channel in mode U shows the first voltage read), and that a value typed into that
# field and confirmed with Enter reaches the supply; then closes it with Escape.
set -euo pipefail

program=$1
simulator=$2

for tool in xdotool xclip; do
  if ! command -v "$tool" >/dev/null; then
    echo "$tool is missing: run scripts/deps" >&2
    exit 1
  fi
done

work=$(mktemp -d)
sim_pid=""
app_pid=""
cleanup() {
  [ -n "$app_pid" ] && kill "$app_pid" 2>/dev/null || true
  if [ -n "$sim_pid" ]; then
    kill "$sim_pid" 2>/dev/null || true
    wait "$sim_pid" 2>/dev/null || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT

fail() {
  echo "$1" >&2
  for f in app.log sim.log; do
    [ -s "$work/$f" ] && { echo "--- $f" >&2; cat "$work/$f" >&2; }
  done
  exit 1
}

log=$work/wire.log
PZ4SIM_SUPPLIES='42=1U@50,1I,0U' PZ4SIM_LOG=$log "$simulator" "$work/tree" >"$work/sim.log" 2>&1 &
sim_pid=$!
for _ in $(seq 50); do
  [ -f "$work/tree/env" ] && break
  sleep 0.1
done
[ -f "$work/tree/env" ] || fail "pz4sim-pty did not set up its tree"
# shellcheck disable=SC1091
. "$work/tree/env"

# No driver library on the search path: only the kernel's ports can reach the supply.
env -u LD_LIBRARY_PATH PZ4_DRIVER=kernel "$program" >"$work/app.log" 2>&1 &
app_pid=$!

count() {
  local n
  n=$(grep -c " $1\$" "$log" 2>/dev/null) || true
  echo "${n:-0}"
}
for _ in $(seq 150); do
  [ "$(count PZ442GU)" -ge 3 ] && break
  kill -0 "$app_pid" 2>/dev/null || fail "the program ended early"
  sleep 0.1
done
[ "$(count PZ442GU)" -ge 3 ] || fail "the program did not poll the supply"
[ "$(count PZ442GSS)" -ge 1 ] || fail "no status query seen"

window=$(xdotool search --sync --name '^Quorvin PZ4 Control$' | head -n 1)
xdotool windowfocus --sync "$window"
eval "$(xdotool getwindowgeometry --shell "$window")"
# The set field of channel 1, by its place in the window's 165 x 74 dialog-unit template.
x=$((WIDTH * (2 * 51 + 19) / (2 * 165)))
y=$((HEIGHT * (2 * 25 + 8) / (2 * 74)))
xdotool mousemove --window "$window" "$x" "$y" click 1
# Selecting the field's text puts it in the X primary selection; a loaded machine may take a
# while to get there.
shown=""
for _ in $(seq 30); do
  xdotool key End shift+Home
  shown=$(xclip -o -selection primary 2>/dev/null || true)
  [[ $shown =~ ^[0-9]+$ ]] && break
  sleep 0.1
done
[[ $shown =~ ^[0-9]+$ ]] || fail "the set field shows no reading: '$shown'"

xdotool type 800
xdotool key Return
for _ in $(seq 50); do
  [ "$(count 'PZ442S 0,800')" -ge 1 ] && break
  sleep 0.1
done
[ "$(count 'PZ442S 0,800')" -ge 1 ] || fail "the confirmed set value did not reach the supply"

# A click on channel 1's voltage readout takes the focus out of the field, so that Escape
# reaches the window; then 2 s to end with status 0.
xdotool mousemove --window "$window" $((WIDTH * 111 / 330)) $((HEIGHT * 35 / 120)) click 1
sleep 0.3
xdotool key Escape
for _ in $(seq 20); do
  kill -0 "$app_pid" 2>/dev/null || break
  sleep 0.1
done
kill -0 "$app_pid" 2>/dev/null && fail "the program did not end within 2 s of Escape"
status=0
wait "$app_pid" || status=$?
app_pid=""
[ "$status" -eq 0 ] || fail "the program ended with status $status"
echo "read $shown V in the set field, polled $(count PZ442GU) times, set 800 V, closed with status 0"
