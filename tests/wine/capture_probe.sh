#!/usr/bin/env bash
# Runs capture_probe.exe (GDI or Direct3D 9 build) inside a Wine virtual desktop; with
# a DPI (144: a display scaled to 150 %) the prefix's LogPixels is set to it first.
#   capture_probe.sh <path to capture_probe.exe> [dpi]
set -u
exe=${1:?usage: capture_probe.sh capture_probe.exe [dpi]}
dpi=${2:-}
[ -f "$exe" ] || { echo "missing $exe (build the Windows configurations first)" >&2; exit 1; }
export RIG_SOUND=0
here=$(cd "$(dirname "$0")" && pwd)
source "$here/rig.sh"
rig_start
cp "$exe" "$RIG_WORK/"
cd "$RIG_WORK" || exit 1
if [ -n "$dpi" ]; then
    for key in 'HKCU\Control Panel\Desktop' \
        'HKLM\System\CurrentControlSet\Hardware Profiles\Current\Software\Fonts'; do
        wine reg add "$key" /v LogPixels /t REG_DWORD /d "$dpi" /f >>"$RIG_WORK/wine.log" 2>&1 ||
            { echo "cannot set LogPixels" >&2; exit 1; }
    done
    export PEMLO_EXPECT_DPI=$dpi
fi
rig_desktop ./capture_probe.exe
if [ ! -f capture_probe.txt ]; then
    echo "capture_probe.exe wrote no report" >&2
    tail -20 "$RIG_WORK/wine.log" >&2
    exit 1
fi
tr -d '\r' <capture_probe.txt
tr -d '\r' <capture_probe.txt | grep -qx PASS
