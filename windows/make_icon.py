#!/usr/bin/env python3
"""Draws the program's icon and writes it as a 32x32, 16-colour .ico file.

The picture: a sheet of paper with a folded corner and lines of text, the config
file, with a blue gear over its lower right corner, the tool that makes it.
Usage: make_icon.py OUTPUT.ico [PREVIEW.png]
"""
import math
import struct
import sys
import zlib

SIZE = 32

# The standard 16-colour palette, as (red, green, blue).
PALETTE = [
    (0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0),
    (0, 0, 128), (128, 0, 128), (0, 128, 128), (192, 192, 192),
    (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0),
    (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255),
]
BLACK, NAVY, SILVER, GREY, BLUE, WHITE = 0, 4, 7, 8, 12, 15
CLEAR = None  # transparent: left to the AND mask


def draw():
    pixels = [[CLEAR] * SIZE for _ in range(SIZE)]

    def put(x, y, colour):
        if 0 <= x < SIZE and 0 <= y < SIZE:
            pixels[y][x] = colour

    # The sheet: x 4..23, y 1..30, the top right corner folded over.
    left, right, top, bottom, fold = 4, 23, 1, 30, 6
    for y in range(top, bottom + 1):
        for x in range(left, right + 1):
            if x - (right - fold) > y - top:
                continue  # cut off by the fold
            edge = x in (left, right) or y in (top, bottom) or x - (right - fold) == y - top
            put(x, y, BLACK if edge else WHITE)
    for i in range(fold + 1):  # the folded flap
        for x in range(right - fold, right - fold + i + 1):
            put(x, top + i, BLACK if x == right - fold or i == fold or x == right - fold + i else SILVER)
    # Lines of text: "key value" pairs, a long key in navy and a short value in grey.
    for row, (key, value) in enumerate([(7, 3), (9, 2), (6, 4), (10, 2), (8, 3), (5, 2), (9, 3)]):
        y = top + 5 + row * 3
        for x in range(left + 2, left + 2 + key):
            put(x, y, NAVY)
        for x in range(left + 3 + key, left + 3 + key + value):
            put(x, y, GREY)

    # The gear: centre (22, 22), eight teeth, a hole in the middle.
    cx, cy = 22.0, 22.0
    for y in range(SIZE):
        for x in range(SIZE):
            dx, dy = x + 0.5 - cx, y + 0.5 - cy
            r = math.hypot(dx, dy)
            angle = math.atan2(dy, dx)
            outer = 9.5 if math.cos(8 * angle) > 0 else 7.0
            if r <= 2.5 or r > outer:
                continue  # the hole shows the sheet behind it
            put(x, y, BLUE if 3.5 < r <= outer - 1.2 else NAVY)
    return pixels


def ico(pixels):
    """A Windows icon: ICONDIR, one entry, a 4-bit DIB with its palette, XOR and AND masks."""
    row_bytes = SIZE // 2  # two pixels a byte, already a multiple of 4
    mask_row_bytes = 4  # one bit a pixel, padded to 4 bytes
    xor = bytearray()
    mask = bytearray()
    for y in reversed(range(SIZE)):  # bottom-up
        row = pixels[y]
        for x in range(0, SIZE, 2):
            xor.append(((row[x] or 0) << 4) | (row[x + 1] or 0))
        bits = 0
        for x in range(SIZE):
            bits = (bits << 1) | (1 if row[x] is None else 0)
        mask += bits.to_bytes(mask_row_bytes, "big")
    assert len(xor) == SIZE * row_bytes
    palette = b"".join(struct.pack("<BBBB", b, g, r, 0) for r, g, b in PALETTE)
    # Height counts both masks; 4 bits a pixel, 16 colours.
    header = struct.pack("<IiiHHIIiiII", 40, SIZE, SIZE * 2, 1, 4, 0, len(xor) + len(mask), 0, 0, 16, 0)
    image = header + palette + bytes(xor) + bytes(mask)
    icondir = struct.pack("<HHH", 0, 1, 1)
    entry = struct.pack("<BBBBHHII", SIZE, SIZE, 16, 0, 1, 4, len(image), 6 + 16)
    return icondir + entry + image


def png(pixels, scale=8):
    """A preview for people: the icon scaled up over a checkerboard."""
    raw = bytearray()
    for y in range(SIZE * scale):
        raw.append(0)
        for x in range(SIZE * scale):
            colour = pixels[y // scale][x // scale]
            if colour is None:
                raw += bytes((200, 200, 200) if (x // 8 + y // 8) % 2 else (240, 240, 240))
            else:
                raw += bytes(PALETTE[colour])

    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))

    ihdr = struct.pack(">IIBBBBB", SIZE * scale, SIZE * scale, 8, 2, 0, 0, 0)
    return b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", ihdr) + chunk(b"IDAT", zlib.compress(bytes(raw))) + chunk(b"IEND", b"")


def main():
    pixels = draw()
    with open(sys.argv[1], "wb") as out:
        out.write(ico(pixels))
    if len(sys.argv) > 2:
        with open(sys.argv[2], "wb") as out:
            out.write(png(pixels))


if __name__ == "__main__":
    main()
