#!/usr/bin/env bash
# End to end: COUNT recordings in a row, each ended at a different moment: the progress
# dialog's Cancel or close box as it opens, early, in the middle or on the last frame of
# the output phase; Close or the close box after success; the main dialog closed while
# recording. After each one the program must have ended and the files must be what that
# moment leaves:
#   Cancel during processing   no FLV, no thumbnail, no preview page
#   close box during processing  the FLV as far as written, no preview page
#   Close after success        a whole FLV, its thumbnail and the preview page
#   close box after success    a whole FLV and its thumbnail, no preview page
#   main dialog closed while recording  an empty FLV, no thumbnail
# and no spool left, except where the recording stays without its video (the close box
# during processing, the main dialog closed while recording): its spools are kept for
# the next start. A summary line per recording and a tally at the end.
#   e2e_cancel_sweep.sh <GDI-source Windows build folder> [COUNT]
set -u
COUNT=${2:-12}
# A large screen of changing pictures makes the output phase long enough to aim at.
export RIG_SIZE=1600x1200
source "$(dirname "$0")/e2e_common.sh"
e2e_start

# The kinds of ending, in the order the sweep takes them; the first six cover every
# outcome, so a short sweep already sees them all.
KINDS=(cancel-middle close-middle cancel-last button-done close-done main-recording
    cancel-open cancel-early close-open close-early close-last main-at-start)
declare -A TALLY=()

# 0 when ffmpeg decodes the whole FLV without a complaint and the video timestamps
# rise from tag to tag. (The frames keep their own timing: recorded durations vary, and
# rounding them to the nominal frame rate, or to a time base of a tenth of a second,
# would make ffmpeg itself complain.)
decodes_cleanly() {
    local errors
    errors=$(ffmpeg -v error -i "$1" -fps_mode passthrough -enc_time_base 1:1000 -f null - 2>&1)
    [ -z "$errors" ] || { echo "     ffmpeg: ${errors:0:200}"; return 1; }
    ffprobe -v error -select_streams v:0 -show_entries packet=pts -of csv=p=0 "$1" |
        awk 'NR > 1 && $1 <= last { print "     video timestamp " $1 " after " last; bad = 1 }
             { last = $1 } END { exit bad }'
}

is_flv() { [ "$(head -c 3 "$1")" = "FLV" ]; }
is_bmp() { [ "$(head -c 2 "$1")" = "BM" ]; }

