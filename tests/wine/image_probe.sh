#!/usr/bin/env bash
# Runs the native image probe and the Windows one under Wine; both must pass and print
# the same report.
#   image_probe.sh <native pemlo_image_probe> <image_probe.exe>
set -u
native=${1:?usage: image_probe.sh pemlo_image_probe image_probe.exe}
exe=${2:?usage: image_probe.sh pemlo_image_probe image_probe.exe}
[ -f "$exe" ] || { echo "missing $exe (build the Windows configurations first)" >&2; exit 1; }
export RIG_SOUND=0
here=$(cd "$(dirname "$0")" && pwd)
source "$here/rig.sh"
rig_start
"$native" >"$RIG_WORK/native.txt" || { echo "the native probe failed" >&2; cat "$RIG_WORK/native.txt" >&2; exit 1; }
cp "$exe" "$RIG_WORK/"
cd "$RIG_WORK" || exit 1
timeout 240 wine ./image_probe.exe >wine_raw.txt 2>>"$RIG_WORK/wine.log"
tr -d '\r' <wine_raw.txt >wine.txt
if ! diff native.txt wine.txt; then
    echo "the Windows build's bytes differ from the native build's" >&2
    exit 1
fi
echo "$(grep -c '^scale\|^crop' wine.txt) cases, the same bytes in the native build and the ${PEMLO_WINE_ARCH}-bit Windows build"
tail -1 wine.txt | grep -qx PASS
