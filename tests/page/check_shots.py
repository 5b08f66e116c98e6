"""Checks the screenshots of the page test: the recording's picture is in the player,
the controls are drawn and each control did what it should.

usage: check_shots.py WORK_DIR WIDTH HEIGHT CLIP_NAME"""

import json
import sys
import urllib.parse

BUTTON = (0x3A, 0x45, 0x52)
LOADED = (0x9A, 0xA5, 0xB0)
BAR_HEIGHT, TRACK_X = 28, 56


class Shot:
    def __init__(self, path, width, height):
        with open(path, "rb") as f:
            self.data = f.read()
        self.width, self.height = width, height
        if len(self.data) != width * height * 3:
            raise SystemExit("%s: %d bytes, not a %dx%d picture"
                             % (path, len(self.data), width, height))

    def pixel(self, x, y):
        i = (y * self.width + x) * 3
        return tuple(self.data[i:i + 3])


def near(a, b, tolerance=16):
    return all(abs(p - q) <= tolerance for p, q in zip(a, b, strict=True))


def white(p):
    return all(c >= 225 for c in p)


def main(argv):
    work, width, height, clip = argv[1], int(argv[2]), int(argv[3]), argv[4]
    top, track_w = height - BAR_HEIGHT, width - 64
    failures = []

    def check(ok, what):
        print(("ok    " if ok else "FAIL  ") + what)
        if not ok:
            failures.append(what)

    shots = {}
    for name in ("1-playing", "2-seeked", "3-paused", "4-still-paused", "5-dragged",
                 "6-rewound", "7-playing-again", "8-past-last-key", "9-ended", "10-after-end"):
        shots[name] = Shot("%s/shots/%s.rgb" % (work, name), width, height)
    reference = Shot("%s/shots/reference.rgb" % work, width, height)

    # The file behind the escaped name was fetched.
    log = json.load(open("%s/browser.json" % work))
    fetched = [urllib.parse.unquote(urllib.parse.urlsplit(r.split(" ", 1)[1]).path)
               for r in log["requests"] if r.startswith("200 ")]
    check("/" + clip in fetched, "the FLV named %r was fetched (%s)" % (clip, ", ".join(fetched)))

    # The picture: the test pattern's still part (colour bars and circle) matches the
    # recording's decoded frame.
    def picture_match(shot):
        same = total = 0
        for y in range(0, 170, 2):
            for x in range(0, 230, 2):
                total += 1
                same += near(shot.pixel(x, y), reference.pixel(x, y), 40)
        return same / total

    colours = {reference.pixel(x, y) for y in range(0, 170, 5) for x in range(0, 230, 5)}
    check(len(colours) >= 6, "the reference frame is a picture (%d colours)" % len(colours))
    for name in ("1-playing", "7-playing-again"):
        share = picture_match(shots[name])
        check(share >= 0.95, "%s shows the recording's picture (%.1f%% of pixels match)"
              % (name, share * 100))

    # The controls.
    def knob(shot):
        xs = [x for x in range(TRACK_X - 4, TRACK_X + track_w + 4)
              if white(shot.pixel(x, top + 14))]
        if not xs or max(xs) - min(xs) > 8:
            return None
        return ((min(xs) + max(xs)) / 2.0 - TRACK_X) / track_w

    def icon(shot):
        # Between the two bars of the pause icon lies the middle of the play triangle.
        if not near(shot.pixel(6, top + 6), BUTTON):
            return "none"
        return "play" if white(shot.pixel(14, top + 14)) else "pause"

    check(near(shots["1-playing"].pixel(6, top + 6), BUTTON), "play button drawn")
    check(near(shots["1-playing"].pixel(30, top + 6), BUTTON), "rewind button drawn")
    check(near(shots["1-playing"].pixel(TRACK_X + track_w - 3, top + 13), LOADED),
          "loading bar full once the file is in")
    # The clip lasts 20 s with a keyframe every 4 s; the seeks land on the keyframes at
    # 16 s and then 8 s.
    expectations = [
        ("1-playing", "pause", 0.05, 0.42),
        ("2-seeked", "pause", 0.78, 0.9),
        ("3-paused", "play", 0.78, 0.92),
        ("4-still-paused", "play", 0.78, 0.92),
        ("5-dragged", "play", 0.37, 0.45),
        ("6-rewound", "play", -0.02, 0.03),
        ("7-playing-again", "pause", 0.05, 0.3),
        ("8-past-last-key", "pause", 0.78, 0.9),
        ("9-ended", "play", 0.9, 1.02),
        ("10-after-end", "pause", 0.0, 0.2),
    ]
    for name, want_icon, low, high in expectations:
        k = knob(shots[name])
        check(icon(shots[name]) == want_icon, "%s: %s icon shown" % (name, want_icon))
        check(k is not None and low <= k <= high,
              "%s: seek knob at %s, expected %.2f to %.2f" % (name, k, low, high))
    # Rewind while paused shows the first frame itself (the whole picture above the bar).
    def whole_match(shot):
        same = total = 0
        for y in range(0, top, 2):
            for x in range(0, width, 2):
                total += 1
                same += near(shot.pixel(x, y), reference.pixel(x, y), 24)
        return same / total

    check(whole_match(shots["6-rewound"]) >= 0.99,
          "6-rewound shows the first frame (%.1f%% of pixels match)"
          % (whole_match(shots["6-rewound"]) * 100))
    check(whole_match(shots["5-dragged"]) < 0.99, "5-dragged shows another frame than the first")
    paused_a, paused_b = shots["3-paused"], shots["4-still-paused"]
    check(paused_a.data == paused_b.data, "the paused picture stands still")
    check(shots["1-playing"].data != shots["2-seeked"].data, "the picture moves while playing")

    if failures:
        print("%d check(s) failed; screenshots in %s/shots" % (len(failures), work))
        return 1
    print("all checks passed; screenshots in %s/shots" % work)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
