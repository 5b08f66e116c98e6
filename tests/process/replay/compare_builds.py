#!/usr/bin/env python3
"""Two builds of pemlo-replay on the same random recordings: their FLV and thumbnail
bytes must be the same. For speed work, by hand, next to the pinned outputs of
pinned_outputs.py: build the tool of the commit before the change somewhere else, then

    compare_builds.py OLD_REPLAY NEW_REPLAY [CASES] [WORK_DIR]

Each case draws (from its number, so a failing case can be run again) a screen with
padded rows, a capture rectangle, an output size, up to 50 frames that stay, change in
patches, change in the padding or alpha only, or change everywhere, cursor positions on
and off the picture, durations and sometimes sound.
"""
import hashlib
import os
import random
import subprocess
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import pinned_outputs as p  # noqa: E402


def make_case(case, base):
    r = random.Random(case)
    w, h = r.randint(1, 700), r.randint(1, 420)
    pitch = w * 4 + 4 * r.randint(0, 3)
    cl, ct = r.randint(0, w - 1), r.randint(0, h - 1)
    cw, ch = r.randint(1, w - cl), r.randint(1, h - ct)
    ow, oh = (cw, ch) if r.random() < 0.3 else (r.randint(1, cw), r.randint(1, ch))
    frames = r.randint(1, 50)
    s = p.Screen(w, h, pitch)
    s.desktop("compare-%d" % case)
    with open(base + ".frames", "wb") as f:
        for i in range(frames):
            kind = r.random()
            if kind < 0.15:
                s.data[:] = p.noise("compare-%d-%d" % (case, i), len(s.data))
            elif kind >= 0.35:
                for _ in range(r.randint(1, 4)):
                    colour = p.px(r.randrange(256), r.randrange(256), r.randrange(256))
                    s.fill(r.randint(-10, w), r.randint(-10, h), r.randint(1, 80),
                           r.randint(1, 60), colour)
                if r.random() < 0.3:
                    s.data[r.randrange(len(s.data))] ^= 0x40
            f.write(s.data)
    with open(base + ".durations", "w") as f:
        f.writelines("%d\n" % r.choice([0, 1, 33, 100, 250, 1000, 65535]) for _ in range(frames))
    with open(base + ".cursor", "w") as f:
        for _ in range(frames):
            f.write("-\n" if r.random() < 0.2 else
                    "%d %d\n" % (r.randint(-40, w + 5), r.randint(-40, h + 5)))
    args = ["--screen", "%dx%d" % (w, h), "--frames", base + ".frames", "--pitch", str(pitch),
            "--durations", base + ".durations", "--cursor", base + ".cursor",
            "--capture", "%d,%d,%d,%d" % (cl, ct, cw, ch), "--output", "%d,%d" % (ow, oh)]
    if r.random() < 0.5:
        with open(base + ".raw", "wb") as f:
            f.write(p.sound(r.randint(0, 40000), "compare-%d" % case))
        args += ["--sound", base + ".raw"]
    return args


def run(binary, args, out):
    done = subprocess.run([binary] + args + ["-o", out], stdout=subprocess.PIPE,
                          stderr=subprocess.PIPE)
    digests = []
    for path in (out, out[:-4] + ".bmp"):
        if os.path.exists(path):
            with open(path, "rb") as f:
                digests.append(hashlib.sha256(f.read()).hexdigest())
            os.remove(path)
        else:
            digests.append("absent")
    return done.returncode, digests


def main():
    if len(sys.argv) < 3:
        raise SystemExit(__doc__)
    old, new = sys.argv[1], sys.argv[2]
    cases = int(sys.argv[3]) if len(sys.argv) > 3 else 100
    work = sys.argv[4] if len(sys.argv) > 4 else "/tmp/pemlo-compare-builds"
    os.makedirs(work, exist_ok=True)
    base = os.path.join(work, "case")
    differ = written = 0
    for case in range(cases):
        args = make_case(case, base)
        a = run(old, args, base + ".old.flv")
        b = run(new, args, base + ".new.flv")
        written += 1 if b[0] == 0 else 0
        if a != b:
            differ += 1
            print("case %d differs: old %s, new %s; %s" % (case, a, b, " ".join(args)))
    for suffix in (".frames", ".durations", ".cursor", ".raw"):
        if os.path.exists(base + suffix):
            os.remove(base + suffix)
    print("%d cases, %d written, %d differ" % (cases, written, differ))
    if differ:
        raise SystemExit(1)


if __name__ == "__main__":
    main()
