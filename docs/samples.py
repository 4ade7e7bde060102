#!/usr/bin/env python3
"""Makes the inputs of the README's pictures, the same bytes every time and
on every machine, whatever the docs hold at the time:

    all-bytes       the byte values 0x00 to 0xFF
    text            4 KiB of English-like text from the licence's words
    text.gz         that text, gzipped
    palettes.tar    two of the palettes, as a ustar archive
    cities.sqlite   a small SQLite database with 1 KiB pages

    docs/samples.py SOURCE_DIR OUT_DIR
"""
import gzip
import io
import os
import random
import re
import sqlite3
import struct
import sys
import tarfile

source, out = sys.argv[1], sys.argv[2]
os.makedirs(out, exist_ok=True)


def write(name, data):
    with open(os.path.join(out, name), "wb") as f:
        f.write(data)


write("all-bytes", bytes(range(256)))

# Lines of up to 72 columns, sentences of licence words.
words = re.findall(r"[a-z]+", open(os.path.join(source, "LICENSE")).read().lower())
rng = random.Random(20261210)
lines, line, size = [], "", 0
while size < 4096:
    sentence = " ".join(words[rng.randrange(len(words))] for _ in range(rng.randrange(6, 16)))
    for w in (sentence[0].upper() + sentence[1:] + ".").split():
        if len(line) + 1 + len(w) > 72:
            lines.append(line)
            size += len(line) + 1
            line = w
        else:
            line = f"{line} {w}" if line else w
text = ("\n".join(lines) + "\n").encode()
write("text", text)
write("text.gz", gzip.compress(text, compresslevel=9, mtime=0))

archive = io.BytesIO()
with tarfile.open(fileobj=archive, mode="w", format=tarfile.USTAR_FORMAT) as tar:
    for name in ("gray", "viridis"):
        data = open(os.path.join(source, "palettes", name), "rb").read()
        info = tarfile.TarInfo(name)
        info.size, info.mtime, info.mode = len(data), 0, 0o644
        info.uid = info.gid = 0
        info.uname = info.gname = "root"
        tar.addfile(info, io.BytesIO(data))
write("palettes.tar", archive.getvalue())

path = os.path.join(out, "cities.sqlite")
if os.path.exists(path):
    os.remove(path)
db = sqlite3.connect(path)
db.execute("PRAGMA page_size = 1024")
db.execute("CREATE TABLE city (id INTEGER PRIMARY KEY, name TEXT, population INTEGER)")
names = ["Aberdeen", "Bergen", "Cadiz", "Dresden", "Esbjerg", "Faro", "Gdansk", "Haarlem"]
db.executemany("INSERT INTO city (name, population) VALUES (?, ?)",
               [(f"{names[i % 8]} {i}", 1000 + 37 * i) for i in range(90)])
db.execute("CREATE INDEX by_name ON city (name)")
db.commit()
db.close()
# The header names the SQLite library that wrote the file (bytes 92 to
# 99): made the same for every library, so that the picture is too.
with open(path, "r+b") as f:
    f.seek(92)
    f.write(struct.pack(">II", 1, 3040001))
