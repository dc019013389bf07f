# What a running process costs, read from /proc; sourced by the benchmarks.

ticks_per_second=$(getconf CLK_TCK)

# Context switches of every thread of the process, voluntary and not.
switches() {
    cat /proc/"$1"/task/*/status 2>/dev/null |
        awk '/^(non)?voluntary_ctxt_switches/ { n += $2 } END { print n + 0 }'
}
# User and system time of the process, in clock ticks.
cpu_ticks() {
    awk '{ print $14 + $15 }' /proc/"$1"/stat
}
# Resident memory of the process, in KiB.
rss_kib() {
    awk '/^VmRSS/ { print $2 }' /proc/"$1"/status
}
now_ms() {
    date +%s%3N
}
