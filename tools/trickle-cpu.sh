#!/usr/bin/env bash
# CPU share of the real program while a simulated controller trickles a whole second-generation
# image at 960 bytes/s (a 9600-baud line): Backup, or Restore
# of an image first taken from a full-speed controller on Com 2.
#   tools/trickle-cpu.sh [build-dir] [backup|restore]
# Runs under Xvfb with openbox and xdotool; takes a little over three minutes.
set -euo pipefail
cd "$(dirname "$0")/.."
build=$(realpath "${1:-build}")
what=${2:-backup}
if [ -z "${STOWLINE_TRICKLE_INNER:-}" ]; then
    exec env STOWLINE_TRICKLE_INNER=1 xvfb-run -a -s "-screen 0 800x500x24" "$0" "$@"
fi
home=$(mktemp -d)
trap 'kill $(jobs -p) 2>/dev/null || true; rm -rf "$home"' EXIT
export HOME=$home XDG_CONFIG_HOME=$home/.config
openbox >/dev/null 2>&1 &
sleep 1
"$build/tools/stowline-sim" --generation=2 --rate=960 --quiet \
    --record-commands="$home/commands.txt" > "$home/sim.txt" &
sleep 0.5
"$build/tools/stowline-sim" --generation=2 --quiet > "$home/fast.txt" &
sleep 0.5
STOWLINE_COM1=$(head -n1 "$home/sim.txt") STOWLINE_COM2=$(head -n1 "$home/fast.txt") \
    "$build/app/stowline" &
tool=$!
win=""
for _ in $(seq 50); do
    win=$(xdotool search --name "Tessaline - Stowline" 2>/dev/null | head -n1 || true)
    [ -n "$win" ] && break
    sleep 0.1
done
ticks() { awk '{print $14 + $15}' "/proc/$tool/stat"; }
hz=$(getconf CLK_TCK)
if [ "$what" = restore ]; then
    # Take an image from a second, full-speed controller on Com 2, then restore it on Com 1.
    xdotool windowactivate --sync "$win" key alt+s p 2
    xdotool key alt+a b
    sleep 8
    xdotool key alt+s p 1
    xdotool key alt+a r
else
    xdotool windowactivate --sync "$win" key alt+a b
fi
start_ticks=$(ticks)
start=$(date +%s.%N)
# The transfer has ended when the program no longer holds the simulator's device open.
device=$(head -n1 "$home/sim.txt")
holds_port() {
    for fd in /proc/$tool/fd/*; do
        [ "$(readlink "$fd" 2>/dev/null)" = "$device" ] && return 0
    done
    return 1
}
sleep 1
deadline=$(($(date +%s) + 300))
while holds_port && [ "$(date +%s)" -lt "$deadline" ]; do
    sleep 0.2
done
end=$(date +%s.%N)
end_ticks=$(ticks)
echo "$what: $(echo "($end_ticks - $start_ticks) / $hz" | bc -l | xargs printf '%.2f') s CPU over $(echo "$end - $start" | bc | xargs printf '%.1f') s wall:" \
     "$(echo "100 * ($end_ticks - $start_ticks) / $hz / ($end - $start)" | bc -l | xargs printf '%.2f') % of one core"
