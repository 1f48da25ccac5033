#!/usr/bin/env python3
"""Draws the installer's wordmark logo (logo.png) and icon (varnok.ico) from our own strokes.

Run from anywhere: python3 resources/make_images.py. The output is deterministic; the generated
files are committed so that a build needs no image tools. Only the standard library is used.
"""
import math
import os
import struct
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))


def png_bytes(width, height, rgba):
    """rgba: bytearray of width*height*4. Writes only IHDR, IDAT and IEND."""
    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)

    raw = bytearray()
    stride = width * 4
    for y in range(height):
        raw.append(0)
        raw += rgba[y * stride:(y + 1) * stride]
    ihdr = struct.pack(">IIBBBBB", width, height, 8, 6, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", ihdr) +
            chunk(b"IDAT", zlib.compress(bytes(raw), 9)) + chunk(b"IEND", b""))


def stroke(coverage, width, height, points, half, scale=1.0):
    """Adds an anti-aliased polyline of half-width `half` (round caps and joins)."""
    for (ax, ay), (bx, by) in zip(points, points[1:]):
        ax, ay, bx, by = ax * scale, ay * scale, bx * scale, by * scale
        x0 = max(0, int(math.floor(min(ax, bx) - half - 1)))
        x1 = min(width - 1, int(math.ceil(max(ax, bx) + half + 1)))
        y0 = max(0, int(math.floor(min(ay, by) - half - 1)))
        y1 = min(height - 1, int(math.ceil(max(ay, by) + half + 1)))
        dx, dy = bx - ax, by - ay
        length2 = dx * dx + dy * dy or 1e-12
        for y in range(y0, y1 + 1):
            py = y + 0.5
            row = y * width
            for x in range(x0, x1 + 1):
                px = x + 0.5
                t = ((px - ax) * dx + (py - ay) * dy) / length2
                t = 0.0 if t < 0.0 else 1.0 if t > 1.0 else t
                cx, cy = ax + t * dx - px, ay + t * dy - py
                a = half + 0.5 - math.sqrt(cx * cx + cy * cy)
                if a > 0.0:
                    a = 1.0 if a > 1.0 else a
                    if a > coverage[row + x]:
                        coverage[row + x] = a


def arc(cx, cy, rx, ry, start_deg, end_deg, steps):
    return [(cx + rx * math.cos(math.radians(start_deg + (end_deg - start_deg) * i / steps)),
             cy + ry * math.sin(math.radians(start_deg + (end_deg - start_deg) * i / steps)))
            for i in range(steps + 1)]


def wordmark_strokes():
    """VARNOK in a geometric stroke face; stroke centres span x 11..800 and y 12..101."""
    top, bottom = 12.0, 101.0
    w, gap, left = 112.0, (800.0 - 11.0 - 6 * 112.0) / 5.0, 11.0
    xs = [left + i * (w + gap) for i in range(6)]
    mid = (top + bottom) / 2
    v, a, r, n, o, k = xs
    strokes = [
        [(v, top), (v + w / 2, bottom), (v + w, top)],
        [(a, bottom), (a + w / 2, top), (a + w, bottom)],
        [(a + w * 0.25, 70.0), (a + w * 0.75, 70.0)],
        [(r, bottom), (r, top), (r + w * 0.55, top)] +
        arc(r + w * 0.55, top + 23.0, 23.0, 23.0, -90, 90, 24) + [(r, top + 46.0)],
        [(r + w * 0.5, top + 46.0), (r + w, bottom)],
        [(n, bottom), (n, top), (n + w, bottom), (n + w, top)],
        arc(o + w / 2, mid, w / 2, (bottom - top) / 2, 0, 360, 96),
        [(k, top), (k, bottom)],
        [(k + w, top), (k + 6.0, 64.0)],
        [(k + w * 0.38, 48.0), (k + w, bottom)],
    ]
    return strokes


def make_logo():
    width, height = 812, 112
    coverage = [0.0] * (width * height)
    for points in wordmark_strokes():
        stroke(coverage, width, height, points, 9.0)
    rgba = bytearray(width * height * 4)
    for i, a in enumerate(coverage):
        if a > 0.0:
            rgba[i * 4:i * 4 + 4] = bytes((255, 255, 255, int(round(a * 255))))
    return png_bytes(width, height, rgba)


def icon_rgba(size):
    """A dark rounded tile with a white V, drawn at 4x4 supersampling for the tile edge."""
    bg = (0x1B, 0x28, 0x38)
    radius = size * 0.18
    rgba = bytearray(size * size * 4)
    coverage = [0.0] * (size * size)
    s = size / 32.0
    stroke(coverage, size, size, [(8.5, 8.0), (16.0, 24.5), (23.5, 8.0)], max(0.9, 2.4 * s), s)
    for y in range(size):
        for x in range(size):
            inside = 0
            for sy in range(4):
                for sx in range(4):
                    px, py = x + (sx + 0.5) / 4, y + (sy + 0.5) / 4
                    qx = min(max(px, radius), size - radius)
                    qy = min(max(py, radius), size - radius)
                    if (px - qx) ** 2 + (py - qy) ** 2 <= radius * radius:
                        inside += 1
            tile = inside / 16.0
            if tile == 0.0:
                continue
            c = coverage[y * size + x]
            rgb = tuple(int(round(b + (255 - b) * c)) for b in bg)
            i = (y * size + x) * 4
            rgba[i:i + 4] = bytes((rgb[0], rgb[1], rgb[2], int(round(tile * 255))))
    return rgba


def make_icon():
    sizes = [16, 20, 24, 32, 40, 48, 64, 128, 256]
    images = []
    for size in sizes:
        rgba = icon_rgba(size)
        # PNG entries (lossless, read by every Windows since Vista) rather than bitmaps: the
        # drawing is flat colour, so each compresses to a fraction of its bitmap.
        images.append(png_bytes(size, size, rgba))
    out = struct.pack("<HHH", 0, 1, len(sizes))
    offset = 6 + 16 * len(sizes)
    for size, data in zip(sizes, images):
        dim = 0 if size == 256 else size
        out += struct.pack("<BBBBHHII", dim, dim, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    return out + b"".join(images)


if __name__ == "__main__":
    with open(os.path.join(HERE, "logo.png"), "wb") as f:
        f.write(make_logo())
    with open(os.path.join(HERE, "varnok.ico"), "wb") as f:
        f.write(make_icon())
