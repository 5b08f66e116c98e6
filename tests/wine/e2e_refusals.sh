#!/usr/bin/env bash
# End to end: refused starts stay Idle with their message; F2 during processing does
# nothing; Cancel during processing deletes the FLV and the thumbnail and ends the
# program and its spools; closing the progress dialog during processing or the main
# dialog while recording keeps the spools for the next start and leaves the FLV as far
# as it was written (empty for the main dialog).
#   e2e_refusals.sh <GDI-source Windows build folder>
set -u
source "$(dirname "$0")/e2e_common.sh"
e2e_start

recorder_start
xdotool key alt+F2
sleep 0.5
check "Alt+F2 starts nothing" drv no-message 300
check "Idle after Alt+F2" equals "$(drv status)" "Idle"
xdotool key F2
check "empty path refused" equals "$(drv message 5000)" "Please specify a output file path."
check "Idle after the refusal" equals "$(drv status)" "Idle"
check "a refused start leaves no spool" no_recording_kept

fill_area 0 0 '' 768 1024 768 'C:\big' 1
xdotool key F2
check "empty width refused" equals "$(drv message 5000)" \
    "The value for field 'Capture area width' is required."
drv set 115 0
xdotool key F2
check "zero width refused" equals "$(drv message 5000)" \
    "The value for field 'Capture area width' is required."
check "still Idle" equals "$(drv status)" "Idle"
check "Start still enabled" equals "$(drv enabled 103)" "1"
check "refused starts leave no spool" no_recording_kept
check "path completed with .flv" equals "$(drv get 123)" 'C:\big.flv'

# A whole-screen recording of a picture that changes everywhere all the time, so that
# its output phase lasts long enough to be interrupted.
drv set 115 1024
drv select 124 9
rig_desktop_background ./pemlo_e2e_driver.exe noise 0 0 1024 768 9000 >/dev/null
sleep 1
xdotool key F2
sleep 6
xdotool key F3
mapfile -t seen < <(drv f2-then-cancel 10000)
check "F2 while processing leaves it processing" equals "${seen[0]:-}" "Processing output..."
check "F2 while processing shows no message" equals "${seen[1]:-}" "no message"
check "still generating when cancelled" equals "${seen[2]:-}" "Generating output file..."
check "program ended after Cancel" recorder_gone
check "Cancel deleted the FLV" test ! -e "$WINEPREFIX/drive_c/big.flv"
check "Cancel deleted the thumbnail" test ! -e "$WINEPREFIX/drive_c/big.bmp"
check "no spool left after Cancel" no_recording_kept

# The progress dialog's close box during processing: the output phase is stopped and
# waited for, the program ends, and what was written stays.
recorder_start
fill_area 0 0 1024 768 1024 768 'C:\boxed.flv' 0
drv select 124 9
rig_desktop_background ./pemlo_e2e_driver.exe noise 0 0 1024 768 9000 >/dev/null
sleep 1
xdotool key F2
sleep 6
xdotool key F3
check "progress dialog opened for the close box" drv wait-progress 10000
check "still generating at the close box" equals "$(drv progress-text)" "Generating output file..."
drv progress-close
check "program ended after the close box" recorder_gone
check "the close box keeps the FLV" test -s "$WINEPREFIX/drive_c/boxed.flv"
check "no preview page after the close box" \
    test -z "$(find "$WINEPREFIX/drive_c/users" -name PemloPreview.html)"
check "the close box keeps the spools" equals "$(kept_recordings)" 1
forget_recordings

# A stop right after the start, before the first tick of a 1 frame per second timer.
recorder_start
fill_area 10 10 160 120 160 120 'C:\quick.flv' 0
drv select 124 0
xdotool key F2 F3
check "quick stop finishes" equals "$(drv wait-progress 10000 && drv wait-finished 30000)" "Close"
drv progress-close
check "program ended after the quick stop" recorder_gone
frames=$(ffprobe -v error -count_frames -select_streams v:0 -show_entries stream=nb_read_frames \
    -of csv=p=0 "$WINEPREFIX/drive_c/quick.flv")
check "a stop before the first tick gives one frame" equals "$frames" "1"
check "no spool left after Close" no_recording_kept

# Closing the main dialog while recording.
recorder_start
fill_area 10 10 200 100 200 100 'C:\closed.flv' 1
xdotool key F2
sleep 1.5
check "recording before the close" equals "$(drv status)" "Recording..."
drv close-main
check "program ended after closing while recording" recorder_gone
check "closed while recording leaves an empty FLV" \
    test -e "$WINEPREFIX/drive_c/closed.flv" -a ! -s "$WINEPREFIX/drive_c/closed.flv"
check "no thumbnail after closing while recording" test ! -e "$WINEPREFIX/drive_c/closed.bmp"
check "closing while recording keeps the spools" equals "$(kept_recordings)" 1
forget_recordings
e2e_finish
