#!/usr/bin/env python3
"""res/win32/xpm2win.py: every pixel of a picture comes back from the BMP or ICO it writes
(palette, 4-bit packing, bottom-up rows, row padding, the icon's mask), and a picture it
cannot convert faithfully is refused.   xpm2win_test.py XPM2WIN IMAGES_DIR WORK_DIR"""

import os
import struct
import subprocess
import sys

xpm2win, images, work = sys.argv[1:4]
sys.path.insert(0, os.path.dirname(xpm2win))
import xpm2win as converter  # noqa: E402

failures = 0


def check(ok, what):
    global failures
    print(("ok   " if ok else "FAIL ") + what)
    failures += 0 if ok else 1


def run(out, *inputs):
    return subprocess.run([sys.executable, xpm2win, out, *inputs], capture_output=True).returncode


def pixels_of_dib(data, offset_bits, header_at, rows_of):
    size, w, h, _, bpp = struct.unpack_from("<IiiHH", data, header_at)
    ncolours = struct.unpack_from("<I", data, header_at + 32)[0] or (1 << bpp)
    palette = [
        tuple(reversed(data[header_at + size + 4 * i : header_at + size + 4 * i + 3]))
        for i in range(ncolours)
    ]
    height = rows_of(h)
    stride = ((w * bpp + 31) // 32) * 4
    out = []
    for y in range(height):
        row = data[offset_bits + (height - 1 - y) * stride :][:stride]
        if bpp == 4:
            idx = [(row[x // 2] >> (4 if x % 2 == 0 else 0)) & 15 for x in range(w)]
        else:
            idx = list(row[:w])
        out.append(idx)
    return w, height, bpp, palette, out, offset_bits + stride * height


def compare(name, expected, palette, indices, transparent):
    same = all(
        (transparent(y, x) if p is None else palette[indices[y][x]] == p)
        for y, row in enumerate(expected)
        for x, p in enumerate(row)
    )
    check(same, f"{name}: every pixel as drawn")


os.makedirs(work, exist_ok=True)
for name in ["card", "frame00", "frame09", "frame11"]:
    xpm = os.path.join(images, name + ".xpm")
    out = os.path.join(work, name + ".bmp")
    check(run(out, xpm) == 0, f"{name}.bmp written")
    data = open(out, "rb").read()
    w, h, expected = converter.read_xpm(xpm)
    off = struct.unpack_from("<I", data, 10)[0]
    bw, bh, bpp, palette, idx, _ = pixels_of_dib(data, off, 14, lambda h: h)
    check((bw, bh, bpp) == (w, h, 4) and palette[0] == (255, 0, 255),
          f"{name}: {w} x {h}, 4 bits, key colour at palette entry 0")
    compare(name, expected, palette, idx, lambda y, x: idx[y][x] == 0)

ico = os.path.join(work, "icon.ico")
check(run(ico, os.path.join(images, "appicon32.xpm"), os.path.join(images, "appicon16.xpm")) == 0,
      "icon written")
data = open(ico, "rb").read()
check(struct.unpack_from("<HHH", data, 0) == (0, 1, 2), "icon: two images")
for i, name in enumerate(["appicon32", "appicon16"]):
    _, _, _, _, _, _, length, at = struct.unpack_from("<BBBBHHII", data, 6 + 16 * i)
    w, h, expected = converter.read_xpm(os.path.join(images, name + ".xpm"))
    ncolours = struct.unpack_from("<I", data, at + 32)[0]
    bw, bh, bpp, palette, idx, mask_at = pixels_of_dib(data, at + 40 + 4 * ncolours, at,
                                                       lambda h: h // 2)
    mask_stride = ((w + 31) // 32) * 4
    masked = lambda y, x: (data[mask_at + (h - 1 - y) * mask_stride + x // 8] >> (7 - x % 8)) & 1
    compare(name, expected, palette, idx, lambda y, x: masked(y, x) == 1)
    check(all(masked(y, x) == 0 for y, row in enumerate(expected) for x, p in enumerate(row)
              if p is not None), f"{name}: the mask leaves every drawn pixel")
    check(mask_at + mask_stride * h == at + length, f"{name}: sizes add up")

bad = {
    "key colour": '"2 1 2 1",". c None","x c #FF00FF","x.",',
    "short row": '"2 2 2 1",". c None","k c #000000","k.","k",',
    "unknown pixel": '"2 1 2 1",". c None","k c #000000","kz",',
    "named colour": '"2 1 2 1",". c None","k c black","k.",',
}
for what, body in bad.items():
    path = os.path.join(work, "bad.xpm")
    with open(path, "w") as f:
        f.write("/* XPM */\nstatic char *bad[] = {\n" + body + "\n};\n")
    out = os.path.join(work, "bad.bmp")
    if os.path.exists(out):
        os.remove(out)
    check(run(out, path) != 0 and not os.path.exists(out), f"refused: {what}")

print(f"{failures} failed")
sys.exit(1 if failures else 0)
