#!/usr/bin/env bash
# CPU share of the real program while a simulated controller trickles a whole second-generation
# image at 960 bytes/s (a 9600-baud line): Backup, or Restore of a 186368-byte file.
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
STOWLINE_COM1=$(head -n1 "$home/sim.txt") "$build/app/stowline" &
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
    head -c 186368 /dev/urandom > "$home/image.SAV"
    # Open through the file dialog: type the path and press Enter.
    xdotool windowactivate --sync "$win" key alt+f o
    sleep 1
    xdotool type --delay 5 "$home/image.SAV"
    xdotool key Return
    sleep 1
    xdotool windowactivate --sync "$win" key alt+a r
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
