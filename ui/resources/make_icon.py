#!/usr/bin/env python3
"""Draws the application icon, a white telephone handset on a green tile,
as an SVG and as PNGs of the usual icon sizes. The PNGs are rasterised here
(signed distances, 4x4 supersampling) so that no image tool is needed.

Run from this folder: python3 make_icon.py
"""
import math
import struct
import zlib

TILE = "#2b8a3e"
HANDSET = "#ffffff"
# Geometry on a 64 x 64 canvas.
TILE_RECT = (2.0, 2.0, 62.0, 62.0, 12.0)        # left, top, right, bottom, corner radius
ARC_CENTRE = (46.0, 18.0)
ARC_RADIUS = 29.0
ARC_HALF_WIDTH = 5.5
# The handle runs from the earpiece (left) round the lower left to the
# mouthpiece (bottom); angles in degrees, y pointing down.
ARC_FROM_DEG, ARC_TO_DEG = 95.0, 175.0
CUPS = [((18.0, 20.5), (26.0, 19.8), 8.0),   # earpiece: segment ends, half-width
        ((43.5, 46.0), (44.2, 38.0), 8.0)]   # mouthpiece
SIZES = [16, 22, 24, 32, 48, 64, 128, 256]


def svg():
    left, top, right, bottom, radius = TILE_RECT
    cx, cy = ARC_CENTRE
    start = (cx + ARC_RADIUS * math.cos(math.radians(ARC_TO_DEG)),
             cy + ARC_RADIUS * math.sin(math.radians(ARC_TO_DEG)))
    end = (cx + ARC_RADIUS * math.cos(math.radians(ARC_FROM_DEG)),
           cy + ARC_RADIUS * math.sin(math.radians(ARC_FROM_DEG)))
    cups = "\n".join(
        f'  <line x1="{a[0]:g}" y1="{a[1]:g}" x2="{b[0]:g}" y2="{b[1]:g}" '
        f'stroke="{HANDSET}" stroke-width="{2 * w:g}" stroke-linecap="round"/>'
        for a, b, w in CUPS)
    return f'''<?xml version="1.0" encoding="UTF-8"?>
<svg xmlns="http://www.w3.org/2000/svg" width="64" height="64" viewBox="0 0 64 64">
  <rect x="{left:g}" y="{top:g}" width="{right - left:g}" height="{bottom - top:g}" rx="{radius:g}" fill="{TILE}"/>
  <path d="M {start[0]:g} {start[1]:g} A {ARC_RADIUS:g} {ARC_RADIUS:g} 0 0 0 {end[0]:g} {end[1]:g}"
        fill="none" stroke="{HANDSET}" stroke-width="{2 * ARC_HALF_WIDTH:g}" stroke-linecap="round"/>
{cups}
</svg>
'''


def segment_distance(p, a, b):
    ax, ay = a
    bx, by = b
    px, py = p
    dx, dy = bx - ax, by - ay
    t = max(0.0, min(1.0, ((px - ax) * dx + (py - ay) * dy) / (dx * dx + dy * dy)))
    return math.hypot(px - ax - t * dx, py - ay - t * dy)


def arc_distance(p):
    cx, cy = ARC_CENTRE
    angle = math.degrees(math.atan2(p[1] - cy, p[0] - cx)) % 360.0
    if ARC_FROM_DEG <= angle <= ARC_TO_DEG:
        return abs(math.hypot(p[0] - cx, p[1] - cy) - ARC_RADIUS)
    ends = [(cx + ARC_RADIUS * math.cos(math.radians(d)), cy + ARC_RADIUS * math.sin(math.radians(d)))
            for d in (ARC_FROM_DEG, ARC_TO_DEG)]
    return min(math.hypot(p[0] - e[0], p[1] - e[1]) for e in ends)


def in_tile(p):
    left, top, right, bottom, radius = TILE_RECT
    qx = max(left + radius - p[0], 0.0, p[0] - (right - radius))
    qy = max(top + radius - p[1], 0.0, p[1] - (bottom - radius))
    return math.hypot(qx, qy) <= radius


def in_handset(p):
    if arc_distance(p) <= ARC_HALF_WIDTH:
        return True
    return any(segment_distance(p, a, b) <= w for a, b, w in CUPS)


def hex_rgb(colour):
    return tuple(int(colour[i:i + 2], 16) for i in (1, 3, 5))


def render(size):
    samples = 4
    scale = 64.0 / size
    tile, handset = hex_rgb(TILE), hex_rgb(HANDSET)
    rows = []
    for y in range(size):
        row = bytearray([0])  # filter: none
        for x in range(size):
            covered = white = 0
            for sy in range(samples):
                for sx in range(samples):
                    p = ((x + (sx + 0.5) / samples) * scale, (y + (sy + 0.5) / samples) * scale)
                    if in_tile(p):
                        covered += 1
                        white += in_handset(p)
            n = samples * samples
            if covered == 0:
                row += bytes(4)
                continue
            rgb = [round((tile[i] * (covered - white) + handset[i] * white) / covered) for i in range(3)]
            row += bytes(rgb + [round(255 * covered / n)])
        rows.append(bytes(row))
    return png(size, b"".join(rows))


def png(size, raw):
    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)
    header = struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0)  # 8-bit RGBA
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) +
            chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))


def main():
    with open("velnar.svg", "w") as out:
        out.write(svg())
    for size in SIZES:
        with open(f"velnar-{size}.png", "wb") as out:
            out.write(render(size))


if __name__ == "__main__":
    main()
