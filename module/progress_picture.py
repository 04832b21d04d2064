#!/usr/bin/env python3
"""Draws the progress box's picture: a white document sheet with ruled text lines in front of a
grey disc, on a light grey ground. Writes a 48 x 46 bitmap with an 8-bit, 256-entry palette.

  progress_picture.py OUT.bmp
"""
import struct
import sys

WIDTH, HEIGHT = 48, 46

# Palette slots; the unused ones stay black.
GROUND, DISC, RIM, HUB, SHINE, SHEET, EDGE, RULE, FOLD, SHADOW = range(10)
COLOURS = {
    GROUND: (212, 208, 200),
    DISC: (164, 166, 172),
    RIM: (112, 114, 120),
    HUB: (232, 232, 236),
    SHINE: (196, 198, 204),
    SHEET: (255, 255, 255),
    EDGE: (72, 72, 80),
    RULE: (104, 128, 184),
    FOLD: (208, 212, 224),
    SHADOW: (136, 136, 140),
}


def draw():
    pixels = [[GROUND] * WIDTH for _ in range(HEIGHT)]

    # The disc, low and to the right, partly behind the sheet.
    cx, cy, r = 29.5, 27.5, 17.5
    for y in range(HEIGHT):
        for x in range(WIDTH):
            d2 = (x + 0.5 - cx) ** 2 + (y + 0.5 - cy) ** 2
            if d2 <= r * r:
                if d2 > (r - 1.2) ** 2:
                    pixels[y][x] = RIM
                elif d2 <= 3.2 ** 2:
                    pixels[y][x] = HUB if d2 > 1.5 ** 2 else RIM
                elif (r - 7) ** 2 < d2 < (r - 4) ** 2 and x + 0.5 > cx and y + 0.5 < cy:
                    pixels[y][x] = SHINE
                else:
                    pixels[y][x] = DISC

    # The sheet, with a folded top-right corner and a shadow along its right and lower edges.
    left, top, right, bottom, fold = 4, 3, 25, 34, 6
    for y in range(top + fold + 2, bottom + 2):
        for x in range(left + 2, right + 2):
            if y > bottom or x > right:
                pixels[y][x] = SHADOW
    for y in range(top, bottom + 1):
        for x in range(left, right + 1):
            corner = x - (right - fold) > y - top  # cut off by the fold
            if corner:
                continue
            edge = x in (left, right) or y in (top, bottom) or x - (right - fold) == y - top
            pixels[y][x] = EDGE if edge else SHEET
    for i in range(1, fold):  # the turned-down flap below the diagonal
        for x in range(right - fold + 1, right - fold + i):
            pixels[top + i][x] = FOLD
    for y in range(top, top + fold + 1):
        pixels[y][right - fold] = EDGE
    for x in range(right - fold, right + 1):
        pixels[top + fold][x] = EDGE

    # Ruled text lines: a title, then lines of varied length.
    lines = [(11, 7, 16), (15, 7, 22), (18, 7, 22), (21, 7, 19), (24, 7, 22), (27, 7, 17),
             (30, 7, 21)]
    for y, x0, x1 in lines:
        for x in range(x0, x1 + 1):
            pixels[y][x] = RULE
    return pixels


def write(path, pixels):
    row_size = (WIDTH + 3) & ~3
    palette = b"".join(struct.pack("<BBBB", *reversed(COLOURS.get(i, (0, 0, 0))), 0)
                       for i in range(256))
    image = b"".join(bytes(row) + b"\0" * (row_size - WIDTH) for row in reversed(pixels))
    offset = 14 + 40 + len(palette)
    header = struct.pack("<2sIHHI", b"BM", offset + len(image), 0, 0, offset)
    info = struct.pack("<IiiHHIIiiII", 40, WIDTH, HEIGHT, 1, 8, 0, len(image), 2835, 2835, 256, 0)
    with open(path, "wb") as f:
        f.write(header + info + palette + image)


if __name__ == "__main__":
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    write(sys.argv[1], draw())
