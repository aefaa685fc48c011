#!/usr/bin/env python3
"""Draws the patcher's application icon and writes it as a Windows .ico file.

The picture is a blue rounded tile holding a white ring (the product's "O")
and a green badge with a check mark, for a service pack that was applied.
Five images: 48, 32 and 16 pixels at 256 colours, 48 at 32 bits (alpha) and
32 at 24 bits. Pure standard library; the output is the same byte for byte
on every run.
"""
import math
import struct
import sys

SAMPLES = 4  # supersampling per axis for anti-aliased edges


def rounded_square(x, y, lo, hi, r):
    """Signed distance to a square spanning [lo, hi] with corners of radius r."""
    c = (lo + hi) / 2.0
    half = (hi - lo) / 2.0
    qx, qy = abs(x - c) - (half - r), abs(y - c) - (half - r)
    outside = math.hypot(max(qx, 0.0), max(qy, 0.0))
    return outside + min(max(qx, qy), 0.0) - r


def segment_distance(px, py, ax, ay, bx, by):
    dx, dy = bx - ax, by - ay
    t = max(0.0, min(1.0, ((px - ax) * dx + (py - ay) * dy) / (dx * dx + dy * dy)))
    return math.hypot(px - (ax + t * dx), py - (ay + t * dy))


# Geometry in pixels of each size. Small sizes are not a scaled-down copy:
# edges sit on pixel boundaries and strokes are whole pixels wide, so the
# 16x16 image stays crisp instead of turning to mush.
LAYOUTS = {
    16: dict(tile=(0.0, 16.0, 3.0), ring=(6.0, 6.0, 5.0, 2.0),
             badge=(11.0, 11.0, 4.6, 1.0),
             check=((8.5, 11.1), (10.4, 13.0), (13.6, 9.0)), check_w=1.8),
    32: dict(tile=(1.0, 31.0, 6.0), ring=(13.0, 13.0, 9.0, 3.0),
             badge=(22.0, 22.0, 8.0, 1.5),
             check=((17.8, 22.0), (20.8, 25.0), (26.2, 19.2)), check_w=2.7),
    48: dict(tile=(2.0, 46.0, 9.0), ring=(19.5, 19.5, 13.5, 4.5),
             badge=(33.0, 33.0, 11.5, 2.0),
             check=((26.8, 33.0), (31.0, 37.4), (38.8, 28.8)), check_w=3.8),
}


def shade(x, y, size):
    """Colour (r, g, b, a) at a point given in pixels; y grows downwards."""
    lay = LAYOUTS[size]
    lo, hi, corner = lay['tile']
    if rounded_square(x, y, lo, hi, corner) > 0:
        return (0, 0, 0, 0)
    top, bottom = (66, 135, 222), (20, 60, 132)
    t = (y - lo) / (hi - lo)
    colour = tuple(top[i] + (bottom[i] - top[i]) * t for i in range(3))
    # The ring, the product's "O".
    rx, ry, outer, width = lay['ring']
    d = math.hypot(x - rx, y - ry)
    if outer - width <= d <= outer:
        colour = (250, 250, 250)
    # A green badge with a check mark: the service pack applied.
    bx, by, br, rim = lay['badge']
    db = math.hypot(x - bx, y - by)
    if db < br + rim:
        colour = (255, 255, 255)  # the rim parts the badge from the ring
    if db < br:
        tb = (y - (by - br)) / (2.0 * br)
        colour = tuple(g0 + (g1 - g0) * tb for g0, g1 in zip((62, 190, 88), (30, 140, 56)))
        (ax, ay), (mx, my), (ex, ey) = lay['check']
        dc = min(segment_distance(x, y, ax, ay, mx, my),
                 segment_distance(x, y, mx, my, ex, ey))
        if dc < lay['check_w'] / 2.0:
            colour = (255, 255, 255)
    return colour + (255,)


