#!/usr/bin/env bash
# The command line's share of the bench: start to the first byte on the line, and CPU during a
# second-generation Backup at 960 bytes/s. Prints key=value lines for bench/report.md.
set -euo pipefail
out=$(bash tools/cli-cpu.sh "${STOWLINE_BENCH_BUILD:-build-bench}") || { echo "bench/cli.sh: measurement failed" >&2; exit 0; }
printf '%s\n' "$out" >&2
printf '%s\n' "$out" | sed -n 's/^start to first byte: median \([0-9.]*\) ms.*/cli-first-byte=\1/p'
printf '%s\n' "$out" | sed -n 's/^backup at 960 bytes\/s, data phase:.*CPU over 25 s: \([0-9.]*\) %.*/cli-cpu-960=\1/p'
