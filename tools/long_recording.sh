#!/usr/bin/env bash
# A long recording through pemlo-replay: a synthetic 640 x 480 screen at 10 frames per
# second (ffmpeg's moving test picture, streamed through a pipe) with a tone, for one
# minute and for one hour (36,000 frames). For each: ffmpeg decodes the FLV end to end,
# the metadata duration equals the sum of the frame durations, sound and video end
# within one packet, and the peak resident size is printed; the two peaks must agree
# within 4 MiB. Run by hand (the hour takes some minutes):
#   tools/long_recording.sh [build folder (default build/native)] [minutes ...]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=${1:-build/native}
shift || true
minutes=("$@")
if [ ${#minutes[@]} -eq 0 ]; then
    minutes=(1 60)
fi
replay="$build/tools/pemlo-replay"
[ -x "$replay" ] || { echo "long_recording: $replay is missing (build pemlo-replay first)" >&2; exit 1; }
work=$(mktemp -d "${TMPDIR:-/tmp}/pemlo-long.XXXXXX")
trap 'rm -rf "$work"' EXIT
fps=10
frame_ms=$((1000 / fps))
status=0
peaks=()
for m in "${minutes[@]}"; do
    frames=$((m * 60 * fps))
    samples=$((m * 60 * 22050))
    sox -n -r 22050 -c 1 -b 16 -e signed-integer -t raw "$work/sound.raw" \
        synth $((m * 60)) sine 220-880 vol 0.5
    out="$work/long_${m}min.flv"
    start=$(date +%s)
    ffmpeg -nostdin -v error -f lavfi -i "testsrc2=size=640x480:rate=$fps" -frames:v "$frames" \
        -f rawvideo -pix_fmt bgra - |
        /usr/bin/time -v "$replay" --screen 640x480 --frames - --fps "$fps" \
            --capture 0,0,640,480 --output 640,480 --sound "$work/sound.raw" -o "$out" \
            2>"$work/replay.log" || { cat "$work/replay.log" >&2; exit 1; }
    took=$(($(date +%s) - start))
    peak=$(grep -o 'Maximum resident set size (kbytes): [0-9]*' "$work/replay.log" | grep -o '[0-9]*$')
    peaks+=("$peak")
    echo "== $m min: $frames frames in ${took} s; $(grep 'frames:' "$work/replay.log")"
    echo "   peak resident size: $peak KiB"
    python3 "$here/long_recording_check.py" "$out" "$frames" "$frame_ms" "$samples" || status=1
    # Decode every packet of both streams; any complaint from the decoders is a fault.
    ffmpeg -nostdin -v error -i "$out" -map 0 -f null - 2>"$work/decode.log" || status=1
    if [ -s "$work/decode.log" ]; then
        echo "FAULT: ffmpeg reports:" && head -5 "$work/decode.log"
        status=1
    fi
    probe=$(ffprobe -v error -select_streams v -count_frames \
        -show_entries stream=nb_read_frames:format=duration -of csv=p=0 "$out")
    vframes=$(sed -n 1p <<<"$probe")
    vdur=$(sed -n 2p <<<"$probe")
    echo "   ffmpeg: decoded $vframes video frames; ffprobe duration $vdur s"
    [ "$vframes" = "$frames" ] || { echo "FAULT: decoded $vframes of $frames frames"; status=1; }
    rm -f "$out" "${out%.flv}.bmp" "$work/sound.raw"
done
if [ ${#peaks[@]} -ge 2 ]; then
    spread=$(printf '%s\n' "${peaks[@]}" | sort -n | awk 'NR==1{lo=$1} {hi=$1} END{print hi-lo}')
    echo "peak resident sizes (KiB): ${peaks[*]}; spread $spread KiB"
    [ "$spread" -le 4096 ] || { echo "FAULT: memory grows with the length of the recording"; status=1; }
fi
exit $status
