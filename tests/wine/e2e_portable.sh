#!/usr/bin/env bash
# The release zip unpacked into a read-only folder whose path has spaces and letters
# beyond ASCII, the program started from there (its working folder too) and a recording
# made end to end: the program writes nothing beside itself, only the output file the
# user chose, its spools under %LOCALAPPDATA% (gone once the video is made) and the
# preview page in the temporary folder.
#   e2e_portable.sh <product build folder (build/windows)>
set -u
source "$(dirname "$0")/e2e_common.sh"
export RIG_SOUND=0
root=$(cd "$E2E_HERE/../.." && pwd)
e2e_start

# Unpacked as a user would, from the zip `make dist` makes of this exe.
python3 "$root/tools/dist/make_dist.py" "$root" "$E2E_EXE" "$RIG_WORK/dist" >/dev/null ||
    { echo "FAIL: no release zip"; exit 1; }
folder="$WINEPREFIX/drive_c/Mes programmes/Pemlo Récorder Übung"
winfolder='C:\Mes programmes\Pemlo Récorder Übung'
mkdir -p "$folder" "$WINEPREFIX/drive_c/out"
python3 -m zipfile -e "$RIG_WORK"/dist/PemloRecorder-*-win32.zip "$folder"
check "the zip unpacked" test -s "$folder/PemloRecorder.exe"

# Read-only: no write permission; for root (who may write anyway) also immutable, and
# made mutable again before the rig removes its folder.
chmod -R a-w "$folder"
immutable=0
if [ "$(id -u)" = 0 ] && chattr -R +i "$folder" 2>/dev/null; then
    immutable=1
fi
trap 'rc=$?; [ "$immutable" = 0 ] || chattr -R -i "$folder"; chmod -R u+w "$folder"; (exit $rc); rig_on_exit' EXIT
check "the folder is read-only" bash -c "! touch '$folder/probe' 2>/dev/null"
before=$(find "$folder" -printf '%P %s %T@\n' | sort)

# Started from its folder, that folder its working folder, as Explorer starts it.
cd "$folder" || exit 1
rig_desktop_background "$winfolder\\PemloRecorder.exe" >/dev/null
cd "$RIG_WORK" || exit 1
check "main dialog of the unpacked program" drv wait-main 60000
xdotool key shift
sleep 0.3
fill_area 0 0 320 240 320 240 'C:\out\take.flv' 0
drv select 124 4
check "recording after F2" press_start
check "the recorder runs from the unpacked folder" bash -c \
    "tr '\\0' '\\n' </proc/$(recorder_pids | head -1)/cmdline | head -1 | grep -qF 'Übung'"
sleep 2
xdotool key F3
check "progress dialog opened" drv wait-progress 10000
check "output finished, button says Close" equals "$(drv wait-finished 60000)" "Close"
drv progress-click
check "program ended after Close" recorder_gone

flv="$WINEPREFIX/drive_c/out/take.flv"
frames=$(decoded_frames "$flv")
echo "     ${frames:-no} frames"
check "the FLV decodes" test "${frames:-0}" -ge 2
check "thumbnail beside it" test -s "$WINEPREFIX/drive_c/out/take.bmp"
check "preview page in the temporary folder" \
    bash -c "pages() { find '$WINEPREFIX/drive_c/users' -name PemloPreview.html -size +0; }
             pages | grep -q '/Temp/'"
check "no recording kept" no_recording_kept
check "nothing written beside the program" equals "$(find "$folder" -printf '%P %s %T@\n' | sort)" "$before"
e2e_finish
