#!/usr/bin/env bash
# The command line and the window through a real USB-serial driver: two emulated FTDI adapters
# under Debian's kernel (tools/usb-rig), each wired to a simulator on the host. The guest part
# (--guest) runs the steps and keeps what it saw; the host part checks it row by row against the
# same transfers over plain pseudo-terminals.
#   usb_adapter.sh SOURCE_DIR BUILD_DIR
set -uo pipefail

link() { echo "/dev/serial/by-id/usb-QEMU_QEMU_USB_SERIAL_STW0004$1-if00-port0"; }
# Adapter 1 serves the first generation, slowly enough to be unplugged midway; adapter 2 the second.
sim1="--generation=1 --generate=3000 --rate=1000 --give-up-after=1 --quiet"
sim2="--generation=2 --rate=60000 --give-up-after=1 --quiet"
rec() { echo "--record-rx=$1.rx --record-commands=$1.cmd --record-image=$1.img"; }

if [ "${1:-}" = --guest ]; then
    exe=$RIG_BUILD/app/stowline
    mkdir -p out
    cd out || exit 1
    # A point in the guest's run: its name, the trace's length and the guest's uptime.
    mark() { echo "$1 $(wc -l <../trace) $(cut -d' ' -f1 /proc/uptime)" >>marks; }
    # Waits up to 20 s for a line matching $2 in file $1.
    waitFor() { for _ in $(seq 400); do grep -q "$2" "$1" 2>/dev/null && return; sleep 0.05; done; }
    # A desk's FTDI chip starts with a 16 ms timer; the emulated one reports 0.
    for t in /sys/bus/usb-serial/devices/ttyUSB*/latency_timer; do echo 16 >"$t"; done
    "$exe" ports --json >ports.json
    step() { # name, then the command line's arguments
        local name=$1
        shift
        "$exe" "$@" 2>"$name.err"
        echo $? >"$name.rc"
        mark "$name"
    }
    mark before
    "$exe" backup --device "$(link 1)" -o g1.CCF 2>g1-backup.err &
    waitFor g1-backup.err "Uploading"
    mark during
    wait $!
    echo $? >g1-backup.rc
    mark g1-backup
    step g1-restore restore --device "$(link 1)" -i g1.CCF
    step g2-backup backup --device "$(link 2)" -o g2.SAV
    step g2-restore restore --device "$(link 2)" -i g2.SAV
    for n in 1 2; do for r in rx cmd img; do cp "../sim$n.$r" "sim$n.$r"; done; done

    # The window, once: a first-generation Backup through Port 1 by keystrokes.
    Xvfb :7 -screen 0 1024x768x24 -nolisten tcp >xvfb.log 2>&1 &
    for _ in $(seq 100); do [ -e /tmp/.X11-unix/X7 ] && break; sleep 0.1; done
    rx=$(stat -c %s ../sim1.rx)
    mark window-open
    DISPLAY=:7 QT_QPA_PLATFORM=xcb STOWLINE_COM1=$(link 1) "$exe" >window.log 2>&1 &
    app=$!
    win=$(DISPLAY=:7 timeout 30 xdotool search --sync --onlyvisible --pid $app --name Stowline | head -n1)
    DISPLAY=:7 xdotool windowfocus --sync "$win" sleep 0.5 key alt+a b
    for _ in $(seq 300); do [ "$(stat -c %s ../sim1.rx)" -ge $((rx + 3002)) ] && break; sleep 0.1; done
    sleep 1
    mark window-done
    tail -c +$((rx + 1)) ../sim1.rx >window.rx
    kill $app

    # Unplugged midway: a first-generation Backup, then a second-generation Restore.
    unplug() { # name, adapter, text to wait for, the command line's arguments
        local name=$1 n=$2 text=$3 pid t0
        shift 3
        "$exe" "$@" 2>"$name.err" &
        pid=$!
        waitFor "$name.err" "$text"
        t0=$(date +%s%N)
        rig_unplug "$n"
        wait $pid
        echo $? >"$name.rc"
        echo $((($(date +%s%N) - t0) / 1000000)) >"$name.ms"
        mark "$name"
    }
    mkdir u
    unplug u1 1 " 20%" backup --device "$(link 1)" -o u/u1.CCF
    unplug u2 2 " 10%" restore --device "$(link 2)" -i g2.SAV
    # Plugged in again the other way round: adapter 2 comes first now.
    for n in 2 1; do
        rig_plug $n
        for _ in $(seq 100); do [ -e "$(link $n)" ] && break; sleep 0.1; done
    done
    udevadm settle
    mark replugged
    readlink -f "$(link 1)" "$(link 2)" >replugged.links
    step r1 backup --device "$(link 1)" -o r1.CCF
    step r2 backup --device "$(link 2)" -o r2.SAV
    exit 0
fi

src=$1
build=$(readlink -f "$2")
run=$build/usb-rig/test
rm -rf "$run"
mkdir -p "$run/ref"
fails=0
row() { # name, then a condition
    local name=$1
    shift
    if "$@"; then echo "PASS  $name"; else
        echo "FAIL  $name"
        fails=$((fails + 1))
    fi
}
started=$SECONDS

