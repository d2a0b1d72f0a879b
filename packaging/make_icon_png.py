#!/usr/bin/env python3
"""Renders the program's icon for the desktop's icon theme: the 32 x 32
drawing of resources/win32/make_icon.py (the one the Windows program carries
and the Qt window draws) as PNG files of other sizes, so that the menu shows
the same picture as the window.

    make_icon_png.py OUTPUT_DIR SIZE...   writes OUTPUT_DIR/SIZExSIZE/modem-update.png

Each pixel of the output is the area-weighted mean of the drawing's pixels it
covers (transparent pixels count with alpha 0): at 64, 128 and 256 this is
plain enlargement, at 48 and 16 a faithful reduction rather than a redrawing.
Only the standard library is used; the build runs this.
"""
import importlib.util
import os
import struct
import sys
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))
DRAWING = os.path.join(HERE, "..", "resources", "win32", "make_icon.py")


def load_drawing():
    found = importlib.util.spec_from_file_location("make_icon", DRAWING)
    module = importlib.util.module_from_spec(found)
    found.loader.exec_module(module)
    px = module.draw()
    rgba = [[(0, 0, 0, 0) if c is None else module.PALETTE[c] + (255,) for c in row] for row in px]
    return rgba, module.SIZE


def resample(rgba, src, dst):
    """Box filter from src x src to dst x dst, alpha premultiplied."""
    scale = src / dst

    def spans(i):
        # The source pixels output pixel i covers, with their covered widths.
        lo, hi = i * scale, (i + 1) * scale
        out = []
        j = int(lo)
        while j < hi and j < src:
            w = min(hi, j + 1) - max(lo, j)
            if w > 1e-9:
                out.append((j, w))
            j += 1
        return out

    columns = [spans(x) for x in range(dst)]
    image = []
    for y in range(dst):
        row = []
        for x in range(dst):
            r = g = b = a = 0.0
            area = 0.0
            for sy, wy in spans(y):
                for sx, wx in columns[x]:
                    w = wx * wy
                    pr, pg, pb, pa = rgba[sy][sx]
                    r += pr * pa * w
                    g += pg * pa * w
                    b += pb * pa * w
                    a += pa * w
                    area += w
            if a > 0:
                row.append((round(r / a), round(g / a), round(b / a), round(a / area)))
            else:
                row.append((0, 0, 0, 0))
        image.append(row)
    return image


def png(image):
    size = len(image)
    raw = b"".join(b"\x00" + bytes(c for p in row for c in p) for row in image)

    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))

    header = struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0)  # 8-bit RGBA
    return b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b"")


def main(argv):
    if len(argv) < 3:
        sys.exit("usage: make_icon_png.py OUTPUT_DIR SIZE...")
    rgba, src = load_drawing()
    for size in map(int, argv[2:]):
        folder = os.path.join(argv[1], f"{size}x{size}")
        os.makedirs(folder, exist_ok=True)
        with open(os.path.join(folder, "modem-update.png"), "wb") as f:
            f.write(png(resample(rgba, src, size)))


if __name__ == "__main__":
    main(sys.argv)
