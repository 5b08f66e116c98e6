#!/usr/bin/env bash
# End to end: the recorder's process is killed (as a crash or "End task" does) during a
# recording or its output phase; the next start, from another folder, asks about the
# recording before the main dialog can be used:
#  1. killed early (1 s in), just after the keyframe of frame 40 (once the status bar
#     counts 41 frames) and just after a sound dropout (the process stopped for 1.5 s, as in
#     e2e_sync.sh, then killed 0.8 s after it goes on): Yes makes the FLV at the
#     recording's own path with the recorded seconds, the pattern's exact colours and the
#     tone; Close opens the preview page and the program ends; nothing is kept.
#  2. killed during the output phase: the same recovery makes the video again.
#  3. killed, then the FLV replaced by another file: the video goes beside it as
#     "NAME (recovered).flv" and the other file is left alone.
#  4. killed, then No and No: kept, and asked again at the next start; then No and Yes:
#     deleted, the main dialog is Idle and nothing is kept.
# Lost per case (frames recorded before the kill against frames recovered) is printed.
#   e2e_recovery.sh <GDI-source Windows build folder>
set -u
source "$(dirname "$0")/e2e_common.sh"
e2e_start
sox -n -r 22050 -c 1 -b 16 tone.wav synth 60 sine 1000 vol 0.6
mkdir -p elsewhere
cp PemloRecorder.exe elsewhere/

# Kills the recorder's process of this Wine prefix, as the system does for "End task";
# not the launchers that name it.
signal_recorder() {  # signal
    local pid
    for pid in $(recorder_pids); do
        kill "-$1" "$pid"
    done
}

kill_recorder() {
    signal_recorder KILL
    recorder_gone_here
    # The Wine server closes the killed program's files once it has noticed its end;
    # until then the spools count as in use by a recorder still running.
    sleep 2
}

# Starts the recorder from another folder than the first start's (a copy of it there:
# the virtual desktop's launcher takes no Unix path).
start_elsewhere() {
    cd elsewhere || exit 1
    rig_desktop_background ./PemloRecorder.exe >/dev/null
    cd "$RIG_WORK" || exit 1
}

# Records 320 x 240 at (100, 100), 10 frames per second, with the tone, the pattern
# resting at (260, 200) from the start; returns with the recording running.
record_take() {  # path
    recorder_start
    fill_area 100 100 320 240 320 240 "$1" 1
    drv select 124 9
    rig_play tone.wav &
    PLAYER=$!
    rig_desktop_background ./pemlo_e2e_driver.exe pattern 260 200 260 200 30000 30000 >/dev/null
    xdotool mousemove 900 700
    sleep 0.5
    PRESSED=$(date +%s.%N)
    check "recording $1" press_start
    STARTED=$(date +%s.%N)
}

# Kills the recorder; RECORDED_MIN and RECORDED_MAX bound how long it recorded.
kill_take() {
    RECORDED_MIN=$(echo "$(date +%s.%N) - $STARTED" | bc)
    RECORDED_MAX=$(echo "$(date +%s.%N) - $PRESSED" | bc)
    kill_recorder
    kill "$PLAYER" 2>/dev/null
    note_spool_tone
}

