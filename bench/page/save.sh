#!/usr/bin/env bash
# "Save as MP4" from the preview page in headless Chromium: a desktop recording (a still
# desktop with a 160 x 120 test picture moving over it, 10 frames per second, with sound)
# of WxH and MINUTES, saved at CHOICE; prints the save's time against the recording's
# length and the browser's peak memory (the resident size of all its processes, sampled
# every 0.2 s). Past 256 MiB of FLV the page is given the file through its picker, as a
# user does with a large recording.
# usage: bench/page/save.sh [BUILD_DIR] [WxH] [MINUTES] [CHOICE]
#   defaults: build/native 1280x720 2 standard; the long one: build/native 1920x1080 60 small
set -euo pipefail
build="$(cd "${1:-build/native}" && pwd)"
size="${2:-1280x720}"
minutes="${3:-2}"
choice="${4:-standard}"
here="$(cd "$(dirname "$0")" && pwd)"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
w=${size%x*}
h=${size#*x}
seconds=$((minutes * 60))
mkdir -p "$work/case/page"
ffmpeg -v error -f lavfi -i "sine=frequency=880:sample_rate=22050" -t "$seconds" \
  -af "volume='if(lt(mod(t,1),0.15),0.6,0)':eval=frame" -f s16le -ac 1 -ar 22050 "$work/sound.raw"
start=$(date +%s.%N)
ffmpeg -v error -f lavfi -i "color=c=0xd8dee6:size=$size:rate=10" -f lavfi \
  -i "testsrc2=size=160x120:rate=10" -filter_complex \
  "[0][1]overlay=x='mod(t*37,$((w - 160)))':y='mod(t*23,$((h - 120)))':shortest=1" \
  -t "$seconds" -f rawvideo -pix_fmt bgra - |
  "$build/tools/pemlo-replay" --screen "$size" --frames - --fps 10 --capture "0,0,$w,$h" \
    --output "$w,$h" --sound "$work/sound.raw" -o "$work/case/rec.flv" >/dev/null 2>&1
rm -f "$work/sound.raw"
echo "recording: $size, $minutes min, $(stat -c %s "$work/case/rec.flv") bytes of FLV" \
  "(made in $(echo "$(date +%s.%N) - $start" | bc | cut -c1-6) s)"
"$build/tests/pemlo_publish_page" "$work/case/page" "$w" "$h" "$work/case/rec.flv" \
  "$work/case/rec.bmp" "$build/resources/preview_page_crlf.html" \
  "$build/resources/PemloPreview.swf" >/dev/null
node "$here/save_bench.js" "$work/case" "$work/out" "$choice"
