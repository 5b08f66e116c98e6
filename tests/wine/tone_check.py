"""Checks that raw 16-bit mono sound holds a sine of a given frequency.

    tone_check.py <file.raw> <frequency Hz> <sample rate>

The frequency is measured from the upward zero crossings of the loud part (silence
before the tone reached the device is skipped); the length must be about 2 s or more.
"""
import math
import struct
import sys


def main():
    path, want, rate = sys.argv[1], float(sys.argv[2]), int(sys.argv[3])
    data = open(path, "rb").read()
    samples = struct.unpack("<%dh" % (len(data) // 2), data[: len(data) // 2 * 2])
    seconds = len(samples) / rate
    print("sound: %d samples, %.2f s" % (len(samples), seconds))
    if seconds < 1.9:
        print("FAIL: shorter than about 2 s")
        return 1
    # Skip the quiet lead-in, in blocks of 10 ms.
    block = rate // 100
    loud = [i for i in range(0, len(samples) - block, block)
            if math.sqrt(sum(s * s for s in samples[i:i + block]) / block) > 2000]
    if len(loud) < 100:
        print("FAIL: only %d loud 10 ms blocks" % len(loud))
        return 1
    first, last = loud[0], loud[-1] + block
    part = samples[first:last]
    crossings = [i + s0 / float(s0 - s1) if s0 != s1 else i
                 for i, (s0, s1) in enumerate(zip(part, part[1:], strict=False)) if s0 < 0 <= s1]
    if len(crossings) < 2:
        print("FAIL: no periodic signal")
        return 1
    periods = (crossings[-1] - crossings[0]) / (len(crossings) - 1)
    got = rate / periods
    print("tone: %.1f Hz over %.2f s (want %.0f Hz)" % (got, len(part) / rate, want))
    if abs(got - want) > want * 0.01:
        print("FAIL: wrong frequency")
        return 1
    print("PASS")
    return 0


if __name__ == "__main__":
    sys.exit(main())
