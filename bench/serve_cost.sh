#!/usr/bin/env bash
# What pz4ctl serve costs the machine: it starts a Mosquitto of its own on a free port and the
# bridge (ci build) over the stand-in driver library with 1 and with 20 simulated supplies at
# steady readings, and prints the context switches a second of the whole process (all threads,
# from /proc), its CPU use, its resident memory and the MQTT messages a second the broker got
# from it, in all and per supply, beside the window's one supply. A benchmark, not a test: it
# prints, it does not judge.
#
#   bench/serve_cost.sh [SECONDS]     each measurement runs SECONDS (default 20)
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
seconds=${1:-20}
cd "$root"
./scripts/deps build test >/dev/null
cmake --preset ci >/dev/null
cmake --build --preset ci --parallel 2 --target pz4ctl ftd2xx_sim >/dev/null

program=$root/build/ci/cli/pz4ctl
export LD_LIBRARY_PATH=$root/build/ci/sim
export PZ4_DRIVER=d2xx
unset PZ4SIM_NOISE PZ4_TRACE
work=$(mktemp -d)
pids=()
trap 'kill "${pids[@]}" 2>/dev/null; rm -rf "$work"' EXIT
# shellcheck source=bench/process_cost.sh
. "$root/bench/process_cost.sh"

port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
printf 'listener %s 127.0.0.1\nallow_anonymous true\npersistence false\n' "$port" >"$work/mosquitto.conf"
/usr/sbin/mosquitto -c "$work/mosquitto.conf" >"$work/mosquitto.log" 2>&1 &
pids+=($!)
sleep 0.5

# Supplies 1..n, every channel on in mode U at a steady voltage.
supplies() {
    local i list=""
    for ((i = 1; i <= $1; i++)); do
        list+="${list:+;}$((100 + i))=1U@$((10 * i)),1U@300,0U"
    done
    echo "$list"
}

measure() {
    local n=$1 pid s0 c0 t0 s1 c1 t1 messages
    PZ4SIM_SUPPLIES=$(supplies "$n") "$program" serve --mqtt "mqtt://127.0.0.1:$port" \
        --client-id "bench-$n" >"$work/serve.log" 2>&1 &
    pid=$!
    pids+=("$pid")
    sleep 5  # start-up, the supplies opened, the ramps of the supplies at 0 V
    mosquitto_sub -p "$port" -t "pz4/#" -v >"$work/messages-$n" 2>/dev/null &
    local sub=$!
    sleep 1
    : >"$work/messages-$n"
    s0=$(switches "$pid") c0=$(cpu_ticks "$pid") t0=$(now_ms)
    sleep "$seconds"
    s1=$(switches "$pid") c1=$(cpu_ticks "$pid") t1=$(now_ms)
    messages=$(wc -l <"$work/messages-$n")
    kill "$sub" 2>/dev/null || true
    awk -v n="$n" -v s=$((s1 - s0)) -v c=$((c1 - c0)) -v ms=$((t1 - t0)) -v hz="$ticks_per_second" \
        -v kib="$(rss_kib "$pid")" -v m="$messages" 'BEGIN {
            sw = s * 1000 / ms; cpu = 100 * c / hz * 1000 / ms; rate = m * 1000 / ms
            printf "%-22s %8.1f %8.2f %9.1f %8.1f   per supply: %6.1f sw/s %6.3f %% %7.1f MiB %5.1f msg/s\n",
                n " supplies", sw, cpu, kib / 1024, rate, sw / n, cpu / n, kib / 1024 / n, rate / n
        }'
    kill -INT "$pid"
    wait "$pid" || true
}

echo "pz4ctl serve, ${seconds} s a measurement, $(nproc) cores"
printf '%-22s %8s %8s %9s %8s\n' "" "sw/s" "CPU %" "RSS MiB" "msg/s"
measure 1
measure 20
echo "(the window, one supply at steady readings: see bench/worker_cost.sh)"
