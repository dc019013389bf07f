#!/usr/bin/env bash
# What the running program costs the machine: it starts the program (ci build) over the stand-in
# driver library on a virtual display and prints, for one supply at steady readings (alone, with
# the History window open, and recording to a file) and for the window with no supply, the
# context switches a second of the whole process (all threads, from
# /proc), its CPU use, the worker's pass period against what the pass is made of (200 ms pause,
# two 20 ms query pauses, the two exchanges on the wire, measured from a wire trace), and how
# long the process takes to end after Escape: at steady readings, and at random moments while
# the supply misbehaves (silent, ERR replies, garbage, a stray byte 50 ms behind every reply,
# replies 700 ms late). A benchmark, not a test: it prints, it does not judge.
#
#   bench/worker_cost.sh [SECONDS]     each measurement runs SECONDS (default 20)
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
seconds=${1:-20}

if [[ ${PZ4_BENCH_INNER:-} != 1 ]]; then
    cd "$root"
    ./scripts/deps build xvfb >/dev/null
    cmake --preset ci >/dev/null
    cmake --build --preset ci --parallel 2 --target pz4-readout ftd2xx_sim >/dev/null
    exec env PZ4_BENCH_INNER=1 "$root/tests/ui/under_xvfb.sh" "$0" "$seconds"
fi

program=$root/build/ci/ui/pz4-readout
export LD_LIBRARY_PATH=$root/build/ci/sim
unset PZ4SIM_NOISE PZ4_TRACE
work=$(mktemp -d)
app_pid=""
trap '[ -n "$app_pid" ] && kill "$app_pid" 2>/dev/null; rm -rf "$work"' EXIT
# shellcheck source=bench/process_cost.sh
. "$root/bench/process_cost.sh"

start_program() {
    PZ4SIM_SUPPLIES=$1 PZ4SIM_LOG=$work/wire.log "${@:2}" "$program" >"$work/app.log" 2>&1 &
    app_pid=$!
    sleep 3  # start-up, the first status query, the ramps of a supply at 0 V
}

# Closes the program under a fault at random moments; prints the median and the longest time
# from Escape to the end of the process, and the exit statuses other than 0.
close_under_fault() {
    local control=$1 runs=$2 times=() statuses="" i
    for ((i = 0; i < runs; i++)); do
        start_program '42=1U,1U,1U' env PZ4SIM_CONTROL="$control"
        sleep "$(awk -v r=$RANDOM 'BEGIN { printf "%.3f", r / 32768 * 3 }')"
        close_program
        times+=("$closed_ms")
        [[ $closed_status == 0 ]] || statuses+=" $closed_status"
    done
    printf '%s\n' "${times[@]}" | sort -n |
        awk -v s="${statuses:- none}" '{ t[NR] = $1 } END { printf "%8d %8d   exit statuses other than 0:%s", t[int((NR + 1) / 2)], t[NR], s }'
}

# Prints switches a second and CPU % over the next $seconds.
measure_cost() {
    local s0 c0 t0 s1 c1 t1
    s0=$(switches "$app_pid") c0=$(cpu_ticks "$app_pid") t0=$(now_ms)
    sleep "$seconds"
    s1=$(switches "$app_pid") c1=$(cpu_ticks "$app_pid") t1=$(now_ms)
    awk -v s=$((s1 - s0)) -v c=$((c1 - c0)) -v ms=$((t1 - t0)) -v hz="$ticks_per_second" \
        'BEGIN { printf "%8.1f %10.2f", s * 1000 / ms, 100 * c / hz * 1000 / ms }'
}

close_program() {
    local window t0
    window=$(xdotool search --sync --name '^Quorvin PZ4 Control$' | head -n 1)
    xdotool windowfocus --sync "$window"
    t0=$(now_ms)
    xdotool key Escape
    while kill -0 "$app_pid" 2>/dev/null; do sleep 0.002; done
    closed_status=0
    wait "$app_pid" || closed_status=$?
    closed_ms=$(($(now_ms) - t0))
    app_pid=""
}

echo "PZ4 Control, ${seconds} s a measurement, $(nproc) cores"
printf '%-32s %8s %10s %10s\n' "state" "sw/s" "CPU %" "close ms"

start_program '42=1U,1U,1U'
cost=$(measure_cost)
close_program
printf '%-32s %s %10s   (targets: 40, 0.25, 100)\n' "one supply, steady readings" "$cost" \
    "$closed_ms"

# The History window open beside it, following the present.
start_program '42=1U,1U,1U'
window=$(xdotool search --sync --name '^Quorvin PZ4 Control$' | head -n 1)
xdotool windowfocus --sync "$window" key ctrl+h
xdotool search --sync --name '^PZ4 History - 42$' >/dev/null
sleep 1
cost=$(measure_cost)
close_program
printf '%-32s %s %10s\n' "  with the History window open" "$cost" "$closed_ms"

start_program '42=1U,1U,1U' env PZ4_RECORD="$work/record.csv"
cost=$(measure_cost)
close_program
printf '%-32s %s %10s   (%s lines)\n' "  recording to a file" "$cost" "$closed_ms" \
    "$(wc -l <"$work/record.csv")"

start_program ''
cost=$(measure_cost)
close_program
printf '%-32s %s %10s   (target: 10)\n' "no supply" "$cost" "$closed_ms"

close_runs=${PZ4_BENCH_CLOSES:-8}
echo
echo "Escape to the end of the process, ${close_runs} closes at random moments each (target: 100 ms)"
printf '%-32s %8s %8s\n' "the supply" "median" "longest"
while IFS='|' read -r name control; do
    printf '%-32s %s\n' "$name" "$(close_under_fault "$control" "$close_runs")"
done <<'FAULTS'
answers|
stays silent|silent 42 1
answers ERR|err 42 1
answers garbage|garbage 42 1
a stray byte 50 ms behind replies|stray 42 7e 50
answers 700 ms late|late 42 700
FAULTS
echo

# The pass period, from a trace: a pass starts at each voltage query; an exchange lasts from
# its write to the read that ends its reply line.
start_program '42=1U,1U,1U' env PZ4_TRACE="$work/trace.txt"
sleep "$seconds"
close_program
awk '
    $2 == "write" { kind = ($3 ~ /GU/) ? "U" : ($3 ~ /GI/) ? "I" : ""; at = $1
                    if (kind == "U") { if (lastU) { period += $1 - lastU; passes++ } lastU = $1 } }
    $2 == "read" && kind != "" && $3 ~ /\\r/ { took[kind] += $1 - at; n[kind]++; kind = "" }
    END {
        if (passes == 0 || n["U"] == 0 || n["I"] == 0) { print "no passes traced"; exit 1 }
        p = period / passes; eu = took["U"] / n["U"]; ei = took["I"] / n["I"]
        expected = 200 + 2 * 20 + eu + ei
        printf "pass period %.1f ms over %d passes; 200 + 2 x 20 + %.1f + %.1f (exchanges) = %.1f ms: %+.1f %% (target: within 5 %%)\n",
            p, passes, eu, ei, expected, 100 * (p - expected) / expected
    }' "$work/trace.txt"
