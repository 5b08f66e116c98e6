"""Checks a recording paused and resumed while a flash-and-beep scene ran.

    pause_check.py FLV WIDTH HEIGHT X Y PERIOD_MS STRETCHES PAUSES MAX_OFFSET_MS MAX_GROWTH_MS

STRETCHES and PAUSES are comma-separated lengths in seconds, as the test timed them from
outside: the recorded stretches in order (the first from the start, each up to its pause)
and the pauses between them. While paused, the test showed a green window and played a
3 kHz tone into the sound device: the video must show none of that green and hold none
of that tone. Its duration must be the recorded stretches' sum (less the first frame's
timer period) within one frame period; the start's own time (from the F2 press to the
recorder's first tick, which cannot be timed from outside) may take up to START_S more.
In every stretch each beep must land within MAX_OFFSET_MS of its flash, and the mean
error of the last stretch within MAX_GROWTH_MS of the first's. As in sync_check.py, the
flash times are pinned down by the scene's fixed period (here within each stretch: a
pause moves the flashes by its length, which the test only knows roughly), and the
device's own stretch (the quiet 200 Hz tone it delivers a little low, measured inside
the stretches away from the joins) is taken off the errors over the time that passed
since the first flash, pauses included: the device and the scene's sound run on through
each pause, so what the stretch puts behind may keep growing there too, while the
recorder cuts the pause on the clock. Runs here moved by up to 38 ms either way when the
stretch was taken off over one of the two times alone, so the growth is judged against
the range between them (the raw errors are printed too). Where a stretch's flashes
cannot all be pinned down together (the scene itself late on a busy machine), each beep
is held to the frame span its own flash fell in, and the stretch is left out of the
growth.
"""
import array
import math
import subprocess
import sys

from sync_check import RATE, beep_starts, flash_starts, mean_period

FRAME_S = 0.1
START_S = 0.25


