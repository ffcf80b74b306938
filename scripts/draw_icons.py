#!/usr/bin/env python3
"""Draws the suite's 16-colour icons and bitmaps from the pixel maps below.

The resources are committed; run this again only after changing a picture:
    python3 scripts/draw_icons.py
Each picture is a list of rows, one character a pixel, keyed to the standard
16-colour palette (PALETTE below); '.' is transparent in icons.
"""
import os
import struct

# The standard VGA palette, in the order Windows' 16-colour bitmaps use it.
PALETTE = [
    (0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0),
    (0, 0, 128), (128, 0, 128), (0, 128, 128), (192, 192, 192),
    (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0),
    (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255),
]
# One character per palette entry: k=black, r=dark red, g=dark green,
# y=olive, n=navy, p=purple, t=teal, s=silver, d=grey, R=red, G=lime,
# Y=yellow, B=blue, M=magenta, C=cyan, w=white.
KEYS = "krgynptsdRGYBMCw"

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..")


def _index(ch):
    return 0 if ch == "." else KEYS.index(ch)


def _dib_4bpp(rows, with_mask):
    """BITMAPINFOHEADER + palette + 4-bit pixels (+ AND mask), bottom-up."""
    h = len(rows)
    w = len(rows[0])
    assert all(len(r) == w for r in rows), "ragged picture"
    stride = ((w * 4 + 31) // 32) * 4
    pixels = b""
    for row in reversed(rows):
        line = bytearray(stride)
        for x, ch in enumerate(row):
            v = _index(ch)
            line[x // 2] |= v << 4 if x % 2 == 0 else v
        pixels += bytes(line)
    mask = b""
    if with_mask:
        mstride = ((w + 31) // 32) * 4
        for row in reversed(rows):
            line = bytearray(mstride)
            for x, ch in enumerate(row):
                if ch == ".":
                    line[x // 8] |= 0x80 >> (x % 8)
            mask += bytes(line)
    height = h * 2 if with_mask else h
    header = struct.pack("<IiiHHIIiiII", 40, w, height, 1, 4, 0, len(pixels) + len(mask), 0, 0, 16, 0)
    palette = b"".join(struct.pack("<BBBB", b, g, r, 0) for (r, g, b) in PALETTE)
    return header + palette + pixels + mask


def write_icon(path, *pictures):
    """An .ico file with one 16-colour image per picture (e.g. 32x32 and 16x16)."""
    images = [_dib_4bpp(rows, True) for rows in pictures]
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for rows, img in zip(pictures, images):
        w, h = len(rows[0]), len(rows)
        out += struct.pack("<BBBBHHII", w % 256, h % 256, 16, 0, 1, 4, len(img), offset)
        offset += len(img)
    with open(os.path.join(ROOT, path), "wb") as f:
        f.write(out + b"".join(images))


def write_bitmap(path, rows):
    """A 16-colour .bmp file."""
    dib = _dib_4bpp(rows, False)
    head = struct.pack("<2sIHHI", b"BM", 14 + len(dib), 0, 0, 14 + 40 + 64)
    with open(os.path.join(ROOT, path), "wb") as f:
        f.write(head + dib)


# Vorira: a page of text with a speaking mouth and sound waves.
READ = [
    "................................",
    "..kkkkkkkkkkkkkkkkkkk...........",
    "..kwwwwwwwwwwwwwwwwwkk..........",
    "..kwwwwwwwwwwwwwwwwwkwk.........",
    "..kwwwwwwwwwwwwwwwwwkwwk........",
    "..kwnnnnnnnnnnnwwwwwkkkkk.......",
    "..kwwwwwwwwwwwwwwwwwwwwwk.......",
    "..kwnnnnnnnnnnnnnnnnnwwwk.......",
    "..kwwwwwwwwwwwwwwwwwwwwwk.......",
    "..kwnnnnnnnnnnnnnnwwwwwwk.......",
    "..kwwwwwwwwwwwwwwwwwwwwwk.......",
    "..kwnnnnnnnnnnnnnnnnnwwwk.......",
    "..kwwwwwwwwwwwwwwwwwwwwwk.......",
    "..kwnnnnnnnnnnnwwwwwwwwwk.......",
    "..kwwwwwwwwwwwwwwwwwwwwwk.......",
    "..kwnnnnnnnnnnnnnnnnnwwwk...R...",
    "..kwwwwwwwwwwwwwwwwwwwwwk....R..",
    "..kwnnnnnnnnnnnnnwwwwwwwk..R..R.",
    "..kwwwwwwwwwwwwwwwwwkkkkkk..R.R.",
    "..kwnnnnnnnnnnnnwwwkYYYYYYk.R.R.",
    "..kwwwwwwwwwwwwwwwkYYYYYYYYk..R.",
    "..kwnnnnnnnnnnwwwwkYYkYYYYYYk.R.",
    "..kwwwwwwwwwwwwwwwkYYYYYYYYYYk..",
    "..kwwwwwwwwwwwwwwwkYYYYYYkkkkk..",
    "..kwwwwwwwwwwwwwwwkYYYYYkRRRRk..",
    "..kwwwwwwwwwwwwwwwkYYYYYkRRRk.R.",
    "..kwwwwwwwwwwwwwwwkYYYYYYkkkk.R.",
    "..kkkkkkkkkkkkkkkkkYYYYYYYYk..R.",
    "..................kYYYYYYYk..R..",
    "...................kYYYYYk..R...",
    "....................kkkkk.......",
    "................................",
]


# Dalnoka: a yellow head in profile with an open red mouth. The bitmap puts it
# on a light blue ground and lets the letters A, B and C rise from the mouth;
# the icon shows the head alone.
HEAD_FACE = [
    ".................",
    "....kkkkkkk......",
    "..kkYYYYYYYkk....",
    ".kYYYYYYYYYYYk...",
    ".kYYYYYYYYYYYYk..",
    "kYYYYYYYYYYYYYk..",
    "kYYYYYYYYYkkYYYk.",
    "kYYYYYYYYYkwkYYk.",
    "kYYYYYYYYYYkkYYk.",
    "kYYYYYYYYYYYYYYYk",
    "kYYYYYYYYYYYYYYYk",
    "kYYYYYYYYYYYYYYYk",
    "kYYYYYYYYYYYYYkk.",
    "kYYYYYYYYYYYYYk..",
    "kYYYYYYYYYYYYkkkk",
    "kYYYYYYYYYYYkRRRR",
    "kYYYYYYYYYYkRRRRR",
    "kYYYYYYYYYYYkRRRR",
    "kYYYYYYYYYYYYkkkk",
    ".kYYYYYYYYYYYYk..",
    ".kYYYYYYYYYYYk...",
    "..kYYYYYYYkkk....",
    "...kkYYYYk.......",
    "....kYYYYk.......",
    "....kYYYYk.......",
    "....kYYYYk.......",
    "....kkkkkk.......",
]

HEAD_LETTERS = {
    "A": [".k.", "k.k", "kkk", "k.k", "k.k"],
    "B": ["kk.", "k.k", "kk.", "k.k", "kk."],
    "C": [".kk", "k..", "k..", "k..", ".kk"],
}


def _head_bitmap():
    rows = [list(r.replace(".", "C") + "C" * 13) for r in HEAD_FACE]
    for letter, (x0, y0) in (("A", (18, 15)), ("B", (22, 12)), ("C", (26, 9))):
        for dy, line in enumerate(HEAD_LETTERS[letter]):
            for dx, ch in enumerate(line):
                if ch != ".":
                    rows[y0 + dy][x0 + dx] = ch
    return ["".join(r) for r in rows]


def _head_icon():
    pad = "." * 7
    rows = ["." * 32] * 2 + [pad + r + "." * 8 for r in HEAD_FACE] + ["." * 32] * 3
    return rows


# Lexibar: a dictionary, a navy book with an A-Z label, and the sound of a
# word leaving it.
DICTIONARY = [
    "................................",
    "................................",
    "................................",
    "................................",
    "....kkkkkkkkkkkkkkkkkkk.........",
    "....kBBnnnnnnnnnnnnnnnkk........",
    "....kBBnnnnnnnnnnnnnnnkwk....R..",
    "....kBBnYYYYYYYYYYYYYnkwsk....R.",
    "....kBBnYwwwwwwwwwwwYnkwwkR....R",
    "....kBBnYwwkwwwwkkkwYnkwsk.R...R",
    "....kBBnYwkwkwwwwwkwYnkwwk.R...R",
    "....kBBnYwkkkwkkkkwwYnkwsk.R...R",
    "....kBBnYwkwkwwwkkkwYnkwwkR....R",
    "....kBBnYwwwwwwwwwwwYnkwsk....R.",
    "....kBBnYYYYYYYYYYYYYnkwwk...R..",
    "....kBBnnnnnnnnnnnnnnnkwsk......",
    "....kBBnnnnnnnnnnnnnnnkwwk......",
    "....kBBnnCCCCCCCCCCCnnkwsk......",
    "....kBBnnnnnnnnnnnnnnnkwwk......",
    "....kBBnnCCCCCCCCnnnnnkwsk......",
    "....kBBnnnnnnnnnnnnnnnkwwk......",
    "....kBBnnCCCCCCCCCCnnnkwsk......",
    "....kBBnnnnnnnnnnnnnnnkwwk......",
    "....kBBnnnnnnnnnnnnnnnkwsk......",
    "....kBBnnnnnnnnnnnnnnnkwwk......",
    "....kBBnnnnnnnnnnnnnnnkwsk......",
    "....kBBnnnnnnnnnnnnnnnkwwk......",
    "....kBBnnnnnnnnnnnnnnnkwsk......",
    "....kkkkkkkkkkkkkkkkkkkwwk......",
    ".....kwwwwwwwwwwwwwwwwwwsk......",
    "......kkkkkkkkkkkkkkkkkkkk......",
    "................................",
]

DICTIONARY_SMALL = [
    "................",
    "..kkkkkkkkkk....",
    "..kBnnnnnnnkk...",
    "..kBnYYYYYnkwk.R",
    "..kBnYwkwYnkwkR.",
    "..kBnYkkkYnkwk.R",
    "..kBnYYYYYnkwkR.",
    "..kBnnnnnnnkwk.R",
    "..kBnCCCCCnkwk..",
    "..kBnnnnnnnkwk..",
    "..kBnCCCCnnkwk..",
    "..kBnnnnnnnkwk..",
    "..kkkkkkkkkkwk..",
    "...kwwwwwwwwsk..",
    "....kkkkkkkkkk..",
    "................",
]


if __name__ == "__main__":
    write_icon("olvaso/read.ico", READ)
    write_bitmap("dalnoka/head.bmp", _head_bitmap())
    write_icon("dalnoka/head.ico", _head_icon())
    write_icon("lexibar/lexibar.ico", DICTIONARY, DICTIONARY_SMALL)
