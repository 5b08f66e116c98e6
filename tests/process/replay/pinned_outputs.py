#!/usr/bin/env python3
"""The FLV and thumbnail bytes pemlo-replay writes for a set of generated recordings.

Each case makes its input here (whole-screen frames, durations, cursor positions and
sound, all from fixed formulas and SHAKE-256 streams, so every run makes the same
bytes), runs pemlo-replay on it and compares the SHA-256 of the FLV and of the
thumbnail with the values in pinned_outputs.sha256. Any change to the spools, the
compositing, the scaler, the watermark or the encoders that alters one output byte makes
the case fail.

    pinned_outputs.py REPLAY_BIN WORK_DIR            check every case
    pinned_outputs.py REPLAY_BIN WORK_DIR --write    write the table anew (only with a
                                                     build whose output is known good)
"""
import hashlib
import os
import struct
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
TABLE = os.path.join(HERE, "pinned_outputs.sha256")


def noise(label, n):
    return hashlib.shake_256(label.encode()).digest(n)


def px(b, g, r):
    return bytes((b, g, r, 0))


class Screen:
    """One whole-screen image: `height` rows of `pitch` bytes, 4 bytes per pixel."""

    def __init__(self, width, height, pitch=None):
        self.w = width
        self.h = height
        self.pitch = pitch or width * 4
        self.data = bytearray(self.pitch * height)

    def fill(self, x, y, w, h, colour):
        x0, y0 = max(0, x), max(0, y)
        x1, y1 = min(self.w, x + w), min(self.h, y + h)
        if x0 >= x1 or y0 >= y1:
            return
        row = colour * (x1 - x0)
        for yy in range(y0, y1):
            at = yy * self.pitch + x0 * 4
            self.data[at:at + len(row)] = row

    def put_row(self, x, y, pixels):
        """Writes a row of 4-byte pixels at (x, y), clipped to the screen."""
        if y < 0 or y >= self.h:
            return
        skip = max(0, -x) * 4
        x0 = max(0, x)
        end = min(len(pixels), skip + (self.w - x0) * 4)
        if end <= skip:
            return
        at = y * self.pitch + x0 * 4
        self.data[at:at + end - skip] = pixels[skip:end]

    def desktop(self, seed):
        """A vertical gradient background with padding bytes of its own."""
        for y in range(self.h):
            c = px((40 + y * 90 // self.h) & 255, (70 + y * 50 // self.h) & 255, 110)
            self.data[y * self.pitch:y * self.pitch + self.w * 4] = c * self.w
            pad = self.pitch - self.w * 4
            if pad:
                self.data[y * self.pitch + self.w * 4:(y + 1) * self.pitch] = noise(
                    "%s-pad-%d" % (seed, y), pad)


def glyph_rows(seed, chars):
    """Text-like rows: 8 rows of `chars` 6-pixel cells, dark ink on white."""
    bits = noise("glyphs-" + seed, chars * 8)
    ink, paper = px(20, 20, 20), px(255, 255, 255)
    rows = []
    for r in range(8):
        row = bytearray()
        for c in range(chars):
            b = bits[c * 8 + r] if r not in (0, 7) else 0
            for k in range(6):
                row += ink if (k < 5 and b >> k & 1) else paper
        rows.append(bytes(row))
    return rows


def window(s, x, y, w, h, title_colour, text, typed):
    s.fill(x, y, w, h, px(90, 90, 90))
    s.fill(x + 1, y + 1, w - 2, 18, title_colour)
    s.fill(x + 1, y + 19, w - 2, h - 20, px(255, 255, 255))
    lines = (h - 30) // 12
    for line in range(lines):
        chars = min(len(text[0]) // 24, (w - 12) // 6)
        if line == lines - 1:
            chars = min(chars, typed)
        if chars <= 0:
            continue
        for r in range(8):
            s.put_row(x + 6, y + 24 + line * 12 + r,
                      text[(line * 3 + r) % 8][line % 4 * 24:line % 4 * 24 + chars * 24])


def screen_like(w, h, n, pitch=None):
    """A desktop with windows of text, typing, a clock and a window dragged now and then."""
    text = glyph_rows("desk", 200)
    frames = []
    for i in range(n):
        s = Screen(w, h, pitch)
        s.desktop("desk")
        s.fill(0, h - 24, w, 24, px(60, 60, 60))
        drag = (i // 7) * 23 if i % 7 >= 4 else (i // 7) * 23 - 23
        window(s, w // 10 + max(0, drag), h // 8 + max(0, drag) // 3, w // 2, h // 2,
               px(160, 90, 30), text, 9999)
        window(s, w // 3, h // 3, w // 2, h // 2 - 10, px(30, 120, 200), text, 3 + 2 * i)
        clock = noise("clock-%d" % (i // 3), 4)
        s.fill(w - 60, h - 20, 50, 16, px(clock[0], clock[1], clock[2]))
        frames.append(bytes(s.data))
    return frames


def changing(w, h, n, pitch=None):
    """Every pixel changes from frame to frame: noise rows turned a little more each frame."""
    frames = []
    base = noise("changing-%dx%d" % (w, h), w * 4 * 2)
    for i in range(n):
        s = Screen(w, h, pitch)
        for y in range(h):
            k = (y * 28 + i * 36 + (y * y) % 17 * 4) % (w * 4)
            row = (base[k:] + base[:k])[:w * 4]
            s.data[y * s.pitch:y * s.pitch + w * 4] = row
        frames.append(bytes(s.data))
    return frames


def noisy(w, h, n, pitch=None):
    """Incompressible frames."""
    frames = []
    for i in range(n):
        s = Screen(w, h, pitch)
        data = noise("noise-%d" % i, w * 4 * h)
        for y in range(h):
            s.data[y * s.pitch:y * s.pitch + w * 4] = data[y * w * 4:(y + 1) * w * 4]
        frames.append(bytes(s.data))
    return frames


def sound(samples, label):
    """A triangle wave with some noise, integers only."""
    extra = noise("sound-" + label, samples)
    out = bytearray()
    for i in range(samples):
        t = i % 200
        v = (t * 300 if t < 100 else (200 - t) * 300) - 15000 + (extra[i] - 128) * 20
        out += struct.pack("<h", v)
    return bytes(out)


def cursor_path(n, w, h):
    """The cursor moving, leaving through every edge, hidden now and then."""
    spots = [(w // 2, h // 2), (-10, -12), (w - 5, h - 3), (-31, h // 3), (w - 1, 7),
             (w // 3, -31), (w // 4, h - 1), None, (w + 40, h + 40), (5, 5)]
    lines = []
    for i in range(n):
        spot = spots[i % len(spots)] if i % 3 else (w // 5 + i * 7, h // 6 + i * 5)
        lines.append("-" if spot is None else "%d %d" % spot)
    return "\n".join(lines) + "\n"


def cursor_still(n, x, y):
    return "".join("%d %d\n" % (x, y) for _ in range(n))


# name: screen size, pitch, content, frames, timing, cursor, capture, output, sound
CASES = [
    dict(name="desktop_640_half_sound", screen=(640, 480), content=screen_like, frames=45,
         fps=10, cursor="path", capture=(0, 0, 640, 480), output=(320, 240),
         sound=2 * 22050),
    dict(name="desktop_1024_odd_area", screen=(1024, 768), content=screen_like, frames=12,
         durations=[100, 100, 33, 250, 1, 0, 1000, 100, 65535, 7, 100, 120],
         cursor="path", capture=(101, 53, 701, 433), output=(350, 217)),
    dict(name="changing_333_padded_same_size", screen=(333, 217), pitch=1400,
         content=changing, frames=8, fps=7, cursor=None, capture=(0, 0, 333, 217),
         output=(333, 217), sound=22050 // 3),
    dict(name="changing_800_small_output", screen=(800, 600), content=changing, frames=15,
         fps=3, cursor="still", capture=(13, 7, 600, 400), output=(97, 61)),
    dict(name="noise_257_odd", screen=(257, 131), content=noisy, frames=5, fps=10,
         cursor="path", capture=(1, 2, 255, 129), output=(255, 100), sound=3 * 22050),
    dict(name="desktop_1920_720p", screen=(1920, 1080), content=screen_like, frames=6,
         fps=5, cursor="path", capture=(0, 0, 1920, 1080), output=(1280, 720)),
    dict(name="desktop_1280_corner_1x1", screen=(1280, 720), content=screen_like, frames=3,
         fps=10, cursor="path", capture=(1279, 719, 1, 1), output=(1, 1), sound=22050),
]


def run_case(replay, work, case):
    w, h = case["screen"]
    pitch = case.get("pitch", w * 4)
    n = case["frames"]
    base = os.path.join(work, case["name"])
    frames_path = base + ".frames"
    with open(frames_path, "wb") as f:
        for frame in case["content"](w, h, n, pitch):
            f.write(frame)
    args = [replay, "--screen", "%dx%d" % (w, h), "--frames", frames_path, "--pitch",
            str(pitch), "--capture", "%d,%d,%d,%d" % case["capture"],
            "--output", "%d,%d" % case["output"], "-o", base + ".flv"]
    if "durations" in case:
        with open(base + ".durations", "w") as f:
            f.write("".join("%d\n" % d for d in case["durations"]))
        args += ["--durations", base + ".durations"]
    else:
        args += ["--fps", str(case["fps"])]
    if case["cursor"] == "path":
        with open(base + ".cursor", "w") as f:
            f.write(cursor_path(n, w, h))
        args += ["--cursor", base + ".cursor"]
    elif case["cursor"] == "still":
        with open(base + ".cursor", "w") as f:
            f.write(cursor_still(n, 200, 150))
        args += ["--cursor", base + ".cursor"]
    if "sound" in case:
        with open(base + ".raw", "wb") as f:
            f.write(sound(case["sound"], case["name"]))
        args += ["--sound", base + ".raw"]
    done = subprocess.run(args, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    if done.returncode != 0:
        raise SystemExit("%s: pemlo-replay failed: %s" % (case["name"], done.stderr.strip()))
    digests = {}
    for kind in ("flv", "bmp"):
        if not os.path.exists(base + "." + kind):
            digests[kind] = "absent"  # no preview, so no thumbnail
            continue
        with open(base + "." + kind, "rb") as f:
            digests[kind] = hashlib.sha256(f.read()).hexdigest()
    for suffix in (".frames", ".flv", ".bmp", ".raw", ".cursor", ".durations"):
        if os.path.exists(base + suffix):
            os.remove(base + suffix)
    return digests


def main():
    if len(sys.argv) < 3:
        raise SystemExit(__doc__)
    replay, work = sys.argv[1], sys.argv[2]
    write = "--write" in sys.argv[3:]
    os.makedirs(work, exist_ok=True)
    pinned = {}
    if not write:
        with open(TABLE) as f:
            for line in f:
                if line.strip() and not line.startswith("#"):
                    digest, key = line.split()
                    pinned[key] = digest
    lines = []
    failures = []
    for case in CASES:
        digests = run_case(replay, work, case)
        for kind in ("flv", "bmp"):
            key = "%s.%s" % (case["name"], kind)
            lines.append("%s %s" % (digests[kind], key))
            if not write and pinned.get(key) != digests[kind]:
                failures.append("%s: sha256 %s, pinned %s" % (key, digests[kind],
                                                               pinned.get(key, "(none)")))
        print("%s: done" % case["name"])
    if write:
        with open(TABLE, "w") as f:
            f.write("# SHA-256 of the outputs of pinned_outputs.py"
                    " (written by a known-good build)\n")
            f.write("\n".join(lines) + "\n")
        print("wrote %s" % TABLE)
        return
    if failures:
        print("\n".join(failures))
        raise SystemExit("%d output(s) differ from the pinned bytes" % len(failures))
    print("all %d outputs as pinned" % len(lines))


if __name__ == "__main__":
    main()
