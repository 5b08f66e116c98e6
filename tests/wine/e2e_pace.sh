#!/usr/bin/env bash
# End to end: the whole screen changes at every tick (a full-screen noise window) while a
# 1024 x 768 area is recorded at 10 frames per second. The status bar's second part is
# read twice while recording: it must show the time recorded, the frames recorded and
# the late ticks, rising, and every tick must be either a frame or a late tick (nothing
# lost without a word). The FLV must hold at least the frames the status bar showed.
#   e2e_pace.sh <GDI-source Windows build folder>
set -u
source "$(dirname "$0")/e2e_common.sh"
e2e_start

recorder_start
fill_area 0 0 1024 768 512 384 'C:\pace.flv' 0
drv select 124 9
check "recording after F2" press_start
rig_desktop_background ./pemlo_e2e_driver.exe noise 0 0 1024 768 30000 >/dev/null
sleep 5
first=$(drv status 1)
check "status while recording" equals "$(drv status)" "Recording..."
sleep 5
second=$(drv status 1)
xdotool key F3
echo "     status bar: '$first', then '$second'"

# "m:ss, N frames, K late" -> "seconds frames late"
pace_fields() {
    sed -n -E 's/^([0-9]+):([0-9]{2}), ([0-9]+) frames, ([0-9]+) late$/\1 \2 \3 \4/p' <<<"$1" |
        awk '{ print $1 * 60 + $2, $3, $4 }'
}
read -r s1 f1 l1 <<<"$(pace_fields "$first")"
read -r s2 f2 l2 <<<"$(pace_fields "$second")"
check "the pace reads 'm:ss, N frames, K late'" test -n "${s1:-}" -a -n "${s2:-}"
if [ -n "${s1:-}" ] && [ -n "${s2:-}" ]; then
    check "time and frames rise" test "$s2" -gt "$s1" -a "$f2" -gt "$f1" -a "$l2" -ge "$l1"
    # A tick is a frame or a late tick: over whole seconds shown, 10 ticks a second, give
    # or take the second under way and the tick being counted.
    for pair in "$s1 $f1 $l1" "$s2 $f2 $l2"; do
        read -r s f l <<<"$pair"
        check "every tick of ${s} s counted ($f frames + $l late)" \
            test $((f + l)) -ge $((s * 10 - 3)) -a $((f + l)) -le $((s * 10 + 13))
    done
    echo "     pace: $(echo "scale=1; $f2 / $s2" | bc) frames per second recorded," \
        "$(echo "scale=1; $l2 / $s2" | bc) late ticks per second"
fi

# The stop first waits for the frames still being compressed.
check "progress dialog opened" drv wait-progress 30000
check "output finished" equals "$(drv wait-finished 120000)" "Close"
drv progress-close
check "program ended" recorder_gone
flv="$WINEPREFIX/drive_c/pace.flv"
frames=$(ffprobe -v error -count_frames -select_streams v:0 -show_entries stream=nb_read_frames \
    -of csv=p=0 "$flv")
echo "     $frames frames in the FLV"
check "the FLV holds every frame the status bar counted" test "${frames:-0}" -ge "${f2:-1}"
e2e_finish
