#!/usr/bin/env python3
"""Turns ruvo's output into a PNG, as a true-colour terminal would show it.

    ruvo FILE | python3 docs/picture.py OUT.png

It understands what ruvo writes: UTF-8 text, the upper half block, and SGR
sequences (reset, 38;2 and 48;2 direct colours, 1 for bold, 39/49).  Text
is drawn with a small built-in font; only the standard library is needed.
"""
import re
import struct
import sys
import zlib

CELL_W, CELL_H = 12, 24
SCALE = 2  # font pixels per image pixel
DEFAULT_FG = (208, 208, 208)
DEFAULT_BG = (24, 24, 24)

# 5x7 glyphs, one string of five characters per row.
FONT = {
    "0": ["01110", "10001", "10011", "10101", "11001", "10001", "01110"],
    "1": ["00100", "01100", "00100", "00100", "00100", "00100", "01110"],
    "2": ["01110", "10001", "00001", "00010", "00100", "01000", "11111"],
    "3": ["11110", "00001", "00001", "01110", "00001", "00001", "11110"],
    "4": ["00010", "00110", "01010", "10010", "11111", "00010", "00010"],
    "5": ["11111", "10000", "11110", "00001", "00001", "10001", "01110"],
    "6": ["00110", "01000", "10000", "11110", "10001", "10001", "01110"],
    "7": ["11111", "00001", "00010", "00100", "01000", "01000", "01000"],
    "8": ["01110", "10001", "10001", "01110", "10001", "10001", "01110"],
    "9": ["01110", "10001", "10001", "01111", "00001", "00010", "01100"],
    "a": ["00000", "00000", "01110", "00001", "01111", "10001", "01111"],
    "b": ["10000", "10000", "10110", "11001", "10001", "10001", "11110"],
    "c": ["00000", "00000", "01110", "10000", "10000", "10001", "01110"],
    "d": ["00001", "00001", "01101", "10011", "10001", "10001", "01111"],
    "e": ["00000", "00000", "01110", "10001", "11111", "10000", "01110"],
    "f": ["00110", "01001", "01000", "11100", "01000", "01000", "01000"],
}

SGR = re.compile(r"\x1b\[([0-9;:]*)m")


def parse(text):
    """Yields rows of cells (char, fg, bg)."""
    rows = []
    for line in text.split("\n"):
        fg, bg = DEFAULT_FG, DEFAULT_BG
        row = []
        pos = 0
        while pos < len(line):
            m = SGR.match(line, pos)
            if m:
                params = [int(p) if p else 0 for p in re.split("[;:]", m.group(1))]
                i = 0
                while i < len(params):
                    p = params[i]
                    if p == 0:
                        fg, bg = DEFAULT_FG, DEFAULT_BG
                    elif p in (38, 48) and i + 4 < len(params) and params[i + 1] == 2:
                        colour = tuple(params[i + 2:i + 5])
                        if p == 38:
                            fg = colour
                        else:
                            bg = colour
                        i += 4
                    elif p == 39:
                        fg = DEFAULT_FG
                    elif p == 49:
                        bg = DEFAULT_BG
                    i += 1
                pos = m.end()
                continue
            row.append((line[pos], fg, bg))
            pos += 1
        rows.append(row)
    while rows and not rows[-1]:
        rows.pop()
    return rows


def render(rows):
    width = max(len(r) for r in rows) * CELL_W
    height = len(rows) * CELL_H
    pixels = [bytearray(DEFAULT_BG * width) for _ in range(height)]

    def fill(x0, y0, w, h, colour):
        for y in range(y0, y0 + h):
            pixels[y][x0 * 3:(x0 + w) * 3] = bytes(colour) * w

    for r, row in enumerate(rows):
        for c, (ch, fg, bg) in enumerate(row):
            x, y = c * CELL_W, r * CELL_H
            if ch == "\u2580":
                fill(x, y, CELL_W, CELL_H // 2, fg)
                fill(x, y + CELL_H // 2, CELL_W, CELL_H - CELL_H // 2, bg)
                continue
            fill(x, y, CELL_W, CELL_H, bg)
            glyph = FONT.get(ch)
            if glyph is None:
                continue
            top = y + (CELL_H - 7 * SCALE) // 2
            for gy, bits in enumerate(glyph):
                for gx, bit in enumerate(bits):
                    if bit == "1":
                        fill(x + 1 + gx * SCALE, top + gy * SCALE, SCALE, SCALE, fg)
    return width, height, pixels


def png(width, height, pixels):
    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body))

    raw = b"".join(b"\x00" + bytes(row) for row in pixels)
    return (b"\x89PNG\r\n\x1a\n"
            + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0))
            + chunk(b"IDAT", zlib.compress(raw, 9))
            + chunk(b"IEND", b""))


def main():
    if len(sys.argv) != 2:
        sys.exit("usage: ruvo FILE | picture.py OUT.png")
    rows = parse(sys.stdin.buffer.read().decode("utf-8"))
    if not rows:
        sys.exit("picture.py: no output to draw")
    with open(sys.argv[1], "wb") as f:
        f.write(png(*render(rows)))


if __name__ == "__main__":
    main()
