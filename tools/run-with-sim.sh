#!/bin/sh
# Runs the tool against a simulated controller on COM1 and stops the simulator when the tool
# exits.
#
# Usage: run-with-sim.sh [STOWLINE_EXECUTABLE] [simulator options...]
# Without an executable, $STOWLINE_EXE is run. The simulator is $STOWLINE_SIM, or else
# stowline-sim next to the executable, in ../tools from it, or on the PATH.
set -eu

exe=${STOWLINE_EXE:-}
if [ $# -gt 0 ] && [ "${1#--}" = "$1" ]; then
    exe=$1
    shift
fi
if [ -z "$exe" ]; then
    echo "usage: $0 [stowline-executable] [simulator options...]" >&2
    exit 2
fi

sim=${STOWLINE_SIM:-}
if [ -z "$sim" ]; then
    dir=$(dirname "$exe")
    for candidate in "$dir/stowline-sim" "$dir/../tools/stowline-sim"; do
        if [ -x "$candidate" ]; then
            sim=$candidate
            break
        fi
    done
fi
if [ -z "$sim" ]; then
    sim=$(command -v stowline-sim || true)
fi
if [ -z "$sim" ]; then
    echo "$0: stowline-sim not found; set STOWLINE_SIM" >&2
    exit 2
fi

tmp=$(mktemp -d)
simpid=
toolpid=
cleanup() {
    if [ -n "$toolpid" ]; then
        kill "$toolpid" 2>/dev/null || true
        wait "$toolpid" 2>/dev/null || true
    fi
    if [ -n "$simpid" ]; then
        kill "$simpid" 2>/dev/null || true
        wait "$simpid" 2>/dev/null || true
    fi
    rm -rf "$tmp"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

"$sim" --path-file="$tmp/path" "$@" >/dev/null &
simpid=$!

waited=0
while [ ! -s "$tmp/path" ]; do
    if ! kill -0 "$simpid" 2>/dev/null; then
        echo "$0: the simulator did not start" >&2
        exit 1
    fi
    if [ "$waited" -ge 100 ]; then
        echo "$0: the simulator gave no device path" >&2
        exit 1
    fi
    sleep 0.05
    waited=$((waited + 1))
done

STOWLINE_COM1=$(head -n 1 "$tmp/path")
export STOWLINE_COM1

# In the background, so a signal to this script reaches its trap (and the tool) at once.
"$exe" &
toolpid=$!
status=0
wait "$toolpid" || status=$?
toolpid=
exit "$status"
