#!/usr/bin/env bash
# End to end with the product build (Direct3D 9 screen source): a short full-screen
# recording in the 640 by 480 16-bit mode, taken to the end.
#   e2e_product.sh <Windows build folder>
set -u
source "$(dirname "$0")/e2e_common.sh"
export RIG_SOUND=0
e2e_start

recorder_start
check "640 by 480 chosen at start" equals "$(drv get 125)x$(drv get 126)" "640x480"
drv set 123 'C:\full.flv'
if [ "$(drv check 160)" = 1 ]; then
    drv click 160
fi
drv select 124 4
sleep 0.3
check "recording full screen after F2" press_start
check "display switched to 640x480" equals "$(drv screen)" "640x480"
# Ticking Record Audio while recording moves the mark but not the recording's setting.
drv click 160
sleep 0.3
check "Record Audio ticked while recording" equals "$(drv check 160)" "1"
sleep 2
xdotool key F3
check "progress dialog opened" drv wait-progress 10000
check "display mode restored by the stop" equals "$(drv screen)" "1024x768"
check "output finished, button says Close" equals "$(drv wait-finished 60000)" "Close"
drv progress-click
check "program ended after Close" recorder_gone

flv="$WINEPREFIX/drive_c/full.flv"
size=$(ffprobe -v error -select_streams v:0 -show_entries stream=width,height -of csv=p=0 "$flv")
check "output size 640x480" equals "$size" "640,480"
frames=$(ffprobe -v error -count_frames -select_streams v:0 -show_entries stream=nb_read_frames \
    -of csv=p=0 "$flv")
echo "     $frames frames"
check "frames recorded at 5 per second" test "${frames:-0}" -ge 5
check "no sound stream without Record Audio" \
    test -z "$(ffprobe -v error -select_streams a -show_entries stream=codec_name -of csv=p=0 "$flv")"
check "thumbnail written" test -s "$WINEPREFIX/drive_c/full.bmp"
e2e_finish