# The same transfers over plain pseudo-terminals, while the guest boots.
reference() {
    local n=$1 opts=$2 ext=$3 gen=$4 pid
    cd "$run/ref" || return
    # shellcheck disable=SC2046,SC2086
    "$build/tools/stowline-sim" $opts $(rec sim$n) --path-file=pty$n >/dev/null &
    pid=$!
    for _ in $(seq 100); do [ -s pty$n ] && break; sleep 0.05; done
    XDG_CONFIG_HOME=$run/ref/config "$build/app/stowline" backup --device "$(cat pty$n)" -o g$gen.$ext -q
    XDG_CONFIG_HOME=$run/ref/config "$build/app/stowline" restore --device "$(cat pty$n)" -i g$gen.$ext -q
    sleep 0.5
    kill $pid
}
(reference 1 "$sim1" CCF 1 && reference 2 "$sim2" SAV 2) >"$run/ref.log" 2>&1 &
refpid=$!

bash "$src/tools/usb-rig/usb-rig.sh" --adapter "STW00041=$sim1 $(rec sim1)" \
    --adapter "STW00042=$sim2 $(rec sim2)" "$build" "$run" bash "$(readlink -f "$0")" --guest
rig=$?
wait $refpid
echo "guest and reference runs took $((SECONDS - started)) s (rig exit status $rig)"
out=$run/out
cd "$out" 2>/dev/null || {
    cat "$run/guest.log"
    exit 1
}
[ -s "$run/guest.log" ] && { echo "--- guest output"; cat "$run/guest.log"; }

row "ports --json lists /dev/ttyUSB0: 0403:6001, its serial number and by-id link" \
    test "$(jq -c '.[] | select(.device == "/dev/ttyUSB0") | [.vidPid, .serialNumber, .byIdPath]' ports.json)" \
    = "[\"0403:6001\",\"STW00041\",\"$(link 1)\"]"

same() { # guest files equal the reference's
    local f
    for f in "$@"; do cmp -s "$f" "$run/ref/$f" || { echo "      $f differs"; return 1; }; done
}
for t in g1-backup g1-restore g2-backup g2-restore; do
    row "$t through the by-id link: exit 0" test "$(cat $t.rc)" = 0
done
row "first generation: file and simulator records as over a pty" same g1.CCF sim1.rx sim1.cmd sim1.img
row "second generation: file and simulator records as over a pty" same g2.SAV sim2.rx sim2.cmd sim2.img

# The latency-timer requests (0x4009) between two marks of the trace.
latency() { # from-mark to-mark
    local from to
    from=$(awk -v m="$1" '$1 == m { print $2 }' marks)
    [ "$1" != start ] || from=0
    to=$(awk -v m="$2" '$1 == m { print $2 }' marks)
    sed -n "$((from + 1)),${to}p" "$run/trace" | sed -n 's/.*got control 0x4009, value \(0x[0-9a-f]*\).*/\1/p' |
        tr '\n' ' '
}
echo "      guest uptime (s) after each step: $(awk '{ printf "%s %s, ", $1, $3 }' marks)"
echo "      latency requests: before the Backup: $(latency start before)| while it ran: $(latency before during)| after: $(latency during g1-backup)"
echo "      in the window: $(latency window-open window-done)"
lastOf() { latency "$1" "$2" | awk '{ print $NF }'; }
row "low latency: timer 1 during the Backup, 16 again after the port closed" \
    test "$(lastOf start before) $(latency before during) $(latency during g1-backup)" = "0x10 0x1  0x10 "
row "low latency in the window: 1, then 16 again" test "$(latency window-open window-done)" = "0x1 0x10 "
row "the window's Backup through Port 1 ran to the end" \
    test "$(head -c 2 window.rx)$(tail -c +3 window.rx | tr -d A | wc -c) $(stat -c %s window.rx)" = "BU0 3002"

for u in u1:"first-generation Backup" u2:"second-generation Restore"; do
    name=${u%%:*}
    echo "      $name: exit $(cat $name.rc) after $(cat $name.ms) ms: $(tail -n1 $name.err)"
    row "unplugged during a ${u#*:}: exit 3, no-response text, within 5 s" test \
        "$(cat $name.rc) $(tail -n1 $name.err) $(($(cat $name.ms) < 5000))" = \
        "3 ERROR Message: Error : Controller Failed to respond, Check Communications 1"
done
row "the unplugged runs wrote no file" test -z "$(ls -A u)"
echo "      replugged, adapter 2 first: $(tr '\n' ' ' <replugged.links)"
# A replugged adapter starts from the chip's own timer (0 on the emulated one), and the port's
# low latency is put back to that.
echo "      latency requests: at replugging: $(latency u2 replugged)| the Backup after: $(latency replugged r1)"
row "replugged: Backups through the same by-id links give the same images, low latency put back" \
    test "$(cat r1.rc r2.rc | tr -d '\n') $(cmp r1.CCF g1.CCF && cmp r2.SAV g2.SAV && echo same) \
$(latency replugged r1)" = "00 same 0x1 0x0 "

echo "usb_adapter took $((SECONDS - started)) s"
[ "$rig" -eq 0 ] || { echo "the guest did not finish cleanly (rig exit status $rig)"; fails=$((fails + 1)); }
[ "$fails" -eq 0 ]
