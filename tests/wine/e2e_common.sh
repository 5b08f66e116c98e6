#!/usr/bin/env bash
# Shared steps of the end-to-end tests: the rig, the recorder and the dialog driver.
#   source e2e_common.sh <folder of the Windows build>
# After e2e_start: drv runs a driver command, recorder_start launches the program,
# check prints a result line and counts failures, e2e_finish ends with the verdict.

E2E_BUILD=${1:?usage: $0 <Windows build folder>}
E2E_EXE="$E2E_BUILD/app/PemloRecorder.exe"
E2E_DRIVER="$E2E_BUILD/tests/wine/pemlo_e2e_driver.exe"
E2E_FAILURES=0
E2E_HERE=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)

for f in "$E2E_EXE" "$E2E_DRIVER"; do
    [ -f "$f" ] || { echo "missing $f (build the Windows configurations first)" >&2; exit 1; }
done

if [ "${PEMLO_WINE_ARCH:-}" = 64 ]; then
    export RIG_ROOT=${RIG_ROOT:-$(cd "$E2E_BUILD/.." && pwd)/wine-rig64}
else
    export RIG_ROOT=${RIG_ROOT:-$(cd "$E2E_BUILD/.." && pwd)/wine-rig}
fi
export RIG_NAME=pemlo
export RIG_TIMEOUT=${RIG_TIMEOUT:-120}
# shellcheck source=rig.sh
source "$E2E_HERE/rig.sh"

e2e_start() {
    rig_start
    cp "$E2E_EXE" "$E2E_DRIVER" "$RIG_WORK/"
    cd "$RIG_WORK" || exit 1
    export PEMLO_DESKTOP=$RIG_NAME
    # The virtual desktop belongs to the launcher of the program that made it: it ends
    # with that program, or when the launcher's time limit ends the launcher's process
    # group, and every window in it goes too. An unseen, idle window makes it and holds
    # it for the whole test; nothing else starts before it is up.
    RIG_TIMEOUT=7200 rig_desktop_background ./pemlo_e2e_driver.exe hold 7200000 >/dev/null
    drv wait-window hold 60000 >/dev/null || {
        echo "FAIL: the virtual desktop did not come up"
        exit 1
    }
}

# One driver command; its output on standard output. It is given 30 s more than the
# longest wait it is asked for (its largest number, in milliseconds).
drv() {
    local limit=30 arg
    for arg in "$@"; do
        if [[ $arg =~ ^[0-9]{1,9}$ ]] && ((10#$arg / 1000 + 30 > limit)); then
            limit=$((10#$arg / 1000 + 30))
        fi
    done
    timeout "$limit" wine ./pemlo_e2e_driver.exe "$@" 2>>"$RIG_WORK/driver.log" | tr -d '\r'
    return "${PIPESTATUS[0]}"
}

# Starts the recorder in the virtual desktop and waits for its main dialog.
recorder_start() {
    rig_desktop_background ./PemloRecorder.exe >/dev/null
    # The first start in a new prefix can take long on a busy machine.
    drv wait-main 60000 >/dev/null || { echo "FAIL: the main dialog did not appear"; exit 1; }
    # The first key after start-up can be lost; send a harmless one.
    xdotool key shift
    sleep 0.3
}

# F2 until the recorder reports "Recording..." (a key sent right after start-up is
# sometimes lost); at most three presses.
press_start() {
    local _
    for _ in 1 2 3; do
        xdotool key F2
        sleep 0.4
        [ "$(drv status)" = "Recording..." ] && return 0
    done
    return 1
}

# check NAME CONDITION...: runs the condition and reports it.
check() {
    local name=$1
    shift
    if "$@"; then
        echo "ok   $name"
    else
        echo "FAIL $name"
        E2E_FAILURES=$((E2E_FAILURES + 1))
    fi
}

equals() { [ "$1" = "$2" ] || { echo "     got '$1', want '$2'"; return 1; }; }

# The process ids of the recorder in this test's own Wine prefix (a recorder of another
# test running at the same time does not count), zombies aside: the recorder itself (its
# program is its first word), not the launchers that name it (one may linger a moment
# longer).
recorder_pids() {
    local pid
    for pid in $(pgrep -f 'PemloRecorder\.exe'); do
        if [ "$(ps -o stat= -p "$pid" | cut -c1)" != Z ] &&
            tr '\0' '\n' 2>/dev/null <"/proc/$pid/cmdline" | head -1 |
            grep -q 'PemloRecorder\.exe$' &&
            tr '\0' '\n' 2>/dev/null <"/proc/$pid/environ" | grep -qxF "WINEPREFIX=$WINEPREFIX"; then
            echo "$pid"
        fi
    done
}

# 0 when no process of the recorder is left in this test's own Wine prefix.
recorder_gone() { recorder_gone_here; }
recorder_gone_here() {
    local _ left=""
    for _ in $(seq 1 150); do
        left=$(recorder_pids)
        [ -z "$left" ] && return 0
        sleep 0.2
    done
    # shellcheck disable=SC2086
    ps -o pid=,stat=,args= -p $left >&2
    return 1
}

# Fills in a screen area, the output size and the path; sound on or off.
fill_area() {  # left top width height outW outH path sound
    drv click 102
    drv set 114 "$1"
    drv set 113 "$2"
    drv set 115 "$3"
    drv set 116 "$4"
    drv set 125 "$5"
    drv set 126 "$6"
    drv set 123 "$7"
    if [ "$(drv check 160)" != "$8" ]; then
        drv click 160
    fi
    sleep 0.3
}

# The preview pages the recorder published in this prefix.
pages() { find "$WINEPREFIX/drive_c/users" -name PemloPreview.html 2>/dev/null; }

# Frames ffmpeg decodes from an FLV; empty when it cannot read the file at all.
decoded_frames() {
    ffprobe -v error -count_frames -select_streams v:0 -show_entries stream=nb_read_frames \
        -of csv=p=0 "$1" 2>/dev/null
}

# The per-user folder where the recorder keeps each recording's spools (under Wine's
# C:\users\<user>, "AppData\Local" or "Local Settings\Application Data" by version);
# empty before the recorder first made it.
recordings_dir() {
    find "$WINEPREFIX/drive_c/users" -type d -path '*/Pemlo Recorder/Recordings' 2>/dev/null |
        head -1
}
# How many recordings are kept there (each a folder of spools).
kept_recordings() {
    local d
    d=$(recordings_dir)
    if [ -z "$d" ]; then
        echo 0
    else
        find "$d" -mindepth 1 -maxdepth 1 | wc -l
    fi
}
# Nothing kept anywhere: no recording folder, and no spool in the current folder (where
# they were once made).
no_recording_kept() {
    equals "$(kept_recordings)" 0 && test ! -e temp_vid.dat -a ! -e temp_snd.dat
}
# Deletes the kept recordings, so that the next start asks about none.
forget_recordings() {
    local d
    d=$(recordings_dir)
    [ -z "$d" ] || rm -rf "${d:?}"/*
}

e2e_finish() {
    if [ "$E2E_FAILURES" -ne 0 ]; then
        echo "$E2E_FAILURES check(s) failed; driver log:"
        tail -20 "$RIG_WORK/driver.log"
        exit 1
    fi
    echo PASS
}
