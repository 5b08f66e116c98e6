"""Measures how far the beeps of a flash-and-beep recording land from their flashes.

    sync_check.py FLV WIDTH HEIGHT X Y PERIOD_MS MIN_PAIRS MAX_OFFSET_MS MAX_GROWTH_MS

Decodes the FLV with ffmpeg. A flash starts at the first frame whose pixel (X, Y) of
the WIDTH x HEIGHT picture turns red; a beep starts at the first loud sample after at
least 300 ms of quiet. Each flash is paired with the nearest beep start within 1 s; the
offset is beep minus flash frame (positive: the sound comes after the picture); it
carries the frame grid (up to one frame period). The flash itself happened between the
frame before and the frame that first shows it; as the scene flashes every PERIOD_MS
on the same clock as the recorder, the spans of all flashes together pin the first
flash's time down to a few ms, and with it every flash's. The error of a beep is its
time minus that flash time. Fails when fewer than MIN_PAIRS pairs are found, when an
error less the device's own stretch since the first beep exceeds MAX_OFFSET_MS either
way, or when the mean error of the last five beeps differs from that of the first five by
more than MAX_GROWTH_MS plus what that stretch explains: the recording carries a quiet
200 Hz tone between the beeps, and Wine's wave input has been seen to deliver it about
0.1 % low (199.81 Hz) while its buffers keep time with the clock, which moves every
later beep away by that share of the time that passed. That rate is the median of the
tone's rate over each 10 s: on a busy machine a few seconds of the tone can come out
disturbed (199.3 Hz over 10 s of a recording whose other 40 s played 199.81 Hz), and an
average over the whole recording would then blame the device for more than it did.
"""
import array
import subprocess
import sys

RATE = 22050


def frame_times(flv):
    out = subprocess.run(["ffprobe", "-v", "error", "-select_streams", "v:0", "-show_entries",
                          "frame=pts_time", "-of", "csv=p=0", flv],
                         check=True, capture_output=True, text=True).stdout
    return [float(line.split(",")[0]) for line in out.split() if line.strip()]


