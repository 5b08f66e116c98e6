#!/usr/bin/env bash
# End to end: record a screen area with a moving test pattern, the mouse and a tone,
# stop with F3, let the output phase finish, close, and decode the FLV with ffmpeg.
#   e2e_record.sh <GDI-source Windows build folder>
set -u
source "$(dirname "$0")/e2e_common.sh"
e2e_start

sox -n -r 22050 -c 1 -b 16 tone.wav synth 8 sine 1000 vol 0.6
# A folder with spaces, '#' and '&' in its name, and a file name with a space: the page's
# movie reference takes such a path as it is, with only '#' and '&' encoded.
mkdir -p "$WINEPREFIX/drive_c/e2e out #1 & co"
recorder_start
# Capture 320 x 240 at (100, 100), no scaling, 10 frames per second, with sound.
fill_area 100 100 320 240 320 240 'C:\e2e out #1 & co\take one.flv' 1
drv select 124 9

rig_play tone.wav &
player=$!
sleep 0.5
start=$(date +%s.%N)
check "recording after F2" press_start
# The pattern travels for 3 s, then rests at (260, 200); the mouse moves too. A busy
# machine can start the pattern's program late, so the stop waits until it has come to
# rest and a few frames have shown it there.
rig_desktop_background ./pemlo_e2e_driver.exe pattern 110 110 260 200 3000 20000 >/dev/null
for x in 150 200 250 300 350; do
    xdotool mousemove "$x" 150
    sleep 0.5
done
xdotool mousemove 900 700
for _ in $(seq 1 40); do
    [ "$(drv wait-window pattern 2000 2>/dev/null)" = "260 200 340 280" ] && break
    sleep 0.25
done
sleep 1.0
xdotool key F3
stop=$(date +%s.%N)
wait "$player" 2>/dev/null
check "progress dialog opened" drv wait-progress 5000
check "output finished, button says Close" equals "$(drv wait-finished 60000)" "Close"
check "status while finished" equals "$(drv status)" "Processing output..."
drv progress-click
check "program ended after Close" recorder_gone

flv="$WINEPREFIX/drive_c/e2e out #1 & co/take one.flv"
bmp="$WINEPREFIX/drive_c/e2e out #1 & co/take one.bmp"
check "FLV written" test -s "$flv"
check "thumbnail written" test -s "$bmp"
check "no spool left" no_recording_kept
check "Close published the preview page" \
    test -n "$(find "$WINEPREFIX/drive_c/users" -name PemloPreview.html -size +0)"

size=$(ffprobe -v error -select_streams v:0 -show_entries stream=width,height -of csv=p=0 "$flv")
check "output size 320x240" equals "$size" "320,240"
frames=$(ffprobe -v error -count_frames -select_streams v:0 -show_entries stream=nb_read_frames \
    -of csv=p=0 "$flv")
seconds=$(echo "$stop - $start" | bc)
echo "     $frames frames in ${seconds} s"
check "frame count near seconds x 10" python3 -c "
import sys; f, s = int('$frames'), float('$seconds')
sys.exit(0 if 0.6 * s * 10 <= f <= 1.1 * s * 10 + 2 else 1)"

ffmpeg -v error -i "$flv" -fps_mode passthrough -enc_time_base 1:1000 -f rawvideo \
    -pix_fmt bgr24 frames.raw
check "pattern colours where the pattern rested" python3 - <<'PY'
import sys
w, h = 320, 240
data = open("frames.raw", "rb").read()
last = data[-w * h * 3:]
# The pattern's top-left corner rests at (260, 200) on the screen: (160, 100) here.
want = {(180, 120): (0, 0, 255), (220, 120): (0, 255, 0),
        (180, 160): (255, 0, 0), (220, 160): (0, 255, 255)}  # blue, green, red order
bad = 0
for (x, y), bgr in want.items():
    o = (y * w + x) * 3
    got = tuple(last[o:o + 3])
    ok = all(abs(a - b) <= 40 for a, b in zip(got, bgr))
    print("     (%d, %d): got %s want %s" % (x, y, got, bgr))
    bad += not ok
sys.exit(1 if bad else 0)
PY
ffmpeg -v error -i "$flv" -vn -f s16le -ar 22050 -ac 1 sound.raw
check "tone of 1000 Hz in the sound" python3 "$E2E_HERE/tone_check.py" sound.raw 1000 22050
check "thumbnail is a 240 x 180 BMP" python3 - "$bmp" <<'PY'
import struct, sys
d = open(sys.argv[1], "rb").read()
w, h = struct.unpack("<ii", d[18:26])
print("     thumbnail %d x %d, %d bytes" % (w, h, len(d)))
sys.exit(0 if d[:2] == b"BM" and (w, h) == (240, 180) and len(d) == 54 + 240 * 180 * 3 else 1)
PY
# The page the program wrote on Close, opened from disk in headless Chromium: one real
# click plays it, and its frames and sound are ffmpeg's decode of the FLV.
page=$(find "$WINEPREFIX/drive_c/users" -name PemloPreview.html -size +0 | head -1)
check "the movie reference holds the path as it is" grep -qF \
    'PemloPreview.swf?videofile=C:\e2e out %231 %26 co\take one.flv&amp;w=320&amp;h=240' "$page"
check "the data scripts lie beside the page" test -s "$(dirname "$page")/PemloPreviewData1.js"
mkdir -p pagecase
ln -sfn "$(dirname "$page")" pagecase/page
ln -sf "$flv" pagecase/rec.flv
ffmpeg -v error -i "$flv" -fps_mode passthrough -f rawvideo -pix_fmt rgb24 pagecase/ref.rgb
ffmpeg -v error -i "$flv" -vn -f s16le -c:a pcm_s16le pagecase/ref.s16
# The browser driver comes with the page tests' npm packages.
if [ ! -d "$E2E_HERE/../page/node_modules/playwright-core" ] ||
    [ ! -d "$E2E_HERE/../page/node_modules/puppeteer-core" ]; then
    (cd "$E2E_HERE/../page" && npm ci --no-audit --no-fund --silent)
fi
check "the page plays the recording in Chromium from file://" \
    timeout 180 node "$E2E_HERE/../page/player_test.js" pagecase basic
# "Save as MP4" from that page in both browsers, as a user does; each download is checked
# against the FLV (codecs, frames, duration, streams from 0, PSNR, sound onsets).
for browser in chromium firefox; do
    said=$(timeout 180 node "$E2E_HERE/../page/save_test.js" "$browser" pagecase \
        "pagecase/saved-$browser" standard | tail -1)
    saved=$(echo "$said" | python3 -c 'import json, sys; print(json.load(sys.stdin).get("file", ""))' 2>/dev/null)
    echo "     $said"
    check "the page saves the recording in $browser" test -s "$saved"
    check "what $browser saved is the recording" python3 "$E2E_HERE/../page/check_save.py" "$flv" "$saved"
done
e2e_finish
