#!/usr/bin/env bash
# Sets everything up and starts Stowline. Without STOWLINE_COM1 pointing at a real device, port
# Com 1 is wired to the built-in simulated controller; simulator options may follow, e.g.
#   bash run.sh --generation=2
set -euo pipefail
cd "$(dirname "$0")"
bash tools/setup.sh
build=${STOWLINE_BUILD_DIR:-build}
launch=()
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    echo "No display found: running on a virtual X display (xvfb-run)." >&2
    launch=(xvfb-run -a)
fi
if [ -n "${STOWLINE_COM1:-}" ]; then
    exec "${launch[@]}" "$build/app/stowline"
fi
export STOWLINE_SIM="$PWD/$build/tools/stowline-sim"
exec "${launch[@]}" sh tools/run-with-sim.sh "$build/app/stowline" "$@"
