#!/usr/bin/env python3
"""Checks a video the preview page saved against the FLV it came from, with ffprobe and
ffmpeg: the codecs (H.264 with AAC or Opus in an MP4, or VP9 with Opus in a WebM), the
size rounded up to even, one video frame per FLV video tag, the duration within one frame
period of the FLV's, both streams from 0 and ending within 50 ms of each other, the moov
before the mdat, a clean decode, the picture's mean PSNR against ffmpeg's decode of the
FLV (frame for frame, in YUV 4:2:0) and the sound's onsets within 25 ms of the FLV's.

usage: check_save.py FLV SAVED [--psnr DB (0: not measured)] [--max-bytes N]
"""

import argparse
import array
import bisect
import json
import re
import subprocess
import sys

failures = 0


def check(ok, what):
    global failures
    print(("ok   " if ok else "FAIL ") + what)
    if not ok:
        failures += 1


def probe(path, *args):
    out = subprocess.run(["ffprobe", "-v", "error", "-of", "json", *args, path],
                         check=True, capture_output=True).stdout
    return json.loads(out)


def packets(path, stream):
    """(first pts, end) in seconds and the count of the stream's packets."""
    data = probe(path, "-select_streams", stream, "-show_entries",
                 "packet=pts_time,duration_time")["packets"]
    pts = [float(p["pts_time"]) for p in data]
    ends = [float(p["pts_time"]) + float(p.get("duration_time", 0) or 0) for p in data]
    return min(pts), max(ends), len(pts), sorted(pts)


def decode(args):
    return subprocess.run(["ffmpeg", "-v", "error", *args, "-"], check=True,
                          capture_output=True).stdout


