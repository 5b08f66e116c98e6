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


def frame_blocks(i, width, height, with_cursor, changes):
    """The cursor block (or None) and frame block of frame i, as the recorder writes them."""
    cursor = None
    if with_cursor:
        cursor = zlib.compress(bytes((k * 5 + i) & 0xFF for k in range(3072)), 1)
    listed, pixels = b"", b""
    for c, r, w, h in tiles_of(width, height):
        if i == 0 or changes(i, c, r):
            listed += struct.pack("<HH", c, r)
            pixels += bytes(((k * 7 + i * 13 + c * 3 + r) >> 2) & 0xFF for k in range(w * h * 3))
    raw = listed + pixels
    return cursor, (zlib.compress(raw, 1) if listed else b""), len(raw), len(listed) // 4


def description(left, top, width, height, out_w, out_h, fps, sound):
    return ("output=C:\\Users\\Ann\\take.flv\noutputId=1a2b3c4d-00000000000004d2\n"
            "started=2026-12-08 02:00:00\ncapture=%d,%d,%d,%d\nscreen=1024,768\n"
            "size=%d,%d\nfps=%d\nsound=%d\n"
            % (left, top, width, height, out_w, out_h, fps, sound)).encode()


def recovery_seed(frames, area, out_size, fps, buffers, changes, cut_index=0):
    """A recording left behind: its frame index and spool, and with `buffers` > 0 its
    sound notes and spool (one note per buffer of 5,120 samples)."""
    left, top, width, height = area
    text = description(left, top, width, height, out_size[0], out_size[1], fps, 1 if buffers else 0)
    header = b"PEMLOIX1" + struct.pack("<iiiiI", left, top, width, height, len(text)) + text
    index = header + struct.pack("<I", zlib.crc32(header))
    spool = b""
    period = 1000 // fps
    for i in range(frames):
        cursor, frame, raw, count = frame_blocks(i, width, height, i % 2 == 0, changes)
        fields = struct.pack("<iiiIIHHI", raw, len(frame), len(cursor) if cursor else -1, count,
                             5000 + i * period, left + 3 * i, top + 2 * i, i)
        blocks = (cursor or b"") + frame
        index += fields + struct.pack("<I", zlib.crc32(blocks, zlib.crc32(fields)))
        spool += blocks
    if cut_index:
        index = index[:-cut_index]
    notes, sound = b"", b""
    if buffers:
        notes = b"PEMLOSN1"
        for b in range(buffers):
            added = bytes((k * 3 + b * 11) & 0xFF for k in range(10240))
            sound += added
            note = struct.pack("<IIQI", 5000 + (b + 1) * 232, 1, len(sound) // 2, zlib.crc32(added))
            notes += note + struct.pack("<I", zlib.crc32(note))
    return (bytes([0]) + struct.pack("<HHH", len(index), len(notes), len(sound)) + index + notes +
            sound + spool)


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
    recovered = os.path.join(HERE, "corpus", "recovered_recording")
    os.makedirs(recovered, exist_ok=True)
    recoveries = {
        "sound_and_cursor": recovery_seed(6, (8, 4, 40, 24), (20, 12), 10, 3,
                                          lambda i, c, r: (c + i) % 2 == 0),
        "no_sound_some_tiles": recovery_seed(4, (3, 1, 70, 40), (70, 40), 5, 0,
                                             lambda i, c, r: (c + r + i) % 3 == 0),
        "torn_last_record": recovery_seed(3, (0, 0, 16, 12), (16, 12), 2, 1,
                                          lambda i, c, r: True, cut_index=5),
    }
    for name, data in recoveries.items():
        with open(os.path.join(recovered, name), "wb") as f:
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
