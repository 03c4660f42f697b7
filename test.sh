#!/usr/bin/env bash
# Sets everything up and runs the whole test suite; then builds a second tree under
# AddressSanitizer and UndefinedBehaviorSanitizer and runs the whole suite there too.
set -euo pipefail
cd "$(dirname "$0")"
STOWLINE_CMAKE_ARGS="${STOWLINE_CMAKE_ARGS:-} -DSTOWLINE_BUILD_BENCH=ON" bash tools/setup.sh
# The benchmarks are built, not run (bench/run.sh runs them): a change that breaks them fails here.
cmake --build "${STOWLINE_BUILD_DIR:-build}" --target bench_all
ctest --test-dir "${STOWLINE_BUILD_DIR:-build}" --output-on-failure -j "$(nproc)"

# A Debug build keeps Qt's own assertions (index checks the sanitizer cannot see inside an
# array's spare capacity); -O1 with line tables builds in half the time of -O2 -g and still
# gives stack traces with file and line. Qt leaves nothing behind at exit, so leaks count.
asan_dir=${STOWLINE_ASAN_BUILD_DIR:-build-asan}
cmake -S . -B "$asan_dir" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS_DEBUG="-O1 -g1" \
    -DSTOWLINE_WERROR=ON -DSTOWLINE_SANITIZE=ON >/dev/null
cmake --build "$asan_dir"
# The end-to-end tests run against real 2- and 4-second limits; the sanitizers slow the program
# several times over, so a test that misses a limit once on a loaded machine gets one more run.
# A sanitizer finding fails both runs. The package checks look at files, not memory, and the
# USB adapter's virtual machine checks the driver, not memory: they run once, in the plain tree.
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
    ctest --test-dir "$asan_dir" --output-on-failure -j "$(nproc)" --repeat until-pass:2 \
    -E "^(packaging_|usb_adapter$)"
