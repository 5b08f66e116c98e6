#!/usr/bin/env bash
# The rig for running the Windows program and its test programs under Wine, for one
# test: a private X display (Xvfb), a private Wine prefix, a PulseAudio null sink and a
# Wine virtual desktop. Everything it starts is ended when the test's shell exits, even
# on failure or interruption.
#
#   source tests/wine/rig.sh
#   rig_start              # RIG_ROOT (a folder under build/) must be set first
#   rig_desktop prog.exe args...   # runs a program inside the virtual desktop, waits
#   rig_play tone.wav              # plays a sound file into the null sink
#   rig_play_background tone.wav   # the same without waiting (RIG_PLAYER is its pid)
#
# Settings (environment): RIG_ROOT (required; the template prefix and each test's work
# folder live there), RIG_NAME (desktop name, default "pemlo"), RIG_SIZE (1024x768),
# RIG_TIMEOUT (seconds a program may run, default 60), RIG_SOUND (1 to start the sink),
# PEMLO_WINE_ARCH (32: the 32-bit loader, `wine`; 64: wine64 alone, for the x86_64
# builds on machines that cannot run 32-bit programs; unset: what tools/wine-arch.sh
# finds out). The two kinds of prefix never share a template.
# After rig_start: DISPLAY, WINEPREFIX, PULSE_SERVER are exported and RIG_WORK is the
# test's own folder (removed at the end unless RIG_KEEP=1).

RIG_NAME=${RIG_NAME:-pemlo}
RIG_SIZE=${RIG_SIZE:-1024x768}
RIG_TIMEOUT=${RIG_TIMEOUT:-60}
RIG_SOUND=${RIG_SOUND:-1}
RIG_XVFB_PID=""
RIG_PULSE_PID=""
RIG_WORK=""
RIG_BACKGROUND=()
RIG_HERE=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)

rig_log() { echo "rig: $*" >&2; }

rig_fail() {
    rig_log "$*"
    exit 1
}

# Ends everything this rig started, in reverse order. Safe to call twice.
rig_stop() {
    local pid
    for pid in "${RIG_BACKGROUND[@]}"; do
        kill "$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
    done
    RIG_BACKGROUND=()
    if [ -n "${WINEPREFIX:-}" ] && [ -d "${WINEPREFIX}" ]; then
        wineserver -k >/dev/null 2>&1 || true
        # wineserver -k returns before the server has gone; -w waits for it.
        timeout 20 wineserver -w >/dev/null 2>&1 || true
    fi
    if [ -n "$RIG_PULSE_PID" ]; then
        kill "$RIG_PULSE_PID" 2>/dev/null || true
        wait "$RIG_PULSE_PID" 2>/dev/null || true
        RIG_PULSE_PID=""
    fi
    if [ -n "$RIG_XVFB_PID" ]; then
        kill "$RIG_XVFB_PID" 2>/dev/null || true
        wait "$RIG_XVFB_PID" 2>/dev/null || true
        RIG_XVFB_PID=""
    fi
    if [ -n "$RIG_WORK" ] && [ -d "$RIG_WORK" ] && [ "${RIG_KEEP:-0}" != 1 ]; then
        rm -rf "$RIG_WORK"
    fi
    RIG_WORK=""
}

rig_on_exit() {
    local rc=$?
    rig_stop
    exit "$rc"
}

