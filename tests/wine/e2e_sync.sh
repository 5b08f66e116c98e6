#!/usr/bin/env bash
# Sound in step with the picture: records a flash-and-beep scene (a square turns red and
# a beep starts at the same moment, every 2 s) for about 62 s at 10 frames per second,
# then measures from the decoded FLV how far each beep lands from its flash. With
# "stall", the recorder's process is stopped for 1.5 s in the middle (SIGSTOP, then
# SIGCONT): the sound of the stall is lost at the sink, a dropout the recorder must fill.
#   e2e_sync.sh <GDI-source Windows build folder> [stall]
set -u
stall=${2:-}
source "$(dirname "$0")/e2e_common.sh"
scene="$E2E_BUILD/tests/wine/pemlo_flash_beep.exe"
[ -f "$scene" ] || { echo "missing $scene (build the Windows configurations first)" >&2; exit 1; }
e2e_start
cp "$scene" "$RIG_WORK/"

# A quiet tone keeps the sink running for the whole recording (an idle null sink
# delivers almost no samples); the beeps are far louder.
sox -n -r 22050 -c 1 -b 16 bed.wav synth 120 sine 200 vol 0.02
recorder_start
fill_area 100 100 320 240 320 240 'C:\sync.flv' 1
drv select 124 9
rig_play_background bed.wav
sleep 0.5
# The square at (150, 150) on the screen: (50, 50) in the recording.
rig_desktop_background ./pemlo_flash_beep.exe 150 150 100 2000 34 >/dev/null
sleep 1
check "recording after F2" press_start
began=$(date +%s.%N)

if [ "$stall" = stall ]; then
    sleep 30
    pid=$(recorder_pids)
    check "the recorder's process found" test -n "$pid"
    # shellcheck disable=SC2086
    kill -STOP $pid
    sleep 1.5
    # shellcheck disable=SC2086
    kill -CONT $pid
    sleep 31
else
    sleep 62
fi
xdotool key F3
ended=$(date +%s.%N)
echo "     recorded for $(echo "$ended - $began" | bc) s"
check "progress dialog opened" drv wait-progress 10000
check "output finished" equals "$(drv wait-finished 120000)" "Close"
cp "$WINEPREFIX/drive_c/sync.flv" . 2>/dev/null
drv progress-close
check "program ended" recorder_gone
check "FLV written" test -s sync.flv
# Kept beside the rig for a look afterwards.
cp sync.flv "$RIG_ROOT/e2e_sync${stall:+_$stall}.flv" 2>/dev/null
# At least 25 of the ~30 flashes paired with their beeps (a flash during the stall is
# not recorded); every beep within 100 ms of its flash; the error does not grow.
check "beeps in step with their flashes" python3 "$E2E_HERE/sync_check.py" sync.flv 320 240 50 50 \
    2000 25 100 50
e2e_finish
