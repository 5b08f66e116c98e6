#!/usr/bin/env bash
# Takes the README's screenshots of the main dialog and the progress dialog under Wine.
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
echo "wrote $docs/main-dialog.png and $docs/progress-dialog.png"