def render(size):
    """RGBA rows, top row first, anti-aliased by supersampling."""
    rows = []
    for j in range(size):
        row = []
        for i in range(size):
            acc = [0.0, 0.0, 0.0, 0.0]
            for sj in range(SAMPLES):
                for si in range(SAMPLES):
                    x = i + (si + 0.5) / SAMPLES
                    y = j + (sj + 0.5) / SAMPLES
                    r, g, b, a = shade(x, y, size)
                    acc[0] += r * a
                    acc[1] += g * a
                    acc[2] += b * a
                    acc[3] += a
            n = SAMPLES * SAMPLES
            alpha = acc[3] / n
            if acc[3] > 0:
                rgb = [acc[k] / acc[3] for k in range(3)]
            else:
                rgb = [0, 0, 0]
            row.append(tuple(int(round(v)) for v in rgb) + (int(round(alpha)),))
        rows.append(row)
    return rows


def palette(rows):
    """Up to 256 colours of the image itself, the most frequent first."""
    counts = {}
    for row in rows:
        for r, g, b, a in row:
            key = (r, g, b) if a >= 128 else (0, 0, 0)
            counts[key] = counts.get(key, 0) + 1
    colours = sorted(counts, key=lambda c: (-counts[c], c))
    if len(colours) > 256:
        # Too many shades: merge them on a coarser grid, keep the most used.
        coarse = {}
        for c, n in counts.items():
            key = tuple(min(255, (v + 4) // 8 * 8) for v in c)
            coarse[key] = coarse.get(key, 0) + n
        colours = sorted(coarse, key=lambda c: (-coarse[c], c))[:256]
    return colours + [(0, 0, 0)] * (256 - len(colours))


def nearest(colours, rgb):
    return min(range(len(colours)),
               key=lambda k: sum((colours[k][c] - rgb[c]) ** 2 for c in range(3)))


def and_mask(rows, size):
    """1-bit mask, bottom row first: 1 where the pixel is transparent."""
    stride = ((size + 31) // 32) * 4
    out = bytearray()
    for row in reversed(rows):
        bits = bytearray(stride)
        for i, px in enumerate(row):
            if px[3] < 128:
                bits[i // 8] |= 0x80 >> (i % 8)
        out += bits
    return bytes(out)


def dib(rows, size, bpp):
    header = struct.pack('<IiiHHIIiiII', 40, size, size * 2, 1, bpp, 0, 0, 0, 0, 0, 0)
    body = bytearray()
    if bpp == 8:
        colours = palette(rows)
        header = header[:32] + struct.pack('<II', 256, 0)
        body += b''.join(struct.pack('<BBBB', b, g, r, 0) for r, g, b in colours)
        cache = {}
        stride = (size + 3) & ~3
        for row in reversed(rows):
            line = bytearray(stride)
            for i, (r, g, b, a) in enumerate(row):
                if a < 128:
                    r = g = b = 0
                key = (r, g, b)
                if key not in cache:
                    cache[key] = nearest(colours, key)
                line[i] = cache[key]
            body += line
    elif bpp == 24:
        stride = (size * 3 + 3) & ~3
        for row in reversed(rows):
            line = bytearray()
            for r, g, b, a in row:
                line += bytes((b, g, r) if a >= 128 else (0, 0, 0))
            body += line + bytes(stride - len(line))
    else:
        for row in reversed(rows):
            for r, g, b, a in row:
                body += bytes((b, g, r, a))
    return header + bytes(body) + and_mask(rows, size)


IMAGES = [(48, 8), (32, 8), (16, 8), (48, 32), (32, 24)]


def main(path):
    rendered = {size: render(size) for size in sorted({s for s, _ in IMAGES})}
    blobs = [dib(rendered[size], size, bpp) for size, bpp in IMAGES]
    out = bytearray(struct.pack('<HHH', 0, 1, len(IMAGES)))
    offset = 6 + 16 * len(IMAGES)
    for (size, bpp), blob in zip(IMAGES, blobs):
        colours = 0  # 256 colours and more are written as 0
        out += struct.pack('<BBBBHHII', size % 256, size % 256, colours, 0, 1, bpp,
                           len(blob), offset)
        offset += len(blob)
    for blob in blobs:
        out += blob
    with open(path, 'wb') as f:
        f.write(out)


if __name__ == '__main__':
    main(sys.argv[1])
