#!/usr/bin/env python3
"""Writes a 24-bit BMP (as win_window_probe takes them) as a PNG: bmp2png.py IN.bmp OUT.png"""

import struct
import sys
import zlib


def main(source, target):
    with open(source, "rb") as f:
        data = f.read()
    if data[:2] != b"BM" or struct.unpack_from("<H", data, 28)[0] != 24:
        sys.exit(f"bmp2png: {source} is not a 24-bit BMP")
    offset = struct.unpack_from("<I", data, 10)[0]
    width, height = struct.unpack_from("<ii", data, 18)
    stride = (width * 3 + 3) & ~3
    rows = []
    for y in reversed(range(height)):  # bottom-up, BGR
        row = data[offset + y * stride : offset + y * stride + width * 3]
        rgb = bytearray(row)
        rgb[0::3], rgb[2::3] = row[2::3], row[0::3]
        rows.append(b"\0" + bytes(rgb))

    def chunk(kind, body):
        return struct.pack(">I", len(body)) + kind + body + struct.pack(">I", zlib.crc32(kind + body))

    header = struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0)
    with open(target, "wb") as f:
        f.write(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header))
        f.write(chunk(b"IDAT", zlib.compress(b"".join(rows), 9)) + chunk(b"IEND", b""))


if __name__ == "__main__":
    main(sys.argv[1], sys.argv[2])
