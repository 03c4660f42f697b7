#!/usr/bin/env bash
# Builds the libFuzzer harnesses with clang, AddressSanitizer and UndefinedBehaviorSanitizer
# into ./build-fuzz and runs each for the given number of seconds, one after the other.
#
#   tools/fuzz.sh 600                  # every harness, ten minutes each
#   tools/fuzz.sh 60 fuzz_open         # one harness
#
# Each harness starts from its committed seeds (tests/fuzz/corpus/<harness>/) and keeps what it
# finds in build-fuzz/corpus/<harness>/. A finding lands in build-fuzz/findings/<harness>/;
# once it is fixed, copy it into the committed corpus so the replay test keeps it fixed.
# The fuzzer runs at the lowest priority, so it leaves the machine to everything else.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-60}
shift || true
harnesses=("$@")
[ ${#harnesses[@]} -gt 0 ] || harnesses=(fuzz_backup fuzz_restore fuzz_open)

# Debug keeps Qt's index assertions, which see what the sanitizer cannot inside an array's
# spare capacity; -O2 keeps the runs fast.
build=build-fuzz
cmake -S . -B "$build" -G Ninja -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=Debug \
    -DCMAKE_CXX_FLAGS_DEBUG="-O2 -g" -DCMAKE_CXX_FLAGS="-fsanitize=fuzzer-no-link" \
    -DSTOWLINE_SANITIZE=ON -DSTOWLINE_FUZZ=ON >/dev/null
nice -n 19 cmake --build "$build" --target "${harnesses[@]}"

# A smaller quarantine than the default 256 MB: runs that move a whole image free hundreds of
# thousands of small blocks, and with the default the allocator's footprint outgrows the RSS
# limit over a few thousand runs although nothing is kept. 64 MB still holds every block
# freed during one run.
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:quarantine_size_mb=64}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-halt_on_error=1:print_stacktrace=1}

status=0
for h in "${harnesses[@]}"; do
    mkdir -p "$build/corpus/$h" "$build/findings/$h"
    echo "== $h: $seconds s" >&2
    # -timeout: the longest legitimate run (a full second-generation image) takes well under
    # a second; -rss_limit_mb keeps a runaway allocation a finding instead of a swap storm.
    nice -n 19 "$build/tests/fuzz/$h" -max_total_time="$seconds" -timeout=20 -rss_limit_mb=2048 \
        -max_len=4096 -print_final_stats=1 -artifact_prefix="$build/findings/$h/" \
        "$build/corpus/$h" "tests/fuzz/corpus/$h" || status=1
done
exit $status
