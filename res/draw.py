#!/usr/bin/env python3
"""Draws Torvane's pictures and writes them as XPM (and the desktop icons as PNG/SVG).

Run from anywhere: `python3 res/draw.py` rewrites the files under res/images/ and
res/hicolor/. `--sheet FILE [--scale N]` also writes a contact sheet of every picture, magnified.
Only the Python standard library is used; the build never runs this script.
"""

import argparse
import math
import os
import struct
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))

# One shared set of colours, one character each; every picture lists in its XPM only the
# colours it really uses, so the palette size can be read off the file header.
COLOURS = {
    ".": None,  # transparent
    "x": "#FF00FF",  # scratch mark, never left in a picture
    "k": "#000000",
    "K": "#404040",
    "g": "#808080",
    "s": "#C0C0C0",
    "w": "#FFFFFF",
    "D": "#0A4A1C",  # board, dark green
    "G": "#178A36",  # board, green
    "L": "#5ACB5E",  # board, light green / traces
    "Y": "#E8C028",  # gold contacts
    "r": "#E81818",  # red
    "R": "#8C0808",  # dark red
    "N": "#0C1860",  # screen, navy
    "c": "#40C8E8",  # cyan
    "y": "#FFF040",  # yellow
    "o": "#F0A020",  # orange
    "l": "#A0F060",  # lime
    "n": "#10B030",  # bright green
}


class Canvas:
    def __init__(self, w, h):
        self.w, self.h = w, h
        self.p = [["."] * w for _ in range(h)]

    def px(self, x, y, c):
        if 0 <= x < self.w and 0 <= y < self.h:
            self.p[y][x] = c

    def get(self, x, y):
        if 0 <= x < self.w and 0 <= y < self.h:
            return self.p[y][x]
        return "."

    def rect(self, x0, y0, x1, y1, c):
        for y in range(y0, y1 + 1):
            for x in range(x0, x1 + 1):
                self.px(x, y, c)

    def box(self, x0, y0, x1, y1, c):
        for x in range(x0, x1 + 1):
            self.px(x, y0, c)
            self.px(x, y1, c)
        for y in range(y0, y1 + 1):
            self.px(x0, y, c)
            self.px(x1, y, c)

    def line(self, x0, y0, x1, y1, c):
        dx, dy = abs(x1 - x0), -abs(y1 - y0)
        sx, sy = (1 if x0 < x1 else -1), (1 if y0 < y1 else -1)
        err = dx + dy
        while True:
            self.px(x0, y0, c)
            if x0 == x1 and y0 == y1:
                return
            e2 = 2 * err
            if e2 >= dy:
                err += dy
                x0 += sx
            if e2 <= dx:
                err += dx
                y0 += sy

    def poly(self, pts, c):
        """Fills the pixels whose centres lie inside the polygon."""
        ys = [p[1] for p in pts]
        for y in range(max(0, int(min(ys)) - 1), min(self.h, int(max(ys)) + 2)):
            cy = y + 0.5
            xs = []
            for i in range(len(pts)):
                (ax, ay), (bx, by) = pts[i], pts[(i + 1) % len(pts)]
                if (ay <= cy < by) or (by <= cy < ay):
                    xs.append(ax + (cy - ay) * (bx - ax) / (by - ay))
            xs.sort()
            for a, b in zip(xs[0::2], xs[1::2]):
                for x in range(max(0, math.ceil(a - 0.5)), min(self.w, math.floor(b - 0.5) + 1)):
                    self.p[y][x] = c

    def bar(self, x0, y0, x1, y1, width, c):
        """A straight bar of the given width between two points (pixel-centre coordinates)."""
        dx, dy = x1 - x0, y1 - y0
        n = math.hypot(dx, dy)
        ox, oy = -dy / n * width / 2, dx / n * width / 2
        x0, y0, x1, y1 = x0 + 0.5, y0 + 0.5, x1 + 0.5, y1 + 0.5
        self.poly([(x0 + ox, y0 + oy), (x1 + ox, y1 + oy), (x1 - ox, y1 - oy), (x0 - ox, y0 - oy)], c)

    def disk(self, cx, cy, r, c):
        for y in range(self.h):
            for x in range(self.w):
                if math.hypot(x + 0.5 - cx, y + 0.5 - cy) <= r:
                    self.p[y][x] = c

    def arc(self, cx, cy, r0, r1, a0, a1, c, xmax=None):
        """Ring segment between radii r0..r1 and angles a0..a1 (degrees, 0 = right, y down)."""
        for y in range(self.h):
            for x in range(self.w):
                if xmax is not None and x > xmax:
                    continue
                dx, dy = x + 0.5 - cx, y + 0.5 - cy
                d = math.hypot(dx, dy)
                a = math.degrees(math.atan2(dy, dx))
                if r0 <= d < r1 and a0 <= a <= a1:
                    self.p[y][x] = c

    def outline(self, c, diagonal=False):
        """Draws c on every transparent pixel that touches a drawn one."""
        nb = [(1, 0), (-1, 0), (0, 1), (0, -1)]
        if diagonal:
            nb += [(1, 1), (1, -1), (-1, 1), (-1, -1)]
        marks = []
        for y in range(self.h):
            for x in range(self.w):
                if self.p[y][x] == "." and any(self.get(x + a, y + b) not in (".", c) for a, b in nb):
                    marks.append((x, y))
        for x, y in marks:
            self.p[y][x] = c

    def replace(self, old, new):
        for row in self.p:
            for i, v in enumerate(row):
                if v == old:
                    row[i] = new

    def used(self):
        seen = []
        for row in self.p:
            for v in row:
                if v not in seen:
                    seen.append(v)
        # transparent first, then in the order of the shared colour list
        return sorted(seen, key=lambda ch: list(COLOURS).index(ch))

    def bbox(self):
        pts = [(x, y) for y in range(self.h) for x in range(self.w) if self.p[y][x] != "."]
        xs, ys = [p[0] for p in pts], [p[1] for p in pts]
        return min(xs), min(ys), max(xs), max(ys)

    def rgba(self):
        out = []
        for row in self.p:
            r = []
            for ch in row:
                col = COLOURS[ch]
                if col is None:
                    r.append((0, 0, 0, 0))
                else:
                    r.append((int(col[1:3], 16), int(col[3:5], 16), int(col[5:7], 16), 255))
            out.append(r)
        return out


