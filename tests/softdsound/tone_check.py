#!/usr/bin/env python3
"""Checks a raw 48 kHz stereo s16le capture for one steady tone.

Finds the stretch where the tone sounds, then checks its length, its
frequency on both channels (rising zero crossings placed by interpolation)
and its peak amplitude. Reports short silences inside it (gaps the server
filled) without failing on them unless --max-gaps is given.
"""
import argparse
import struct
import sys

RATE = 48000


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("capture")
    parser.add_argument("--hertz", type=float, required=True)
    parser.add_argument("--amplitude", type=float, required=True)
    parser.add_argument("--seconds", type=float, required=True)
    parser.add_argument("--max-gaps", type=int, default=-1)
    # A capture of part of a tone (an output that came or went meanwhile).
    parser.add_argument("--at-least", action="store_true")
    # How close the tone's length less its gaps must come to --seconds: a
    # tone played whole to its end, however often the server ran dry.
    parser.add_argument("--within", type=float)
    args = parser.parse_args()

    data = open(args.capture, "rb").read()
    count = len(data) // 4
    frames = struct.unpack("<%dh" % (2 * count), data[: 4 * count])
    left, right = frames[0::2], frames[1::2]

    loud = args.amplitude / 4
    sounding = [i for i, v in enumerate(left) if abs(v) > loud]
    if not sounding:
        print("no tone in the capture (%d frames)" % count)
        return 1
    first, last = sounding[0], sounding[-1]
    failures = []

    length = (last - first) / RATE
    print("tone from %.3f s for %.3f s" % (first / RATE, length))
    short = length < args.seconds - 0.25
    if short or (not args.at_least and length > args.seconds + 0.25):
        failures.append("lasted %.3f s, not %.3f s" % (length, args.seconds))

    # Skip the fades at both ends.
    a, b = first + RATE // 20, last - RATE // 20
    for name, channel in (("left", left), ("right", right)):
        crossings = []
        for i in range(a + 1, b):
            p, q = channel[i - 1], channel[i]
            if p < 0 <= q:
                crossings.append(i - 1 + (-p / (q - p)))
        # Periods that span a gap say nothing about the pitch.
        expected = RATE / args.hertz
        periods = [q - p for p, q in zip(crossings, crossings[1:]) if q - p < 1.5 * expected]
        if not periods:
            failures.append("%s channel: no tone" % name)
            continue
        hertz = RATE * len(periods) / sum(periods)
        peak = max(abs(v) for v in channel[a:b])
        print("%s: %.2f Hz, peak %d" % (name, hertz, peak))
        if abs(hertz - args.hertz) > args.hertz * 0.002:
            failures.append("%s channel at %.2f Hz, not %.2f" % (name, hertz, args.hertz))
        if abs(peak - args.amplitude) > args.amplitude * 0.03:
            failures.append("%s channel peaks at %d, not %d" % (name, peak, args.amplitude))

    # A gap: a millisecond or more of near silence where the tone should be.
    gaps, run, where = 0, 0, []
    quiet = args.amplitude / 100
    for i in range(a, b):
        run = run + 1 if abs(left[i]) < quiet else 0
        if run == RATE // 1000:
            gaps += 1
            where.append("%.3f" % ((i - first) / RATE))
    print("gaps: %d%s" % (gaps, (" at " + ", ".join(where[:10]) + " s") if where else ""))
    if 0 <= args.max_gaps < gaps:
        failures.append("%d gaps" % gaps)

    # Sounding frames: from the first loud one to the last, less every run
    # of a millisecond or more of near silence. The fades at the ends fall
    # short of loud for under a millisecond each.
    silent, run = 0, 0
    for i in range(first, last + 1):
        run = run + 1 if abs(left[i]) < quiet else 0
        if run == RATE // 1000:
            silent += run
        elif run > RATE // 1000:
            silent += 1
    played = (last - first + 1 - silent) / RATE
    print("sounding for %.4f s" % played)
    if args.within is not None and abs(played - args.seconds) > args.within:
        failures.append("sounded %.4f s, not %.4f s within %.4f s" % (played, args.seconds, args.within))

    for failure in failures:
        print("FAIL: " + failure)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
