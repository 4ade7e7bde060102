"""Reads a dump back into bytes, and works out which bytes a run of ruvo
was asked to show: for the docs tests, which check every example's dump
byte for byte.

A dump's labels give the offsets and each cell's colours, mapped back
through the palette in use, give the bytes: cell i of a line labelled a
shows byte a + i above and byte a + width + i below.
"""
import getopt
import importlib.util
import os
import re
import sys

CELL = re.compile(r"\033\[38;2;(\d+);(\d+);(\d+)m\033\[48;2;(\d+);(\d+);(\d+)m\u2580"
                  r"|\033\[0m\033\[38;2;(\d+);(\d+);(\d+)m\u2580")
LINE = re.compile(r"^ *([0-9a-f]{4,}) ((?:\033\[[0-9;]*m|\u2580)*)\033\[m$")
HEADER = re.compile(r"^====> \033\[1m(.*)\033\[m <====$")


def default_palette(source):
    """The built-in table, as 0xRRGGBB values: read from the source by the
    one reader of it, palettes/generate.py's."""
    found = importlib.util.spec_from_file_location(
        "generate", os.path.join(source, "palettes", "generate.py"))
    generate = importlib.util.module_from_spec(found)
    # No __pycache__ in palettes/: every file there is taken for a palette.
    writes, sys.dont_write_bytecode = sys.dont_write_bytecode, True
    try:
        found.loader.exec_module(generate)
    finally:
        sys.dont_write_bytecode = writes
    return [(r << 16) | (g << 8) | b for r, g, b in generate.default()]


def palette_of(colours, source):
    """The palette RUVO_COLORS names (None: unset), as plain six-digit tokens."""
    if colours is None:
        return default_palette(source)
    tokens = re.split(r"[ \v\r\n]+", colours.strip(" \v\r\n"))
    return [int(t, 16) for t in tokens[:256]]


def rgb(v):
    return ((v >> 16) & 0xFF, (v >> 8) & 0xFF, v & 0xFF)


def read_dump(text, width):
    """[(name or None, {offset: (r, g, b)})], one per input; raises
    ValueError on anything that is not a dump."""
    inputs, shown = [], None
    for line in text.split("\n"):
        m = HEADER.match(line)
        if m:
            shown = {}
            inputs.append((m.group(1), shown))
            continue
        if line == "" and (shown is None or inputs):
            continue
        m = LINE.match(line)
        if not m:
            raise ValueError(f"not a line of a dump: {line[:80]!r}")
        if shown is None:
            shown = {}
            inputs.append((None, shown))
        label = int(m.group(1), 16)
        cells = CELL.findall(m.group(2))
        if "".join(c[0] for c in CELL.finditer(m.group(2))) != m.group(2):
            raise ValueError(f"a line holds more than cells: {line[:80]!r}")
        for i, c in enumerate(cells):
            if c[0]:
                places = [(label + i, c[0:3]), (label + width + i, c[3:6])]
            else:
                places = [(label + i, c[6:9])]
            for at, colour in places:
                if at in shown:
                    raise ValueError(f"offset {at:#x} is shown twice")
                shown[at] = tuple(int(x) for x in colour)
    return inputs


def strtoimax0(s):
    """strtoimax in base 0 for a text that begins with a digit: the value
    and what is left; saturates at the largest 64-bit value."""
    m = re.match(r"0[xX]([0-9a-fA-F]+)|0([0-7]*)|([1-9][0-9]*)", s)
    if m.group(1):
        v = int(m.group(1), 16)
    elif m.group(3):
        v = int(m.group(3))
    else:
        v = int(m.group(2) or "0", 8)
    return min(v, 2**63 - 1), s[m.end():]


def parse_range(text):
    """(start, end) with end None for the end of the input."""
    d = min([i for i in (text.find("+"), text.find("-")) if i >= 0])
    start, rest = strtoimax0(text[:d]) if d else (0, "")
    assert rest == "", text
    second, rest = strtoimax0(text[d + 1:]) if text[d + 1:] else (None, "")
    assert rest == "", text
    if text[d] == "+":
        return start, start + second
    return start, second


def asked_for(args, stdin, colours, cwd, source):
    """What a run of ruvo with these arguments should show: the width,
    the palette and, per input, (name or None, {offset: byte})."""
    opts, operands = getopt.getopt(args, "g:pr:w:")
    width, start, end = 64, 0, None
    for o, a in opts:
        if o == "-w":
            width = int(re.match(r"\s*([+-]?\d+)", a).group(1))
        elif o == "-r":
            start, end = parse_range(a)
    inputs = []
    for name in operands or [None]:
        data = stdin if name is None else open(os.path.join(cwd, name), "rb").read()
        stop = len(data) if end is None else min(end, len(data))
        inputs.append((name if len(operands) > 1 else None,
                       {at: data[at] for at in range(start, stop)}))
    return width, palette_of(colours, source), inputs


def compare(text, width, palette, inputs):
    """None when the dump shows exactly these bytes, else what differs."""
    try:
        got = read_dump(text, width)
    except ValueError as e:
        return str(e)
    if len(got) != len(inputs):
        return f"the dump shows {len(got)} inputs, not {len(inputs)}"
    for (name, shown), (want_name, want) in zip(got, inputs):
        if name != want_name:
            return f"the header names {name!r}, not {want_name!r}"
        if set(shown) != set(want):
            missing = sorted(set(want) - set(shown))[:3]
            extra = sorted(set(shown) - set(want))[:3]
            return (f"{want_name or 'the input'}: {len(shown)} bytes shown, {len(want)} asked for"
                    f" (not shown: {[hex(x) for x in missing]}, shown besides:"
                    f" {[hex(x) for x in extra]})")
        for at in sorted(want):
            if shown[at] != rgb(palette[want[at]]):
                could = [b for b in range(256) if rgb(palette[b]) == shown[at]]
                return (f"{want_name or 'the input'}: offset {at:#x} shows the colour of "
                        f"byte(s) {[hex(b) for b in could]}, but holds {want[at]:#04x}")
    return None
