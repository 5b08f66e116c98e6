#!/usr/bin/env python3
"""Checks the FLV of a long recording from its tag headers: the framing adds up, the
metadata duration equals the sum of the frame durations, and sound and video end
within one audio packet of each other. Prints one line of figures; exit 1 on a fault.

    tools/long_recording_check.py FILE.flv FRAMES FRAME_MS SOUND_SAMPLES
"""
import struct
import sys

PACKET_SAMPLES = 1024
RATE = 22050


def amf_number(body, name):
    key = struct.pack(">H", len(name)) + name.encode()
    at = body.find(key)
    if at < 0 or body[at + len(key)] != 0:
        return None
    return struct.unpack(">d", body[at + len(key) + 1:at + len(key) + 9])[0]


def main():
    path = sys.argv[1]
    frames, frame_ms, samples = int(sys.argv[2]), int(sys.argv[3]), int(sys.argv[4])
    faults = []
    video = audio = 0
    last_video = last_audio = -1
    metadata = None
    with open(path, "rb") as f:
        header = f.read(9)
        if header[:3] != b"FLV" or header[4] != 0x05:
            faults.append("not an FLV with video and sound")
        f.seek(9)
        previous = 0
        while True:
            size_field = f.read(4)
            if len(size_field) < 4:
                break
            if struct.unpack(">I", size_field)[0] != previous:
                faults.append("previous-tag size %d wrong at %d" % (previous, f.tell() - 4))
                break
            head = f.read(11)
            if not head:
                break
            if len(head) < 11:
                faults.append("file ends inside a tag header")
                break
            kind = head[0]
            size = int.from_bytes(head[1:4], "big")
            stamp = int.from_bytes(head[4:7], "big") | head[7] << 24
            if kind == 0x12 and metadata is None:
                metadata = f.read(size)
            elif kind == 0x08:
                audio += 1
                last_audio = stamp
                f.seek(size, 1)
            elif kind == 0x09:
                video += 1
                last_video = stamp
                f.seek(size, 1)
            else:
                faults.append("unexpected tag type %d" % kind)
                break
            previous = 11 + size
        end = f.tell()
        f.seek(0, 2)
        if f.tell() != end:
            faults.append("bytes after the last tag")
    duration = amf_number(metadata or b"", "duration")
    expected = frames * frame_ms / 1000.0
    if video != frames:
        faults.append("%d video tags for %d frames" % (video, frames))
    if duration is None or abs(duration - expected) > 1e-9:
        faults.append("metadata duration %s s, frame durations add up to %s s"
                      % (duration, expected))
    packets = -(-samples // PACKET_SAMPLES)
    if audio != packets:
        faults.append("%d audio tags for %d packets of sound" % (audio, packets))
    packet_ms = PACKET_SAMPLES * 1000.0 / RATE
    video_end = last_video + frame_ms
    sound_end = samples * 1000.0 / RATE
    if abs(last_audio + packet_ms - video_end) > packet_ms + 1:
        faults.append("sound ends at %.1f ms, video at %d ms"
                      % (last_audio + packet_ms, video_end))
    print("flv: %d video tags, %d audio tags, metadata duration %.3f s (sum of durations %.3f s), "
          "video ends %d ms, last audio tag %d ms (+%.1f), sound %.1f ms, %d bytes"
          % (video, audio, duration or -1, expected, video_end, last_audio, packet_ms, sound_end,
             end))
    for fault in faults:
        print("FAULT: " + fault)
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main())
