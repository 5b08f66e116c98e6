#!/usr/bin/env python3
"""Draws the program's icons and banner and writes them as ICO and BMP files.

Usage: app_art.py OUTPUT_FOLDER
Writes app_large.ico (32 x 32), app_small.ico (16 x 16) and banner.bmp (342 x 72, the
banner control's size at the dialog's font). Only the standard library is used, so the
pictures are the same on every machine that builds the program.
"""
import math
import os
import struct
import sys

# A 5 x 7 pixel font with the letters the banner needs.
FONT = {
    "P": ["11110", "10001", "10001", "11110", "10000", "10000", "10000"],
    "E": ["11111", "10000", "10000", "11110", "10000", "10000", "11111"],
    "M": ["10001", "11011", "10101", "10101", "10001", "10001", "10001"],
    "L": ["10000", "10000", "10000", "10000", "10000", "10000", "11111"],
    "O": ["01110", "10001", "10001", "10001", "10001", "10001", "01110"],
    "R": ["11110", "10001", "10001", "11110", "10100", "10010", "10001"],
    "C": ["01110", "10001", "10000", "10000", "10000", "10001", "01110"],
    "D": ["11110", "10001", "10001", "10001", "10001", "10001", "11110"],
    "S": ["01111", "10000", "10000", "01110", "00001", "00001", "11110"],
    "N": ["10001", "11001", "10101", "10011", "10001", "10001", "10001"],
    "T": ["11111", "00100", "00100", "00100", "00100", "00100", "00100"],
    "F": ["11111", "10000", "10000", "11110", "10000", "10000", "10000"],
    "V": ["10001", "10001", "10001", "10001", "10001", "01010", "00100"],
    "A": ["01110", "10001", "10001", "11111", "10001", "10001", "10001"],
    "I": ["11111", "00100", "00100", "00100", "00100", "00100", "11111"],
    "G": ["01110", "10001", "10000", "10111", "10001", "10001", "01111"],
    "W": ["10001", "10001", "10001", "10101", "10101", "11011", "10001"],
    "H": ["10001", "10001", "10001", "11111", "10001", "10001", "10001"],
    "U": ["10001", "10001", "10001", "10001", "10001", "10001", "01110"],
    "K": ["10001", "10010", "10100", "11000", "10100", "10010", "10001"],
    "Y": ["10001", "10001", "01010", "00100", "00100", "00100", "00100"],
    " ": ["00000"] * 7,
}


class Canvas:
    """RGBA pixels, top row first."""

    def __init__(self, width, height, colour=(0, 0, 0, 0)):
        self.width = width
        self.height = height
        self.px = [[colour for _ in range(width)] for _ in range(height)]

    def blend(self, x, y, colour, cover=1.0):
        if not (0 <= x < self.width and 0 <= y < self.height) or cover <= 0:
            return
        r, g, b, a = colour
        a = a / 255.0 * min(cover, 1.0)
        br, bg, bb, ba = self.px[y][x]
        ba /= 255.0
        out_a = a + ba * (1 - a)
        if out_a == 0:
            self.px[y][x] = (0, 0, 0, 0)
            return
        def mix(c, d):
            return int(round((c * a + d * ba * (1 - a)) / out_a))

        self.px[y][x] = (mix(r, br), mix(g, bg), mix(b, bb), int(round(out_a * 255)))

    def disc(self, cx, cy, radius, colour):
        """A disc with a soft edge (4 x 4 samples per pixel)."""
        for y in range(int(cy - radius) - 1, int(cy + radius) + 2):
            for x in range(int(cx - radius) - 1, int(cx + radius) + 2):
                inside = 0
                for sy in range(4):
                    for sx in range(4):
                        dx = x + (sx + 0.5) / 4 - cx
                        dy = y + (sy + 0.5) / 4 - cy
                        inside += dx * dx + dy * dy <= radius * radius
                self.blend(x, y, colour, inside / 16.0)

    def rounded_rect(self, x0, y0, x1, y1, radius, colour):
        for y in range(y0, y1):
            for x in range(x0, x1):
                cx = min(max(x + 0.5, x0 + radius), x1 - radius)
                cy = min(max(y + 0.5, y0 + radius), y1 - radius)
                d = math.hypot(x + 0.5 - cx, y + 0.5 - cy)
                self.blend(x, y, colour, radius + 0.5 - d)

    def rect(self, x0, y0, x1, y1, colour):
        for y in range(y0, y1):
            for x in range(x0, x1):
                self.blend(x, y, colour)

    def text(self, x, y, string, scale, colour, spacing=1):
        for ch in string:
            rows = FONT[ch]
            for ry, row in enumerate(rows):
                for rx, bit in enumerate(row):
                    if bit == "1":
                        self.rect(x + rx * scale, y + ry * scale, x + (rx + 1) * scale,
                                  y + (ry + 1) * scale, colour)
            x += (5 + spacing) * scale
        return x


