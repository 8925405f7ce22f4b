#!/usr/bin/env python3
"""Writes tolvane.ico beside this script, the icon of the programs built for
Windows.

The same picture the Qt side draws (tolvane::applicationIcon, the
tolvane_icon library: a broadcast mast on a deep blue tile, waves, a green
"running" dot), drawn here per size (16, 32, 48, 64) so that the resource
compiler has a plain .ico to embed.
The .ico is committed; run this again only when the picture changes:
    python3 packaging/icon/tolvane-icon.py
Standard library only: 32-bit BGRA images with an AND mask, the format every
Windows version reads.
"""
import math
import os
import struct

SIZES = (16, 32, 48, 64)
SAMPLES = 4  # per axis, for smooth edges


def segment_distance(px, py, ax, ay, bx, by):
    dx, dy = bx - ax, by - ay
    t = max(0.0, min(1.0, ((px - ax) * dx + (py - ay) * dy) / (dx * dx + dy * dy)))
    return math.hypot(px - (ax + t * dx), py - (ay + t * dy))


def in_rounded_rect(px, py, x0, y0, x1, y1, r):
    cx = min(max(px, x0 + r), x1 - r)
    cy = min(max(py, y0 + r), y1 - r)
    return math.hypot(px - cx, py - cy) <= r and x0 <= px <= x1 and y0 <= py <= y1


def on_arc(px, py, cx, cy, r, width, ranges):
    if abs(math.hypot(px - cx, py - cy) - r) > width / 2:
        return False
    # Angles as Qt counts them: degrees, counter-clockwise, y pointing up.
    a = math.degrees(math.atan2(cy - py, px - cx)) % 360
    return any((a - start) % 360 <= span for start, span in ranges)


def colour_at(px, py, s):
    blue, white, yellow, green = (22, 58, 122), (240, 240, 240), (255, 196, 40), (60, 200, 90)
    colour = None
    if in_rounded_rect(px, py, 0.5, 0.5, s - 0.5, s - 0.5, s * 0.18):
        colour = blue
    top = (s * 0.42, s * 0.30)
    mast = max(1.0, s / 14)
    for a, b in ((top, (s * 0.24, s * 0.86)), (top, (s * 0.60, s * 0.86)),
                 ((s * 0.30, s * 0.66), (s * 0.54, s * 0.66))):
        if segment_distance(px, py, *a, *b) <= mast / 2:
            colour = white
    wave = max(1.0, s / 16)
    for k in (1, 2):
        if on_arc(px, py, top[0], top[1], s * 0.12 * k, wave, ((320, 80), (140, 80))):
            colour = yellow
    d = s * 0.26
    cx, cy = s - d / 2 - s * 0.08, s - d / 2 - s * 0.08
    if math.hypot(px - cx, py - cy) <= d / 2:
        colour = green
    return colour


def image(s):
    rows = []
    for y in range(s):
        row = []
        for x in range(s):
            r = g = b = a = 0
            for sy in range(SAMPLES):
                for sx in range(SAMPLES):
                    c = colour_at(x + (sx + 0.5) / SAMPLES, y + (sy + 0.5) / SAMPLES, s)
                    if c:
                        r, g, b, a = r + c[0], g + c[1], b + c[2], a + 1
            n = SAMPLES * SAMPLES
            row.append((b // a, g // a, r // a, 255 * a // n) if a else (0, 0, 0, 0))
        rows.append(row)
    # A DIB inside an .ico: height counts the colour image and the mask.
    header = struct.pack("<IiiHHIIiiII", 40, s, 2 * s, 1, 32, 0, 0, 0, 0, 0, 0)
    pixels = b"".join(bytes(v for px in row for v in px) for row in reversed(rows))
    mask_row = ((s + 31) // 32) * 4
    mask = b"".join(
        bytes(
            sum((0x80 >> (x % 8)) for x in range(byte * 8, min(s, byte * 8 + 8)) if row[x][3] == 0)
            for byte in range(mask_row))
        for row in reversed(rows))
    return header + pixels + mask


def main():
    images = [image(s) for s in SIZES]
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for s, data in zip(SIZES, images):
        out += struct.pack("<BBBBHHII", s % 256, s % 256, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    out += b"".join(images)
    path = os.path.join(os.path.dirname(os.path.abspath(__file__)), "tolvane.ico")
    with open(path, "wb") as f:
        f.write(out)


if __name__ == "__main__":
    main()
