#!/usr/bin/env python3
"""Writes the shipped palettes: 256 colours each, one RRGGBB per line.

    python3 palettes/generate.py [DIR]      (default: the folder of this file)
"""
import colorsys
import os
import re
import sys


def gray():
    """The byte value as its gray level."""
    return [(v, v, v) for v in range(256)]


def byte_class(v):
    if v == 0x00:
        return "zero"
    if v == 0xFF:
        return "ff"
    if v in (0x09, 0x0A, 0x0B, 0x0C, 0x0D, 0x20):
        return "space"
    if v < 0x20 or v == 0x7F:
        return "control"
    if v < 0x7F:
        return "printable"
    return "high"


# Hue (0-1) and saturation of each class; lightness follows the byte value
# within its class, dark to light.
CLASS_HUES = {
    "printable": (0.58, 0.75),  # blue
    "space": (0.33, 0.70),      # green
    "control": (0.00, 0.80),    # red
    "high": (0.11, 0.90),       # amber
}


def classes():
    """0x00 black, 0xFF white, and one hue family per kind of byte."""
    members = {}
    for v in range(256):
        members.setdefault(byte_class(v), []).append(v)
    out = []
    for v in range(256):
        cls = byte_class(v)
        if cls == "zero":
            out.append((0, 0, 0))
            continue
        if cls == "ff":
            out.append((255, 255, 255))
            continue
        hue, sat = CLASS_HUES[cls]
        group = members[cls]
        rank = group.index(v) / max(1, len(group) - 1)
        r, g, b = colorsys.hls_to_rgb(hue, 0.22 + 0.58 * rank, sat)
        out.append((round(r * 255), round(g * 255), round(b * 255)))
    return out


# A polynomial fit of a perceptually uniform ramp from dark purple through
# blue and green to yellow, whose lightness rises steadily, so that
# neighbouring values stay apart under the common forms of colour
# blindness (and in gray).
VIRIDIS = [
    (0.2777273272234177, 0.005407344544966578, 0.3340998053353061),
    (0.1050930431085774, 1.404613529898575, 1.384590162594685),
    (-0.3308618287255563, 0.214847559468213, 0.09509516302823659),
    (-4.634230498983486, -5.799100973351585, -19.33244095627987),
    (6.228269936347081, 14.17993336680509, 56.69055260068105),
    (4.776384997670288, -13.74514537774601, -65.35303263337234),
    (-5.435455855934631, 4.645852612178535, 26.3124352495832),
]


def viridis():
    out = []
    for v in range(256):
        t = v / 255
        channels = []
        for ch in range(3):
            acc = 0.0
            for coeffs in reversed(VIRIDIS):
                acc = acc * t + coeffs[ch]
            channels.append(min(255, max(0, round(acc * 255))))
        out.append(tuple(channels))
    return out


def default():
    """The default palette, as src/palette.cpp holds it."""
    here = os.path.dirname(os.path.abspath(__file__))
    with open(os.path.join(here, "..", "src", "palette.cpp")) as f:
        source = f.read()
    table = source[source.index("default_palette = {"):]
    table = table[:table.index("};")]
    values = [int(v, 16) for v in re.findall(r"0x([0-9a-fA-F]{6})", table)]
    assert len(values) == 256
    return [(v >> 16, (v >> 8) & 0xFF, v & 0xFF) for v in values]


def on_dark():
    """The default palette for dark terminals: 0x00 is a dark grey that
    stands out from the terminal's own background, which is what cells
    past the end of the input show."""
    out = default()
    out[0x00] = (0x40, 0x40, 0x40)
    return out


def on_light():
    """The default palette for light terminals: 0xFF is a mid grey that
    stands out from a white background."""
    out = default()
    out[0xFF] = (0x8C, 0x8C, 0x8C)
    return out


def main():
    folder = sys.argv[1] if len(sys.argv) > 1 else os.path.dirname(os.path.abspath(__file__))
    for name, make in (("gray", gray), ("classes", classes), ("viridis", viridis),
                       ("on-dark", on_dark), ("on-light", on_light)):
        colours = make()
        assert len(colours) == 256
        with open(os.path.join(folder, name), "w") as f:
            f.writelines("%02x%02x%02x\n" % c for c in colours)


if __name__ == "__main__":
    main()