# Starts Xvfb on a free display. Xvfb picks the number itself (-displayfd) and claims
# it through its lock file, so tests starting at the same moment never share a display.
rig_start_display() {
    local numfile="$RIG_WORK/xvfb.display"
    : >"$numfile"
    Xvfb -displayfd 3 -screen 0 "${RIG_SIZE}x24" -nolisten tcp -noreset \
        3>"$numfile" >"$RIG_WORK/xvfb.log" 2>&1 &
    RIG_XVFB_PID=$!
    local _ n
    for _ in $(seq 1 100); do
        if ! kill -0 "$RIG_XVFB_PID" 2>/dev/null; then
            break
        fi
        n=$(tr -dc '0-9' <"$numfile")
        if [ -n "$n" ] && DISPLAY=":${n}" xdpyinfo >/dev/null 2>&1; then
            export DISPLAY=":${n}"
            return 0
        fi
        sleep 0.1
    done
    kill "$RIG_XVFB_PID" 2>/dev/null || true
    wait "$RIG_XVFB_PID" 2>/dev/null || true
    RIG_XVFB_PID=""
    rig_fail "Xvfb did not start (see $RIG_WORK/xvfb.log)"
}

# A prefix made once by wineboot (about 15 s) under RIG_ROOT/template and copied for
# each test, so that tests running at the same time never share a wineserver.
rig_make_prefix() {
    local template="$RIG_ROOT/template"
    if [ "$PEMLO_WINE_ARCH" = 64 ]; then
        template="$RIG_ROOT/template64"
    fi
    mkdir -p "$RIG_ROOT"
    (
        flock 9
        if [ ! -f "$template/.ready" ]; then
            rm -rf "$template"
            mkdir -p "$template"
            WINEPREFIX="$template" WINEDLLOVERRIDES="mscoree,mshtml=" timeout 180 wineboot -i \
                >"$RIG_ROOT/wineboot.log" 2>&1 || exit 1
            WINEPREFIX="$template" timeout 60 wineserver -w || true
            touch "$template/.ready"
        fi
    ) 9>"$RIG_ROOT/template.lock" || rig_fail "wineboot failed (see $RIG_ROOT/wineboot.log)"
    # The prefix is about 1.3 GB of DLLs that Wine only reads: hard links make the copy
    # cheap, and every other file (registry, ini files, tables) gets a copy of its own
    # so that nothing a test writes reaches the template.
    cp -al "$template" "$RIG_WORK/prefix" || rig_fail "cannot copy the Wine prefix"
    find "$RIG_WORK/prefix" -type f ! -iname '*.dll' ! -iname '*.exe' ! -iname '*.drv' \
        ! -iname '*.sys' ! -iname '*.ocx' ! -iname '*.acm' ! -iname '*.cpl' ! -iname '*.tlb' \
        ! -iname '*.ax' ! -iname '*.ds' ! -iname '*.com' ! -iname '*.vxd' \
        -exec sh -c 'for f; do cp -p "$f" "$f.rig" && mv -f "$f.rig" "$f"; done' sh {} + ||
        rig_fail "cannot copy the Wine prefix"
    export WINEPREFIX="$RIG_WORK/prefix"
}

rig_start_sound() {
    local dir="$RIG_WORK/pulse"
    mkdir -p "$dir/runtime" "$dir/state"
    chmod 700 "$dir/runtime"
    XDG_RUNTIME_DIR="$dir/runtime" PULSE_RUNTIME_PATH="$dir/runtime" \
        PULSE_STATE_PATH="$dir/state" HOME="$dir" \
        pulseaudio -n --daemonize=no --exit-idle-time=-1 --use-pid-file=no \
        --disallow-exit=yes --log-target=stderr \
        --load="module-null-sink sink_name=vsink" \
        --load="module-native-protocol-unix socket=$dir/native auth-anonymous=1" \
        >"$dir/pulse.log" 2>&1 &
    RIG_PULSE_PID=$!
    export PULSE_SERVER="unix:$dir/native"
    local _
    for _ in $(seq 1 50); do
        if ! kill -0 "$RIG_PULSE_PID" 2>/dev/null; then
            break
        fi
        if pactl info >/dev/null 2>&1; then
            # The sink's monitor is what the wave-input device records.
            pactl set-default-sink vsink >/dev/null 2>&1 || true
            pactl set-default-source vsink.monitor >/dev/null 2>&1 || true
            return 0
        fi
        sleep 0.1
    done
    rig_fail "pulseaudio did not start (see $dir/pulse.log)"
}

