#!/usr/bin/env python3
"""Converts Torvane's XPM pictures into Windows resources at build time.

    xpm2win.py OUT.bmp IN.xpm            a palette bitmap; palette entry 0 is the transparent key
    xpm2win.py OUT.ico IN.xpm [IN.xpm…]  an icon with one image per input, transparent by its mask

Palette images stay palette images: 4 bits a pixel up to 16 colours, 8 bits up to 256. A
bitmap's transparent colour is magenta, which draw.py never leaves in a picture; the windows
read it back from palette entry 0. Only Python 3's standard library is used.
"""

import struct
import sys

KEY = (0xFF, 0x00, 0xFF)


def fail(message):
    sys.exit(f"xpm2win: {message}")


def read_xpm(path):
    """Returns (width, height, pixels) with pixels rows of (r, g, b) or None for transparent."""
    with open(path, encoding="ascii") as f:
        strings = [line.split('"')[1] for line in f if line.lstrip().startswith('"')]
    if not strings:
        fail(f"{path}: no XPM data")
    w, h, ncolours, cpp = (int(v) for v in strings[0].split()[:4])
    colours = {}
    for line in strings[1 : 1 + ncolours]:
        key, rest = line[:cpp], line[cpp:].split()
        if len(rest) < 2 or rest[0] != "c":
            fail(f"{path}: colour line '{line}' is not 'X c VALUE'")
        value = rest[1]
        if value.lower() == "none":
            colours[key] = None
        elif value.startswith("#") and len(value) == 7:
            colours[key] = tuple(int(value[i : i + 2], 16) for i in (1, 3, 5))
        else:
            fail(f"{path}: colour '{value}' is not #RRGGBB or None")
    rows = strings[1 + ncolours : 1 + ncolours + h]
    if len(rows) != h or any(len(r) != w * cpp for r in rows):
        fail(f"{path}: the pixel rows do not match {w} x {h}")
    try:
        pixels = [[colours[r[x * cpp : (x + 1) * cpp]] for x in range(w)] for r in rows]
    except KeyError as e:
        fail(f"{path}: pixel {e} has no colour")
    return w, h, pixels


def palette_of(pixels, first):
    palette = [first]
    for row in pixels:
        for p in row:
            if p is not None and p not in palette:
                palette.append(p)
    if len(palette) > 256:
        fail("more than 256 colours")
    return palette


def row_bytes(indices, bpp):
    """One bottom-up DIB row: packed indices, padded to four bytes."""
    if bpp == 8:
        data = bytes(indices)
    elif bpp == 4:
        padded = list(indices) + [0] * (len(indices) % 2)
        data = bytes((padded[i] << 4) | padded[i + 1] for i in range(0, len(padded), 2))
    else:  # 1
        padded = list(indices) + [0] * (-len(indices) % 8)
        data = bytes(
            sum(bit << (7 - j) for j, bit in enumerate(padded[i : i + 8]))
            for i in range(0, len(padded), 8)
        )
    return data + b"\0" * (-len(data) % 4)


def dib(w, h, pixels, first, mask):
    """BITMAPINFOHEADER, palette and pixels; with mask, the icon layout (double height + AND)."""
    palette = palette_of(pixels, first)
    bpp = 4 if len(palette) <= 16 else 8
    table = palette + [(0, 0, 0)] * ((1 << bpp) - len(palette))
    index = {c: i for i, c in reversed(list(enumerate(table)))}
    xor = b"".join(
        row_bytes([0 if p is None else index[p] for p in pixels[y]], bpp) for y in reversed(range(h))
    )
    body = xor
    if mask:
        body += b"".join(
            row_bytes([1 if p is None else 0 for p in pixels[y]], 1) for y in reversed(range(h))
        )
    header = struct.pack(
        "<IiiHHIIiiII", 40, w, h * 2 if mask else h, 1, bpp, 0, len(body), 0, 0, 1 << bpp, 0
    )
    colours = b"".join(struct.pack("<BBBB", b, g, r, 0) for r, g, b in table)
    return header + colours + body, bpp, len(table)


def write_bmp(out, path):
    w, h, pixels = read_xpm(path)
    if any(p == KEY for row in pixels for p in row):
        fail(f"{path}: uses the transparent key colour #FF00FF")
    data, _, _ = dib(w, h, pixels, KEY, mask=False)
    palette_size = struct.unpack_from("<I", data, 32)[0] * 4
    offset = 14 + 40 + palette_size
    with open(out, "wb") as f:
        f.write(b"BM" + struct.pack("<IHHI", 14 + len(data), 0, 0, offset) + data)


def write_ico(out, paths):
    images = []
    for path in paths:
        w, h, pixels = read_xpm(path)
        if w > 256 or h > 256:
            fail(f"{path}: too large for an icon")
        data, bpp, ncolours = dib(w, h, pixels, (0, 0, 0), mask=True)
        images.append((w, h, bpp, ncolours, data))
    head = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    entries = b""
    for w, h, bpp, ncolours, data in images:
        entries += struct.pack(
            "<BBBBHHII", w % 256, h % 256, ncolours % 256, 0, 1, bpp, len(data), offset
        )
        offset += len(data)
    with open(out, "wb") as f:
        f.write(head + entries + b"".join(img[4] for img in images))


def main(argv):
    if len(argv) < 3:
        fail("usage: xpm2win.py OUT.bmp IN.xpm | OUT.ico IN.xpm [IN.xpm…]")
    out, inputs = argv[1], argv[2:]
    if out.endswith(".bmp") and len(inputs) == 1:
        write_bmp(out, inputs[0])
    elif out.endswith(".ico"):
        write_ico(out, inputs)
    else:
        fail(f"cannot write {out} from {len(inputs)} pictures")


if __name__ == "__main__":
    main(sys.argv)
