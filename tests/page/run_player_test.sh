#!/usr/bin/env bash
# The page's own player in headless Chromium (and Firefox ESR for four cases) from
# file://: recordings made by this tree's tools (with and without sound, one keyframe,
# odd sizes, a timestamp past 2^24 ms, one above the data limit, one whose data is
# missing), each published as the
# program publishes it and checked against ffmpeg's decode by player_test.js.
# usage: run_player_test.sh PUBLISH_TOOL RESOURCE_DIR WORK_DIR TOOLS_DIR [SHOTS_DIR]
set -uo pipefail
publish="$1"
resources="$2"
work="$3"
tools="$4"
shots="${5:-}"
here="$(cd "$(dirname "$0")" && pwd)"
replay="$tools/pemlo-replay"
encode="$tools/pemlo-flvencode"

if [ ! -d "$here/node_modules/playwright-core" ] || [ ! -d "$here/node_modules/puppeteer-core" ]; then
  (cd "$here" && npm ci --no-audit --no-fund --silent)
fi
rm -rf "$work"
mkdir -p "$work"
# The player's scripts parse on their own (they are built into the page as they are).
for script in "$here/../../resources/player/"*.js; do
  node --check "$script" || { echo "FAIL $script does not parse"; exit 1; }
done

# replay NAME WxH FRAMES [SOUND_SECONDS]: the whole output phase, with a thumbnail.
replay_case() {
  local dir="$work/$1" size=$2 frames=$3 seconds=${4:-}
  mkdir -p "$dir"
  # The test picture comes in even sizes: the screen is rounded up, the capture is not.
  local w=${size%x*} h=${size#*x}
  local screen="$((w + w % 2))x$((h + h % 2))"
  ffmpeg -v error -f lavfi -i "testsrc2=size=$screen:rate=10" -frames:v "$frames" -f rawvideo \
    -pix_fmt bgra "$dir/screen.bgra"
  local sound=()
  if [ -n "$seconds" ]; then
    ffmpeg -v error -f lavfi -i "sine=frequency=440:sample_rate=22050,volume=0.5" -f lavfi \
      -i "sine=frequency=1250:sample_rate=22050" -filter_complex amix=inputs=2 -t "$seconds" \
      -f s16le -ac 1 -ar 22050 "$dir/sound.raw"
    sound=(--sound "$dir/sound.raw")
  fi
  "$replay" --screen "$screen" --frames "$dir/screen.bgra" --fps 10 --capture "0,0,${size/x/,}" \
    --output "${size/x/,}" "${sound[@]}" -o "$dir/rec.flv" >/dev/null 2>&1
  rm -f "$dir/screen.bgra"
}

# encode NAME WxH FRAMES [DURATIONS_FILE]: the FLV writer alone, no sound.
encode_case() {
  local dir="$work/$1" size=$2 frames=$3 durations=${4:-}
  mkdir -p "$dir"
  ffmpeg -v error -f lavfi -i "testsrc=size=$size:rate=10" -frames:v "$frames" -vf vflip \
    -f rawvideo -pix_fmt bgr24 "$dir/frames.bgr"
  if [ -n "$durations" ]; then
    "$encode" --size "$size" --durations "$durations" -i "$dir/frames.bgr" -o "$dir/rec.flv"
  else
    "$encode" --size "$size" --duration 100 -i "$dir/frames.bgr" -o "$dir/rec.flv"
  fi
  rm -f "$dir/frames.bgr"
}

publish_case() {  # NAME WIDTH HEIGHT [LIMIT]
  local dir="$work/$1"
  mkdir -p "$dir/page"
  "$publish" "$dir/page" "$2" "$3" "$dir/rec.flv" "$dir/rec.bmp" \
    "$resources/preview_page_crlf.html" "$resources/PemloPreview.swf" ${4:+"$4"} >/dev/null
  ffmpeg -v error -i "$dir/rec.flv" -fps_mode passthrough -f rawvideo -pix_fmt rgb24 "$dir/ref.rgb"
  if ffprobe -v error -select_streams a -show_entries stream=codec_name -of csv=p=0 "$dir/rec.flv" |
    grep -q adpcm_swf; then
    ffmpeg -v error -i "$dir/rec.flv" -vn -f s16le -c:a pcm_s16le "$dir/ref.s16"
  fi
}

replay_case full 320x240 200 20
publish_case full 320 240
encode_case nosound 160x120 30
publish_case nosound 160 120
encode_case onekey 200x150 30
publish_case onekey 200 150
encode_case odd33 33x20 25
publish_case odd33 33 20
replay_case odd641 641x479 45 5
publish_case odd641 641 479
# 280 frames of 65,535 ms: the last 24 lie past 2^24 ms (4 h 40 min).
for _ in $(seq 280); do echo 65535; done >"$work/long-durations.txt"
encode_case long 64x48 280 "$work/long-durations.txt"
publish_case long 64 48
replay_case large 320x240 30 3
publish_case large 320 240 1000
replay_case missing 240x180 20
publish_case missing 240 180
rm -f "$work/missing/page/PemloPreviewData.js"
# An FLV of its header alone.
mkdir -p "$work/empty/page"
printf 'FLV\001\001\000\000\000\011\000\000\000\000' >"$work/empty/rec.flv"
"$publish" "$work/empty/page" 64 48 "$work/empty/rec.flv" "$work/empty/rec.bmp" \
  "$resources/preview_page_crlf.html" "$resources/PemloPreview.swf" >/dev/null
# A chunk gone from the middle (as after a failed or disturbed write).
mkdir -p "$work/chunkgone"
cp "$work/full/rec.flv" "$work/full/rec.bmp" "$work/chunkgone/"
publish_case chunkgone 320 240
rm -f "$work/chunkgone/page/PemloPreviewData2.js"

status=0
run() {  # NAME MODE
  echo "== $1 ($2)"
  timeout 180 node "$here/player_test.js" "$work/$1" "$2" ${shots:+"$shots"} || status=1
}
[ -n "$shots" ] && mkdir -p "$shots"
run full full
page_shots="$shots"
shots=""
run nosound basic
run onekey basic
run odd33 basic
run odd641 basic
run long basic
shots="$page_shots"
run large large
run missing missing
shots=""
run chunkgone missing
run empty empty
# The same page in Firefox ESR: every control with sound, an odd size, a timestamp past
# 2^24 ms, and the file picker when the data is missing.
export PEMLO_BROWSER=firefox
run full full
run odd641 basic
run long basic
run missing missing
exit $status
