#!/bin/sh
# Back up controller A, restore the image into controller B, verify that B holds it.
set -u
stowline=build/app/stowline
sim=build/tools/stowline-sim
work=$(mktemp -d)

# Two simulated first-generation controllers holding different images. The simulator prints
# its device on its first line; B also records the image it receives.
$sim --generate=20000 --seed=1 --quiet > "$work/a.dev" &
simA=$!
$sim --generate=20000 --seed=2 --quiet --record-image="$work/b.img" > "$work/b.dev" &
simB=$!
sleep 1

$stowline backup --device "$(head -n1 "$work/a.dev")" -o "$work/a.CCF"
rc=$?; [ $rc -eq 0 ] || { echo "backup failed with exit code $rc"; exit $rc; }

$stowline restore --device "$(head -n1 "$work/b.dev")" -i "$work/a.CCF"
rc=$?; [ $rc -eq 0 ] || { echo "restore failed with exit code $rc"; exit $rc; }

# The simulator serves the image it was started with, not what it received: start B again
# with the image it recorded, as a real controller holds what was restored into it.
kill $simB
$sim --image="$work/b.img" --quiet > "$work/b2.dev" &
simB=$!
sleep 1

$stowline verify --device "$(head -n1 "$work/b2.dev")" -i "$work/a.CCF"
rc=$?
case $rc in
0) echo "controller B holds the backup of controller A" ;;
6) echo "controller B differs from the backup" ;;
*) echo "verify failed with exit code $rc" ;;
esac
kill $simA $simB
rm -rf "$work"
exit $rc
