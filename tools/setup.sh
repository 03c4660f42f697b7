#!/usr/bin/env bash
# Installs what Stowline needs on Debian 12 (when missing) and builds it into ./build.
set -euo pipefail
cd "$(dirname "$0")/.."

packages=(cmake ninja-build g++ qt6-base-dev qt6-serialport-dev libgl-dev xvfb xauth
    # packaging checks of the test suite
    desktop-file-utils appstream libxml2-utils shared-mime-info dpkg-dev lintian file
    # the USB adapter rig (tools/usb-rig) and its test
    qemu-system-x86 busybox-static udev kmod cpio socat xdotool jq)
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
    sudo=""
    [ "$(id -u)" -eq 0 ] || sudo="sudo"
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

build_dir=${STOWLINE_BUILD_DIR:-build}
cmake -S . -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DSTOWLINE_WERROR=ON ${STOWLINE_CMAKE_ARGS:-} >/dev/null
cmake --build "$build_dir"