def flash_starts(flv, width, height, x, y):
    times = frame_times(flv)
    raw = subprocess.run(["ffmpeg", "-v", "error", "-i", flv, "-fps_mode", "passthrough",
                          "-f", "rawvideo", "-pix_fmt", "bgr24", "-"],
                         check=True, capture_output=True).stdout
    size = width * height * 3
    count = min(len(raw) // size, len(times))
    starts = []
    was = False
    for f in range(count):
        o = f * size + (y * width + x) * 3
        b, g, r = raw[o], raw[o + 1], raw[o + 2]
        red = r > 150 and g < 90 and b < 90
        if red and not was:
            starts.append((times[f - 1] if f > 0 else times[f], times[f]))
        was = red
    return starts, count


def beep_starts(flv):
    raw = subprocess.run(["ffmpeg", "-v", "error", "-i", flv, "-vn", "-f", "s16le", "-ar",
                          str(RATE), "-ac", "1", "-"], check=True, capture_output=True).stdout
    samples = array.array("h")
    samples.frombytes(raw[: len(raw) // 2 * 2])
    starts = []
    quiet = 0
    loud = 5000
    for i, s in enumerate(samples):
        if abs(s) > loud:
            if quiet >= RATE * 0.3:
                starts.append(i / RATE)
            quiet = 0
        else:
            quiet += 1
    return starts, len(samples) / RATE, bed_frequency(samples)


def mean_period(samples, want):
    """The mean period of the quiet tone in these samples, from its zero crossings."""
    periods = []
    last = None
    expect = RATE / want
    for i in range(1, len(samples)):
        a, b = samples[i - 1], samples[i]
        if a < 0 <= b and max(abs(a), abs(b)) < 2000 and a != b:
            at = i - 1 + (-a) / (b - a)
            if last is not None and 0.9 * expect < at - last < 1.1 * expect:
                periods.append(at - last)
            last = at
    return sum(periods) / len(periods) if periods else None


def bed_frequency(samples, want=200.0):
    """The frequency of the quiet tone between the beeps: the median of its mean over each
    10 s of the recording, so that a few seconds of disturbed sound (a busy machine) do not
    move what the device does the rest of the time."""
    step = RATE * 10
    means = [m for m in (mean_period(samples[i:i + step], want)
                         for i in range(0, max(len(samples) - step, 0) + 1, step))
             if m is not None]
    if not means:
        return want
    means.sort()
    middle = len(means) // 2
    median = means[middle] if len(means) % 2 else (means[middle - 1] + means[middle]) / 2
    return RATE / median


def main():
    flv = sys.argv[1]
    width, height, x, y, period, min_pairs = (int(v) for v in sys.argv[2:8])
    max_offset, max_growth = float(sys.argv[8]), float(sys.argv[9])
    flashes, frames = flash_starts(flv, width, height, x, y)
    beeps, seconds, bed = beep_starts(flv)
    print("     %d frames, %.1f s of sound, %d flashes, %d beeps" %
          (frames, seconds, len(flashes), len(beeps)))
    pairs = []
    spans = []
    # A flash in the last 1.5 s may have its beep cut off by the stop.
    flashes = [(b, f) for b, f in flashes if f < seconds - 1.5]
    for before, f in flashes:
        near = min(beeps, key=lambda b: abs(b - f), default=None)
        if near is not None and abs(near - f) < 1.0:
            pairs.append((f, (near - f) * 1000))
            spans.append((before, f, near))
    bad = []
    if not spans:
        print("FAIL: no flash/beep pairs")
        return 1
    # The first flash's time from every span, each moved back by its whole periods.
    step = period / 1000.0
    first = spans[0][1]
    moved = [(b - round((f - first) / step) * step, f - round((f - first) / step) * step)
             for b, f, _ in spans]
    low, high = max(b for b, _ in moved), min(f for _, f in moved)
    if low <= high:
        origin = (low + high) / 2
        print("     flashes pinned down to %.0f ms" % ((high - low) * 1000))
    else:
        mids = sorted((b + f) / 2 for b, f in moved)
        origin = mids[len(mids) // 2]
        print("     flash spans disagree by %.0f ms: using the median" % ((low - high) * 1000))
    errors = [(f, (n - (origin + round((f - first) / step) * step)) * 1000) for _, f, n in spans]
    print("     offsets (ms, beep after flash): " +
          " ".join("%.0f@%.0fs" % (o, f) for f, o in pairs))
    if len(pairs) < min_pairs:
        bad.append("only %d flash/beep pairs" % len(pairs))
    print("     errors (ms, beep after flash): "
          + " ".join("%.0f@%.0fs" % (e, f) for f, e in errors))
    head = [e for _, e in errors[:5]]
    tail = [e for _, e in errors[-5:]]
    growth = sum(tail) / len(tail) - sum(head) / len(head)
    spread = (sum(f for f, _ in errors[-5:]) - sum(f for f, _ in errors[:5])) / 5
    stretch = (200.0 / bed - 1) * spread * 1000
    print("     the 200 Hz tone between the beeps plays at %.2f Hz: the device's stretch "
          "explains %.0f ms of growth" % (bed, stretch))
    print("     start error %.0f ms, end error %.0f ms; mean of the first five %.0f ms, of the "
          "last five %.0f ms (growth %.0f ms); range %.0f to %.0f ms" %
          (errors[0][1], errors[-1][1], sum(head) / len(head), sum(tail) / len(tail), growth,
           min(e for _, e in errors), max(e for _, e in errors)))
    # Each beep's error less the share of the device's stretch since the first beep:
    # what no timing of the buffers can show and the recorder cannot mend.
    own = [e - (200.0 / bed - 1) * (f - errors[0][0]) * 1000 for f, e in errors]
    print("     less the device's stretch: start %.0f ms, end %.0f ms, range %.0f to %.0f ms" %
          (own[0], own[-1], min(own), max(own)))
    far = [e for e in own if abs(e) > max_offset]
    if far:
        bad.append("%d beeps further than %.0f ms from their flash, after the device's "
                   "stretch" % (len(far), max_offset))
    if abs(growth - stretch) > max_growth:
        bad.append("the error grew by %.0f ms, %.0f ms more than the device's stretch" %
                   (growth, growth - stretch))
    for b in bad:
        print("FAIL: " + b)
    return 1 if bad else 0


if __name__ == "__main__":
    sys.exit(main())
