#!/usr/bin/env bash
# The command line's share of the bench: start to the first byte on the line, and CPU and
# wake-ups during a second-generation and a lock-step Backup at 960 bytes/s. Prints key=value
# lines for bench/report.md.
set -euo pipefail
out=$(bash tools/cli-cpu.sh "${STOWLINE_BENCH_BUILD:-build-bench}") || { echo "bench/cli.sh: measurement failed" >&2; exit 0; }
printf '%s\n' "$out" >&2
printf '%s\n' "$out" | sed -n 's/^start to first byte: median \([0-9.]*\) ms.*/cli-first-byte=\1/p'
printf '%s\n' "$out" | sed -n \
    -e 's/^second-generation backup at 960 .*: \([0-9.]*\) % of one core, \([0-9.]*\) wake-ups.*/cli-cpu-960=\1\ncli-wakes-960=\2/p' \
    -e 's/^lock-step backup at 960 .*: \([0-9.]*\) % of one core, \([0-9.]*\) wake-ups.*/cli-cpu-960-backup1=\1\ncli-wakes-960-backup1=\2/p'
