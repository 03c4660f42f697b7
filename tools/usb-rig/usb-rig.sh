#!/usr/bin/env bash
# A desk with real USB-serial adapters, in a virtual machine: QEMU's emulated FTDI FT232
# (0403:6001) under Debian's own kernel, bound to ftdi_sio and usbserial as /dev/ttyUSB<n>, each
# adapter wired to a controller simulator on a host pseudo-terminal. The guest's root is the
# host's own, read-only over 9p, with the build folder writable at the same path, so it runs the
# binaries just built; udev gives it the by-id links, description and serial number of a desk.
#
#   usb-rig.sh [--adapter SERIAL=SIM_OPTIONS]... BUILD_DIR RUN_DIR COMMAND [ARG]...
#
# Each --adapter plugs in one adapter, in order, with its serial number; its simulator runs in
# RUN_DIR with those options. RUN_DIR lies in BUILD_DIR; COMMAND runs there in the guest as root
# once every adapter has its by-id link, with RIG_BUILD and RIG_RUN set and these functions:
#   rig_monitor CMD...   a QEMU monitor command, run before it returns
#   rig_unplug N         pull adapter N (from 1) out
#   rig_plug N           plug it in again (into the same simulator)
# Left in RUN_DIR: guest.log and guest.rc (COMMAND's output and exit status), console.log (the
# guest's kernel), trace (QEMU's events of the adapters' control requests), monitor.log, sim<N>.log.
#
# The kernel and its initramfs are cached in BUILD_DIR/usb-rig; the first run fetches the kernel
# package that linux-image-amd64 depends on (unpacked there; nothing is installed).
# RIG_TIMEOUT (seconds, default 170) ends a guest that takes longer.
set -euo pipefail

self=$(readlink -f "$0")

