#!/usr/bin/env bash
# Takes the README's screenshots of the main dialog, the area picker and the progress
# dialog under Wine.
#   docs/screenshots.sh <GDI-source Windows build folder>
set -u
docs=$(cd "$(dirname "$0")" && pwd)
source "$docs/../tests/wine/e2e_common.sh" "$1"
export RIG_SOUND=0
e2e_start
recorder_start
drv set 123 'C:\Videos\demo.flv'
sleep 0.5
rig_screenshot desktop1.png
# The area picker: the window under the pointer outlined, then a drag under way.
rig_desktop_background ./pemlo_e2e_driver.exe still 700 560 200 140 60000 >/dev/null
sleep 1
drv click 170
drv wait-window "Select area" 5000 >/dev/null
xdotool mousemove 800 630
sleep 1
rig_screenshot picker1.png
xdotool mousemove 640 470 mousedown 1 mousemove 800 600 mousemove 960 720
sleep 1
rig_screenshot picker2.png
xdotool mouseup 1
drv window-gone "Select area" 3000
drv close-window still
fill_area 312 186 400 300 320 240 'C:\demo.flv' 0
xdotool key F2
rig_desktop_background ./pemlo_e2e_driver.exe pattern 330 200 560 380 2500 500 >/dev/null
sleep 3
xdotool key F3
drv wait-progress 10000 >/dev/null && drv wait-finished 60000 >/dev/null
sleep 0.5
rig_screenshot desktop2.png
drv progress-close
recorder_gone
# The dialogs sit in the middle of the 1024 x 768 desktop; trimming the plain desktop
# colour around them leaves the dialog.
convert desktop1.png -crop 640x560+192+104 +repage -trim +repage "$docs/main-dialog.png"
convert desktop2.png -crop 640x560+192+104 +repage -trim +repage "$docs/progress-dialog.png"
convert picker1.png -resize 50% "$docs/select-area-window.png"
convert picker2.png -resize 50% "$docs/select-area-drag.png"
echo "wrote $docs/main-dialog.png, $docs/progress-dialog.png and $docs/select-area-*.png"
