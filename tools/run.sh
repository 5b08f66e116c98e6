#!/usr/bin/env bash
# `make run`: with a display, starts the program under Wine; without one, records a
# short scripted demo on a virtual display and prints where its results are.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
# The 32-bit product where this machine runs the 32-bit Wine loader, else its x86_64
# build under wine64 (tools/wine-arch.sh finds out).
probe=$(bash "$root/tools/wine-arch.sh")
export PEMLO_WINE_ARCH=${probe%% *}
case "$PEMLO_WINE_ARCH" in
    32) suffix="" loader=wine ;;
    64) suffix=64 loader=/usr/lib/wine/wine64 ;;
    *)
        echo "make run: ${probe#* }" >&2
        exit 1
        ;;
esac
product="$root/build/windows$suffix/app/PemloRecorder.exe"
echo "$PEMLO_WINE_ARCH-bit build under $(basename "$loader"): ${probe#* }"

if [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; then
    echo "Starting $product under Wine"
    if [ "$PEMLO_WINE_ARCH" = 64 ]; then
        export WINELOADER=$loader
    fi
    cd "$root/build" && exec "$loader" "$product"
fi

# Headless: the GDI-source build (Wine's Direct3D copy of the screen is black) on the
# test rig, driven like the end-to-end test.
out="$root/build/demo"
mkdir -p "$out"
rm -f "$out"/demo.flv "$out"/demo.bmp "$out"/contact.png
set +e
(
    set -u
    source "$root/tests/wine/e2e_common.sh" "${PEMLO_GDI_BUILD:-$root/build/windows$suffix-gdi}"
    e2e_start
    # The tone lasts longer than the recording ever does and is ended after the stop: an
    # idle sink would hand the recorder almost no sound.
    sox -n -r 22050 -c 1 -b 16 tone.wav synth 60 sine 660 vol 0.5
    recorder_start
    fill_area 200 150 480 360 320 240 'C:\demo.flv' 1
    drv select 124 7
    rig_play tone.wav 2>/dev/null &
    player=$!
    press_start || { echo "the demo recording did not start" >&2; exit 1; }
    rig_desktop_background ./pemlo_e2e_driver.exe pattern 210 160 560 380 3500 1000 >/dev/null
    for x in 250 350 450 550 650; do
        xdotool mousemove "$x" 300
        sleep 0.8
    done
    xdotool key F3
    drv wait-progress 10000 >/dev/null
    kill "$player" 2>/dev/null
    wait "$player" 2>/dev/null
    drv wait-finished 60000 >/dev/null ||
        { echo "the demo recording did not finish" >&2; exit 1; }
    cp "$WINEPREFIX/drive_c/demo.flv" "$WINEPREFIX/drive_c/demo.bmp" "$out/"
    # Closing the progress dialog (not "Close") ends the program without opening the
    # preview page in a browser.
    drv progress-close
    recorder_gone
)
rc=$?
set -e
if [ "$rc" -ne 0 ] || [ ! -s "$out/demo.flv" ]; then
    echo "make run: the headless demo failed" >&2
    exit 1
fi
ffmpeg -v error -y -i "$out/demo.flv" \
    -vf "select='not(mod(n\,4))',scale=160:-1,tile=4x3:padding=4:color=white" \
    -frames:v 1 "$out/contact.png"
echo "Headless demo (no display found):"
echo "  FLV:           $out/demo.flv"
echo "  thumbnail:     $out/demo.bmp"
echo "  contact sheet: $out/contact.png (every 4th decoded frame)"
picture=$(ffprobe -v error -select_streams v:0 -show_entries format=duration -of csv=p=0 \
    "$out/demo.flv")
sound=$(ffmpeg -v error -i "$out/demo.flv" -vn -f s16le -ar 22050 -ac 1 - | wc -c)
echo "  length:        ${picture} s; sound $(echo "scale=2; $sound / 44100" | bc) s"
