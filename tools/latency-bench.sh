#!/usr/bin/env bash
# What a USB adapter's latency timer costs the lock-step exchanges: the real program, driven by
# keystrokes under Xvfb, runs a first-generation Backup and then a Restore of the same image
# against the simulator on a line paced at 57600 baud (5760 bytes/s), with no adapter hold
# (the line's own time) and with the hold at 16 ms (FTDI default) and 1 ms (low latency).
# Times are taken from the controller's side: from the first byte it receives to the last.
# Needs xvfb and xdotool; no window manager: the keystrokes go to the window given the focus.
#   tools/latency-bench.sh [build-dir] [image-bytes]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
bytes=${2:-10000}
if [ -z "${STOWLINE_BENCH_INNER:-}" ]; then
    exec env STOWLINE_BENCH_INNER=1 xvfb-run -a -s "-screen 0 1024x768x24" "$0" "$@"
fi
home=$(mktemp -d)
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    wait 2>/dev/null || true
    rm -rf "$home"
}
trap cleanup EXIT
export HOME=$home XDG_CONFIG_HOME=$home/.config XDG_RUNTIME_DIR=$home QT_QPA_PLATFORM=xcb
chmod 700 "$home"

size() { stat -c %s "$1" 2>/dev/null || echo 0; }
now() { date +%s.%N; }

# Seconds from the first byte of a command at `from` bytes received to `to` bytes received.
timeUntil() {
    local rx=$1 from=$2 to=$3 start end limit=$((SECONDS + 600))
    while [ "$(size "$rx")" -le "$from" ]; do
        [ $SECONDS -lt $limit ] || { echo timeout; return; }
        sleep 0.002
    done
    start=$(now)
    while [ "$(size "$rx")" -lt "$to" ]; do
        [ $SECONDS -lt $limit ] || { echo timeout; return; }
        sleep 0.002
    done
    end=$(now)
    echo "$end - $start" | bc -l | xargs printf '%.2f'
}

printf '| Adapter hold | Backup of %d bytes (s) | Restore of %d bytes (s) |\n' "$bytes" "$bytes"
printf '|---|---|---|\n'
for hold in 0 16 1; do
    rx=$home/rx-$hold
    args=(--generation=1 --generate="$bytes" --rate=5760 --record-rx="$rx" --quiet)
    [ "$hold" = 0 ] || args+=(--latency-ms="$hold")
    "$build/tools/stowline-sim" "${args[@]}" >"$home/sim-$hold" &
    pids+=($!)
    for _ in $(seq 50); do [ -s "$home/sim-$hold" ] && break; sleep 0.1; done
    STOWLINE_COM1=$(head -n1 "$home/sim-$hold") "$build/app/stowline" &
    app=$!
    pids+=($app)
    win=""
    for _ in $(seq 100); do
        win=$(xdotool search --onlyvisible --pid "$app" --name "Tessaline - Stowline" 2>/dev/null | head -n1 || true)
        [ -n "$win" ] && break
        sleep 0.1
    done
    # The watch starts before the keystrokes, so the first byte is seen as it comes.
    # Backup: "B", "U" and one "A" per byte.
    timeUntil "$rx" 0 $((bytes + 2)) >"$home/backup" &
    watch=$!
    xdotool windowfocus --sync "$win" key alt+a b
    wait "$watch"
    sleep 1
    # Restore: "R", four length bytes and the image.
    timeUntil "$rx" $((bytes + 2)) $((2 * bytes + 7)) >"$home/restore" &
    watch=$!
    xdotool windowfocus --sync "$win" key alt+a r
    wait "$watch"
    sleep 1
    backup=$(cat "$home/backup")
    restore=$(cat "$home/restore")
    kill "$app" 2>/dev/null || true
    label=$([ "$hold" = 0 ] && echo "none (the line's own time)" || echo "$hold ms")
    printf '| %s | %s | %s |\n' "$label" "$backup" "$restore"
done
