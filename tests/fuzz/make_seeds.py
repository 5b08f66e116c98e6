#!/usr/bin/env python3
"""Writes the seed corpus of the fuzz targets (run by hand when the input layouts change)."""
import os
import struct
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))


def bounded(value):
    # The inverse of boundedSize in fuzz_bodies.h.
    return value + (1 << 20)


TILE = 32


def tiles_of(width, height):
    cols, rows = (width + TILE - 1) // TILE, (height + TILE - 1) // TILE
    for r in range(rows):
        for c in range(cols):
            yield c, r, min(TILE, width - c * TILE), min(TILE, height - r * TILE)


def spool_seed(frames, width, height, cursor_every, left, top, changes):
    """Frame i holds the tiles changes(i) picks (every tile for the first frame)."""
    records = b""
    body = b""
    for i in range(frames):
        cursor_block = -1
        if cursor_every and i % cursor_every == 0:
            cursor = bytes((k * 5 + i) & 0xFF for k in range(3072))
            block = zlib.compress(cursor, 1)
            body += block
            cursor_block = len(block)
        listed, pixels = b"", b""
        for c, r, w, h in tiles_of(width, height):
            if i == 0 or changes(i, c, r):
                listed += struct.pack("<HH", c, r)
                pixels += bytes(((k * 7 + i * 13 + c * 3 + r) >> 2) & 0xFF
                                for k in range(w * h * 3))
        raw = listed + pixels
        count = len(listed) // 4
        frame = zlib.compress(raw, 1) if count else b""
        body += frame
        records += struct.pack("<IIIHHhh", len(raw), bounded(len(frame)),
                               bounded(cursor_block), count, 100, 3 * i - 4 + left,
                               2 * i - 3 + top)
    return (bytes([frames]) + records + bytes([left + 16, top + 16, width - 1, height - 1]) +
            body)


def main():
    spool = os.path.join(HERE, "corpus", "spool_reader")
    page = os.path.join(HERE, "corpus", "page_filling")
    os.makedirs(spool, exist_ok=True)
    os.makedirs(page, exist_ok=True)
    seeds = {
        "three_frames_cursor": spool_seed(3, 16, 12, 2, 0, 0, lambda i, c, r: True),
        "one_frame_inner_rect": spool_seed(1, 10, 5, 1, 4, 2, lambda i, c, r: True),
        "four_frames_some_tiles": spool_seed(4, 70, 40, 1, 3, 1,
                                             lambda i, c, r: (c + r + i) % 3 == 0),
        "two_frames_no_cursor_unchanged": spool_seed(2, 8, 8, 0, 0, 0, lambda i, c, r: False),
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