# Points `wine` and `wineboot` at the loader of PEMLO_WINE_ARCH (`wineserver` is the
# 64-bit server either way). With 64, the commands of the Wine packages would pick the
# 32-bit loader as soon as it is installed, runnable or not: small commands in
# RIG_WORK/bin go first on PATH instead.
rig_choose_loader() {
    if [ -z "${PEMLO_WINE_ARCH:-}" ]; then
        PEMLO_WINE_ARCH=$(bash "$RIG_HERE/../../tools/wine-arch.sh" | cut -d' ' -f1)
    fi
    export PEMLO_WINE_ARCH
    case "$PEMLO_WINE_ARCH" in
        32) ;;
        64)
            local bin="$RIG_WORK/bin"
            mkdir -p "$bin"
            printf '#!/bin/sh\nexec /usr/lib/wine/wine64 "$@"\n' >"$bin/wine"
            printf '#!/bin/sh\nexec /usr/lib/wine/wine64 wineboot "$@"\n' >"$bin/wineboot"
            chmod +x "$bin/wine" "$bin/wineboot"
            export PATH="$bin:$PATH" WINELOADER=/usr/lib/wine/wine64 WINEARCH=win64
            ;;
        *) rig_fail "no Wine loader runs on this machine (tools/wine-arch.sh)" ;;
    esac
}

rig_start() {
    [ -n "${RIG_ROOT:-}" ] || rig_fail "RIG_ROOT is not set"
    mkdir -p "$RIG_ROOT"
    RIG_WORK=$(mktemp -d "$RIG_ROOT/run.XXXXXX")
    trap rig_on_exit EXIT
    trap 'exit 130' INT TERM
    rig_choose_loader
    export WINEDEBUG=${WINEDEBUG:--all}
    export WINEDLLOVERRIDES="mscoree,mshtml="
    rig_start_display
    rig_make_prefix
    if [ "$RIG_SOUND" = 1 ]; then
        rig_start_sound
    fi
}

# Runs a Windows program inside the virtual desktop and waits for it (at most
# RIG_TIMEOUT seconds). The program's own result has to come back through a file: the
# desktop's exit status is not the program's.
rig_desktop() {
    timeout "$RIG_TIMEOUT" wine explorer "/desktop=${RIG_NAME},${RIG_SIZE}" "$@" \
        >>"$RIG_WORK/wine.log" 2>&1
    local rc=$?
    if [ "$rc" = 124 ]; then
        rig_log "timed out after ${RIG_TIMEOUT} s: $*"
    fi
    return "$rc"
}

# Runs a Windows program inside the virtual desktop in the background (ended by
# rig_stop at the latest); prints its pid and sets RIG_DESKTOP_PID to it. (Called in
# $(...), only the printed pid reaches the caller; rig_stop still ends it through
# wineserver -k.) The first program started makes the desktop, and the desktop then
# lives in that launcher's process group: when RIG_TIMEOUT ends that group, the desktop
# and every window in it go too.
rig_desktop_background() {
    timeout "$RIG_TIMEOUT" wine explorer "/desktop=${RIG_NAME},${RIG_SIZE}" "$@" \
        >>"$RIG_WORK/wine.log" 2>&1 &
    RIG_DESKTOP_PID=$!
    RIG_BACKGROUND+=("$RIG_DESKTOP_PID")
    echo "$RIG_DESKTOP_PID"
}

# Plays a sound file into the null sink (so the wave-input device records it).
rig_play() {
    paplay --device=vsink "$@"
}

# The same in the background; the player is ended by rig_stop at the latest. Sets
# RIG_PLAYER to its pid.
rig_play_background() {
    paplay --device=vsink "$@" &
    RIG_PLAYER=$!
    RIG_BACKGROUND+=("$RIG_PLAYER")
}

# A screenshot of the whole display as PNG.
rig_screenshot() {
    import -window root "$1"
}
