#!/usr/bin/env python3
"""Draws the launcher's skin images and writes them as PNG files.

    skingen.py OUTDIR

Writes close.png (137), dialog.png (138), button.png (139), track.png (143)
and fill.png (144) with the sizes, frames and transparent corners the skinned
windows expect. Uses only the standard library; the output is deterministic,
so the committed PNGs are exactly what this script makes.
"""
import math
import os
import struct
import sys
import zlib


def _chunk(kind, data):
    body = kind + data
    return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)


def write_rgba(path, width, height, pixels):
    """pixels: list of rows of (r, g, b, a)."""
    raw = b"".join(b"\x00" + bytes(c for px in row for c in px) for row in pixels)
    png = b"\x89PNG\r\n\x1a\n"
    png += _chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 6, 0, 0, 0))
    png += _chunk(b"IDAT", zlib.compress(raw, 9))
    png += _chunk(b"IEND", b"")
    with open(path, "wb") as f:
        f.write(png)


def write_palette(path, width, height, pixels):
    """Palette PNG with a tRNS chunk; pixels are (r, g, b, a) with a in {0, 255}."""
    palette = []
    index = {}
    rows = []
    for row in pixels:
        out = bytearray()
        for px in row:
            key = (0, 0, 0, 0) if px[3] == 0 else px
            if key not in index:
                index[key] = len(palette)
                palette.append(key)
            out.append(index[key])
        rows.append(bytes(out))
    if len(palette) > 256:
        raise ValueError("%s: more than 256 colours" % path)
    raw = b"".join(b"\x00" + r for r in rows)
    png = b"\x89PNG\r\n\x1a\n"
    png += _chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 3, 0, 0, 0))
    png += _chunk(b"PLTE", b"".join(bytes(p[:3]) for p in palette))
    png += _chunk(b"tRNS", bytes(p[3] for p in palette))
    png += _chunk(b"IDAT", zlib.compress(raw, 9))
    png += _chunk(b"IEND", b"")
    with open(path, "wb") as f:
        f.write(png)


def mix(a, b, t):
    return tuple(int(round(a[i] + (b[i] - a[i]) * t)) for i in range(3))


def close_strip():
    """132 x 28: four 33 x 28 frames (normal, hover, pressed, disabled), white cross."""
    fw, h = 33, 28
    colours = [(45, 111, 200), (224, 67, 67), (160, 24, 24), (154, 154, 154)]
    rows = [[None] * (fw * 4) for _ in range(h)]
    for f, base in enumerate(colours):
        for y in range(h):
            shade = mix(tuple(min(255, c + 30) for c in base), base, y / (h - 1))
            for x in range(fw):
                rows[y][f * fw + x] = shade + (255,)
        # The cross: two strokes, two pixels wide, 11 x 11 centred.
        cx, cy = 16, 14
        for d in range(-5, 6):
            for w in (0, 1):
                for (x, y) in ((cx + d + w, cy + d), (cx + d + w, cy - d)):
                    if 0 <= x - f * 0 < fw:
                        rows[y][f * fw + x] = (255, 255, 255, 255)
    return fw * 4, h, rows


def dialog_background():
    """30 x 51: title gradient (rows 0-28), 4-pixel frame, pale body, cut top corners."""
    w, h = 30, 51
    top, bottom = (70, 150, 235), (28, 96, 186)
    frame = [(22, 72, 150), (120, 178, 240), (34, 102, 190), (200, 224, 250)]
    body = (240, 246, 255)
    rows = []
    for y in range(h):
        row = []
        for x in range(w):
            if y <= 28:
                px = mix(top, bottom, y / 28.0)
            else:
                d = min(x, w - 1 - x, h - 1 - y)
                px = frame[d] if d < 4 else body
            row.append(px + (255,))
        rows.append(row)
    # Rounded top corners: 3, 2 and 1 transparent pixels at each end of rows 0-2.
    for y, n in ((0, 3), (1, 2), (2, 1)):
        for x in range(n):
            rows[y][x] = (0, 0, 0, 0)
            rows[y][w - 1 - x] = (0, 0, 0, 0)
    return w, h, rows


def capsule_alpha(x, y, w, h):
    """Coverage of pixel (x, y) by a capsule (fully rounded ends) of w x h, 4x4 samples."""
    r = h / 2.0
    hit = 0
    for sy in range(4):
        for sx in range(4):
            px, py = x + (sx + 0.5) / 4, y + (sy + 0.5) / 4
            cx = min(max(px, r), w - r)
            if (px - cx) ** 2 + (py - r) ** 2 <= r * r:
                hit += 1
    return hit / 16.0


def capsule(w, h, light, dark, border=None):
    rows = []
    for y in range(h):
        colour = mix(light, dark, y / (h - 1))
        row = []
        for x in range(w):
            a = capsule_alpha(x, y, w, h)
            c = colour
            if border and a > 0 and capsule_alpha(x, y, w, h) < 1.0:
                c = border
            row.append(c + (int(round(a * 255)),))
        rows.append(row)
    return rows


def button_strip():
    """228 x 23: four 57 x 23 frames with anti-aliased rounded ends."""
    fw, h = 57, 23
    looks = [((86, 156, 236), (36, 104, 200)), ((130, 190, 250), (74, 144, 230)),
             ((30, 84, 170), (50, 112, 204)), ((200, 200, 200), (160, 160, 160))]
    frames = [capsule(fw, h, light, dark) for light, dark in looks]
    rows = [sum((frames[f][y] for f in range(4)), []) for y in range(h)]
    return fw * 4, h, rows


def progress(light, dark):
    w, h = 390, 21
    return w, h, capsule(w, h, light, dark)


def main():
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "..", "..", "src", "resources", "skin")
    os.makedirs(out, exist_ok=True)
    w, h, rows = close_strip()
    write_palette(os.path.join(out, "close.png"), w, h, rows)
    w, h, rows = dialog_background()
    write_palette(os.path.join(out, "dialog.png"), w, h, rows)
    w, h, rows = button_strip()
    write_rgba(os.path.join(out, "button.png"), w, h, rows)
    w, h, rows = progress((236, 236, 236), (196, 196, 196))
    write_rgba(os.path.join(out, "track.png"), w, h, rows)
    w, h, rows = progress((110, 180, 250), (30, 110, 210))
    write_rgba(os.path.join(out, "fill.png"), w, h, rows)


if __name__ == "__main__":
    main()
