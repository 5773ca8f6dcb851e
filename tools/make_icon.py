#!/usr/bin/env python3
"""Draws the installer's icon (a white download arrow on a blue disc) as a Windows .ico file
with 16 and 32 pixel images, 32-bit colour with alpha (larger views scale the 32-pixel one:
the download is smaller by the 9 KB a 48-pixel image would take). The images are stored as
PNG, which icons may hold since Vista (the installer refuses older systems): about a fifth of
the bytes of the uncompressed bitmaps. Usage: make_icon.py out.ico [zopflipng]"""
import math
import os
import struct
import subprocess
import sys
import tempfile
import zlib


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


def png_chunk(kind, data):
    return struct.pack('>I', len(data)) + kind + data + struct.pack('>I', zlib.crc32(kind + data))


def image(size, zopflipng):
    raw = b''.join(b'\0' + b''.join(struct.pack('BBBB', *(lambda b, g, r, a: (r, g, b, a))(
        *pixel(size, x, y))) for x in range(size)) for y in range(size))
    png = (b'\x89PNG\r\n\x1a\n' +
           png_chunk(b'IHDR', struct.pack('>IIBBBBB', size, size, 8, 6, 0, 0, 0)) +
           png_chunk(b'IDAT', zlib.compress(raw, 9)) + png_chunk(b'IEND', b''))
    if not zopflipng:
        return png
    with tempfile.TemporaryDirectory() as folder:
        path = os.path.join(folder, 'icon.png')
        with open(path, 'wb') as f:
            f.write(png)
        subprocess.check_call([zopflipng, '-y', '--iterations=15', path, path],
                              stdout=subprocess.DEVNULL)
        with open(path, 'rb') as f:
            return f.read()


def main():
    sizes = [16, 32]
    zopflipng = sys.argv[2] if len(sys.argv) > 2 else None
    images = [image(s, zopflipng) for s in sizes]
    out = struct.pack('<HHH', 0, 1, len(sizes))
    offset = 6 + 16 * len(sizes)
    for s, data in zip(sizes, images):
        out += struct.pack('<BBBBHHII', s, s, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    with open(sys.argv[1], 'wb') as f:
        f.write(out + b''.join(images))


if __name__ == '__main__':
    main()
