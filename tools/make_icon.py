#!/usr/bin/env python3
"""Draws the tool's icon: a clock face with a check mark, as a Windows icon
file of 15 images (48, 40, 32, 24 and 16 pixels square, each at 16 colours,
256 colours and 32 bits per pixel). Usage: make_icon.py OUTPUT.ico

Made at build time, so the repository holds the drawing, not the bytes.
"""
import math
import struct
import sys

SIZES = [48, 40, 32, 24, 16]
DEPTHS = [4, 8, 32]

# The 16 colours of the standard Windows palette.
PALETTE16 = [
    (0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0), (0, 0, 128), (128, 0, 128),
    (0, 128, 128), (192, 192, 192), (128, 128, 128), (255, 0, 0), (0, 255, 0),
    (255, 255, 0), (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255),
]


def palette256():
    cube = [(r * 51, g * 51, b * 51) for r in range(6) for g in range(6) for b in range(6)]
    grays = [(v, v, v) for v in range(8, 248, 6)][:40]
    return (PALETTE16 + cube + grays + [(0, 0, 0)] * 256)[:256]


def sample(x, y):
    """Colour (r, g, b, a) of the drawing at (x, y) in the unit square."""
    cx, cy = x - 0.5, y - 0.5
    d = math.hypot(cx, cy)
    if d > 0.48:
        return (0, 0, 0, 0)
    if d > 0.40:
        return (24, 90, 200, 255)          # blue rim
    col = (255, 255, 255, 255)             # white face
    ang = math.atan2(cx, -cy)
    for k in range(12):                    # hour ticks
        a = k * math.pi / 6
        if abs((ang - a + math.pi) % (2 * math.pi) - math.pi) < 0.08 and 0.31 < d < 0.38:
            col = (60, 60, 60, 255)

    def near_segment(px, py, qx, qy, w):
        vx, vy = qx - px, qy - py
        t = max(0.0, min(1.0, ((cx - px) * vx + (cy - py) * vy) / (vx * vx + vy * vy)))
        return math.hypot(cx - (px + t * vx), cy - (py + t * vy)) < w

    if near_segment(0, 0, 0, -0.27, 0.035):           # minute hand at 12
        col = (30, 30, 30, 255)
    if near_segment(0, 0, 0.17, 0.08, 0.04):          # hour hand near 4
        col = (30, 30, 30, 255)
    if near_segment(-0.15, 0.12, -0.06, 0.22, 0.045) or near_segment(-0.06, 0.22, 0.2, -0.1, 0.045):
        col = (20, 160, 60, 255)                      # green check mark
    return col


def render(size):
    """RGBA rows, top row first, 4x4 supersampled."""
    rows = []
    for j in range(size):
        row = []
        for i in range(size):
            acc = [0, 0, 0, 0]
            for sj in range(4):
                for si in range(4):
                    r, g, b, a = sample((i + (si + 0.5) / 4) / size, (j + (sj + 0.5) / 4) / size)
                    acc[0] += r * a
                    acc[1] += g * a
                    acc[2] += b * a
                    acc[3] += a
            a = acc[3] / 16
            if acc[3]:
                row.append((round(acc[0] / acc[3]), round(acc[1] / acc[3]), round(acc[2] / acc[3]), round(a)))
            else:
                row.append((0, 0, 0, 0))
        rows.append(row)
    return rows


def nearest(pal, c):
    return min(range(len(pal)), key=lambda k: sum((pal[k][t] - c[t]) ** 2 for t in range(3)))


def image_bytes(rows, depth):
    size = len(rows)
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, depth, 0, 0, 0, 0, 0, 0)
    pal = PALETTE16 if depth == 4 else palette256() if depth == 8 else []
    out = bytearray(header)
    for r, g, b in pal:
        out += bytes((b, g, r, 0))
    xor_stride = (size * depth + 31) // 32 * 4
    and_stride = (size + 31) // 32 * 4
    for row in reversed(rows):  # bottom-up
        line = bytearray()
        if depth == 32:
            for r, g, b, a in row:
                line += bytes((b, g, r, a))
        else:
            idx = [nearest(pal, p) if p[3] >= 128 else 0 for p in row]
            if depth == 8:
                line += bytes(idx)
            else:
                for k in range(0, size, 2):
                    line.append((idx[k] << 4) | (idx[k + 1] if k + 1 < size else 0))
        line += b"\0" * (xor_stride - len(line))
        out += line
    for row in reversed(rows):
        bits = bytearray(and_stride)
        for i, p in enumerate(row):
            if p[3] < 128:
                bits[i // 8] |= 0x80 >> (i % 8)
        out += bits
    return bytes(out)


def main(path):
    images = []
    for size in SIZES:
        rows = render(size)
        for depth in DEPTHS:
            images.append((size, depth, image_bytes(rows, depth)))
    out = bytearray(struct.pack("<HHH", 0, 1, len(images)))
    offset = 6 + 16 * len(images)
    for size, depth, data in images:
        colours = 16 if depth == 4 else 0
        out += struct.pack("<BBBBHHII", size, size, colours, 0, 1, depth, len(data), offset)
        offset += len(data)
    for _, _, data in images:
        out += data
    with open(path, "wb") as f:
        f.write(out)


if __name__ == "__main__":
    main(sys.argv[1])
