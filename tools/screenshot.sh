#!/usr/bin/env bash
# Takes docs/window.png: the real program under Xvfb with a window manager, after a Backup from the
# simulated controller. Needs xvfb, openbox, xdotool and imagemagick.
#   tools/screenshot.sh [build-dir] [output.png]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
out=${2:-docs/window.png}
if [ -z "${STOWLINE_SCREENSHOT_INNER:-}" ]; then
    exec env STOWLINE_SCREENSHOT_INNER=1 xvfb-run -a -s "-screen 0 800x500x24 -dpi 96" "$0" "$@"
fi
home=$(mktemp -d)
trap 'kill $(jobs -p) 2>/dev/null || true; rm -rf "$home"' EXIT
export HOME=$home XDG_CONFIG_HOME=$home/.config
openbox >/dev/null 2>&1 &
sleep 1
"$build/tools/stowline-sim" --generation=1 --generate=12288 --quiet > "$home/sim.txt" &
sleep 0.5
STOWLINE_COM1=$(head -n1 "$home/sim.txt") "$build/app/stowline" &
win=""
for _ in $(seq 50); do
    win=$(xdotool search --name "Tessaline - Stowline" 2>/dev/null | head -n1 || true)
    [ -n "$win" ] && break
    sleep 0.1
done
xdotool windowactivate --sync "$win" key alt+a b
sleep 3
xdotool mousemove 1 1
import -window root -crop 480x330+40+40 "$out"
echo "wrote $out"