# ---- In the guest: the host's root is ours now, with /proc, /sys and /dev moved over. ----
if [ "${1:-}" = --guest ]; then
    export PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin
    # rig_build and rig_run come from the kernel's command line, the rest from guest.env.
    # shellcheck disable=SC2154 source=/dev/null
    . "$rig_run/rig/guest.env"
    mount -t tmpfs tmpfs /run
    # The checkout and the build folder may live under a folder that gets a tmpfs of its own
    # (a CI runner's /tmp): they are carried over onto it.
    src_root=$(cd "$(dirname "$0")/../.." && pwd)
    for d in /tmp /var/tmp; do
        keep=()
        for p in "$src_root" "$rig_build"; do
            case $p in "$d"/*) keep+=("$p") ;; esac
        done
        [ ${#keep[@]} -eq 0 ] || { mkdir -p "/run/keep$d" && mount --rbind "$d" "/run/keep$d"; }
        mount -t tmpfs tmpfs "$d"
        for p in "${keep[@]}"; do
            mkdir -p "$p" && mount --rbind "/run/keep$p" "$p"
        done
    done
    [ ! -d /var/lib/xkb ] || mount -t tmpfs tmpfs /var/lib/xkb
    mkdir -p /dev/pts /dev/shm
    mount -t devpts devpts /dev/pts
    mount -t tmpfs tmpfs /dev/shm
    echo 1 >/proc/sys/kernel/sysrq
    poweroff() {
        sync
        echo o >/proc/sysrq-trigger
        # The root goes away while the machine stops: nothing more may be run from it.
        while :; do :; done
    }
    # Ends the guest whatever COMMAND leaves behind; an init that exits panics instead.
    trap poweroff EXIT
    # shellcheck disable=SC2154
    export HOME=/tmp/home XDG_RUNTIME_DIR=/run/user/0 RIG_BUILD=$rig_build RIG_RUN=$rig_run
    mkdir -p "$HOME" /run/user
    mkdir -m 700 "$XDG_RUNTIME_DIR"
    /lib/systemd/systemd-udevd --daemon
    udevadm trigger --action=add
    udevadm settle
    # shellcheck disable=SC2154
    for _ in $(seq 200); do
        [ "$(ls /dev/serial/by-id 2>/dev/null | wc -l)" -ge "${#rig_serials[@]}" ] && break
        sleep 0.1
        udevadm settle
    done
    rig_monitor() {
        local n=1
        while [ -e "$RIG_RUN/rig/req.$n" ]; do n=$((n + 1)); done
        echo "$*" >"$RIG_RUN/rig/tmp.$n"
        mv "$RIG_RUN/rig/tmp.$n" "$RIG_RUN/rig/req.$n"
        for _ in $(seq 200); do
            [ ! -e "$RIG_RUN/rig/ack.$n" ] || return 0
            sleep 0.05
        done
        echo "rig_monitor: no answer to $*" >&2
        return 1
    }
    rig_unplug() { rig_monitor device_del "ad$1"; }
    rig_plug() {
        local serials
        IFS=' ' read -r -a serials <<<"$RIG_SERIALS"
        rig_monitor device_add "usb-serial,id=ad$1,bus=xhci.0,chardev=sim$1,serial=${serials[$1 - 1]}"
    }
    export -f rig_monitor rig_unplug rig_plug
    export RIG_SERIALS="${rig_serials[*]}"
    cd "$rig_run"
    rc=0
    # shellcheck disable=SC2154
    "${rig_command[@]}" >guest.log 2>&1 </dev/null || rc=$?
    echo "$rc" >guest.rc
    exit
fi

# ---- On the host. ----
serials=()
simargs=()
while [ "${1:-}" = --adapter ]; do
    serials+=("${2%%=*}")
    simargs+=("${2#*=}")
    shift 2
done
if [ $# -lt 3 ]; then
    sed -n '8,21p' "$self" >&2
    exit 2
fi
build=$(readlink -f "$1")
mkdir -p "$2"
run=$(readlink -f "$2")
shift 2
# The guest starts COMMAND in RUN_DIR.
case $1 in */*) set -- "$(readlink -f "$1")" "${@:2}" ;; esac
case $run/ in "$build"/*) ;; *)
    echo "usb-rig: $run is not inside $build" >&2
    exit 2
    ;;
esac
case $build$run$self in *[[:space:]]*)
    echo "usb-rig: paths with spaces cannot go on the guest's kernel command line" >&2
    exit 2
    ;;
esac

# The kernel and an initramfs that loads just what the rig needs, then hands over to the 9p root.
# Built again when this init or its modules change.
modules="9p 9pnet_virtio virtio_pci xhci_pci ftdi_sio"
init='#!/bin/busybox sh
/bin/busybox --install -s /bin
export PATH=/bin
mount -t proc proc /proc
mount -t sysfs sysfs /sys
mount -t devtmpfs devtmpfs /dev
while read -r m; do insmod "/mods/$m" || echo "init: $m did not load"; done </modules
o=trans=virtio,version=9p2000.L,msize=512000
mount -t 9p -o "$o,ro,cache=loose" hostroot /newroot
mount -t 9p -o "$o" build "/newroot$rig_build"
for d in proc sys dev; do mount --move "/$d" "/newroot/$d"; done
exec switch_root /newroot /bin/bash "$rig_self" --guest'
cache=$build/usb-rig
mkdir -p "$cache"
if [ ! -s "$cache/initrd.img" ] || [ "$(cat "$cache/initrd.key" 2>/dev/null)" != "$modules$init" ]; then
    version=$(apt-cache depends linux-image-amd64 2>/dev/null | awk '/Depends: linux-image-/ { print $2; exit }')
    if [ -z "$version" ]; then
        apt-get update -qq
        version=$(apt-cache depends linux-image-amd64 | awk '/Depends: linux-image-/ { print $2; exit }')
    fi
    kver=${version#linux-image-}
    echo "usb-rig: preparing kernel $kver (cached in $cache)" >&2
    tmp=$(mktemp -d "$cache/prep.XXXXXX")
    trap 'rm -rf "$tmp"' EXIT
    (cd "$tmp" && apt-get download -qq -o APT::Sandbox::User=root "$version")
    dpkg-deb -x "$tmp"/linux-image-*.deb "$tmp/k"
    depmod -b "$tmp/k" "$kver"
    mkdir -p "$tmp/init/"{bin,mods,proc,sys,dev,newroot}
    cp /bin/busybox "$tmp/init/bin/busybox"
    for m in $modules; do
        modprobe -d "$tmp/k" -S "$kver" --show-depends "$m"
    done | awk '$1 == "insmod" && !seen[$2]++ { print $2 }' >"$tmp/modules"
    : >"$tmp/init/modules"
    while read -r ko; do
        cp "$ko" "$tmp/init/mods/"
        basename "$ko" >>"$tmp/init/modules"
    done <"$tmp/modules"
    echo "$init" >"$tmp/init/init"
    chmod +x "$tmp/init/init"
    (cd "$tmp/init" && find . | cpio -o -H newc --quiet | gzip -1) >"$tmp/initrd.img"
    cp "$tmp/k/boot/vmlinuz-$kver" "$cache/vmlinuz"
    mv "$tmp/initrd.img" "$cache/initrd.img"
    echo "$modules$init" >"$cache/initrd.key"
    rm -rf "$tmp"
    trap - EXIT
fi

rm -rf "$run/rig"
mkdir -p "$run/rig"
rm -f "$run"/{guest.log,guest.rc,console.log,trace,monitor.log}
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    wait 2>/dev/null || true
}
trap cleanup EXIT

# One simulator per adapter; QEMU opens its pseudo-terminal as the adapter's far end.
devices=()
for i in "${!serials[@]}"; do
    n=$((i + 1))
    # shellcheck disable=SC2086
    (cd "$run" && exec "$build/tools/stowline-sim" ${simargs[$i]} --path-file="$run/rig/pty$n" \
        >/dev/null 2>"$run/sim$n.log") &
    pids+=("$!")
    for _ in $(seq 100); do
        [ -s "$run/rig/pty$n" ] && break
        sleep 0.05
    done
    [ -s "$run/rig/pty$n" ] || { echo "usb-rig: simulator $n did not start" >&2; exit 1; }
    devices+=(-chardev "serial,id=sim$n,path=$(head -n1 "$run/rig/pty$n")"
        -device "usb-serial,id=ad$n,bus=xhci.0,chardev=sim$n,serial=${serials[$i]}")
done
{
    echo "rig_serials=($(printf '%q ' "${serials[@]}"))"
    echo "rig_command=($(printf '%q ' "$@"))"
} >"$run/rig/guest.env"

qemu-system-x86_64 -nodefaults -no-user-config -display none -no-reboot -m 1024 -smp 1 \
    -kernel "$cache/vmlinuz" -initrd "$cache/initrd.img" \
    -append "console=ttyS0 quiet panic=-1 rig_self=$self rig_build=$build rig_run=$run" \
    -serial "file:$run/console.log" \
    -virtfs local,path=/,mount_tag=hostroot,security_model=none,readonly=on,multidevs=remap \
    -virtfs "local,path=$build,mount_tag=build,security_model=none,multidevs=remap" \
    -device qemu-xhci,id=xhci "${devices[@]}" \
    -monitor "unix:$run/rig/monitor.sock,server=on,wait=off" \
    -msg timestamp=on -trace usb_serial_handle_control -D "$run/trace" \
    2>"$run/rig/qemu.err" &
qemu=$!
pids+=("$qemu")

# The guest's monitor requests, in order, each answered once QEMU has run it.
done_n=0
deadline=$((SECONDS + ${RIG_TIMEOUT:-170}))
while kill -0 "$qemu" 2>/dev/null; do
    if [ $SECONDS -ge $deadline ]; then
        echo "usb-rig: the guest ran longer than ${RIG_TIMEOUT:-170} s" >&2
        break
    fi
    if [ -e "$run/rig/req.$((done_n + 1))" ]; then
        done_n=$((done_n + 1))
        cmd=$(cat "$run/rig/req.$done_n")
        # What QEMU answers beyond its prompt and the echo of the line: errors only.
        echo "$(date +%T.%N) $cmd" >>"$run/monitor.log"
        { echo "$cmd"; sleep 0.2; } | socat - "UNIX-CONNECT:$run/rig/monitor.sock" 2>&1 |
            tr -d '\r' | sed -e 's/.*\x1b\[K//' -e '/^QEMU .* monitor/d' -e '/^(qemu) /d' \
                -e "/^${cmd//\//\\/}\$/d" -e '/^$/d' -e 's/^/  /' >>"$run/monitor.log" || true
        : >"$run/rig/ack.$done_n"
        continue
    fi
    sleep 0.05
done
cleanup
pids=()
if [ ! -s "$run/guest.rc" ]; then
    echo "usb-rig: the guest did not finish; its console:" >&2
    tail -n 30 "$run/console.log" >&2 || true
    cat "$run/rig/qemu.err" >&2 || true
    exit 1
fi
exit "$(cat "$run/guest.rc")"
