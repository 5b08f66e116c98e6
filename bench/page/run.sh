#!/usr/bin/env bash
# Decoding speed of the preview page's own player in headless Chromium, for 1024 x 768
# recordings: a changing picture (every block of every frame changes) and a screen-like
# one (a still desktop with a 200 x 150 window moving over it). Next to it, in the same
# run: ffmpeg's flashsv decoder on the same files (one thread), the browser's
# DecompressionStream on the same keyframes, and the recorder's own rate, at most 10
# frames per second.
# usage: bench/page/run.sh [BUILD_DIR]   (after make native)
set -euo pipefail
build="$(cd "${1:-build/native}" && pwd)"
here="$(cd "$(dirname "$0")" && pwd)"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
frames=200
make_case() {  # NAME FILTER
  mkdir -p "$work/$1"
  ffmpeg -v error -f lavfi -i "$2" -frames:v "$frames" -f rawvideo -pix_fmt bgra - |
    "$build/tools/pemlo-replay" --screen 1024x768 --frames - --fps 10 --capture 0,0,1024,768 \
      --output 1024,768 -o "$work/$1/rec.flv" >/dev/null 2>&1
  "$build/tests/pemlo_publish_page" "$work/$1" 1024 768 "$work/$1/rec.flv" "$work/$1/rec.bmp" \
    "$build/resources/preview_page_crlf.html" "$build/resources/PemloPreview.swf" >/dev/null
}
make_case changing "testsrc2=size=1024x768:rate=10"
make_case screen "color=c=0xe8ecf0:s=1024x768:r=10[bg];testsrc2=s=200x150:r=10[fg];[bg][fg]overlay=x='mod(t*40,800)':y=300"
for name in changing screen; do
  json="$(node "$here/decode_bench.js" "$work/$name/PemloPreview.html")"
  start=$(date +%s.%N)
  ffmpeg -v error -threads 1 -i "$work/$name/rec.flv" -an -f null -
  ffmpeg_s=$(echo "$(date +%s.%N) - $start" | bc)
  python3 - "$name" "$json" "$ffmpeg_s" "$frames" <<'PY'
import json, sys
name, r, ff, frames = sys.argv[1], json.loads(sys.argv[2]), float(sys.argv[3]), int(sys.argv[4])
key = 1000 / r["keyMs"]
inter = 1000 / r["interMs"]
ffmpeg = frames / ff
print("%s %dx%d: page keyframes %.1f/s, inter frames %.1f/s; DecompressionStream keyframes %.1f/s"
      % (name, r["width"], r["height"], key, inter, 1000 / r["streamMs"]))
print("   ffmpeg flashsv (all %d frames, 1 thread) %.1f/s; page inter / ffmpeg %.2f; "
      "page keyframes / recorder's 10/s %.1f" % (frames, ffmpeg, inter / ffmpeg, key / 10))
PY
done