def green_frames(flv, width, height):
    raw = subprocess.run(["ffmpeg", "-v", "error", "-i", flv, "-fps_mode", "passthrough",
                          "-f", "rawvideo", "-pix_fmt", "bgr24", "-"],
                         check=True, capture_output=True).stdout
    size = width * height * 3
    found = 0
    for f in range(len(raw) // size):
        frame = raw[f * size:(f + 1) * size]
        green = sum(1 for i in range(0, size, 3 * 7)
                    if frame[i + 1] > 180 and frame[i] < 90 and frame[i + 2] < 90)
        found += green > 5
    return found


def loudest_tone(flv, hz):
    """The largest amplitude of a HZ tone over 20 ms blocks of the sound (Goertzel)."""
    raw = subprocess.run(["ffmpeg", "-v", "error", "-i", flv, "-vn", "-f", "s16le", "-ar",
                          str(RATE), "-ac", "1", "-"], check=True, capture_output=True).stdout
    samples = array.array("h")
    samples.frombytes(raw[: len(raw) // 2 * 2])
    n = 441
    coeff = 2 * math.cos(2 * math.pi * hz / RATE)
    loudest = (0.0, 0.0)
    for start in range(0, len(samples) - n, n):
        s1 = s2 = 0.0
        for v in samples[start:start + n]:
            s1, s2 = v + coeff * s1 - s2, s1
        amplitude = 2 * math.sqrt(max(s1 * s1 + s2 * s2 - coeff * s1 * s2, 0)) / n
        loudest = max(loudest, (amplitude, start / RATE))
    return loudest


def sound_samples(flv):
    raw = subprocess.run(["ffmpeg", "-v", "error", "-i", flv, "-vn", "-f", "s16le", "-ar",
                          str(RATE), "-ac", "1", "-"], check=True, capture_output=True).stdout
    samples = array.array("h")
    samples.frombytes(raw[: len(raw) // 2 * 2])
    return samples


def bed_frequency(samples, inner):
    """The quiet 200 Hz tone's frequency: the median over the stretches' insides (a join
    moves its phase)."""
    means = sorted(m for m in (mean_period(samples[int(a * RATE):int(b * RATE)], 200.0)
                               for a, b in inner) if m is not None)
    return RATE / means[len(means) // 2] if means else 200.0


def pinned_errors(spans, period):
    """Each beep's error against its flash, the flashes pinned by the fixed period, and
    how closely they are pinned (ms)."""
    step = period / 1000.0
    first = spans[0][1]
    moved = [(b - round((f - first) / step) * step, f - round((f - first) / step) * step)
             for b, f, _ in spans]
    low, high = max(b for b, _ in moved), min(f for _, f in moved)
    origin = (low + high) / 2 if low <= high else sorted((b + f) / 2 for b, f in moved)[
        len(moved) // 2]
    return ([(f, (n - (origin + round((f - first) / step) * step)) * 1000) for _, f, n in spans],
            (high - low) * 1000)


def main():
    flv = sys.argv[1]
    width, height, x, y, period = (int(v) for v in sys.argv[2:7])
    stretches = [float(v) for v in sys.argv[7].split(",")]
    pauses = [float(v) for v in sys.argv[8].split(",")] if sys.argv[8] else []
    max_offset, max_growth = float(sys.argv[9]), float(sys.argv[10])
    bad = []

    green = green_frames(flv, width, height)
    print("     frames showing the pauses' green: %d" % green)
    if green:
        bad.append("%d frames show what was on the screen while paused" % green)
    tone, at = loudest_tone(flv, 3000)
    print("     loudest 3 kHz (the pauses' tone) in the sound: %.0f at %.2f s" % (tone, at))
    if tone > 2500:
        bad.append("the pauses' tone is in the sound (%.0f at %.2f s)" % (tone, at))

    duration = float(subprocess.run(
        ["ffprobe", "-v", "error", "-show_entries", "format=duration", "-of", "csv=p=0", flv],
        check=True, capture_output=True, text=True).stdout.strip() or 0)
    want = sum(stretches) - FRAME_S
    print("     duration %.3f s; the stretches recorded %.3f s (less the first tick), "
          "%.3f s paused" % (duration, want, sum(pauses)))
    if not -FRAME_S - START_S <= duration - want <= FRAME_S:
        bad.append("the duration is %.3f s, not %.3f s" % (duration, want))

    flashes, _ = flash_starts(flv, width, height, x, y)
    beeps, seconds, _ = beep_starts(flv)
    # The test's own timing of the stretches, stretched to the video's length, tells
    # which flashes belong to which stretch (those near a join are left out).
    scale = duration / want if want > 0 else 1.0
    bounds = []
    begin = 0.0
    for k, length in enumerate(stretches):
        end = begin + (length - (FRAME_S if k == 0 else 0)) * scale
        bounds.append((begin, end))
        begin = end
    bed = bed_frequency(sound_samples(flv), [(a + 0.3, b - 0.3) for a, b in bounds])
    share = 200.0 / bed - 1
    print("     %d flashes, %d beeps in %.1f s; the 200 Hz tone plays at %.2f Hz" %
          (len(flashes), len(beeps), seconds, bed))
    means = []
    paused_share = []
    first = None
    for k, (begin, end) in enumerate(bounds):
        spans = []
        for before, f in flashes:
            if begin + 0.3 < f < end - 0.4:
                near = min(beeps, key=lambda b, f=f: abs(b - f), default=None)
                if near is not None and abs(near - f) < 0.25 and begin < near < end:
                    spans.append((before, f, near))
        if len(spans) < 2:
            bad.append("stretch %d: only %d flash/beep pairs" % (k + 1, len(spans)))
        else:
            errors = []
            pinned, width = pinned_errors(spans, period)
            if width < 0:
                # Each beep against the span of frames its own flash fell in.
                pinned = [(f, 0.0 if b - f <= n - f <= 0 else
                           min(abs(n - b), abs(n - f)) * 1000 * (1 if n > f else -1))
                          for b, f, n in spans]
            raw = [e for _, e in pinned]
            # Where the flash lies on the clock: its place in the video plus the pauses
            # before its stretch.
            paused_before = sum(pauses[:k])
            for f, e in pinned:
                first = f if first is None else first
                errors.append(e - share * (f + paused_before - first) * 1000)
            if width >= 0:
                means.append(sum(errors) / len(errors))
                # How much of the stretch a pause adds is Wine's: all of it when its
                # capture runs on at its own rate, none when it catches up while no one
                # reads it. What the pauses before this stretch may have added:
                paused_share.append(share * paused_before * 1000)
            print("     stretch %d: errors (ms, less the device's stretch) %s (raw %s); flashes "
                  "pinned to %.0f ms" % (k + 1, " ".join("%.0f" % e for e in errors),
                                         " ".join("%.0f" % e for e in raw), width))
            far = [e for e in errors if abs(e) > max_offset]
            if far:
                bad.append("stretch %d: %d beeps further than %.0f ms from their flash" %
                           (k + 1, len(far), max_offset))
    if len(means) >= 2:
        growth = means[-1] - means[0]
        # Between taking the stretch off over the clock (growth) and over the recorded
        # time only (growth plus what the pauses added): the growth must come within
        # MAX_GROWTH_MS of nothing somewhere in that range.
        other = growth + paused_share[-1] - paused_share[0]
        low, high = min(growth, other), max(growth, other)
        nearest = 0.0 if low <= 0 <= high else (low if low > 0 else high)
        print("     mean error of the first stretch pinned down %.0f ms, of the last %.0f ms "
              "(moved %.0f ms over the clock, %.0f ms over the recorded time)" %
              (means[0], means[-1], growth, other))
        if abs(nearest) > max_growth:
            bad.append("the error moved by %.0f ms from the first stretch to the last" % nearest)
    for b in bad:
        print("FAIL: " + b)
    return 1 if bad else 0


if __name__ == "__main__":
    sys.exit(main())