def draw_icon(size):
    """A monitor with a red recording light."""
    c = Canvas(size, size)
    s = size / 32.0
    c.rounded_rect(int(1 * s), int(3 * s), int(31 * s), int(25 * s), 3 * s, (40, 48, 64, 255))
    c.rect(int(3 * s), int(5 * s), int(29 * s), int(23 * s), (70, 130, 200, 255))
    c.rect(int(13 * s), int(25 * s), int(19 * s), int(28 * s), (40, 48, 64, 255))
    c.rounded_rect(int(8 * s), int(28 * s), int(24 * s), int(31 * s), 1.5 * s, (40, 48, 64, 255))
    c.disc(16 * s, 14 * s, 6.5 * s, (255, 255, 255, 255))
    c.disc(16 * s, 14 * s, 5 * s, (220, 30, 40, 255))
    return c


def draw_banner(width, height):
    c = Canvas(width, height, (0, 0, 0, 255))
    for y in range(height):
        for x in range(width):
            t = x / (width - 1)
            u = y / (height - 1)
            c.px[y][x] = (int(18 + 30 * t), int(40 + 50 * t + 20 * u), int(90 + 90 * t), 255)
    # Film strip along the bottom.
    c.rect(0, height - 12, width, height - 2, (20, 22, 28, 255))
    for x in range(4, width, 14):
        c.rect(x, height - 10, x + 7, height - 4, (230, 230, 235, 255))
    # The recording light.
    c.disc(32, 29, 18, (255, 255, 255, 255))
    c.disc(32, 29, 14, (220, 30, 40, 255))
    c.disc(27, 24, 4, (255, 140, 140, 160))
    # Name and line.
    end = c.text(62, 9, "PEMLO RECORDER", 3, (255, 255, 255, 255))
    c.text(63, 36, "SCREEN TO FLASH VIDEO", 2, (200, 220, 255, 255))
    c.rect(62, 32, end - 3, 33, (255, 255, 255, 120))
    return c


def bmp_bytes(canvas):
    """A 24-bit bottom-up BMP file."""
    row = (canvas.width * 3 + 3) & ~3
    pixels = bytearray()
    for y in range(canvas.height - 1, -1, -1):
        line = bytearray()
        for r, g, b, _ in canvas.px[y]:
            line += bytes((b, g, r))
        pixels += line + b"\0" * (row - len(line))
    header = struct.pack("<2sIHHI", b"BM", 54 + len(pixels), 0, 0, 54)
    info = struct.pack("<IiiHHIIiiII", 40, canvas.width, canvas.height, 1, 24, 0, len(pixels),
                       2835, 2835, 0, 0)
    return header + info + bytes(pixels)


def ico_bytes(canvas):
    """A one-image ICO with 32-bit colour and an AND mask."""
    w, h = canvas.width, canvas.height
    xor = bytearray()
    for y in range(h - 1, -1, -1):
        for r, g, b, a in canvas.px[y]:
            xor += bytes((b, g, r, a))
    mask_row = ((w + 31) // 32) * 4
    mask = bytearray()
    for y in range(h - 1, -1, -1):
        bits = bytearray(mask_row)
        for x, (_, _, _, a) in enumerate(canvas.px[y]):
            if a < 128:
                bits[x // 8] |= 0x80 >> (x % 8)
        mask += bits
    info = struct.pack("<IiiHHIIiiII", 40, w, h * 2, 1, 32, 0, len(xor) + len(mask), 0, 0, 0, 0)
    image = info + bytes(xor) + bytes(mask)
    directory = struct.pack("<HHH", 0, 1, 1)
    entry = struct.pack("<BBBBHHII", w % 256, h % 256, 0, 0, 1, 32, len(image), 6 + 16)
    return directory + entry + image


def main():
    if len(sys.argv) != 2:
        sys.exit("usage: app_art.py OUTPUT_FOLDER")
    out = sys.argv[1]
    os.makedirs(out, exist_ok=True)
    files = {
        "app_large.ico": ico_bytes(draw_icon(32)),
        "app_small.ico": ico_bytes(draw_icon(16)),
        "banner.bmp": bmp_bytes(draw_banner(342, 72)),
    }
    for name, data in files.items():
        with open(os.path.join(out, name), "wb") as f:
            f.write(data)


if __name__ == "__main__":
    main()
