#!/usr/bin/env bash
# Plays the preview page for real: publishes it with a Screen Video FLV whose name holds
# characters that need escaping, serves the folder over loopback HTTP, drives headless
# Chromium with Ruffle through the player's controls and checks the screenshots.
# The FLV comes from this tree's own writer (pemlo-flvencode) when it is given, else from
# ffmpeg's Screen Video encoder.
# usage: run_page_test.sh PUBLISH_TOOL RESOURCE_DIR WORK_DIR [FLV_ENCODER]
set -euo pipefail
publish="$1"
resources="$2"
work="$3"
encoder="${4:-}"
here="$(cd "$(dirname "$0")" && pwd)"
width=320
height=240
clip="it's a & b #1 %.flv"

if [ ! -d "$here/node_modules/playwright-core" ] || [ ! -d "$here/node_modules/@ruffle-rs/ruffle" ]; then
  (cd "$here" && npm ci --no-audit --no-fund --silent)
fi

rm -rf "$work"
mkdir -p "$work/site" "$work/shots"
source="testsrc=size=${width}x${height}:rate=10"
if [ -n "$encoder" ]; then
  # 10 frames per second: 100 ms each; bottom-up rows as the writer takes them.
  ffmpeg -loglevel error -y -f lavfi -i "$source" -t 20 -vf vflip -f rawvideo -pix_fmt bgr24 \
    "$work/frames.bgr"
  "$encoder" --size "${width}x${height}" --duration 100 -i "$work/frames.bgr" -o "$work/site/$clip"
  rm -f "$work/frames.bgr"
else
  ffmpeg -loglevel error -y -f lavfi -i "$source" -t 20 -c:v flashsv -g 40 "$work/site/$clip"
fi
# Published from inside the folder, so that the relative name also finds the FLV whose
# data goes beside the page.
(cd "$work/site" && "$publish" . "$width" "$height" "$clip" "${clip%.flv}.bmp" \
  "$resources/preview_page_crlf.html" "$resources/PemloPreview.swf" >/dev/null)
ln -s "$here/node_modules/@ruffle-rs/ruffle" "$work/site/ruffle"
# A second page, as published for a recording saved under an absolute Windows path.
mkdir -p "$work/site/windows"
# A Windows path as the program passes it (ANSI, e-acute as one byte), with '#', '&', '%',
# a quote and spaces. That FLV is not on this machine: the page is written without the
# data (status 1).
"$publish" "$work/site/windows" "$width" "$height" 'C:\My Vid'$'\xe9''os #2 & co\it'"'"'s #1 100%.flv' \
  'C:\My Vid'$'\xe9''os #2 & co\it'"'"'s #1 100%.bmp' "$resources/preview_page_crlf.html" \
  "$resources/PemloPreview.swf" >/dev/null || test $? -eq 1
ln -s "$here/node_modules/@ruffle-rs/ruffle" "$work/site/windows/ruffle"

port="$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')"
python3 -m http.server "$port" --bind 127.0.0.1 --directory "$work/site" >"$work/http.log" 2>&1 &
server=$!
trap 'kill "$server" 2>/dev/null || true' EXIT
for _ in $(seq 50); do
  if python3 -c "import urllib.request; urllib.request.urlopen('http://127.0.0.1:$port/PemloPreview.html')" 2>/dev/null; then
    break
  fi
  sleep 0.1
done

timeout 120 node "$here/play.js" "http://127.0.0.1:$port/PemloPreview.html" "$work/shots" \
  "$width" "$height" >"$work/browser.json"

# The recording's own pictures to compare with: the first frame, decoded by ffmpeg.
ffmpeg -loglevel error -y -i "$work/site/$clip" -frames:v 1 -f rawvideo -pix_fmt rgb24 \
  "$work/shots/reference.rgb"
for png in "$work"/shots/*.png; do
  convert "$png" -depth 8 "rgb:${png%.png}.rgb"
done
status=0
python3 "$here/check_shots.py" "$work" "$width" "$height" "$clip" || status=1

# The movie asks for the local file behind an absolute Windows path (the browser then
# refuses a file: URL from a web page, which is expected here).
timeout 60 node "$here/file_url.js" "http://127.0.0.1:$port/windows/PemloPreview.html" \
  >"$work/windows-requests.txt"
expected="file:///C:/My%20Vid%C3%A9os%20%232%20&%20co/it's%20%231%20100%25.flv"
if grep -qxF "$expected" "$work/windows-requests.txt"; then
  echo "ok    a Windows path is played as $expected"
else
  echo "FAIL  no request for $expected; the page asked for:"
  cat "$work/windows-requests.txt"
  status=1
fi
exit $status