# ---------------------------------------------------------------------------- writers


def write_xpm(canvas, path, name):
    used = canvas.used()
    lines = ["/* XPM */", f"static char *{name}[] = {{"]
    lines.append(f'"{canvas.w} {canvas.h} {len(used)} 1",')
    for ch in used:
        col = COLOURS[ch]
        lines.append(f'"{ch} c {"None" if col is None else col}",')
    rows = ['"' + "".join(r) + '"' for r in canvas.p]
    lines.append(",\n".join(rows))
    lines.append("};")
    save(path, "\n".join(lines) + "\n")


def png_bytes(pixels):
    h, w = len(pixels), len(pixels[0])
    raw = b"".join(b"\x00" + bytes(v for p in row for v in p) for row in pixels)

    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body))

    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", w, h, 8, 6, 0, 0, 0))
            + chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))


def save(path, data):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    mode = "wb" if isinstance(data, bytes) else "w"
    with open(path, mode) as f:
        f.write(data)


def contact_sheet(canvases, scale, path, columns=4):
    """All pictures magnified on a checkerboard, so transparency stays visible."""
    pad = 4 * scale
    cw = max(c.w for c in canvases) * scale + pad
    ch = max(c.h for c in canvases) * scale + pad
    rows = (len(canvases) + columns - 1) // columns
    W, H = columns * cw + pad, rows * ch + pad
    img = [[(200, 200, 200, 255) if ((x // 8 + y // 8) % 2) else (232, 232, 232, 255)
            for x in range(W)] for y in range(H)]
    for i, c in enumerate(canvases):
        ox, oy = pad + (i % columns) * cw, pad + (i // columns) * ch
        src = c.rgba()
        for y in range(c.h * scale):
            for x in range(c.w * scale):
                p = src[y // scale][x // scale]
                if p[3]:
                    img[oy + y][ox + x] = p
    save(path, png_bytes(img))


# ---------------------------------------------------------------------------- pictures


def app_icon_32():
    c = Canvas(32, 32)
    # metal bracket at the left end, bent over at the top
    c.rect(1, 3, 3, 27, "s")
    c.rect(0, 3, 5, 4, "s")
    c.rect(3, 5, 3, 27, "g")
    c.rect(1, 28, 2, 29, "g")
    c.px(2, 10, "K")
    c.px(2, 20, "K")
    # the board with its gold contacts along the lower edge
    c.rect(4, 6, 29, 20, "G")
    c.rect(4, 6, 29, 6, "L")
    c.rect(4, 20, 29, 20, "D")
    c.rect(29, 6, 29, 20, "D")
    c.rect(9, 21, 22, 23, "G")
    for x in range(10, 22, 2):
        c.rect(x, 21, x, 23, "Y")
    c.rect(9, 23, 22, 23, "D")
    # traces
    c.line(6, 9, 6, 17, "L")
    c.line(6, 17, 10, 17, "L")
    c.line(21, 16, 27, 16, "L")
    c.line(9, 8, 12, 8, "L")
    # chips
    c.rect(12, 9, 19, 15, "k")
    c.rect(12, 9, 19, 9, "K")
    for x in range(12, 20, 2):
        c.px(x, 8, "s")
        c.px(x, 16, "s")
    c.rect(22, 9, 27, 12, "k")
    c.rect(22, 9, 27, 9, "K")
    c.rect(7, 11, 9, 14, "k")
    c.rect(8, 18, 11, 19, "Y")
    # screwdriver across the lower right corner: handle below, blade towards the corner
    c.bar(13, 30, 19, 24, 4.6, "R")
    c.bar(13, 29, 19, 23, 2.2, "r")
    c.line(13, 28, 17, 24, "w")
    c.bar(20, 23, 21, 22, 3.0, "g")
    c.bar(21, 22, 29, 14, 1.6, "s")
    c.bar(22, 22, 29, 15, 0.8, "g")
    c.rect(29, 13, 30, 14, "K")
    c.outline("k")
    return c


def app_icon_16():
    c = Canvas(16, 16)
    c.rect(0, 1, 1, 13, "s")
    c.rect(1, 2, 1, 13, "g")
    c.rect(2, 3, 14, 10, "G")
    c.rect(2, 3, 14, 3, "L")
    c.rect(14, 4, 14, 10, "D")
    c.rect(3, 11, 9, 12, "G")
    for x in range(4, 10, 2):
        c.rect(x, 11, x, 12, "Y")
    c.rect(6, 5, 9, 8, "k")
    c.rect(11, 5, 13, 6, "k")
    c.rect(3, 5, 3, 8, "L")
    # screwdriver: handle below the board, blade across its lower right corner
    c.bar(5, 15, 8, 12, 2.9, "r")
    c.line(5, 14, 7, 12, "w")
    c.px(9, 11, "g")
    c.line(10, 10, 13, 7, "w")
    c.line(11, 10, 13, 8, "g")
    c.px(14, 6, "K")
    c.outline("k")
    return c


def card_picture():
    """A network card lying flat, seen from the front left and above."""
    c = Canvas(32, 32)
    L, D, T = 22.0, 12.5, 1.3
    ox, oy = 4.5, 21.5

    def P(u, v, h=0.0):
        return (ox + u * 1.0 + v * 0.5, oy + u * 0.27 - v * 0.82 - h)

    def quad(a, b, cc, d, col):
        c.poly([P(*a), P(*b), P(*cc), P(*d)], col)

    # board edge (thickness) then the top face
    quad((0, 0, -T), (L, 0, -T), (L, 0), (0, 0), "D")
    quad((L, 0, -T), (L, D, -T), (L, D), (L, 0), "D")
    quad((0, 0), (L, 0), (L, D), (0, D), "G")
    quad((0, D - 0.7), (L, D - 0.7), (L, D), (0, D), "L")
    # gold contacts on the front edge
    quad((6, 0, -T - 0.6), (18, 0, -T - 0.6), (18, 0, -T), (6, 0, -T), "D")
    for u in range(7, 18, 2):
        quad((u, 0, -T - 0.6), (u + 1, 0, -T - 0.6), (u + 1, 1.3), (u, 1.3), "Y")
    # traces
    for a, b in [((5, 2.5), (5, 9.5)), ((5, 9.5), (9, 9.5)), ((14.5, 2.5), (20, 2.5))]:
        xa, ya = P(*a)
        xb, yb = P(*b)
        c.line(int(xa), int(ya), int(xb), int(yb), "L")

    def chip(u0, v0, u1, v1, h, top="K", side="k"):
        quad((u0, v0), (u1, v0), (u1, v0, h), (u0, v0, h), side)
        quad((u1, v0), (u1, v1), (u1, v1, h), (u1, v0, h), side)
        quad((u0, v0, h), (u1, v0, h), (u1, v1, h), (u0, v1, h), top)

    chip(8, 4, 14, 10, 1.3)
    chip(16, 5, 20, 9.5, 1.1)
    chip(1.5, 2, 4, 5, 1.0)
    # the network jack, a metal box against the bracket
    chip(0.5, 6.5, 4.5, 10.5, 2.6, top="s", side="g")
    # the bracket: a metal strip across the left end, longer than the card is wide
    quad((-0.8, -3.5, -2.2), (-0.8, D + 0.5, -2.2), (-0.8, D + 0.5, 3.2), (-0.8, -3.5, 3.2), "s")
    quad((-0.8, -3.5, 3.2), (-0.8, D + 0.5, 3.2), (0, D + 0.5, 3.2), (0, -3.5, 3.2), "w")
    quad((-0.8, 6.6, 0), (-0.8, 10, 0), (-0.8, 10, 2.4), (-0.8, 6.6, 2.4), "k")
    c.outline("k")
    return c


# the computer of the animation, in the right half
def computer(c):
    # monitor case, screen and stand
    c.rect(38, 1, 58, 19, "s")
    c.rect(38, 1, 58, 1, "w")
    c.rect(38, 1, 38, 19, "w")
    c.rect(58, 2, 58, 19, "g")
    c.rect(39, 19, 58, 19, "g")
    c.rect(41, 4, 55, 15, "g")
    c.rect(42, 5, 55, 15, "N")
    c.rect(41, 16, 55, 16, "w")
    c.rect(56, 4, 56, 16, "w")
    c.px(43, 6, "c")
    c.px(44, 6, "c")
    c.px(45, 6, "c")
    c.px(55, 18, "c")
    c.rect(45, 20, 51, 21, "g")
    c.rect(43, 21, 53, 21, "s")
    # keyboard
    c.poly([(37, 23), (60, 23), (62, 29), (35, 29)], "s")
    c.rect(35, 29, 62, 29, "g")
    for row, y in enumerate((24, 26)):
        for x in range(38 - row, 60 + row, 2):
            c.px(x, y, "g")
    c.rect(43, 28, 54, 28, "g")
    c.outline("k")


def wave(c, travel, clip_x):
    """One wave front, `travel` px from its start at the left edge; it grows out of the edge
    and then keeps its curvature, so it reads as a signal moving rather than a ripple."""
    radius = min(travel, 9.0)
    cx = -2.0 + travel - radius
    c.arc(cx, 11.5, radius, radius + 2.0, -48, 48, "r", xmax=clip_x)


# how far each wave front has travelled in each frame: three waves leave the left edge one
# after another at 4.5 px a frame; from frame 9 on they run into the monitor one by one
WAVES = {k: [4 + 4.5 * (k - 1 - i) for i in range(3) if 4 <= 4 + 4.5 * (k - 1 - i) <= 40]
         for k in range(1, 12)}


def frame(k):
    c = Canvas(64, 32)
    computer(c)
    for r in WAVES.get(k, []):
        wave(c, r, 36)
    if k >= 9:
        # the mark on the screen: green at first contact, yellow when the card is found
        cx, cy = 49.0, 10.5
        if k == 9:
            c.disk(cx, cy, 3.0, "G")
            c.disk(cx, cy, 2.2, "n")
            c.px(48, 9, "l")
        elif k == 10:
            c.disk(cx, cy, 3.6, "n")
            c.disk(cx, cy, 2.6, "l")
            c.disk(cx, cy, 1.2, "y")
        else:
            for a in range(0, 360, 45):
                x = cx + 5.0 * math.cos(math.radians(a))
                y = cy + 4.5 * math.sin(math.radians(a))
                c.px(int(x), int(y), "y")
            c.disk(cx, cy, 3.6, "o")
            c.disk(cx, cy, 2.8, "y")
            c.px(48, 9, "w")
            c.px(49, 9, "w")
        # the monitor's edge glows where a wave touches it
        for y in range(5, 18):
            if c.get(36, y) == "r":
                c.px(37, y, "o")
    return c


def button_arrow(left):
    """An arrow pointing right, mirrored for the back button; the drawing is 16 x 15."""
    shape = Canvas(32, 32)
    shape.poly([(24.0, 16.5), (16.5, 9.0), (16.5, 13.5), (8.0, 13.5), (8.0, 19.5),
                (16.5, 19.5), (16.5, 24.0)], "x")
    c = Canvas(32, 32)
    # shrink by one so the black outline stays inside 16 x 15, and shade top to bottom
    for y in range(32):
        for x in range(32):
            if all(shape.get(x + a, y + b) == "x" for a, b in [(0, 0), (1, 0), (-1, 0), (0, 1), (0, -1)]):
                c.p[y][x] = "l" if y <= 14 else "n" if y <= 16 else "G" if y <= 18 else "D"
    c.outline("k")
    if left:
        for row in c.p:
            row.reverse()
    return c


def button_refresh():
    """A page with a clockwise circular arrow on it; the drawing is 16 x 15."""
    c = Canvas(32, 32)
    c.poly([(9.0, 10.0), (14.0, 10.0), (17.0, 13.0), (17.0, 22.0), (9.0, 22.0)], "w")
    c.poly([(14.0, 10.0), (17.0, 13.0), (14.0, 13.0)], "s")
    c.rect(10, 12, 12, 12, "g")
    c.rect(10, 14, 12, 14, "g")
    c.outline("K")
    cx, cy, r0, r1 = 17.5, 17.5, 3.2, 5.2
    ring = Canvas(32, 32)
    ring.arc(cx, cy, r0, r1, 0, 180, "n")
    ring.arc(cx, cy, r0, r1, -180, -105, "n")
    ring.arc(cx, cy, r1 - 0.9, r1, 100, 180, "l")
    ring.arc(cx, cy, r1 - 0.9, r1, -180, -105, "l")
    a = math.radians(-102)
    mr = (r0 + r1) / 2
    mx, my = cx + mr * math.cos(a), cy + mr * math.sin(a)
    tx, ty = -math.sin(a), math.cos(a)  # clockwise along the ring
    rx, ry = math.cos(a), math.sin(a)
    ring.poly([(mx + rx * 3.1, my + ry * 3.1), (mx - rx * 3.1, my - ry * 3.1),
               (mx + tx * 3.6, my + ty * 3.6)], "n")
    ring.outline("D")
    for y in range(32):
        for x in range(32):
            if ring.p[y][x] != ".":
                c.p[y][x] = ring.p[y][x]
    return c


# ---------------------------------------------------------------------------- SVG

APP_SVG = """<?xml version="1.0" encoding="UTF-8"?>
<svg xmlns="http://www.w3.org/2000/svg" width="128" height="128" viewBox="0 0 32 32">
  <title>Torvane</title>
  <!-- bracket -->
  <path d="M0.5 3h5v2h-2v23h-2.5z" fill="#C0C0C0" stroke="#000" stroke-width="0.5"
        stroke-linejoin="round"/>
  <!-- board, contacts, chips -->
  <rect x="4" y="6" width="26" height="15" rx="0.6" fill="#178A36" stroke="#0A4A1C"
        stroke-width="0.6"/>
  <rect x="9" y="21" width="14" height="3" fill="#178A36" stroke="#0A4A1C" stroke-width="0.5"/>
  <g fill="#E8C028">
    <rect x="10" y="21" width="1" height="2.6"/><rect x="12" y="21" width="1" height="2.6"/>
    <rect x="14" y="21" width="1" height="2.6"/><rect x="16" y="21" width="1" height="2.6"/>
    <rect x="18" y="21" width="1" height="2.6"/><rect x="20" y="21" width="1" height="2.6"/>
  </g>
  <path d="M6.5 9v8.5h4M9 8.5h3.5M21 16.5h6.5" fill="none" stroke="#5ACB5E" stroke-width="0.7"/>
  <g fill="#101010">
    <rect x="12" y="9" width="8" height="7" rx="0.4"/>
    <rect x="22" y="9" width="6" height="4" rx="0.3"/>
    <rect x="7" y="11" width="3" height="4" rx="0.3"/>
  </g>
  <g fill="#C0C0C0">
    <rect x="12.3" y="8.2" width="0.6" height="0.8"/><rect x="14.3" y="8.2" width="0.6" height="0.8"/>
    <rect x="16.3" y="8.2" width="0.6" height="0.8"/><rect x="18.3" y="8.2" width="0.6" height="0.8"/>
    <rect x="12.3" y="16" width="0.6" height="0.8"/><rect x="14.3" y="16" width="0.6" height="0.8"/>
    <rect x="16.3" y="16" width="0.6" height="0.8"/><rect x="18.3" y="16" width="0.6" height="0.8"/>
  </g>
  <!-- screwdriver across the lower right corner -->
  <g transform="translate(12.8 30.2) rotate(-45)">
    <rect x="0" y="-2" width="9.5" height="4" rx="1.8" fill="#E81818" stroke="#000"
          stroke-width="0.5"/>
    <rect x="1.2" y="-1.3" width="7" height="0.9" rx="0.45" fill="#FFFFFF" opacity="0.8"/>
    <rect x="9.5" y="-1.3" width="2" height="2.6" fill="#808080" stroke="#000" stroke-width="0.4"/>
    <rect x="11.5" y="-0.7" width="11" height="1.4" fill="#C0C0C0" stroke="#000"
          stroke-width="0.4"/>
    <path d="M22.5 -0.7h1.2v1.4h-1.2z" fill="#404040"/>
  </g>
</svg>
"""


# ---------------------------------------------------------------------------- main


def main():
    ap = argparse.ArgumentParser(description=__doc__)
    ap.add_argument("--sheet", help="also write a contact sheet PNG to this path")
    ap.add_argument("--scale", type=int, default=8, help="magnification of the sheet")
    args = ap.parse_args()

    img = os.path.join(HERE, "images")
    pictures = [
        (app_icon_32(), "appicon32", 16),
        (app_icon_16(), "appicon16", 16),
        (card_picture(), "card", 16),
    ]
    pictures += [(frame(k), f"frame{k:02d}", 8 if k <= 8 else 16) for k in range(12)]
    pictures += [
        (button_arrow(True), "back", 16),
        (button_arrow(False), "forward", 16),
        (button_refresh(), "refresh", 16),
    ]
    for canvas, name, limit in pictures:
        used = canvas.used()
        assert len(used) <= limit, f"{name}: {len(used)} colours"
        assert "." in used, f"{name}: no transparent colour"
        write_xpm(canvas, os.path.join(img, name + ".xpm"), name.replace("-", "_"))

    for canvas, size in ((pictures[0][0], 32), (pictures[1][0], 16)):
        save(os.path.join(HERE, "hicolor", f"{size}x{size}", "apps", "torvane.png"),
             png_bytes(canvas.rgba()))
    save(os.path.join(HERE, "hicolor", "scalable", "apps", "torvane.svg"), APP_SVG)

    if args.sheet:
        contact_sheet([p[0] for p in pictures], args.scale, args.sheet)


if __name__ == "__main__":
    main()
