#!/usr/bin/env bash
# A new user's first run, by keystrokes under Xvfb: a simulated controller on a pseudo-terminal
# that no mapping names; Settings → Port → Choose Device…, type its path, OK, Backup; quit,
# start again, Backup. Prints what was stored and the commands the controller received, and
# leaves screenshots in $OUT (default /tmp). Needs xvfb, openbox, xdotool and imagemagick.
#   tools/choose-device-trial.sh [build-dir]
set -u
cd "$(dirname "$0")/.."
build=${1:-build}
out=${OUT:-/tmp}
if [ -z "${STOWLINE_TRIAL_INNER:-}" ]; then
    exec env STOWLINE_TRIAL_INNER=1 xvfb-run -a -s "-screen 0 1280x800x24" "$0" "$@"
fi
trap 'kill $(jobs -p) 2>/dev/null' EXIT
home=$(mktemp -d)
export HOME=$home XDG_CONFIG_HOME=$home/.config QT_QPA_PLATFORM=xcb
unset STOWLINE_COM1 || true
openbox >/dev/null 2>&1 &
sleep 1
"$build/tools/stowline-sim" --generation=1 --generate=3000 --record-commands="$home/cmds" \
    --quiet >"$home/sim.txt" &
sleep 0.5
dev=$(head -n1 "$home/sim.txt")
echo "simulator on $dev"
startapp() {
    "$build/app/stowline" &
    app=$!
    win=""
    for _ in $(seq 50); do
        win=$(xdotool search --pid $app --name "Tessaline - Stowline" 2>/dev/null | head -n1 || true)
        [ -n "$win" ] && break
        sleep 0.1
    done
}
startapp
xdotool windowactivate --sync "$win" key alt+s; sleep 0.3; xdotool key p; sleep 0.3; xdotool key d
sleep 1
xdotool key alt+d ctrl+a; xdotool type --delay 20 "$dev"; sleep 0.3
import -window root -crop 764x386+0+0 "$out/trial-dialog.png"
xdotool key Return; sleep 0.5
echo "stored: $(tr '\n' ' ' <"$XDG_CONFIG_HOME/Stowline/Stowline.conf")"
xdotool windowactivate --sync "$win" key alt+a b; sleep 4
import -window root "$out/trial-run1.png"
echo "commands after run 1: $(tr '\n' ';' <"$home/cmds")"
xdotool windowactivate --sync "$win" key alt+f x; sleep 1
kill -0 $app 2>/dev/null && echo "the program did not quit" || echo "quit"
startapp
xdotool windowactivate --sync "$win" key alt+a b; sleep 4
import -window root "$out/trial-run2.png"
echo "commands after run 2: $(tr '\n' ';' <"$home/cmds")"
kill $app
