#!/usr/bin/env bash
# A recording whose FLV passes 4 GiB: a 1920 x 1080 screen of noise (every block changes
# in every frame) at 10 frames per second with sound, through pemlo-replay. Checks the
# tags to the end of the file, that ffprobe finds packets beyond 4 GiB and that ffmpeg
# decodes every frame, then deletes the file. Needs about 11 GB free in the folder
# (the frame spool beside the output holds the recording while it is replayed).
#   tools/long_recording_big.sh [build folder (default build/native)] [frames (default 720)] [folder]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=${1:-build/native}
frames=${2:-720}
folder=${3:-${TMPDIR:-/tmp}}
replay="$build/tools/pemlo-replay"
[ -x "$replay" ] || { echo "big recording: $replay is missing" >&2; exit 1; }
work=$(mktemp -d "$folder/pemlo-big.XXXXXX")
trap 'rm -rf "$work"' EXIT
width=1920
height=1080
fps=10
samples=$((frames * 22050 / fps))
sox -n -r 22050 -c 1 -b 16 -e signed-integer -t raw "$work/sound.raw" \
    synth "$(awk "BEGIN { print $frames / $fps }")" sine 330 vol 0.5
out="$work/big.flv"
df -h "$folder" | tail -1
start=$(date +%s)
head -c $((frames * width * height * 4)) /dev/urandom |
    /usr/bin/time -v "$replay" --screen ${width}x${height} --frames - --fps "$fps" \
        --capture 0,0,$width,$height --output $width,$height --sound "$work/sound.raw" -o "$out" \
        2>"$work/replay.log" || { tail -5 "$work/replay.log" >&2; exit 1; }
echo "$frames frames in $(($(date +%s) - start)) s; $(grep 'frames:' "$work/replay.log")"
grep -o 'Maximum resident set size (kbytes): [0-9]*' "$work/replay.log"
size=$(stat -c %s "$out")
echo "FLV: $size bytes ($((size / 1048576)) MiB)"
status=0
[ "$size" -gt 4294967296 ] || { echo "FAULT: the FLV stays below 4 GiB; give more frames"; status=1; }
python3 "$here/long_recording_check.py" "$out" "$frames" $((1000 / fps)) "$samples" || status=1
# The first sound tag comes after a video tag larger than ffprobe's default probe size;
# ffprobe 5.1 crashes on streams found after probing, so it probes further.
last=$(ffprobe -v error -probesize 64M -select_streams v -show_entries packet=pos -of csv=p=0 "$out" | tail -1)
echo "ffprobe: last video packet at byte $last"
[ "$last" -gt 4294967296 ] || { echo "FAULT: ffprobe finds no packet beyond 4 GiB"; status=1; }
decoded=$(ffprobe -v error -probesize 64M -count_frames \
    -show_entries stream=codec_name,nb_read_frames -of csv=p=0 "$out" | tr '\n' ' ')
echo "ffmpeg: decoded (codec,frames): $decoded"
grep -q "flashsv,$frames " <<<"$decoded" || { echo "FAULT: not every frame decodes"; status=1; }
exit $status
