#!/usr/bin/env bash
# End to end: the disk fills up. A small tmpfs is mounted and given to Wine as drive F:
# (mounting needs root; without it the test is skipped with exit code 77).
#  1. The output FLV goes to F:, which has room for about 4 KiB: the output phase fails,
#     "There was an internal error while processing recorded data." shows once, the
#     program ends, the FLV stays as far as it was written, the spools are kept for the
#     next start.
#  2. The same, with the progress dialog's close box pressed while that message shows:
#     still one message and one ending.
#  3. The spools go to the full disk (the per-user folder of recordings is moved to F:):
#     the first frame cannot be spooled, "An error has occured while capturing a
#     frame." shows once, the program ends, the FLV stays empty and, with no frame
#     recorded, no spool is left on F:.
#   e2e_diskfull.sh <GDI-source Windows build folder>
set -u
source "$(dirname "$0")/e2e_common.sh"
e2e_start

FULL=$(mktemp -d "$RIG_ROOT/full.XXXXXX")
if ! mount -t tmpfs -o size=64k tmpfs "$FULL" 2>"$RIG_WORK/mount.log"; then
    echo "SKIP: cannot mount a tmpfs here ($(cat "$RIG_WORK/mount.log")); run as root"
    rmdir "$FULL"
    exit 77
fi
diskfull_exit() {
    local rc=$?
    rig_stop
    local _
    for _ in 1 2 3 4 5; do
        umount "$FULL" 2>/dev/null && break
        sleep 1
    done
    mountpoint -q "$FULL" && umount -l "$FULL"
    rmdir "$FULL"
    exit "$rc"
}
trap diskfull_exit EXIT
ln -s "$FULL" "$WINEPREFIX/dosdevices/f:"

# Empties the disk, then fills it up to its last KIB free.
leave_free() {  # KIB
    rm -rf "${FULL:?}"/*
    dd if=/dev/zero of="$FULL/filler" bs=1k count=$((64 - $1)) status=none
}

# Records a moving pattern for two seconds, then stops.
record_pattern() {  # path sound
    recorder_start
    fill_area 100 100 640 480 640 480 "$1" "$2"
    drv select 124 9
    check "recording after F2 ($1)" press_start
    rig_desktop_background ./pemlo_e2e_driver.exe pattern 100 100 600 500 2000 0 >/dev/null
    sleep 2
    xdotool key F3
}

# 1. The output file's disk fills up during the output phase.
leave_free 4
record_pattern 'F:\out.flv' 1
mapfile -t shown < <(drv messages 60000)
check "the output phase's failure is reported" \
    equals "${shown[0]:-}" "There was an internal error while processing recorded data."
check "reported once" equals "${shown[1]:-}" "1"
check "program ended after the failure" recorder_gone_here
check "the FLV stays as far as it was written" test -s "$FULL/out.flv"
check "what was written starts as an FLV" equals "$(head -c 3 "$FULL/out.flv")" "FLV"
echo "     FLV kept: $(stat -c %s "$FULL/out.flv") bytes; disk: $(df -k --output=avail "$FULL" | tail -1) KiB free"
check "no preview page after the failure" test -z "$(pages)"
check "the spools are kept after the failure" equals "$(kept_recordings)" 1
forget_recordings

# 2. The close box while the failure's message shows.
leave_free 4
record_pattern 'F:\boxed.flv' 0
mapfile -t shown < <(drv messages 60000 1)
check "failure reported with the close box pressed" \
    equals "${shown[0]:-}" "There was an internal error while processing recorded data."
check "still reported once" equals "${shown[1]:-}" "1"
check "program ended after the failure and the close box" recorder_gone_here
check "the FLV stays after the close box" test -s "$FULL/boxed.flv"
check "the spools are kept after the close box" equals "$(kept_recordings)" 1
forget_recordings

# 3. The spools' disk is full: the folder of recordings is on F:.
leave_free 8
mkdir "$FULL/work"
recordings=$(recordings_dir)
[ -n "$recordings" ] || { echo "FAIL: no folder of recordings after two recordings"; exit 1; }
rm -rf "$recordings"
ln -s "$FULL/work" "$recordings"
recorder_start
fill_area 100 100 640 480 640 480 'C:\spool.flv' 0
drv select 124 9
xdotool key F2
mapfile -t shown < <(drv messages 60000)
check "the spool's failure is reported" \
    equals "${shown[0]:-}" "An error has occured while capturing a frame."
check "reported once" equals "${shown[1]:-}" "1"
check "program ended after the spool's failure" recorder_gone_here
check "the FLV stays empty" test -e "$WINEPREFIX/drive_c/spool.flv" -a ! -s "$WINEPREFIX/drive_c/spool.flv"
check "no thumbnail after the spool's failure" test ! -e "$WINEPREFIX/drive_c/spool.bmp"
check "no spool left on the full disk" equals "$(find "$FULL/work" -mindepth 1 | wc -l)" 0
e2e_finish