for i in $(seq 0 $((COUNT - 1))); do
    kind=${KINDS[$((i % ${#KINDS[@]}))]}
    sound=$(((i + i / ${#KINDS[@]}) % 2))
    seconds=$((2 + i % 3))
    case $kind in
        *-middle) when=$((30 + (i * 13) % 41)) ;;
        *-early) when=$((1 + (i * 3) % 10)) ;;
        *-last) when=last ;;
        *-open) when=open ;;
        *-done) when="done" ;;
        *) when="" ;;
    esac
    case $kind in
        cancel-* | button-*) action=button ;;
        *) action=close ;;
    esac
    name="sweep$i"
    flv="$WINEPREFIX/drive_c/$name.flv"
    bmp="$WINEPREFIX/drive_c/$name.bmp"
    pages | xargs -r rm -f
    failures_before=$E2E_FAILURES

    recorder_start
    fill_area 0 0 1600 1200 1000 750 "C:\\$name.flv" "$sound"
    drv select 124 9
    if ! press_start; then
        check "$name: recording after F2" false
        drv close-main
        recorder_gone_here
        continue
    fi
    seen=()
    if [ "$kind" = main-at-start ]; then
        drv close-main
    else
        # A picture that changes everywhere, so that every frame costs the output phase
        # its whole work and the moments in the middle can be aimed at.
        rig_desktop_background ./pemlo_e2e_driver.exe noise 0 0 1600 1200 $((seconds * 1000)) \
            >/dev/null
        sleep "$seconds"
        if [ "$kind" = main-recording ]; then
            check "$name: recording before the close" equals "$(drv status)" "Recording..."
            drv close-main
        else
            # The driver is already waiting when the stop comes, so that it acts
            # within a millisecond of the progress dialog's opening (with sound, while
            # the last buffers are still being appended), and a short output phase on
            # a busy machine is not over before a driver started after the stop looks.
            drv act-at "$when" "$action" 60000 >act.out &
            actor=$!
            sleep 1
            xdotool key F3
            wait "$actor"
            mapfile -t seen <act.out
            check "$name: reached the moment '$when'" test -n "${seen[0]:-}"
        fi
    fi
    check "$name: program ended" recorder_gone_here
    # A recording left without its video (the close box while processing, the main
    # dialog closed while recording) keeps its spools for the next start; every other
    # end deletes them. Closed right at the start, it may not have a frame yet.
    case $kind in
        close-open | close-early | close-middle | close-last | main-recording)
            check "$name: the spools are kept for the next start" equals "$(kept_recordings)" 1
            ;;
        main-at-start)
            check "$name: at most one recording kept" test "$(kept_recordings)" -le 1
            ;;
        *) check "$name: no spool left" no_recording_kept ;;
    esac
    forget_recordings

    # What happened: a click on the button while generating may still arrive after the
    # output phase succeeded; it then counts as Close. Only the last-frame moment
    # leaves room for that.
    outcome=$kind
    page=$(pages)
    case $kind in
        cancel-last) [ -n "$page" ] && outcome="cancel-last (arrived after success: Close)" ;;
    esac
    case $kind in
        cancel-*)
            if [ "$outcome" = "$kind" ]; then
                check "$name: Cancel deleted the FLV" test ! -e "$flv"
                check "$name: Cancel deleted the thumbnail" test ! -e "$bmp"
                check "$name: no preview page after Cancel" test -z "$page"
            else
                check "$name: whole FLV after a late Cancel" decodes_cleanly "$flv"
                check "$name: thumbnail after a late Cancel" is_bmp "$bmp"
            fi
            ;;
        close-open | close-early | close-middle | close-last)
            check "$name: the close box keeps the FLV" test -e "$flv"
            if [ -s "$flv" ]; then
                check "$name: kept FLV starts as an FLV" is_flv "$flv"
                # At the opening moment the close may come before the first frame.
                if [ "$kind" != close-open ]; then
                    check "$name: kept FLV has frames" test "$(decoded_frames "$flv")" -ge 1
                fi
            fi
            check "$name: no preview page after the close box" test -z "$page"
            ;;
        button-done)
            check "$name: whole FLV after Close" decodes_cleanly "$flv"
            check "$name: FLV has frames" test "$(decoded_frames "$flv")" -ge "$seconds"
            check "$name: thumbnail after Close" is_bmp "$bmp"
            check "$name: Close published the preview page" test -n "$page"
            ;;
        close-done)
            check "$name: whole FLV after the close box" decodes_cleanly "$flv"
            check "$name: thumbnail kept" is_bmp "$bmp"
            check "$name: no preview page after the close box" test -z "$page"
            ;;
        main-*)
            check "$name: empty FLV after closing while recording" \
                test -e "$flv" -a ! -s "$flv"
            check "$name: no thumbnail after closing while recording" test ! -e "$bmp"
            check "$name: no preview page after closing while recording" test -z "$page"
            ;;
    esac
    size=$(stat -c %s "$flv" 2>/dev/null || echo none)
    verdict=ok
    [ "$E2E_FAILURES" -eq "$failures_before" ] || verdict=FAIL
    echo "#$i $kind sound=$sound ${seconds}s at='${seen[0]:-}' text='${seen[1]:-}'" \
        "flv=$size frames=$(decoded_frames "$flv" || true) outcome='$outcome' $verdict"
    TALLY["$outcome $verdict"]=$((${TALLY["$outcome $verdict"]:-0} + 1))
    rm -f "$flv" "$bmp"
done
echo "tally of $COUNT recordings:"
for key in "${!TALLY[@]}"; do
    echo "  ${TALLY[$key]} x $key"
done | sort -k3
e2e_finish
