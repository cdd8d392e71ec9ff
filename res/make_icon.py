#!/usr/bin/env python3
"""Draws the program icon and writes it as a Windows .ico file.

The picture is a chip with pins on two sides and a green arrow pointing down
into it (firmware going into the device). One .ico holds eight images:
32x32 and 16x16 in 16 colours, 48x48, 32x32 and 16x16 in 256 colours, and
48x48, 32x32 and 16x16 in 32-bit colour with alpha.

Only the standard library is used. Run it from anywhere:
    python3 res/make_icon.py            # writes res/tarnwick.ico
    python3 res/make_icon.py out.ico
"""
import os
import struct
import sys

TRANSPARENT = (0, 0, 0, 0)
BODY = (48, 56, 72, 255)
BODY_EDGE = (120, 132, 150, 255)
PIN = (192, 192, 192, 255)
ARROW = (0, 168, 64, 255)
ARROW_EDGE = (0, 96, 32, 255)
NOTCH = (220, 220, 220, 255)


def shade(u, v):
    """Colour of the picture at (u, v), both in [0, 1), v growing downwards."""
    # Arrow on top of everything: a shaft and a triangular head.
    if 0.42 <= u <= 0.58 and 0.14 <= v <= 0.52:
        edge = u < 0.46 or u > 0.54 or v < 0.18
        return ARROW_EDGE if edge else ARROW
    if 0.50 <= v <= 0.78:
        half = (0.78 - v) * 0.95
        if abs(u - 0.5) <= half:
            return ARROW_EDGE if abs(u - 0.5) > half - 0.05 or v > 0.74 else ARROW
    # Chip body with a lighter rim and an orientation notch.
    if 0.22 <= u <= 0.78 and 0.22 <= v <= 0.82:
        if (u - 0.30) ** 2 + (v - 0.30) ** 2 < 0.004:
            return NOTCH
        if u < 0.26 or u > 0.74 or v < 0.26 or v > 0.78:
            return BODY_EDGE
        return BODY
    # Four pins on the left and on the right.
    if 0.08 <= u < 0.22 or 0.78 < u <= 0.92:
        for k in range(4):
            top = 0.28 + k * 0.14
            if top <= v <= top + 0.07:
                return PIN
    return TRANSPARENT


def render(size, samples):
    """RGBA rows (top row first), averaging samples x samples points per pixel."""
    rows = []
    n = samples * samples
    for y in range(size):
        row = []
        for x in range(size):
            acc = [0, 0, 0, 0]
            for sy in range(samples):
                for sx in range(samples):
                    u = (x + (sx + 0.5) / samples) / size
                    v = (y + (sy + 0.5) / samples) / size
                    r, g, b, a = shade(u, v)
                    acc[0] += r * a
                    acc[1] += g * a
                    acc[2] += b * a
                    acc[3] += a
            a = acc[3]
            if a == 0:
                row.append(TRANSPARENT)
            else:
                row.append((acc[0] // a, acc[1] // a, acc[2] // a, a // n))
        rows.append(row)
    return rows


def palette16():
    """The standard 16-colour palette."""
    return [
        (0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0),
        (0, 0, 128), (128, 0, 128), (0, 128, 128), (192, 192, 192),
        (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0),
        (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255),
    ]


def palette256():
    """The 16 standard colours, a 6x6x6 colour cube and 24 greys."""
    pal = palette16()
    steps = [0, 51, 102, 153, 204, 255]
    for r in steps:
        for g in steps:
            for b in steps:
                pal.append((r, g, b))
    for i in range(24):
        level = 8 + i * 10
        pal.append((level, level, level))
    return pal


def nearest(pal, rgb):
    best, best_d = 0, None
    for i, p in enumerate(pal):
        d = sum((p[k] - rgb[k]) ** 2 for k in range(3))
        if best_d is None or d < best_d:
            best, best_d = i, d
    return best


def pad4(data):
    return data + b"\0" * (-len(data) % 4)


def and_mask(rows):
    """1 bit per pixel, set where the pixel is transparent; bottom row first."""
    out = b""
    for row in reversed(rows):
        bits = bytearray((len(row) + 7) // 8)
        for x, px in enumerate(row):
            if px[3] < 128:
                bits[x // 8] |= 0x80 >> (x % 8)
        out += pad4(bytes(bits))
    return out


def bitmap_header(size, bpp, colours, image_bytes):
    # BITMAPINFOHEADER; the height counts the colour bitmap and the mask.
    return struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, bpp, 0,
                       image_bytes, 0, 0, colours, 0)


def indexed_image(size, bpp):
    pal = palette16() if bpp == 4 else palette256()
    rows = render(size, 1)
    cache = {}
    pixels = b""
    for row in reversed(rows):
        idx = []
        for px in row:
            if px[3] < 128:
                idx.append(0)
                continue
            key = px[:3]
            if key not in cache:
                cache[key] = nearest(pal, key)
            idx.append(cache[key])
        if bpp == 4:
            if len(idx) % 2:
                idx.append(0)
            line = bytes((idx[i] << 4) | idx[i + 1] for i in range(0, len(idx), 2))
        else:
            line = bytes(idx)
        pixels += pad4(line)
    mask = and_mask(rows)
    table = b"".join(struct.pack("<BBBB", b, g, r, 0) for (r, g, b) in pal)
    head = bitmap_header(size, bpp, len(pal), len(pixels) + len(mask))
    return head + table + pixels + mask, len(pal)


def truecolour_image(size):
    rows = render(size, 4)
    pixels = b""
    for row in reversed(rows):
        pixels += b"".join(struct.pack("<BBBB", b, g, r, a) for (r, g, b, a) in row)
    mask = and_mask(rows)
    head = bitmap_header(size, 32, 0, len(pixels) + len(mask))
    return head + pixels + mask


def build_ico():
    entries = []
    for size in (32, 16):
        data, colours = indexed_image(size, 4)
        entries.append((size, colours, 4, data))
    for size in (48, 32, 16):
        data, _ = indexed_image(size, 8)
        entries.append((size, 0, 8, data))  # 256 colours are written as 0
    for size in (48, 32, 16):
        entries.append((size, 0, 32, truecolour_image(size)))

    out = struct.pack("<HHH", 0, 1, len(entries))
    offset = 6 + 16 * len(entries)
    for size, colours, bpp, data in entries:
        out += struct.pack("<BBBBHHII", size, size, colours, 0, 1, bpp,
                           len(data), offset)
        offset += len(data)
    for _, _, _, data in entries:
        out += data
    return out


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    path = sys.argv[1] if len(sys.argv) > 1 else os.path.join(here, "tarnwick.ico")
    with open(path, "wb") as f:
        f.write(build_ico())


if __name__ == "__main__":
    main()
