#!/usr/bin/env python3
"""Turns ruvo's output into a PNG, as a true-colour terminal would show it.

    ruvo FILE | python3 docs/picture.py [--cell WxH] OUT.png
    ruvo -w 16 ALL_256_BYTES | python3 docs/picture.py --legend OUT.png

--cell sets the size of a character cell in pixels (default 12x24);
--light draws a terminal with a light background instead of a dark one.
--legend takes the dump of the byte values 0x00 to 0xFF at width 16 and
draws the palette as a 16 x 16 table of swatches, rows labelled with the
high hex digit and columns with the low one.

It understands what ruvo writes: UTF-8 text, the upper half block, and SGR
sequences (reset, 38;2 and 48;2 direct colours, 1 for bold, 39/49).  Text
is drawn with a small built-in font; only the standard library is needed.
"""
import re
import struct
import sys
import zlib

CELL_W, CELL_H = 12, 24
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


class Canvas:
    def __init__(self, width, height):
        self.width, self.height = width, height
        self.pixels = [bytearray(DEFAULT_BG * width) for _ in range(height)]

    def fill(self, x0, y0, w, h, colour):
        for y in range(y0, y0 + h):
            self.pixels[y][x0 * 3:(x0 + w) * 3] = bytes(colour) * w

    def text(self, x, y, ch, colour, scale):
        """Draws one glyph with its top left corner at x, y."""
        for gy, bits in enumerate(FONT.get(ch, [])):
            for gx, bit in enumerate(bits):
                if bit == "1":
                    self.fill(x + gx * scale, y + gy * scale, scale, scale, colour)


def render(rows, cell_w, cell_h):
    canvas = Canvas(max(len(r) for r in rows) * cell_w, len(rows) * cell_h)
    fill = canvas.fill
    scale = max(1, min(cell_w // 6, cell_h // 10))  # font pixels per image pixel
    for r, row in enumerate(rows):
        for c, (ch, fg, bg) in enumerate(row):
            x, y = c * cell_w, r * cell_h
            if ch == "\u2580":
                fill(x, y, cell_w, cell_h // 2, fg)
                fill(x, y + cell_h // 2, cell_w, cell_h - cell_h // 2, bg)
                continue
            fill(x, y, cell_w, cell_h, bg)
            canvas.text(x + 1, y + (cell_h - 7 * scale) // 2, ch, fg, scale)
    return canvas


def legend(rows, swatch=24, gap=2):
    """The 16 x 16 palette table from the dump of 0x00-0xFF at width 16:
    line k of the dump holds byte row 2k above and row 2k + 1 below."""
    grid = []
    for row in rows:
        cells = [c for c in row if c[0] == "\u2580"]
        if len(cells) != 16:
            sys.exit("picture.py: --legend wants the 256 byte values dumped with -w 16")
        grid.append([fg for _, fg, _ in cells])
        grid.append([bg for _, _, bg in cells])
    if len(grid) != 16:
        sys.exit("picture.py: --legend wants the 256 byte values dumped with -w 16")
    step = swatch + gap
    margin = 28
    canvas = Canvas(margin + 16 * step, margin + 16 * step)
    for i, digit in enumerate("0123456789abcdef"):
        canvas.text(margin + i * step + (swatch - 10) // 2, 6, digit, DEFAULT_FG, 2)
        canvas.text(8, margin + i * step + (swatch - 14) // 2, digit, DEFAULT_FG, 2)
    for high in range(16):
        for low in range(16):
            canvas.fill(margin + low * step, margin + high * step, swatch, swatch,
                        grid[high][low])
    return canvas


def png(canvas):
    width, height, pixels = canvas.width, canvas.height, canvas.pixels
    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body))

    raw = b"".join(b"\x00" + bytes(row) for row in pixels)
    return (b"\x89PNG\r\n\x1a\n"
            + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0))
            + chunk(b"IDAT", zlib.compress(raw, 9))
            + chunk(b"IEND", b""))


def main():
    global DEFAULT_FG, DEFAULT_BG
    args = sys.argv[1:]
    cell = (CELL_W, CELL_H)
    as_legend = False
    while len(args) > 1:
        if args[0] == "--legend":
            as_legend = True
            args = args[1:]
        elif args[0] == "--light":
            DEFAULT_FG, DEFAULT_BG = (48, 48, 48), (250, 250, 250)
            args = args[1:]
        elif args[0] == "--cell" and len(args) > 2:
            cell = tuple(int(v) for v in args[1].split("x"))
            args = args[2:]
        else:
            break
    if len(args) != 1:
        sys.exit("usage: ruvo FILE | picture.py [--cell WxH] [--light] [--legend] OUT.png")
    rows = parse(sys.stdin.buffer.read().decode("utf-8"))
    if not rows:
        sys.exit("picture.py: no output to draw")
    canvas = legend(rows) if as_legend else render(rows, *cell)
    with open(args[0], "wb") as f:
        f.write(png(canvas))


if __name__ == "__main__":
    main()
