#!/usr/bin/env bash
# A test that crashes while its simulator runs must end, and take the simulator with it: an
# orphaned simulator would keep the output pipe open, and this read (like the test runner's)
# would wait for ever; the runner's time-out then fails this test.
set -u
start=$(date +%s)
out=$("$1" 2>&1)
took=$(( $(date +%s) - start ))
pid=$(printf '%s\n' "$out" | grep -m1 -E '^[0-9]+$')
[ -n "$pid" ] || { echo "no simulator started: $out"; exit 1; }
sleep 0.5
# Gone, or a zombie nobody has reaped yet.
state=$(awk '{print $3}' "/proc/$pid/stat" 2>/dev/null || true)
if [ -n "$state" ] && [ "$state" != Z ]; then echo "simulator $pid outlived its test"; exit 1; fi
echo "the crashed test ended after ${took} s and took its simulator with it"
