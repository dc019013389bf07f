#!/usr/bin/env bash
# Starts the real program against the simulated driver library (on the virtual X display that
# under_xvfb.sh provides), recording as PZ4_RECORD names, checks from the simulator's side that
# it polls, closes it with Escape as an operator would, and expects it to end with status 0
# within 2 s, its record complete.
set -euo pipefail

program=$1
sim_dir=$2

work=$(mktemp -d)
app_pid=""
cleanup() {
  [ -n "$app_pid" ] && kill "$app_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

log=$work/wire.log
record=$work/record.csv
LD_LIBRARY_PATH=$sim_dir PZ4SIM_SUPPLIES='42=1U@500,1I,0U' \
  PZ4SIM_LOG=$log PZ4_RECORD=$record "$program" >"$work/app.log" 2>&1 &
app_pid=$!

polls() {
  local n
  n=$(grep -c ' PZ442GU$' "$log" 2>/dev/null) || true
  echo "${n:-0}"
}
for _ in $(seq 150); do
  [ "$(polls)" -ge 3 ] && break
  kill -0 "$app_pid" 2>/dev/null || { echo "the program ended early" >&2; cat "$work/app.log" >&2; exit 1; }
  sleep 0.1
done
if [ "$(polls)" -lt 3 ]; then
  echo "the program did not poll the supply" >&2
  cat "$work/app.log" >&2
  exit 1
fi
grep -q ' PZ442GSS$' "$log" || { echo "no status query seen" >&2; exit 1; }

window=$(xdotool search --sync --name '^Quorvin PZ4 Control$' | head -n 1)
xdotool windowfocus --sync "$window"
xdotool key Escape

# 2 s to end, with status 0.
for _ in $(seq 20); do
  kill -0 "$app_pid" 2>/dev/null || break
  sleep 0.1
done
if kill -0 "$app_pid" 2>/dev/null; then
  echo "the program did not end within 2 s of Escape" >&2
  exit 1
fi
status=0
wait "$app_pid" || status=$?
app_pid=""
if [ "$status" -ne 0 ]; then
  echo "the program ended with status $status" >&2
  cat "$work/app.log" >&2
  exit 1
fi
# The record: its header, a row for every reading of every pass (but a last query that closing
# cut short), and a whole last line.
[ "$(head -n 1 "$record")" = "time,serial,channel,kind,value,unit,state" ] ||
  { echo "the record has no header" >&2; exit 1; }
rows=$(grep -c ',42,1,voltage,' "$record") || true
if [ "${rows:-0}" -lt $(($(polls) - 1)) ] || [ "$(tail -c 1 "$record" | od -An -c | tr -d ' ')" != '\n' ]; then
  echo "the record holds $rows voltage rows of channel 1 for $(polls) polls, or ends mid-line" >&2
  exit 1
fi
echo "polled $(polls) times, recorded $rows voltage readings of channel 1, closed with status 0"
