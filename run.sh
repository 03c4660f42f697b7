#!/usr/bin/env bash
# Sets everything up and starts Stowline. Without STOWLINE_COM1 pointing at a real device, port
# Com 1 is wired to the built-in simulated controller; simulator options may follow, e.g.
#   bash run.sh --generation=2
set -euo pipefail
cd "$(dirname "$0")"
bash tools/setup.sh
exe=build/app/stowline
launch=("$exe")
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    echo "No display found: running on a virtual X display (xvfb-run)." >&2
    launch=(xvfb-run -a "$exe")
fi
if [ -n "${STOWLINE_COM1:-}" ]; then
    exec "${launch[@]}"
fi
exec bash tools/run-with-sim.sh "${launch[@]}" -- "$@"
