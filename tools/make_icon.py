#!/usr/bin/env python3
"""Draws the installer's icon (a white download arrow on a blue disc) as a Windows .ico file
with 16 and 32 pixel images, 32-bit colour with alpha (larger views scale the 32-pixel one:
the download is smaller by the 9 KB a 48-pixel image would take). The images are stored as
bitmaps (a DIB with its transparency mask), the one form every Windows the installer serves
reads: XP cannot show PNG icon images, and would pick a PNG one over a smaller bitmap of the
same size. Usage: make_icon.py out.ico"""
import math
import struct
import sys


def pixel(size, x, y):
    """Returns (b, g, r, a) of one pixel; coordinates are pixel centres, y from the top."""
    c = (size - 1) / 2.0
    fx, fy = (x - c) / (size / 2.0), (y - c) / (size / 2.0)
    r = math.hypot(fx, fy)
    if r > 0.97:
        return (0, 0, 0, 0)
    edge = max(0.0, min(1.0, (0.97 - r) * size / 2.0))
    alpha = int(255 * edge)
    # Arrow: a shaft and a head pointing down, plus a base bar.
    in_shaft = abs(fx) < 0.14 and -0.55 < fy < 0.15
    in_head = fy >= 0.05 and fy < 0.5 and abs(fx) < (0.5 - fy) * 0.9
    in_bar = abs(fx) < 0.5 and 0.58 < fy < 0.7
    if in_shaft or in_head or in_bar:
        return (255, 255, 255, alpha)
    shade = int(40 * (fy + 1))
    return (min(255, 200 + shade // 2), 110 + shade // 2, 30, alpha)


def image(size):
    """One icon image: the header, the colour rows and the transparency mask, bottom row first."""
    rows = range(size - 1, -1, -1)
    colour = b''.join(struct.pack('BBBB', *pixel(size, x, y)) for y in rows for x in range(size))
    mask_row = (size + 31) // 32 * 4
    mask = b''
    for y in rows:
        bits = 0
        for x in range(size):
            if pixel(size, x, y)[3] == 0:
                bits |= 1 << (mask_row * 8 - 1 - x)
        mask += bits.to_bytes(mask_row, 'big')
    header = struct.pack('<IiiHHIIiiII', 40, size, 2 * size, 1, 32, 0, len(colour) + len(mask),
                         0, 0, 0, 0)
    return header + colour + mask


def main():
    sizes = [16, 32]
    images = [image(s) for s in sizes]
    out = struct.pack('<HHH', 0, 1, len(sizes))
    offset = 6 + 16 * len(sizes)
    for s, data in zip(sizes, images):
        out += struct.pack('<BBBBHHII', s, s, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    with open(sys.argv[1], 'wb') as f:
        f.write(out + b''.join(images))


if __name__ == '__main__':
    main()
