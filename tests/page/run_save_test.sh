#!/usr/bin/env bash
# "Save as MP4" from the published preview page, as a user does, in headless Chromium
# and Firefox ESR from file://: recordings from this tree's pemlo-replay (with sound that
# beeps once a second, an odd size without sound, and five minutes of a 1280 x 720
# desktop saved "Small"), each download checked by check_save.py (the picture's PSNR at
# "Standard" and "Best" only); Cancel in both browsers leaves nothing.
# usage: run_save_test.sh PUBLISH_TOOL RESOURCE_DIR WORK_DIR TOOLS_DIR
set -uo pipefail
publish="$1"
resources="$2"
work="$3"
replay="$4/pemlo-replay"
here="$(cd "$(dirname "$0")" && pwd)"

if [ ! -d "$here/node_modules/puppeteer-core" ]; then
  (cd "$here" && npm ci --no-audit --no-fund --silent)
fi
rm -rf "$work"
mkdir -p "$work"

# make NAME WxH SECONDS beeps|none: a still desktop with a small test picture moving over
# it, 10 frames per second, published as the program publishes it.
make_case() {
  local dir="$work/$1" size=$2 seconds=$3 sound=()
  local w=${size%x*} h=${size#*x}
  local screen="$((w + w % 2))x$((h + h % 2))"
  mkdir -p "$dir/page"
  if [ "$4" = beeps ]; then
    ffmpeg -v error -f lavfi -i "sine=frequency=880:sample_rate=22050" -t "$seconds" \
      -af "volume='if(lt(mod(t,1),0.15),0.6,0)':eval=frame" -f s16le -ac 1 -ar 22050 "$dir/sound.raw"
    sound=(--sound "$dir/sound.raw")
  fi
  ffmpeg -v error -f lavfi -i "color=c=0xd8dee6:size=$screen:rate=10" -f lavfi \
    -i "testsrc2=size=160x120:rate=10" -filter_complex \
    "[0][1]overlay=x='mod(t*37,$((w - 160)))':y='mod(t*23,$((h - 120)))':shortest=1" \
    -t "$seconds" -f rawvideo -pix_fmt bgra - |
    "$replay" --screen "$screen" --frames - --fps 10 --capture "0,0,${size/x/,}" \
      --output "${size/x/,}" "${sound[@]}" -o "$dir/rec.flv" >/dev/null 2>&1
  "$publish" "$dir/page" "$w" "$h" "$dir/rec.flv" "$dir/rec.bmp" \
    "$resources/preview_page_crlf.html" "$resources/PemloPreview.swf" >/dev/null
}

status=0
# save BROWSER CASE CHOICE [check_save.py options]
save() {
  local browser=$1 name=$2 choice=$3
  shift 3
  local out="$work/$name/$browser-$choice"
  echo "== $name in $browser, $choice"
  local said
  said=$(timeout 300 node "$here/save_test.js" "$browser" "$work/$name" "$out" "$choice") || {
    echo "$said"
    status=1
    return
  }
  echo "$said" | sed '$d'
  local file
  file=$(echo "$said" | tail -1 | python3 -c 'import json,sys; print(json.load(sys.stdin)["file"])')
  echo "$said" | tail -1
  python3 "$here/check_save.py" "$work/$name/rec.flv" "$file" "$@" || status=1
}
cancel() {  # BROWSER CASE
  echo "== $2 in $1, cancelled"
  timeout 300 node "$here/save_test.js" "$1" "$work/$2" "$work/$2/$1-cancel" small --cancel ||
    status=1
}

make_case beeps 320x240 12 beeps
make_case odd 321x241 8 none
make_case long 1280x720 300 beeps
for browser in chromium firefox; do
  save "$browser" beeps standard
  save "$browser" odd best
done
save chromium long small --max-bytes 10000000 --psnr 0
cancel chromium long
cancel firefox beeps
exit $status
