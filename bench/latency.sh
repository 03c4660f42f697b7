#!/usr/bin/env bash
# First-generation Backup and Restore of 10000 bytes through a simulated adapter that holds
# received bytes for 1 ms and for 16 ms. Prints key=value lines (seconds) for bench/report.md.
set -euo pipefail
out=$(bash tools/latency-bench.sh "${STOWLINE_BENCH_BUILD:-build-bench}" 10000) || { echo "bench/latency.sh: measurement failed" >&2; exit 0; }
printf '%s\n' "$out" >&2
printf '%s\n' "$out" | awk -F'|' '
    $2 ~ /^ *(1|16) ms *$/ {
        gsub(/[^0-9]/, "", $2); b = $3; r = $4; gsub(/[^0-9.]/, "", b); gsub(/[^0-9.]/, "", r)
        print "latency-backup1-" $2 "=" b; print "latency-restore1-" $2 "=" r
    }'
