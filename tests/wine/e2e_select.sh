#!/usr/bin/env bash
# End to end: "Select area..." driven with the real pointer (xdotool), as a user would:
# drags in both directions, a click on a window, Escape, the right button, a drag too
# thin to record; then a recording of a dragged area, decoded with ffmpeg. With a DPI
# (144: a display scaled to 150 %) the prefix's LogPixels is set to it first; the
# numbers must be the same, the screen's physical pixels.
#   e2e_select.sh <GDI-source Windows build folder> [dpi]
set -u
dpi=${2:-}
export RIG_SOUND=0
export RIG_TIMEOUT=${RIG_TIMEOUT:-300}  # the pattern window stays for the whole test
source "$(dirname "$0")/e2e_common.sh"
e2e_start
if [ -n "$dpi" ]; then
    for key in 'HKCU\Control Panel\Desktop' \
        'HKLM\System\CurrentControlSet\Hardware Profiles\Current\Software\Fonts'; do
        wine reg add "$key" /v LogPixels /t REG_DWORD /d "$dpi" /f >>"$RIG_WORK/wine.log" 2>&1 ||
            { echo "cannot set LogPixels" >&2; exit 1; }
    done
    echo "     at $dpi DPI"
fi
recorder_start
# An ordinary window of four coloured squares, 80 x 80 at (860, 600), beside the main
# dialog (also at 144 DPI, where the dialog reaches x = 800), for the whole test.
rig_desktop_background ./pemlo_e2e_driver.exe still 860 600 80 80 280000 >/dev/null
sleep 1.5

# The four area fields and the two output size fields, in that order.
fields() { drv texts 114 113 115 116 125 126; }
open_picker() {
    drv click 170
    drv wait-window "Select area" 5000
    sleep 0.5  # the moment a user takes to see it
}
# drag X0 Y0 X1 Y1: press, move in steps, release.
drag() {
    xdotool mousemove "$1" "$2"
    sleep 0.2
    xdotool mousedown 1
    sleep 0.1
    xdotool mousemove $((($1 + $3) / 2)) $((($2 + $4) / 2))
    sleep 0.1
    xdotool mousemove "$3" "$4"
    sleep 0.2
    xdotool mouseup 1
    sleep 0.3
}
picker_gone() { drv window-gone "Select area" 3000; }
# Escape until the overlay goes; a key sent to the virtual desktop is now and then lost
# (see the rig's notes), so at most three presses.
press_escape() {
    local n
    for n in 1 2 3; do
        xdotool key Escape
        if drv window-gone "Select area" 1000 2>/dev/null; then
            [ "$n" = 1 ] || echo "     Escape pressed $n times"
            return 0
        fi
    done
    return 1
}
picker_stays() { sleep 0.5; ! drv window-gone "Select area" 0 2>/dev/null; }

before=$(fields)
echo "     fields before: $before"
check "the overlay covers the screen" equals "$(open_picker)" "0 0 1024 768"
check "the main dialog is hidden meanwhile" equals "$(drv shown)" "0"
check "the overlay has the keyboard" equals "$(drv foreground)" "Select area"
xdotool mousemove 300 300
sleep 0.2
check "Escape closes the overlay" press_escape
check "the main dialog is back" equals "$(drv shown)" "1"
check "Escape changes nothing" equals "$(fields)" "$before"
check "still Full Screen after Escape" equals "$(drv check 101)" "1"

open_picker >/dev/null
xdotool mousemove 300 300 click 3
check "the right button closes the overlay" picker_gone
check "the right button changes nothing" equals "$(fields)" "$before"

open_picker >/dev/null
drag 200 200 260 202
check "a drag 2 pixels high is not taken" picker_stays
drag 200 200 202 260
check "nor one 2 pixels wide" picker_stays
press_escape
check "the thin drags changed nothing" equals "$(fields)" "$before"

open_picker >/dev/null
drag 100 120 420 360
check "a drag closes the overlay" picker_gone
check "drag down and right: area and output size" equals "$(fields)" "100 120 320 240 320 240"
check "Screen area is chosen" equals "$(drv check 102) $(drv check 101)" "1 0"
check "the focus is on Start" equals "$(drv focus)" "103"
check "the area fields are enabled" equals "$(drv enabled 114)" "1"

drv set 114 7
drv set 113 7
drv set 115 70
drv set 116 70
open_picker >/dev/null
drag 420 360 100 120
picker_gone
check "drag up and left: the same rectangle" equals "$(fields)" "100 120 320 240 320 240"

open_picker >/dev/null
xdotool mousemove 900 640
sleep 0.3
xdotool click 1
check "a click closes the overlay" picker_gone
check "a click picks the window under the pointer" equals "$(fields)" "860 600 80 80 80 80"

# Record the area dragged around the pattern: (820, 560) to (980, 680), 160 x 120, with
# the pattern's top-left corner at (40, 40) in it and its bottom row the area's last.
open_picker >/dev/null
drag 820 560 980 680
picker_gone
check "the area around the pattern" equals "$(fields)" "820 560 160 120 160 120"
drv set 123 'C:\area.flv'
if [ "$(drv check 160)" = 1 ]; then
    drv click 160
fi
xdotool mousemove 1000 20
sleep 0.3
check "recording after F2" press_start
drv click 170
sleep 0.5
check "no picking while recording" drv window-gone "Select area" 0
sleep 1.5
xdotool key F3
check "progress dialog opened" drv wait-progress 5000
check "output finished" equals "$(drv wait-finished 60000)" "Close"
# The desktop lasts as long as any of its programs: the window goes first.
drv close-window still
drv progress-click
check "program ended after Close" recorder_gone

flv="$WINEPREFIX/drive_c/area.flv"
size=$(ffprobe -v error -select_streams v:0 -show_entries stream=width,height -of csv=p=0 "$flv")
check "the video is 160 x 120" equals "$size" "160,120"
ffmpeg -v error -i "$flv" -f rawvideo -pix_fmt bgr24 area.raw
check "the pattern lies where it was on the screen, to the pixel" python3 - <<'PY'
import sys
w, h = 160, 120
data = open("area.raw", "rb").read()
last = data[-w * h * 3:]
def at(x, y):
    o = (y * w + x) * 3
    return tuple(last[o:o + 3])
def near(a, b):
    return all(abs(p - q) <= 24 for p, q in zip(a, b))
red, green, blue, yellow = (0, 0, 255), (0, 255, 0), (255, 0, 0), (0, 255, 255)
want = [((60, 60), red, True), ((100, 60), green, True), ((60, 100), blue, True),
        ((100, 100), yellow, True),
        # The edges: the pattern starts at column and row 40 and its last column is 119.
        ((40, 45), red, True), ((39, 45), red, False), ((45, 40), red, True),
        ((45, 39), red, False), ((119, 45), green, True), ((120, 45), green, False),
        ((45, 119), blue, True)]
bad = 0
for (x, y), bgr, inside in want:
    ok = near(at(x, y), bgr) == inside
    print("     (%d, %d): %s, %s %s" % (x, y, at(x, y), "want" if inside else "not", bgr))
    bad += not ok
sys.exit(1 if bad else 0)
PY
e2e_finish
