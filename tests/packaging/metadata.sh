#!/usr/bin/env bash
# The launcher, the AppStream metainfo and the MIME package pass their validators, agree on one
# application id, and map *.ccf / *.sav in any letter case to the two configuration file types.
#   metadata.sh SOURCE_DIR BUILD_DIR
set -euo pipefail
src=$1/packaging
build=$2/packaging
id=org.stowline.Stowline
fail() { echo "FAIL: $*" >&2; exit 1; }

desktop-file-validate "$src/$id.desktop"
appstreamcli validate --no-net "$build/$id.metainfo.xml"
xmllint --noout "$src/$id.xml"

key() { sed -n "s/^$1=//p" "$src/$id.desktop"; }
[ "$(key Exec)" = "stowline %f" ] || fail "Exec line: $(key Exec)"
[ "$(key Icon)" = "$id" ] || fail "Icon: $(key Icon)"
[ "$(key MimeType)" = "application/x-stowline-ccf;application/x-stowline-sav;" ] ||
    fail "MimeType: $(key MimeType)"
grep -q "<launchable type=\"desktop-id\">$id.desktop</launchable>" "$build/$id.metainfo.xml" ||
    fail "metainfo does not launch $id.desktop"
version=$(sed -n 's/^project(Stowline VERSION \([0-9.]*\).*/\1/p' "$1/CMakeLists.txt")
grep -q "<release version=\"$version\"" "$build/$id.metainfo.xml" ||
    fail "metainfo has no release $version"

# Build a MIME database from the system's definitions plus ours, as the trigger would.
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
mkdir -p "$tmp/mime/packages"
cp /usr/share/mime/packages/freedesktop.org.xml "$src/$id.xml" "$tmp/mime/packages/"
XDG_DATA_DIRS=$tmp update-mime-database "$tmp/mime"
# globs2 lines are weight:type:pattern[:flags]; a pattern without the cs flag ignores case. The
# type is the one match of the highest weight; a tie leaves it to content sniffing ("ambiguous").
best_type() {
    local name=${1,,}
    while IFS=: read -r weight type pattern flags; do
        [[ $weight == \#* ]] && continue
        [[ $flags == *cs* ]] && [[ $1 != $pattern ]] && continue
        [[ $flags != *cs* ]] && [[ $name != $pattern ]] && continue
        echo "$weight $type"
    done <"$tmp/mime/globs2" | sort -rn | awk 'NR == 1 { w = $1; t = $2 } NR == 2 && $1 == w { t = "ambiguous" } END { print t }'
}
for name in PLANT.CCF plant.ccf Plant.Ccf; do
    [ "$(best_type "$name")" = application/x-stowline-ccf ] || fail "$name -> $(best_type "$name")"
done
for name in PLANT.SAV plant.sav Plant.Sav; do
    [ "$(best_type "$name")" = application/x-stowline-sav ] || fail "$name -> $(best_type "$name")"
done
[ "$(best_type plant.bin)" != application/x-stowline-sav ] || fail "plant.bin taken as a .SAV"
echo "metadata OK"
