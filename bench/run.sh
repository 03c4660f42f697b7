#!/usr/bin/env bash
# Builds the benchmarks in Release (into build-bench), runs them and writes docs/performance.md
# from the template bench/report.md. A full run takes about ten minutes: run it on a quiet
# machine. With options, it is a trial run: they go to the driver, the figures go to stdout
# and docs/ is left alone, e.g.
#   bash bench/run.sh --quick --only=transfers      (groups: transfers explain files trickle startup)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${STOWLINE_BENCH_BUILD_DIR:-build-bench}
case $build in /*) ;; *) build=$PWD/$build ;; esac

STOWLINE_BUILD_DIR=$build \
    STOWLINE_CMAKE_ARGS="${STOWLINE_CMAKE_ARGS:-} -DCMAKE_BUILD_TYPE=Release -DSTOWLINE_BUILD_TESTS=OFF -DSTOWLINE_BUILD_BENCH=ON" \
    bash tools/setup.sh

export XDG_RUNTIME_DIR=${XDG_RUNTIME_DIR:-$(mktemp -d)} # Qt wants one; Xvfb sessions lack it
# What other measurements read: the simulator, the program, the build.
export STOWLINE_BENCH_BUILD=$build STOWLINE_BENCH_SIM=$build/tools/stowline-sim \
    STOWLINE_BENCH_EXE=$build/app/stowline

# The window paints on a virtual X server of its own, as on a desktop, with nothing else on
# the screen; without Xvfb it paints off screen and start-up is not the real one.
driver=("$build/bench/bench_stowline" --sim="$STOWLINE_BENCH_SIM" --bare="$build/bench/bench_bare"
    --startup="$build/bench/bench_startup")
if command -v xvfb-run >/dev/null 2>&1; then
    driver=(xvfb-run -a -s "-screen 0 1280x1024x24 -br -nolisten tcp" env QT_QPA_PLATFORM=xcb "${driver[@]}")
else
    echo "xvfb-run not found: the window paints off screen" >&2
    driver=(env QT_QPA_PLATFORM=offscreen "${driver[@]}")
fi
if [ $# -gt 0 ]; then
    exec "${driver[@]}" "$@"
fi

facts=$(mktemp)
trap 'rm -f "$facts"' EXIT
cpu=$(lscpu | sed -n 's/^Model name: *//p' | head -1)
mem=$(awk '/^MemTotal/ { printf "%.1f GiB RAM", $2 / 1048576 }' /proc/meminfo)
qt=$(dpkg-query -W -f='${Version}' libqt6core6 2>/dev/null || echo unknown)
{
    echo "date=$(date -u +%Y-%m-%dT%H:%M:%SZ)"
    echo "machine=${cpu:-$(uname -m)}, $(nproc) logical CPUs, $mem; $(uname -sr); Qt $qt"
    echo "load-before=$(cut -d' ' -f1-3 /proc/loadavg)"
} >"$facts"
"${driver[@]}" | tee -a "$facts"

# Measurements made by scripts of their own: each prints `key=value` lines that
# bench/report.md names (a key nobody printed shows as "not measured"). Expected:
#   bench/cli.sh      the command line: cli-first-byte (ms from start to the first byte on
#                     the line), cli-cpu-960 and cli-wakes-960 (% of a core and wake-ups per
#                     second during a second-generation Backup at 960 B/s), cli-cpu-960-backup1
#                     and cli-wakes-960-backup1 (the same for the lock-step Backup)
#   bench/latency.sh  first-generation transfers of 10000 bytes through an adapter latency
#                     (stowline-sim --latency-ms=N): latency-backup1-1, latency-backup1-16,
#                     latency-restore1-1, latency-restore1-16 (seconds)
# File > History over a journal of 100,000 lines.
(cd "$build" && xvfb-run -a env QT_QPA_PLATFORM=xcb bench/bench_history 100000 || true) | tee -a "$facts"
for hook in bench/cli.sh bench/latency.sh; do
    if [ -f "$hook" ]; then bash "$hook" | tee -a "$facts"; fi
done
echo "load-after=$(cut -d' ' -f1-3 /proc/loadavg)" >>"$facts"

# {key} becomes the figure, {key<=limit} the verdict; comments in the template are dropped.
mkdir -p docs
awk '
    FNR == NR { i = index($0, "="); if (i) v[substr($0, 1, i - 1)] = substr($0, i + 1); next }
    /^<!--/ { c = 1 }
    c { if (/-->/) c = 0; next }
    {
        while (match($0, /[{][a-z0-9-]+(<=[0-9.]+)?[}]/)) {
            n = split(substr($0, RSTART + 1, RLENGTH - 2), p, "<=")
            known = (p[1] in v) && v[p[1]] != "n/a" && v[p[1]] != ""
            out = !known ? "not measured" : n == 1 ? v[p[1]] : v[p[1]] + 0 <= p[2] + 0 ? "met" : "**missed**"
            $0 = substr($0, 1, RSTART - 1) out substr($0, RSTART + RLENGTH)
        }
        print
    }' "$facts" bench/report.md >docs/performance.md
echo "wrote docs/performance.md" >&2
