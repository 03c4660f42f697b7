#!/usr/bin/env bash
# The command line against the controller simulator, no display:
#  - start to first byte on the wire: from starting `stowline backup` to the probe "B" reaching
#    the controller (median of 5 runs; polled every millisecond or so);
#  - CPU share of a second-generation backup trickled at 960 bytes/s (a 9600-baud line): over
#    25 s of its data phase, and over the whole run (start-up and the probe's four seconds
#    included); takes a little over three minutes.
#   tools/cli-cpu.sh [build-dir]
set -euo pipefail
cd "$(dirname "$0")/.."
build=$(realpath "${1:-build}")
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

"$sim" --generation=2 --rate=960 --quiet > "$work/trickle.txt" &
while [ ! -s "$work/trickle.txt" ]; do sleep 0.05; done
device=$(head -n1 "$work/trickle.txt")
hz=$(getconf CLK_TCK)
ticks() { awk '{print $14 + $15}' "/proc/$1/stat" 2>/dev/null; }
start=$(date +%s.%N)
"$stowline" backup --device "$device" -o "$work/trickle.SAV" --quiet &
cli=$!
# 25 s of the data phase, well after the probe's four seconds, as the window's bench takes it.
sleep 10
phase_ticks=$(ticks $cli)
sleep 25
phase_ticks=$(($(ticks $cli) - phase_ticks))
total=0
while t=$(ticks $cli) && [ -n "$t" ]; do
    total=$t
    sleep 0.2
done
wait $cli
end=$(date +%s.%N)
wall=$(echo "$end - $start" | bc)
share() { echo "100 * $1 / $hz / $2" | bc -l | xargs printf '%.2f'; }
echo "backup at 960 bytes/s, data phase: $(echo "$phase_ticks / $hz" | bc -l | xargs printf '%.2f') s" \
     "CPU over 25 s: $(share "$phase_ticks" 25) % of one core"
echo "backup at 960 bytes/s, whole run: $(echo "$total / $hz" | bc -l | xargs printf '%.2f') s" \
     "CPU over $(printf '%.1f' "$wall") s wall: $(share "$total" "$wall") % of one core"
