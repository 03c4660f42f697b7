#!/usr/bin/env bash
# The command line against the controller simulator, no display:
#  - start to first byte on the wire: from starting `stowline backup` to the probe "B" reaching
#    the controller (median of 5 runs; polled every millisecond or so);
#  - CPU share and wake-ups of a second-generation and of a lock-step first-generation backup
#    trickled at 960 bytes/s (a 9600-baud line), over 25 s (or SECONDS) of their data phase;
#    takes about a minute and a half.
#   tools/cli-cpu.sh [build-dir] [seconds]
set -euo pipefail
cd "$(dirname "$0")/.."
build=$(realpath "${1:-build}")
seconds=${2:-25}
stowline=$build/app/stowline
sim=$build/tools/stowline-sim
work=$(mktemp -d)
trap 'kill $(jobs -p) 2>/dev/null || true; rm -rf "$work"' EXIT
unset DISPLAY WAYLAND_DISPLAY QT_QPA_PLATFORM
export HOME=$work XDG_CONFIG_HOME=$work/.config

now_us() { echo $(($(date +%s%N) / 1000)); }

first_byte=()
for run in 1 2 3 4 5; do
    rx=$work/rx$run.bin
    "$sim" --generation=1 --quiet --record-rx="$rx" > "$work/sim$run.txt" &
    simpid=$!
    while [ ! -s "$work/sim$run.txt" ]; do sleep 0.05; done
    device=$(head -n1 "$work/sim$run.txt")
    start=$(now_us)
    "$stowline" backup --device "$device" -o "$work/out$run.CCF" --quiet &
    cli=$!
    while [ ! -s "$rx" ]; do sleep 0.001; done
    first_byte+=($(($(now_us) - start)))
    wait $cli
    kill $simpid
    wait $simpid 2>/dev/null || true
done
median=$(printf '%s\n' "${first_byte[@]}" | sort -n | sed -n 3p)
echo "start to first byte: median $(echo "scale=1; $median / 1000" | bc) ms" \
     "(runs: $(printf '%s ' "${first_byte[@]}")us)"

hz=$(getconf CLK_TCK)
ticks() { awk '{print $14 + $15}' "/proc/$1/stat" 2>/dev/null; }
# Voluntary context switches of all its threads: how often it went to sleep.
sleeps() { cat /proc/"$1"/task/*/status 2>/dev/null | awk '/^voluntary_ctxt_switches/ { n += $2 } END { print n + 0 }'; }
# A Backup of the full image trickled at 960 bytes/s; the data phase is measured from 10 s
# after the start, well after the second generation's four-second probe, as the window's
# bench takes it. Stopping the simulator then ends the Backup.
trickle() { # generation label
    "$sim" --generation="$1" --generate=186368 --rate=960 --quiet > "$work/trickle$1.txt" &
    local simpid=$! cli t0 s0 t1 s1
    while [ ! -s "$work/trickle$1.txt" ]; do sleep 0.05; done
    "$stowline" backup --device "$(head -n1 "$work/trickle$1.txt")" -o "$work/trickle$1.bin" --quiet 2>/dev/null &
    cli=$!
    sleep 10
    t0=$(ticks $cli) s0=$(sleeps $cli)
    sleep "$seconds"
    t1=$(ticks $cli) s1=$(sleeps $cli)
    kill $simpid
    wait $cli 2>/dev/null || true
    echo "$2 at 960 bytes/s, data phase: CPU over $seconds s:" \
         "$(echo "100 * ($t1 - $t0) / $hz / $seconds" | bc -l | xargs printf '%.2f') % of one core," \
         "$(echo "($s1 - $s0) / $seconds" | bc -l | xargs printf '%.1f') wake-ups/s"
}
trickle 2 "second-generation backup"
trickle 1 "lock-step backup"
