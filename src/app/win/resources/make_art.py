#!/usr/bin/python3
"""Writes the Windows form's icon (hj5.ico: 16, 32 and 48 pixels) and the
maker's logo (maker_logo.bmp) into a directory: the pictures the Linux form
paints, drawn here with four samples a pixel on each axis.

Usage: make_art.py OUTPUT_DIRECTORY
"""
import math
import os
import struct
import sys

PANEL_TOP = (0x2E, 0x75, 0xB6)
PANEL_BOTTOM = (0x1F, 0x4E, 0x79)
PAPER = (0xFF, 0xFF, 0xFF)
INK = (0x1F, 0x4E, 0x79)
ARROW = (0x3C, 0xB0, 0x43)
SAMPLES = 4


def in_rounded_rect(x, y, left, top, width, height, radius):
    if not (left <= x <= left + width and top <= y <= top + height):
        return False
    cx = min(max(x, left + radius), left + width - radius)
    cy = min(max(y, top + radius), top + height - radius)
    return (x - cx) ** 2 + (y - cy) ** 2 <= radius ** 2


def in_polygon(x, y, points):
    inside = False
    for (x1, y1), (x2, y2) in zip(points, points[1:] + points[:1]):
        if (y1 > y) != (y2 > y) and x < x1 + (y - y1) * (x2 - x1) / (y2 - y1):
            inside = not inside
    return inside


def near_polyline(x, y, points, width):
    for (x1, y1), (x2, y2) in zip(points, points[1:]):
        dx, dy = x2 - x1, y2 - y1
        t = max(0.0, min(1.0, ((x - x1) * dx + (y - y1) * dy) / (dx * dx + dy * dy)))
        if math.hypot(x - x1 - t * dx, y - y1 - t * dy) <= width / 2:
            return True
    return False


def icon_colour(x, y):
    """The icon in its 64 x 64 design space; None is transparent."""
    colour = None
    if in_rounded_rect(x, y, 4, 4, 56, 56, 10):
        t = min(max((y - 4) / 56, 0), 1)
        colour = tuple(round(a + (b - a) * t) for a, b in zip(PANEL_TOP, PANEL_BOTTOM))
    if in_polygon(x, y, [(14, 10), (34, 10), (42, 18), (42, 46), (14, 46)]):
        colour = PAPER
    if near_polyline(x, y, [(24, 22), (19, 28), (24, 34)], 3) or near_polyline(
            x, y, [(32, 22), (37, 28), (32, 34)], 3):
        colour = INK
    if math.hypot(x - 44, y - 44) <= 13:
        colour = ARROW
        if near_polyline(x, y, [(44, 36), (44, 51)], 4) or near_polyline(
                x, y, [(38, 45), (44, 51), (50, 45)], 4):
            colour = PAPER
    return colour


def logo_colour(x, y):
    """The logo in its 46 x 20 design space."""
    if not in_rounded_rect(x, y, 0, 0, 46, 20, 3):
        return None
    ring = abs(math.hypot(x - 10, y - 10) - 5.5) <= 1.1
    if ring or near_polyline(x, y, [(12.5, 12.5), (16, 16)], 2.2):
        return PAPER
    if 20 <= x <= 41 and 5 <= y <= 7.5 or 20 <= x <= 38 and 13 <= y <= 15.5:
        return PAPER
    if 20 <= x <= 35 and 9 <= y <= 11.5:
        return ARROW
    return PANEL_BOTTOM


def render(width, height, design_w, design_h, colour_at, background=None):
    """Rows top to bottom of (r, g, b, a) pixels."""
    rows = []
    for py in range(height):
        row = []
        for px in range(width):
            total, hits = [0, 0, 0], 0
            for sy in range(SAMPLES):
                for sx in range(SAMPLES):
                    x = (px + (sx + 0.5) / SAMPLES) * design_w / width
                    y = (py + (sy + 0.5) / SAMPLES) * design_h / height
                    c = colour_at(x, y) or background
                    if c:
                        hits += 1
                        total = [t + v for t, v in zip(total, c)]
            if hits:
                row.append(tuple(round(t / hits) for t in total) +
                           (round(255 * hits / SAMPLES ** 2),))
            else:
                row.append((0, 0, 0, 0))
        rows.append(row)
    return rows


def icon_image(size):
    """One 32-bit image of an .ico: header, pixels bottom-up, AND mask."""
    rows = render(size, size, 64, 64, icon_colour)
    pixels = b"".join(bytes((b, g, r, a)) for row in reversed(rows) for r, g, b, a in row)
    mask_stride = ((size + 31) // 32) * 4
    mask = bytearray()
    for row in reversed(rows):
        bits = bytearray(mask_stride)
        for x, (_, _, _, a) in enumerate(row):
            if a == 0:
                bits[x // 8] |= 0x80 >> (x % 8)
        mask += bits
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0,
                         len(pixels) + len(mask), 0, 0, 0, 0)
    return header + pixels + bytes(mask)


def write_icon(path, sizes):
    images = [icon_image(size) for size in sizes]
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, image in zip(sizes, images):
        out += struct.pack("<BBBBHHII", size % 256, size % 256, 0, 0, 1, 32,
                           len(image), offset)
        offset += len(image)
    with open(path, "wb") as f:
        f.write(out + b"".join(images))


def write_bitmap(path, width, height, face=(0xF0, 0xF0, 0xF0)):
    """A 24-bit bitmap; the logo's rounded corners take the dialog's face."""
    rows = render(width, height, 46, 20, logo_colour, background=face)
    stride = (width * 3 + 3) & ~3
    data = b"".join(
        b"".join(bytes((b, g, r)) for r, g, b, _ in row).ljust(stride, b"\0")
        for row in reversed(rows))
    info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, 24, 0, len(data),
                       2835, 2835, 0, 0)
    with open(path, "wb") as f:
        f.write(struct.pack("<2sIHHI", b"BM", 14 + 40 + len(data), 0, 0, 54))
        f.write(info + data)


def main():
    out = sys.argv[1]
    os.makedirs(out, exist_ok=True)
    write_icon(os.path.join(out, "hj5.ico"), [16, 32, 48])
    # The logo's place is 23 x 10 dialog units: 35 x 16 pixels in the
    # form's font at 96 dots an inch.
    write_bitmap(os.path.join(out, "maker_logo.bmp"), 35, 16)


if __name__ == "__main__":
    main()