def onsets(pcm, rate):
    """Times (s) where the sound rises above a third of its loudest after at least 100 ms
    below that, in windows of 5 ms."""
    samples = array.array("h", pcm)
    win = rate // 200
    levels = [max(max(chunk), -min(chunk)) for chunk in
              (samples[i:i + win] for i in range(0, len(samples) - win + 1, win))]
    top = max(levels) if levels else 0
    found = []
    quiet = 0
    for i, level in enumerate(levels):
        loud = level > top / 3
        if loud and quiet >= 20:
            found.append(i * win / rate)
        quiet = 0 if loud else quiet + 1
    return found


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("flv")
    parser.add_argument("saved")
    parser.add_argument("--psnr", type=float, default=35.0, help="0: not measured")
    parser.add_argument("--max-bytes", type=int, default=0)
    a = parser.parse_args()

    entries = "stream=codec_type,codec_name,width,height"
    streams = probe(a.saved, "-show_entries", entries)["streams"]
    source = probe(a.flv, "-show_entries", "stream=codec_type,width,height:format=duration")
    video = [s for s in streams if s["codec_type"] == "video"]
    sound = [s for s in streams if s["codec_type"] == "audio"]
    flv_video = [s for s in source["streams"] if s["codec_type"] == "video"][0]
    flv_sound = [s for s in source["streams"] if s["codec_type"] == "audio"]
    webm = a.saved.endswith(".webm")
    want_video = "vp9" if webm else "h264"
    want_sound = ("opus",) if webm else ("aac", "opus")
    check(len(video) == 1 and video[0]["codec_name"] == want_video,
          f"one {want_video} video stream ({[s['codec_name'] for s in streams]})")
    check(len(sound) == len(flv_sound) and all(s["codec_name"] in want_sound for s in sound),
          f"{'one sound stream in ' + '/'.join(want_sound) if flv_sound else 'no sound stream'}")
    if len(video) != 1:
        return
    w, h = flv_video["width"], flv_video["height"]
    W, H = video[0]["width"], video[0]["height"]
    check((W, H) == (w + w % 2, h + h % 2), f"{W} x {H} for {w} x {h}: rounded up to even")

    v0, v1, vcount, _ = packets(a.saved, "v:0")
    if webm:
        # WebM's blocks carry no durations: the last frame lasts to the segment's end.
        segment = probe(a.saved, "-show_entries", "format=duration")["format"]
        v1 = max(v1, float(segment.get("duration", 0) or 0))
    _, _, flv_count, flv_pts = packets(a.flv, "v:0")
    check(vcount == flv_count,
          f"{vcount} video frames, as many as the FLV's {flv_count} video tags")
    gaps = sorted(b - x for x, b in zip(flv_pts, flv_pts[1:], strict=False)) or [0.1]
    period = gaps[len(gaps) // 2]
    flv_end = float(source["format"].get("duration", 0) or 0) or flv_pts[-1] + period
    check(abs((v1 - v0) - flv_end) <= period + 1e-3,
          f"duration {v1 - v0:.3f} s, the FLV's {flv_end:.3f} s (frame period {period:.3f} s)")
    check(abs(v0) < 1e-3, f"the video starts at {v0:.3f} s")
    if sound:
        s0, s1, _, _ = packets(a.saved, "a:0")
        check(abs(s0) < 1e-3, f"the sound starts at {s0:.3f} s")
        check(abs((s1 - s0) - (v1 - v0)) <= 0.05,
              f"the sound lasts {s1 - s0:.3f} s, the picture {v1 - v0:.3f} s")

    if not webm:
        with open(a.saved, "rb") as f:
            data = f.read()
        boxes = []
        pos = 0
        while pos + 8 <= len(data):
            size = int.from_bytes(data[pos:pos + 4], "big")
            boxes.append(data[pos + 4:pos + 8].decode("latin-1"))
            if size == 1:
                size = int.from_bytes(data[pos + 8:pos + 16], "big")
            if size < 8:
                break
            pos += size
        check("moov" in boxes and "mdat" in boxes and boxes.index("moov") < boxes.index("mdat"),
              f"moov before mdat ({' '.join(boxes[:6])})")
    errors = subprocess.run(["ffmpeg", "-v", "error", "-i", a.saved, "-f", "framemd5", "-"],
                            capture_output=True)
    check(errors.returncode == 0 and not errors.stderr.strip(),
          f"ffmpeg decodes it without a word {errors.stderr.decode()[:200]}")
    if a.max_bytes:
        size = len(open(a.saved, "rb").read())
        check(size <= a.max_bytes, f"{size:,} bytes, at most {a.max_bytes:,}")

    if a.psnr > 0:
        picture(a, w, h)
    if sound:
        sound_onsets(a)


def picture(a, w, h):
    # The picture, frame for frame: both decoded to RGB (each by its own declared matrix),
    # the saved one cropped to the recording's size, compared in YUV 4:2:0.
    raw = ["-f", "rawvideo", "-pix_fmt", "rgb24", "-s", f"{w}x{h}", "-r", "1", "-i"]
    ref = subprocess.Popen(["ffmpeg", "-v", "error", "-i", a.flv, "-fps_mode", "passthrough",
                            "-f", "rawvideo", "-pix_fmt", "rgb24", a.saved + ".ref.rgb"])
    got = subprocess.Popen(["ffmpeg", "-v", "error", "-i", a.saved, "-fps_mode", "passthrough",
                            "-vf", f"format=rgb24,crop={w}:{h}:0:0", "-f", "rawvideo",
                            "-pix_fmt", "rgb24",
                            a.saved + ".got.rgb"])
    ref.wait()
    got.wait()
    result = subprocess.run(
        ["ffmpeg", "-v", "info", *raw, a.saved + ".ref.rgb", *raw, a.saved + ".got.rgb", "-lavfi",
         "[0:v]format=yuv420p[a];[1:v]format=yuv420p[b];[a][b]psnr", "-f", "null", "-"],
        capture_output=True, text=True)
    m = re.search(r"PSNR y:\S+ u:\S+ v:\S+ average:(\S+) min:(\S+)", result.stderr)
    mean = float(m.group(1)) if m else 0.0
    low = m.group(2) if m else "?"
    check(mean >= a.psnr,
          f"picture PSNR {mean:.2f} dB on average (min {low}), at least {a.psnr} dB")
    subprocess.run(["rm", "-f", a.saved + ".ref.rgb", a.saved + ".got.rgb"], check=True)


def sound_onsets(a):
    pcm = ["-vn", "-f", "s16le", "-ac", "1", "-ar", "22050"]
    mine = onsets(decode(["-i", a.saved, *pcm]), 22050)
    # The FLV's onsets on its own timeline: each decoded sample at its tag's timestamp
    # plus its place in the tag (ffmpeg's adpcm_swf gives one sample more per tag than
    # was recorded, which would drift if the samples were simply counted).
    frames = probe(a.flv, "-select_streams", "a:0", "-show_entries",
                   "frame=pts_time,nb_samples")["frames"]
    rate = int(probe(a.flv, "-select_streams", "a:0", "-show_entries",
                     "stream=sample_rate")["streams"][0]["sample_rate"])
    starts = []
    first = 0
    for f in frames:
        starts.append((first, float(f["pts_time"])))
        first += int(f["nb_samples"])
    theirs = []
    for t in onsets(decode(["-i", a.flv, "-vn", "-f", "s16le", "-ac", "1"]), rate):
        k = round(t * rate)
        at = max(0, bisect.bisect_right(starts, (k, float("inf"))) - 1)
        theirs.append(starts[at][1] + (k - starts[at][0]) / rate)
    if theirs:
        off = [min(abs(x - y) for y in mine) if mine else 1.0 for x in theirs]
        check(len(mine) == len(theirs) and max(off) <= 0.025,
              f"{len(mine)} sound onsets for the FLV's {len(theirs)}, "
              f"at most {max(off) * 1000:.1f} ms apart")

if __name__ == "__main__":
    main()
    sys.exit(1 if failures else 0)
