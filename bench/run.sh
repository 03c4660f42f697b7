#!/usr/bin/env bash
# Builds the benchmarks in Release (into build-bench) and runs the whole suite, which writes
# docs/performance.md and docs/performance.png. Takes about eight minutes; run it on a quiet
# machine. Options go to the driver, e.g. `bash bench/run.sh --quick` for a short trial run
# that is not for the record.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
build=${STOWLINE_BENCH_BUILD_DIR:-build-bench}
case $build in /*) ;; *) build=$root/$build ;; esac

STOWLINE_BUILD_DIR=$build \
    STOWLINE_CMAKE_ARGS="${STOWLINE_CMAKE_ARGS:-} -DCMAKE_BUILD_TYPE=Release -DSTOWLINE_BUILD_TESTS=OFF -DSTOWLINE_BUILD_BENCH=ON" \
    bash tools/setup.sh

mkdir -p docs
args=(
    --sim="$build/tools/stowline-sim"
    --bare="$build/bench/bench_bare"
    --startup="$build/bench/bench_startup"
    --exe="$build/app/stowline"
    --markdown="$root/docs/performance.md"
    --plot="$root/docs/performance.png"
    --command="bash bench/run.sh"
)
if [ -x "$build/bench/bench_xwatch" ]; then
    args+=(--xwatch="$build/bench/bench_xwatch")
fi

# A virtual X server of its own: the window paints as on a desktop, and nothing else on the
# screen takes part. Without Xvfb the window paints off screen and the real program's start
# is not measured.
if command -v xvfb-run >/dev/null 2>&1; then
    exec xvfb-run -a -s "-screen 0 1280x1024x24 -br -nolisten tcp" \
        env QT_QPA_PLATFORM=xcb "$build/bench/bench_stowline" "${args[@]}" "$@"
fi
echo "xvfb-run not found: the window paints off screen" >&2
QT_QPA_PLATFORM=offscreen exec "$build/bench/bench_stowline" "${args[@]}" "$@"
