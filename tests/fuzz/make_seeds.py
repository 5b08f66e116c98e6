#!/usr/bin/env python3
"""Writes the seed corpus of the fuzz targets (run by hand when the input layouts change)."""
import os
import struct
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))


def bounded(value):
    # The inverse of boundedSize in fuzz_bodies.h.
    return value + (1 << 20)


def spool_seed(frames, width, height, cursor_every, rect):
    pitch = width * 4
    records = b""
    body = b""
    for i in range(frames):
        pixels = bytes(((k * 7 + i * 13) >> 2) & 0xFF for k in range(pitch * height))
        cursor_block = -1
        if cursor_every and i % cursor_every == 0:
            cursor = bytes((k * 5 + i) & 0xFF for k in range(3072))
            block = zlib.compress(cursor, 1)
            body += block
            cursor_block = len(block)
        frame = zlib.compress(pixels, 1)
        body += frame
        records += struct.pack("<IIIHHhh", len(pixels), bounded(len(frame)),
                               bounded(cursor_block), pitch, 100, 3 * i - 4, 2 * i - 3)
    left, top, w, h = rect
    return bytes([frames]) + records + bytes([left + 16, top + 16, w, h]) + body


def main():
    spool = os.path.join(HERE, "corpus", "spool_reader")
    page = os.path.join(HERE, "corpus", "page_filling")
    os.makedirs(spool, exist_ok=True)
    os.makedirs(page, exist_ok=True)
    seeds = {
        "three_frames_cursor": spool_seed(3, 16, 12, 2, (0, 0, 16, 12)),
        "one_frame_inner_rect": spool_seed(1, 24, 8, 1, (4, 2, 10, 5)),
        "two_frames_no_cursor": spool_seed(2, 8, 8, 0, (0, 0, 8, 8)),
    }
    for name, data in seeds.items():
        with open(os.path.join(spool, name), "wb") as f:
            f.write(data)
    pages = {
        "template": b'<embed src="PemloPreview.swf?file=#file#" width="#width#" '
                    b'height="#height#"><script>t(\'#escfile#\',\'#bmp#\')</script>'
                    b'\0C:\\Users\\Ann\\clip.flv\0C:\\Users\\Ann\\clip.bmp\0\x14\x0f',
        "odd_paths": b"#file##file#x#bmp#\0C:\\a'b\"c<d>&e#f%g\xe9.flv\0\\\\srv\\x.bmp\0\x01\x01",
        "keys_in_values": b"##width##height#\0#width#\0#bmp#\0\x00\x00",
    }
    for name, data in pages.items():
        with open(os.path.join(page, name), "wb") as f:
            f.write(data)


if __name__ == "__main__":
    main()
