#!/usr/bin/env bash
# Builds the Debian package from the build folder and checks it: lintian finds no errors, it holds
# every installed file and no maintainer scripts, and its program starts without a display.
#   deb.sh BUILD_DIR VERSION
set -euo pipefail
build=$1
version=$2
fail() { echo "FAIL: $*" >&2; exit 1; }
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

cpack --config "$build/CPackConfig.cmake" -G DEB -B "$tmp" >"$tmp/cpack.log" ||
    { cat "$tmp/cpack.log"; fail "cpack"; }
deb=$tmp/stowline_${version}_$(dpkg --print-architecture).deb
[ -f "$deb" ] || fail "no $(basename "$deb"); cpack made: $(ls "$tmp")"

# Warnings and notes are shown; errors (or no lintian at all) fail.
lintian_rc=0
lintian --fail-on error --tag-display-limit 0 --display-info "$deb" || lintian_rc=$?
[ "$lintian_rc" -eq 0 ] || fail "lintian exit status $lintian_rc"

dpkg-deb -c "$deb" | awk '{print $NF}' | sed 's#^\./#/#' >"$tmp/contents.txt"
arch_icons=""
for size in 16 22 24 32 48 64 128 256; do
    arch_icons+=" /usr/share/icons/hicolor/${size}x${size}/apps/org.stowline.Stowline.png"
done
for f in /usr/bin/stowline \
    /usr/share/applications/org.stowline.Stowline.desktop \
    /usr/share/metainfo/org.stowline.Stowline.metainfo.xml \
    /usr/share/mime/packages/org.stowline.Stowline.xml \
    /usr/share/icons/hicolor/scalable/apps/org.stowline.Stowline.svg $arch_icons \
    /usr/share/man/man1/stowline.1.gz \
    /usr/lib/udev/rules.d/60-stowline-ftdi-latency.rules \
    /usr/share/doc/stowline/copyright /usr/share/doc/stowline/changelog.gz; do
    grep -qx "$f" "$tmp/contents.txt" || fail "package lacks $f"
done

# Icon and MIME caches are left to the triggers of hicolor-icon-theme and shared-mime-info.
dpkg-deb -e "$deb" "$tmp/control"
scripts=$(ls "$tmp/control" | grep -vx -e control -e md5sums || true)
[ -z "$scripts" ] || fail "maintainer scripts: $scripts"
grep -q '^Depends: .*libqt6widgets6' "$tmp/control/control" || fail "no computed Qt dependency"

dpkg-deb -x "$deb" "$tmp/root"
out=$(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$tmp/root/usr/bin/stowline" --version)
[ "$out" = "stowline $version" ] || fail "--version printed '$out'"
echo "package OK: $(basename "$deb")"
