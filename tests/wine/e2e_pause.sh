#!/usr/bin/env bash
# Pause and resume, driven from outside as a user would.
#   e2e_pause.sh <GDI-source Windows build folder> [cycles|keys]
# cycles: ten cycles of 3 s recorded and 4 s paused (F4) while a flash-and-beep scene
#   runs (a flash and a beep every 730 ms); during each pause a green window shows and a
#   3 kHz tone plays. Stopped while paused after the tenth pause. The FLV must hold none
#   of the green and none of the tone, last the recorded stretches' time within a frame
#   period, and keep every beep within 100 ms of its flash in every stretch, the last
#   stretch's mean error within 30 ms of the first's (pause_check.py).
# keys: a pause within the first 200 ms; F4 while another program has the focus pauses
#   and goes on, and that program still gets F4; Ctrl+F4 does nothing; a held F4 toggles
#   once; Stop while paused gives a valid FLV. Then a recording killed while paused after
#   three cycles of 1.5 s is offered at the next start and made with its pauses cut.
set -u
mode=${2:-cycles}
source "$(dirname "$0")/e2e_common.sh"
e2e_start

now() { date +%s.%N; }
# Sleeps until `start + offset` seconds.
sleep_until() {  # start offset
    local left
    left=$(echo "$1 + $2 - $(now)" | bc)
    if [ "$(echo "$left > 0" | bc)" = 1 ]; then
        sleep "$left"
    fi
}
elapsed() { echo "$2 - $1" | bc; }  # from to
# F2 until the recorder reports "Recording..." (as press_start); PRESSED is the time of
# the press that started it.
press_start_timed() {
    local _
    for _ in 1 2 3; do
        PRESSED=$(now)
        xdotool key F2
        sleep 0.4
        [ "$(drv status)" = "Recording..." ] && return 0
    done
    return 1
}
# The status bar's part 0 once it reads $1 (at most about 2 s later), else what it reads.
status_becomes() {  # text
    local got _
    for _ in 1 2 3 4 5; do
        got=$(drv status)
        [ "$got" = "$1" ] && break
        sleep 0.2
    done
    equals "$got" "$1"
}

if [ "$mode" = cycles ]; then
    scene="$E2E_BUILD/tests/wine/pemlo_flash_beep.exe"
    [ -f "$scene" ] || { echo "missing $scene" >&2; exit 1; }
    cp "$scene" "$RIG_WORK/"
    sox -n -r 22050 -c 1 -b 16 bed.wav synth 120 sine 200 vol 0.02
    sox -n -r 22050 -c 1 -b 16 paused.wav synth 1.5 sine 3000 vol 0.3
    recorder_start
    fill_area 100 100 320 240 320 240 'C:\pause.flv' 1
    drv select 124 9
    rig_play_background bed.wav
    sleep 0.5
    # The square at (150, 150) on the screen: (50, 50) in the recording.
    rig_desktop_background ./pemlo_flash_beep.exe 150 150 100 730 105 >/dev/null
    sleep 1
    check "recording after F2" press_start_timed
    stretches=""
    pauses=""
    mark=$PRESSED
    for cycle in $(seq 1 10); do
        sleep_until "$mark" 3
        xdotool key F4
        paused_at=$(now)
        stretches+="${stretches:+,}$(elapsed "$mark" "$paused_at")"
        # What only the pauses show, once the recorder says it is paused and ended before
        # it goes on (a busy machine may start either late): a green window inside the
        # area, a 3 kHz tone.
        check "paused by F4 ($cycle)" status_becomes Paused
        drv keylog 110 260 150 60 1500 >/dev/null &
        shown=$!
        paplay --device=vsink paused.wav &
        played=$!
        if [ "$cycle" = 1 ]; then
            check "the button reads Resume (F4)" equals "$(drv get 130)" "Resume (F4)"
        fi
        wait "$shown" "$played"
        [ "$cycle" = 10 ] && break
        sleep 0.3
        sleep_until "$paused_at" 4
        xdotool key F4
        mark=$(now)
        pauses+="${pauses:+,}$(elapsed "$paused_at" "$mark")"
    done
    xdotool key F3
    echo "     recorded stretches (s): $stretches"
    echo "     pauses (s): $pauses"
    check "progress dialog opened" drv wait-progress 10000
    check "output finished" equals "$(drv wait-finished 120000)" "Close"
    cp "$WINEPREFIX/drive_c/pause.flv" . 2>/dev/null
    drv progress-close
    check "program ended" recorder_gone
    check "FLV written" test -s pause.flv
    cp pause.flv "$RIG_ROOT/e2e_pause.flv" 2>/dev/null
    check "the pauses cut from picture and sound, in step" python3 "$E2E_HERE/pause_check.py" \
        pause.flv 320 240 50 50 730 "$stretches" "$pauses" 100 30
    e2e_finish
    exit 0
