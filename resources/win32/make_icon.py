#!/usr/bin/env python3
"""Draws the program's icon (group icon 128): one 32 x 32 image in 16 colours,
a grey modem with its lamps under a yellow arrow that points into it (new
firmware going in). Writes app.ico next to this script; the .ico is committed,
run this again only to change the drawing:  python3 make_icon.py
"""
import os
import struct

# The standard 16-colour palette (as Windows' VGA palette), index: (R, G, B).
PALETTE = [
    (0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0),
    (0, 0, 128), (128, 0, 128), (0, 128, 128), (192, 192, 192),
    (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0),
    (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255),
]
BLACK, DGREY, LGREY, WHITE, YELLOW, LGREEN, RED, DBLUE = 0, 8, 7, 15, 11, 10, 9, 4
SIZE = 32

def draw():
    # None is transparent (AND mask 1).
    px = [[None] * SIZE for _ in range(SIZE)]

    def rect(x0, y0, x1, y1, colour):
        for y in range(y0, y1 + 1):
            for x in range(x0, x1 + 1):
                px[y][x] = colour

    # Modem case: a flat box with a dark outline, light top, grey front.
    rect(2, 17, 29, 28, BLACK)
    rect(3, 18, 28, 21, WHITE)
    rect(3, 22, 28, 27, LGREY)
    rect(3, 27, 28, 27, DGREY)
    # Lamps on the front.
    for i, colour in enumerate((LGREEN, LGREEN, RED, LGREEN, YELLOW)):
        rect(6 + 4 * i, 24, 7 + 4 * i, 25, colour)
    # Feet.
    rect(4, 29, 6, 30, BLACK)
    rect(25, 29, 27, 30, BLACK)
    # The arrow: a yellow shaft and head with a black edge, pointing down.
    rect(13, 1, 18, 9, BLACK)
    rect(14, 2, 17, 9, YELLOW)
    # Its head narrows by one pixel a side per row, edged in black.
    for row in range(8):
        y = 9 + row
        half = 7 - row
        rect(15 - half - 1, y, 16 + half + 1, y, BLACK)
        if half > 0 and row > 0:
            rect(15 - half, y, 16 + half, y, YELLOW)
    return px

def ico(px):
    xor = bytearray()
    mask = bytearray()
    for y in reversed(range(SIZE)):  # bottom-up rows
        row = px[y]
        for x in range(0, SIZE, 2):
            a = row[x] if row[x] is not None else 0
            b = row[x + 1] if row[x + 1] is not None else 0
            xor.append((a << 4) | b)
        bits = 0
        for x in range(SIZE):
            bits = (bits << 1) | (1 if row[x] is None else 0)
        mask += struct.pack(">I", bits)
    header = struct.pack("<IiiHHIIiiII", 40, SIZE, SIZE * 2, 1, 4, 0, len(xor) + len(mask), 0, 0, 16, 0)
    palette = b"".join(struct.pack("<BBBB", b, g, r, 0) for (r, g, b) in PALETTE)
    image = header + palette + bytes(xor) + bytes(mask)
    directory = struct.pack("<HHH", 0, 1, 1)
    entry = struct.pack("<BBBBHHII", SIZE, SIZE, 16, 0, 1, 4, len(image), 6 + 16)
    return directory + entry + image

if __name__ == "__main__":
    out = os.path.join(os.path.dirname(os.path.abspath(__file__)), "app.ico")
    with open(out, "wb") as f:
        f.write(ico(draw()))
