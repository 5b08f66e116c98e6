#!/usr/bin/env bash
# Runs capture_probe.exe (GDI or Direct3D 9 build) inside a Wine virtual desktop.
#   capture_probe.sh <path to capture_probe.exe>
set -u
exe=${1:?usage: capture_probe.sh capture_probe.exe}
[ -f "$exe" ] || { echo "missing $exe (build the Windows configurations first)" >&2; exit 1; }
export RIG_SOUND=0
here=$(cd "$(dirname "$0")" && pwd)
source "$here/rig.sh"
rig_start
cp "$exe" "$RIG_WORK/"
cd "$RIG_WORK" || exit 1
rig_desktop ./capture_probe.exe
if [ ! -f capture_probe.txt ]; then
    echo "capture_probe.exe wrote no report" >&2
    tail -20 "$RIG_WORK/wine.log" >&2
    exit 1
fi
tr -d '\r' <capture_probe.txt
tr -d '\r' <capture_probe.txt | grep -qx PASS