fi

# keys: first a pause within the first 200 ms, the hot key's rules, Stop while paused.
recorder_start
fill_area 100 100 320 240 320 240 'C:\early.flv' 0
drv select 124 9
xdotool key F2
xdotool key F4
check "paused at once after the start" status_becomes Paused
# Another program takes the focus; Ctrl+F4 leaves the pause alone, a held F4 toggles once.
drv keylog 600 500 150 60 5000 >keylog.txt &
sleep 1.5
xdotool key ctrl+F4
sleep 0.5
check "Ctrl+F4 does not go on" equals "$(drv status)" "Paused"
xdotool keydown F4
sleep 1.2
xdotool keyup F4
check "a held F4 goes on once" status_becomes "Recording..."
sleep 0.5
xdotool key F4
check "F4 in another program pauses" status_becomes Paused
sleep 3
check "that program got F4 (twice) and Ctrl+F4" grep -q "^F4 2, Ctrl+F4 1" keylog.txt
sed 's/^/     keylog: /' keylog.txt
xdotool key F3
check "output finished after Stop while paused" \
    equals "$(drv wait-progress 10000 && drv wait-finished 60000)" "Close"
drv progress-close
check "program ended" recorder_gone
frames=$(decoded_frames "$WINEPREFIX/drive_c/early.flv")
length=$(ffprobe -v error -show_entries format=duration -of csv=p=0 \
    "$WINEPREFIX/drive_c/early.flv")
echo "     early pause: $frames frames, $length s"
check "a valid FLV of what was recorded" python3 -c "
import sys; f, d = int('${frames:-0}' or 0), float('${length:-0}' or 0)
sys.exit(0 if f >= 1 and d < 2.5 else 1)"

# Killed while paused after three cycles; the next start makes the video with the cuts.
forget_recordings
recorder_start
fill_area 100 100 320 240 320 240 'C:\killed.flv' 0
drv select 124 9
check "recording after F2" press_start_timed
mark=$PRESSED
recorded=0
for cycle in 1 2 3; do
    sleep_until "$mark" 1.5
    xdotool key F4
    paused_at=$(now)
    recorded=$(echo "$recorded + $(elapsed "$mark" "$paused_at")" | bc)
    [ "$cycle" = 3 ] && break
    sleep_until "$paused_at" 1.5
    xdotool key F4
    mark=$(now)
done
check "paused before the kill" status_becomes Paused
sleep 1
for pid in $(recorder_pids); do
    kill -KILL "$pid"
done
check "the recorder killed" recorder_gone_here
sleep 2
rig_desktop_background ./PemloRecorder.exe >/dev/null
question=$(drv question 20000 yes)
echo "     asked '$question'; recorded $recorded s"
check "the question names the seconds without the pauses" \
    grep -q "Recorded: [45] second" <<<"$question"
check "output finished" equals "$(drv wait-progress 10000 && drv wait-finished 60000)" "Close"
drv progress-close
check "program ended" recorder_gone
length=$(ffprobe -v error -show_entries format=duration -of csv=p=0 \
    "$WINEPREFIX/drive_c/killed.flv")
echo "     recovered: ${length:-none} s for $recorded s recorded"
check "the recovered video lasts the recorded stretches" python3 -c "
import sys; d, r = float('${length:-0}' or 0), float('$recorded')
sys.exit(0 if abs(d - (r - 0.1)) <= 0.25 else 1)"
e2e_finish