# The 1000 Hz tone in 16-bit mono sound at 22,050 Hz (a raw file): "HZ SECONDS", its
# frequency from the median of its periods and how many seconds of it there are.
tone_of() {  # file
    python3 - "$1" <<'PY'
import statistics, struct, sys
data = open(sys.argv[1], "rb").read()
s = struct.unpack("<%dh" % (len(data) // 2), data[:len(data) // 2 * 2])
up = [i for i in range(len(s) - 1) if s[i] < 0 <= s[i + 1] and abs(s[i + 1] - s[i]) > 2000]
periods = [b - a for a, b in zip(up, up[1:], strict=False) if b - a < 60]
print("%.1f %.2f %.2f" % (22050.0 / statistics.median(periods) if periods else 0,
                          len(periods) / 1000.0, len(s) / 22050.0))
PY
}

# What the sound device delivered to the kept recording: the tone in its sound spool
# (plain PCM as recorded), in SPOOL_TONE_SECONDS.
note_spool_tone() {
    local spool hz total
    spool=$(find "$(recordings_dir)" -name temp_snd.dat | head -1)
    SPOOL_TONE_SECONDS=0
    [ -n "$spool" ] && read -r hz SPOOL_TONE_SECONDS total <<<"$(tone_of "$spool")"
    echo "     the sound spool holds ${SPOOL_TONE_SECONDS} s of the tone (${hz:-0} Hz) in ${total:-0} s"
}

# The recovered video: decodes, has 10 frames a second for the time it recorded (between
# RECORDED_MIN and RECORDED_MAX), the pattern's colours exactly where it rests, and the
# tone.
check_video() {  # flv label
    local flv=$1 label=$2 frames
    check "$label: FLV written" test -s "$flv"
    frames=$(decoded_frames "$flv")
    echo "     $label: $frames frames recovered; recorded for $RECORDED_MIN to $RECORDED_MAX s"
    check "$label: frames for the recorded seconds" python3 -c "
import sys; f, lo, hi = int('${frames:-0}'), float('$RECORDED_MIN'), float('$RECORDED_MAX')
sys.exit(0 if 0.6 * lo * 10 - 2 <= f <= 1.1 * hi * 10 + 2 else 1)"
    # Each frame once, as recorded (not repeated to a constant frame rate).
    ffmpeg -v error -y -i "$flv" -fps_mode passthrough -enc_time_base 1:1000 -f rawvideo \
        -pix_fmt bgr24 frames.raw
    check "$label: the pattern's exact colours" python3 - <<'PY'
import sys
w, h = 320, 240
data = open("frames.raw", "rb").read()
last = data[-w * h * 3:]
want = {(180, 120): (0, 0, 255), (220, 120): (0, 255, 0),
        (180, 160): (255, 0, 0), (220, 160): (0, 255, 255)}
bad = 0
for (x, y), bgr in want.items():
    got = tuple(last[(y * w + x) * 3:(y * w + x) * 3 + 3])
    print("     (%d, %d): got %s want %s" % (x, y, got, bgr))
    bad += got != bgr
sys.exit(1 if bad else 0)
PY
    ffmpeg -v error -y -i "$flv" -vn -f s16le -ar 22050 -ac 1 sound.raw
    # The tone the recorded sound holds must be in the video: its period from the median
    # of its periods (the sound timeline may have put silence where the device lost
    # sound), and all of it but the last buffers the notes may not vouch for. (Under load
    # the rig's sound device sometimes delivers silence for seconds; what it delivered
    # is what the spool holds.)
    local hz loud total
    read -r hz loud total <<<"$(tone_of sound.raw)"
    echo "     tone: $hz Hz (median period), $loud s of it in $total s of sound"
    check "$label: the tone the recording holds is in the sound" python3 -c "
import sys; hz, loud, want = float('$hz'), float('$loud'), float('${SPOOL_TONE_SECONDS:-0}')
sys.exit(0 if (want < 0.5 or abs(hz - 1000) <= 25) and loud >= want - 1.0 else 1)"
}

# Answers the question of the next start with Yes and lets the output phase finish.
recover_with_yes() {  # label
    local question
    start_elsewhere
    question=$(drv question 20000 yes)
    echo "     $1: asked '$question'"
    [ -n "$question" ] || echo "     $1: status instead: '$(drv status)', kept: $(kept_recordings)"
    check "$1: asked at the next start" test -n "$question"
    check "$1: the question names the recorded seconds" grep -q "Recorded: [0-9]* second" <<<"$question"
    check "$1: output finished" equals "$(drv wait-progress 10000 && drv wait-finished 120000)" "Close"
    drv progress-click
    check "$1: program ended after Close" recorder_gone_here
    check "$1: Close published the preview page" test -n "$(pages)"
    check "$1: nothing kept after the video" no_recording_kept
    pages | xargs -r rm -f
}

# Frames recorded so far, from the status bar's "m:ss, N frames, K late".
frames_recorded() {
    drv status 1 | sed -n -E 's/^[0-9]+:[0-9]{2}, ([0-9]+) frames, [0-9]+ late$/\1/p'
}

# 1. Killed while recording.
for when in 1 keyframe dropout; do
    label="killed after ${when}s"
    [ "$when" = keyframe ] && label="killed after the keyframe of frame 40"
    [ "$when" = dropout ] && label="killed after a sound dropout"
    record_take "C:\\crash$when.flv"
    if [ "$when" = keyframe ]; then
        shown=0
        for _ in $(seq 60); do
            shown=$(frames_recorded)
            [ "${shown:-0}" -ge 41 ] && break
            sleep 0.1
        done
        echo "     $label: the status bar counted ${shown:-0} frames before the kill"
    elif [ "$when" = dropout ]; then
        sleep 2
        signal_recorder STOP
        sleep 1.5
        signal_recorder CONT
        sleep 0.8
    else
        sleep "$when"
    fi
    check "$label: recording before the kill" equals "$(drv status)" "Recording..."
    kill_take
    # No frame is grabbed while the process stands still.
    [ "$when" = dropout ] && RECORDED_MIN=$(echo "$RECORDED_MIN - 1.5" | bc)
    check "$label: the FLV is empty after the kill" test ! -s "$WINEPREFIX/drive_c/crash$when.flv"
    check "$label: the spools are kept" equals "$(kept_recordings)" 1
    recover_with_yes "$label"
    check_video "$WINEPREFIX/drive_c/crash$when.flv" "$label"
    if [ "$when" = keyframe ]; then
        check "$label: the keyframe and the frames before the kill are in the video" \
            test "$(decoded_frames "$WINEPREFIX/drive_c/crash$when.flv")" -ge "${shown:-41}"
    fi
done

# 2. Killed during the output phase.
label="killed while processing"
record_take 'C:\crashout.flv'
sleep 3
RECORDED_MIN=$(echo "$(date +%s.%N) - $STARTED" | bc)
xdotool key F3
RECORDED_MAX=$(echo "$(date +%s.%N) - $PRESSED" | bc)
kill "$PLAYER" 2>/dev/null
check "$label: progress dialog opened" drv wait-progress 10000
sleep 0.3
kill_recorder
check "$label: the spools are kept" equals "$(kept_recordings)" 1
note_spool_tone
recover_with_yes "$label"
check_video "$WINEPREFIX/drive_c/crashout.flv" "$label"

# 3. The FLV replaced by another file before the next start.
label="another file at the path"
record_take 'C:\taken.flv'
sleep 2
kill_take
rm -f "$WINEPREFIX/drive_c/taken.flv"
echo "someone else's" >"$WINEPREFIX/drive_c/taken.flv"
recover_with_yes "$label"
check "$label: the other file is left alone" equals "$(cat "$WINEPREFIX/drive_c/taken.flv")" "someone else's"
check_video "$WINEPREFIX/drive_c/taken (recovered).flv" "$label"

# 4. No, then keep it; No, then delete it.
label="No"
record_take 'C:\declined.flv'
sleep 2
kill_take
start_elsewhere
check "$label: asked" test -n "$(drv question 20000 no)"
check "$label: then asked whether to delete" grep -q "Delete" <<<"$(drv question 5000 no)"
check "$label: the main dialog shows" drv wait-main 5000
check "$label: Idle" equals "$(drv status)" "Idle"
drv close-main
check "$label: program ended" recorder_gone_here
check "$label: kept when not deleted" equals "$(kept_recordings)" 1
start_elsewhere
check "$label: asked again at the next start" test -n "$(drv question 20000 no)"
check "$label: delete it" test -n "$(drv question 5000 yes)"
check "$label: no other question" drv no-question 1500
check "$label: Idle after deleting" equals "$(drv status)" "Idle"
drv close-main
check "$label: program ended after deleting" recorder_gone_here
check "$label: nothing kept after deleting" no_recording_kept
check "$label: the empty FLV stays as it was" test -e "$WINEPREFIX/drive_c/declined.flv" -a \
    ! -s "$WINEPREFIX/drive_c/declined.flv"
e2e_finish
