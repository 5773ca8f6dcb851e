#!/usr/bin/env python3
"""Draws every built-in picture of the installer window at build time.

Usage: make_images.py OUT_DIR CONVERT ZOPFLIPNG

PNG files are written directly (8-bit RGBA, zlib) and then recompressed losslessly by
zopflipng (path given as ZOPFLIPNG); the three photographs-to-be (window background and the
two first-slide pictures) are drawn as PPM files and turned into JPEG by ImageMagick's
`convert` (path given as CONVERT). Only the standard library is used. The
pictures favour flat colours and smooth gradients: they travel inside a download.
"""
import math
import os
import struct
import subprocess
import sys
import zlib

# ---------------------------------------------------------------------------------------
# Canvas: straight (not premultiplied) RGBA floats, composited "over".


class Canvas:
    def __init__(self, width, height, fill=(0.0, 0.0, 0.0, 0.0)):
        self.width = width
        self.height = height
        self.px = [list(fill) for _ in range(width * height)]

    def blend(self, x, y, color, coverage):
        """Composites `color` (r, g, b, a in 0..1) over pixel (x, y) at `coverage`."""
        if coverage <= 0.0 or not (0 <= x < self.width and 0 <= y < self.height):
            return
        p = self.px[y * self.width + x]
        sa = color[3] * min(1.0, coverage)
        da = p[3]
        out_a = sa + da * (1.0 - sa)
        if out_a <= 0.0:
            return
        for i in range(3):
            p[i] = (color[i] * sa + p[i] * da * (1.0 - sa)) / out_a
        p[3] = out_a

    def set(self, x, y, color):
        self.px[y * self.width + x] = list(color)

    def rgba_bytes(self):
        out = bytearray()
        for p in self.px:
            out += bytes(max(0, min(255, int(round(v * 255)))) for v in p)
        return bytes(out)

    def rgb_bytes(self, background=(1.0, 1.0, 1.0)):
        out = bytearray()
        for p in self.px:
            a = p[3]
            out += bytes(max(0, min(255, int(round((p[i] * a + background[i] * (1 - a)) * 255))))
                         for i in range(3))
        return bytes(out)


def hex_color(text, alpha=1.0):
    text = text.lstrip('#')
    return (int(text[0:2], 16) / 255.0, int(text[2:4], 16) / 255.0, int(text[4:6], 16) / 255.0,
            alpha)


def mix(a, b, t):
    t = max(0.0, min(1.0, t))
    return tuple(a[i] + (b[i] - a[i]) * t for i in range(len(a)))


def coverage_from_distance(d):
    """Anti-aliased coverage of a pixel whose centre is `d` outside (negative: inside) a shape."""
    return max(0.0, min(1.0, 0.5 - d))


# ---------------------------------------------------------------------------------------
# Shapes. Coordinates are in pixels; pixel (x, y) has its centre at (x + 0.5, y + 0.5).


def fill_rounded_rect(canvas, x0, y0, x1, y1, radius, color_at):
    """`color_at(x, y)` gives the colour for a pixel centre (a gradient or a constant)."""
    for y in range(max(0, int(y0) - 1), min(canvas.height, int(math.ceil(y1)) + 1)):
        cy = y + 0.5
        for x in range(max(0, int(x0) - 1), min(canvas.width, int(math.ceil(x1)) + 1)):
            cx = x + 0.5
            qx = max(x0 + radius - cx, cx - (x1 - radius), 0.0)
            qy = max(y0 + radius - cy, cy - (y1 - radius), 0.0)
            if qx > 0 or qy > 0:
                d = math.hypot(qx, qy) - radius
            else:
                d = max(x0 - cx, cx - x1, y0 - cy, cy - y1)
            cov = coverage_from_distance(d)
            if cov > 0:
                canvas.blend(x, y, color_at(cx, cy), cov)


def fill_ellipse(canvas, cx0, cy0, rx, ry, color_at):
    for y in range(max(0, int(cy0 - ry) - 1), min(canvas.height, int(cy0 + ry) + 2)):
        cy = y + 0.5
        for x in range(max(0, int(cx0 - rx) - 1), min(canvas.width, int(cx0 + rx) + 2)):
            cx = x + 0.5
            nx, ny = (cx - cx0) / rx, (cy - cy0) / ry
            r = math.hypot(nx, ny)
            # Distance to the outline, approximately, in pixels.
            d = (r - 1.0) * min(rx, ry)
            cov = coverage_from_distance(d)
            if cov > 0:
                canvas.blend(x, y, color_at(cx, cy), cov)


def segment_distance(px, py, ax, ay, bx, by):
    vx, vy = bx - ax, by - ay
    wx, wy = px - ax, py - ay
    length2 = vx * vx + vy * vy
    t = 0.0 if length2 == 0 else max(0.0, min(1.0, (wx * vx + wy * vy) / length2))
    return math.hypot(wx - t * vx, wy - t * vy)


def stroke_polylines(canvas, polylines, width, color):
    """Strokes line strips with round caps and joins; each pixel is covered once."""
    segments = []
    for line in polylines:
        if len(line) == 1:
            segments.append((line[0][0], line[0][1], line[0][0], line[0][1]))
        for i in range(len(line) - 1):
            segments.append((line[i][0], line[i][1], line[i + 1][0], line[i + 1][1]))
    if not segments:
        return
    half = width / 2.0
    xs = [s[0] for s in segments] + [s[2] for s in segments]
    ys = [s[1] for s in segments] + [s[3] for s in segments]
    for y in range(max(0, int(min(ys) - half) - 1), min(canvas.height, int(max(ys) + half) + 2)):
        cy = y + 0.5
        for x in range(max(0, int(min(xs) - half) - 1),
                       min(canvas.width, int(max(xs) + half) + 2)):
            cx = x + 0.5
            d = min(segment_distance(cx, cy, *s) for s in segments) - half
            cov = coverage_from_distance(d)
            if cov > 0:
                canvas.blend(x, y, color, cov)


def arc(cx, cy, rx, ry, start_degrees, end_degrees, steps=14):
    points = []
    for i in range(steps + 1):
        a = math.radians(start_degrees + (end_degrees - start_degrees) * i / steps)
        points.append((cx + rx * math.cos(a), cy + ry * math.sin(a)))
    return points


# ---------------------------------------------------------------------------------------
# A small stroke alphabet for the word marks. Units: cap height 1.0, y down from the cap
# line, baseline at 1.0, x-height line at 0.32. Each glyph: (advance, [polylines]).


def glyph(ch):
    xh = 0.32
    if ch == 'Z':
        return 0.66, [[(0, 0), (0.56, 0), (0, 1), (0.58, 1)]]
    if ch == 'B':
        top = [(0, 0), (0.3, 0)] + arc(0.3, 0.235, 0.22, 0.235, -90, 90) + [(0, 0.47)]
        bottom = [(0, 0.47), (0.33, 0.47)] + arc(0.33, 0.735, 0.25, 0.265, -90, 90) + [(0, 1)]
        return 0.66, [[(0, 0), (0, 1)], top, bottom]
    if ch == 'o':
        return 0.62, [arc(0.27, 0.66, 0.27, 0.34, 0, 360, 28)]
    if ch == 'r':
        return 0.4, [[(0, xh), (0, 1)], arc(0.3, 0.66, 0.3, 0.34, 180, 270, 8)]
    if ch == 'v':
        return 0.58, [[(0, xh), (0.25, 1), (0.5, xh)]]
    if ch == 'i':
        return 0.2, [[(0, xh), (0, 1)], [(0, 0.06)]]
    if ch == 'n':
        return 0.58, [[(0, xh), (0, 1)],
                      arc(0.24, 0.56, 0.24, 0.24, 180, 360, 10) + [(0.48, 1)]]
    if ch == 'w':
        return 0.82, [[(0, xh), (0.17, 1), (0.36, 0.42), (0.55, 1), (0.72, xh)]]
    if ch == 's':
        return 0.5, [[(0.43, 0.40), (0.34, 0.33), (0.2, 0.32), (0.07, 0.36), (0.03, 0.46),
                      (0.1, 0.57), (0.23, 0.63), (0.36, 0.7), (0.44, 0.8), (0.41, 0.93),
                      (0.28, 1.0), (0.12, 0.99), (0.0, 0.92)]]
    if ch == 'e':
        return 0.6, [[(0.02, 0.66), (0.52, 0.66)] + arc(0.27, 0.66, 0.25, 0.34, 0, -310, 24)]
    if ch == 'O':
        return 0.86, [arc(0.38, 0.5, 0.38, 0.5, 0, 360, 32)]
    if ch == 'R':
        bowl = [(0, 0), (0.3, 0)] + arc(0.3, 0.25, 0.24, 0.25, -90, 90) + [(0, 0.5)]
        return 0.66, [[(0, 0), (0, 1)], bowl, [(0.24, 0.5), (0.56, 1)]]
    if ch == 'V':
        return 0.7, [[(0, 0), (0.3, 1), (0.6, 0)]]
    if ch == 'I':
        return 0.2, [[(0, 0), (0, 1)]]
    if ch == 'N':
        return 0.74, [[(0, 1), (0, 0), (0.62, 1), (0.62, 0)]]
    if ch == ' ':
        return 0.34, []
    raise ValueError('no glyph for %r' % ch)


def text_polylines(text, x, baseline, cap_height, tracking=0.12):
    """Polylines of `text` starting at `x`; returns (polylines, end x)."""
    lines = []
    for ch in text:
        advance, strokes = glyph(ch)
        for stroke in strokes:
            lines.append([(x + px * cap_height, baseline - cap_height + py * cap_height)
                          for px, py in stroke])
        x += (advance + tracking) * cap_height
    return lines, x


# ---------------------------------------------------------------------------------------
# Colours of the design.

BLUE = hex_color('2d7ff9')
BLUE_HOT = hex_color('4b94ff')
BLUE_PRESSED = hex_color('1c63cf')
TEAL = hex_color('2cc3c9')
NAVY = hex_color('1a2f5e')
INK = hex_color('1f2a3d')
WHITE = (1.0, 1.0, 1.0, 1.0)


def emblem(canvas, x0, y0, size):
    """The mark: a disc with a blue-to-teal gradient and a white "Z" swoosh."""
    def disc_color(cx, cy):
        t = ((cx - x0) + (cy - y0)) / (2.0 * size)
        return mix(BLUE, TEAL, t)
    r = size / 2.0
    fill_ellipse(canvas, x0 + r, y0 + r, r, r, disc_color)
    s = size
    stroke_polylines(canvas, [[(x0 + 0.3 * s, y0 + 0.31 * s), (x0 + 0.7 * s, y0 + 0.31 * s),
                               (x0 + 0.3 * s, y0 + 0.69 * s), (x0 + 0.7 * s, y0 + 0.69 * s)]],
                     max(1.6, 0.11 * s), WHITE)


def logo(scale, text, color):
    """166 x 28 (times `scale`) word mark: the emblem and `text`."""
    canvas = Canvas(166 * scale, 28 * scale)
    emblem(canvas, 0, 0, 28 * scale)
    cap = 13.0 * scale
    lines, _ = text_polylines(text, 37.0 * scale, 20.5 * scale, cap, tracking=0.1)
    stroke_polylines(canvas, lines, 2.1 * scale, color)
    return canvas


def button_strip(cell_width, height, radius, colors):
    canvas = Canvas(cell_width * 3, height)
    for i, (top, bottom) in enumerate(colors):
        x0 = i * cell_width
        fill_rounded_rect(canvas, x0 + 0.5, 0.5, x0 + cell_width - 0.5, height - 0.5, radius,
                          lambda cx, cy, top=top, bottom=bottom: mix(top, bottom, cy / height))
    return canvas


def cross_strip(colors):
    canvas = Canvas(36, 12)
    for i, color in enumerate(colors):
        x0 = i * 12
        stroke_polylines(canvas, [[(x0 + 2.5, 2.5), (x0 + 9.5, 9.5)],
                                  [(x0 + 9.5, 2.5), (x0 + 2.5, 9.5)]], 1.6, color)
    return canvas


def check_glyphs():
    """Six 16 x 16 cells: unchecked normal, hot, pressed; checked normal, hot, pressed."""
    canvas = Canvas(96, 16)
    box_fill = [0.0, 0.14, 0.28]
    check_color = [BLUE, BLUE_HOT, BLUE_PRESSED]
    for i in range(6):
        x0 = i * 16
        state = i % 3
        if i < 3:
            if box_fill[state] > 0:
                fill_rounded_rect(canvas, x0 + 1.5, 1.5, x0 + 14.5, 14.5, 3,
                                  lambda cx, cy, a=box_fill[state]: (1, 1, 1, a))
            # Outline: the ring between two rounded rectangles, drawn as a stroke.
            ring = [(x0 + 4, 2), (x0 + 12, 2)] + arc(x0 + 12, 4, 2, 2, -90, 0, 4) + \
                [(x0 + 14, 12)] + arc(x0 + 12, 12, 2, 2, 0, 90, 4) + [(x0 + 4, 14)] + \
                arc(x0 + 4, 12, 2, 2, 90, 180, 4) + [(x0 + 2, 4)] + \
                arc(x0 + 4, 4, 2, 2, 180, 270, 4)
            stroke_polylines(canvas, [ring], 1.4, (1, 1, 1, 0.9))
        else:
            white = [1.0, 1.0, 0.86][state]
            fill_rounded_rect(canvas, x0 + 1.3, 1.3, x0 + 14.7, 14.7, 3,
                              lambda cx, cy, w=white: (w, w, w, 1.0))
            stroke_polylines(canvas, [[(x0 + 4.3, 8.3), (x0 + 7.0, 11.0), (x0 + 11.8, 5.0)]],
                             2.0, check_color[state])
    return canvas


def horizontal_gradient(width, height, left, right):
    canvas = Canvas(width, height)
    for y in range(height):
        for x in range(width):
            canvas.set(x, y, mix(left, right, x / (width - 1.0)))
    return canvas


def shadow_alpha(distance, width=8.0, strength=0.34):
    """Opacity of the shadow `distance` pixels outside the window's edge."""
    if distance <= 0:
        return strength
    t = max(0.0, 1.0 - distance / width)
    return strength * t * t


def shadow_corner(flip_x, flip_y):
    """16 x 16: the window's corner at (8, 8) of the top-left piece, mirrored for the others."""
    canvas = Canvas(16, 16)
    for y in range(16):
        for x in range(16):
            dx = max(0.0, 8.0 - (x + 0.5))
            dy = max(0.0, 8.0 - (y + 0.5))
            a = shadow_alpha(math.hypot(dx, dy))
            tx = 15 - x if flip_x else x
            ty = 15 - y if flip_y else y
            canvas.set(tx, ty, (0, 0, 0, a))
    return canvas


def shadow_edge(horizontal_profile, outward_first):
    """8 x 1 (left or right edge) or 1 x 8 (top or bottom edge): the profile across the edge."""
    canvas = Canvas(8, 1) if horizontal_profile else Canvas(1, 8)
    for i in range(8):
        distance = 8.0 - (i + 0.5) if outward_first else i + 0.5
        a = shadow_alpha(distance)
        if horizontal_profile:
            canvas.set(i, 0, (0, 0, 0, a))
        else:
            canvas.set(0, i, (0, 0, 0, a))
    return canvas


def window_background():
    """728 x 400: a calm diagonal gradient with two very soft light shapes."""
    width, height = 728, 400
    top_left = hex_color('18305f')
    bottom_right = hex_color('1f6f8b')
    canvas = Canvas(width, height)
    glows = [(600.0, 60.0, 260.0, 0.10), (90.0, 380.0, 300.0, 0.07)]
    for y in range(height):
        for x in range(width):
            t = (x / width) * 0.6 + (y / height) * 0.4
            r, g, b, _ = mix(top_left, bottom_right, t)
            for gx, gy, radius, strength in glows:
                d = math.hypot(x - gx, y - gy) / radius
                if d < 1.0:
                    k = strength * (1.0 - d) * (1.0 - d)
                    r, g, b = r + (1 - r) * k, g + (1 - g) * k, b + (1 - b) * k
            canvas.set(x, y, (r, g, b, 1.0))
    return canvas


def first_slide_picture(width, height):
    """A browser window guarded by a shield on soft round shapes, on white (a 2x asset)."""
    canvas = Canvas(width, height, (1.0, 1.0, 1.0, 1.0))
    s = min(width / 702.0, height / 536.0)
    light = hex_color('e6f0ff')
    lighter = hex_color('eefaf9')
    fill_ellipse(canvas, 250 * s, 330 * s, 230 * s, 205 * s, lambda cx, cy: light)
    fill_ellipse(canvas, 470 * s, 420 * s, 140 * s, 120 * s, lambda cx, cy: lighter)
    # Browser window.
    wx0, wy0, wx1, wy1 = 80 * s, 170 * s, 470 * s, 470 * s
    fill_rounded_rect(canvas, wx0 + 6 * s, wy0 + 10 * s, wx1 + 6 * s, wy1 + 10 * s, 18 * s,
                      lambda cx, cy: (0.1, 0.2, 0.4, 0.10))
    fill_rounded_rect(canvas, wx0, wy0, wx1, wy1, 18 * s, lambda cx, cy: WHITE)
    fill_rounded_rect(canvas, wx0, wy0, wx1, wy0 + 46 * s, 18 * s,
                      lambda cx, cy: mix(BLUE, TEAL, (cx - wx0) / (wx1 - wx0)))
    fill_rounded_rect(canvas, wx0, wy0 + 30 * s, wx1, wy0 + 46 * s, 0,
                      lambda cx, cy: mix(BLUE, TEAL, (cx - wx0) / (wx1 - wx0)))
    for i in range(3):
        fill_ellipse(canvas, wx0 + (26 + 22 * i) * s, wy0 + 23 * s, 7 * s, 7 * s,
                     lambda cx, cy: (1, 1, 1, 0.85))
    bar = hex_color('dde6f3')
    fill_rounded_rect(canvas, wx0 + 30 * s, wy0 + 76 * s, wx1 - 30 * s, wy0 + 100 * s, 12 * s,
                      lambda cx, cy: bar)
    for i, length in enumerate([250, 300, 210, 270]):
        y = wy0 + (140 + 34 * i) * s
        fill_rounded_rect(canvas, wx0 + 30 * s, y, wx0 + (30 + length * 0.9) * s, y + 14 * s,
                          7 * s, lambda cx, cy: hex_color('edf1f7'))
    # Shield.
    sx, sy, sw = 430 * s, 250 * s, 190 * s
    shield_top = sy
    shield_bottom = sy + sw * 1.12

    def shield_inside(cx, cy):
        if cy < shield_top or cy > shield_bottom:
            return False
        t = (cy - shield_top) / (shield_bottom - shield_top)
        half = sw * 0.5 * (1.0 if t < 0.45 else math.cos((t - 0.45) / 0.55 * math.pi / 2))
        dip = sw * 0.08 * math.sin(abs(cx - sx) / (sw * 0.5) * math.pi / 2) if t < 0.1 else 0
        return abs(cx - sx) <= half and cy >= shield_top + (sw * 0.08 - dip)

    # Anti-aliased by 4 x 4 samples per pixel: the outline is not a simple distance field.
    for y in range(int(shield_top) - 1, int(shield_bottom) + 2):
        for x in range(int(sx - sw * 0.5) - 1, int(sx + sw * 0.5) + 2):
            hits = 0
            for j in range(4):
                for i in range(4):
                    if shield_inside(x + (i + 0.5) / 4, y + (j + 0.5) / 4):
                        hits += 1
            if hits:
                t = (y - shield_top) / (shield_bottom - shield_top)
                canvas.blend(x, y, mix(TEAL, BLUE, t), hits / 16.0)
    check_w = 7.0 * s
    stroke_polylines(canvas, [[(sx - 40 * s, sy + 105 * s), (sx - 8 * s, sy + 137 * s),
                               (sx + 46 * s, sy + 72 * s)]], 2 * check_w, WHITE)
    return canvas


def dialog_background():
    canvas = Canvas(410, 186, (1.0, 1.0, 1.0, 1.0))
    edge = hex_color('d5dbe5')
    for x in range(410):
        canvas.set(x, 0, edge)
        canvas.set(x, 185, edge)
        for y in range(1, 4):
            canvas.set(x, y, mix(BLUE, TEAL, x / 409.0))
    for y in range(186):
        if y >= 4:
            canvas.set(0, y, edge)
            canvas.set(409, y, edge)
    return canvas


# ---------------------------------------------------------------------------------------
# Output.


def png_bytes(canvas):
    width, height = canvas.width, canvas.height
    data = canvas.rgba_bytes()
    stride = width * 4
    raw = bytearray()
    previous = bytes(stride)
    for y in range(height):
        row = data[y * stride:(y + 1) * stride]
        # Filter choice by the usual heuristic: smallest sum of absolute residues.
        candidates = []
        sub = bytes((row[i] - (row[i - 4] if i >= 4 else 0)) & 0xFF for i in range(stride))
        up = bytes((row[i] - previous[i]) & 0xFF for i in range(stride))
        candidates.append((0, row))
        candidates.append((1, sub))
        candidates.append((2, up))
        best = min(candidates, key=lambda c: sum(b if b < 128 else 256 - b for b in c[1]))
        raw.append(best[0])
        raw += best[1]
        previous = row

    def chunk(kind, body):
        return (struct.pack('>I', len(body)) + kind + body +
                struct.pack('>I', zlib.crc32(kind + body) & 0xFFFFFFFF))

    header = struct.pack('>IIBBBBB', width, height, 8, 6, 0, 0, 0)
    return (b'\x89PNG\r\n\x1a\n' + chunk(b'IHDR', header) +
            chunk(b'IDAT', zlib.compress(bytes(raw), 9)) + chunk(b'IEND', b''))


def write_png(path, canvas, zopflipng):
    with open(path, 'wb') as f:
        f.write(png_bytes(canvas))
    # Every byte is downloaded by every user: zopflipng finds the smallest lossless encoding
    # (palette or grey where the pixels allow, transparent pixels kept as they are).
    subprocess.check_call([zopflipng, '-y', '--iterations=15', '--filters=01234mepb', path, path],
                          stdout=subprocess.DEVNULL)


def write_jpeg(path, canvas, convert, quality):
    ppm = path + '.ppm'
    with open(ppm, 'wb') as f:
        f.write(b'P6\n%d %d\n255\n' % (canvas.width, canvas.height))
        f.write(canvas.rgb_bytes())
    subprocess.check_call([convert, ppm, '-strip', '-sampling-factor', '2x2',
                           '-interlace', 'none', '-quality', str(quality), 'jpeg:' + path])
    os.remove(ppm)


def main():
    if len(sys.argv) != 4:
        sys.stderr.write(__doc__)
        return 2
    out, convert, zopflipng = sys.argv[1], sys.argv[2], sys.argv[3]
    os.makedirs(out, exist_ok=True)
    pngs = {
        'cancel_button.png': cross_strip([hex_color('8a93a3'), hex_color('4b5566'),
                                          hex_color('1f2a3d')]),
        'close_button.png': cross_strip([(1, 1, 1, 0.72), (1, 1, 1, 1.0), (1, 1, 1, 0.5)]),
        'install_button.png': button_strip(112, 32, 6, [(BLUE_HOT, BLUE), (hex_color('62a3ff'),
                                                        BLUE_HOT), (BLUE_PRESSED, BLUE_PRESSED)]),
        'check_box.png': check_glyphs(),
        'offer_logo.png': logo(1, 'Zorvin Browser', WHITE),
        'progress_logo.png': logo(1, 'Zorvin Browser', INK),
        'offer_logo_ru.png': logo(1, 'ZORVIN', WHITE),
        'progress_logo_ru.png': logo(1, 'ZORVIN', INK),
        'offer_logo_2x.png': logo(2, 'Zorvin Browser', WHITE),
        'progress_logo_2x.png': logo(2, 'Zorvin Browser', INK),
        'offer_logo_ru_2x.png': logo(2, 'ZORVIN', WHITE),
        'progress_logo_ru_2x.png': logo(2, 'ZORVIN', INK),
        'progress_filled.png': horizontal_gradient(292, 4, BLUE, TEAL),
        'progress_empty.png': horizontal_gradient(292, 4, hex_color('e3e8ef'),
                                                  hex_color('e3e8ef')),
        'dialog_background.png': dialog_background(),
        'shadow_top_left.png': shadow_corner(False, False),
        'shadow_top_right.png': shadow_corner(True, False),
        'shadow_bottom_right.png': shadow_corner(True, True),
        'shadow_bottom_left.png': shadow_corner(False, True),
        'shadow_left.png': shadow_edge(True, True),
        'shadow_top.png': shadow_edge(False, True),
        'shadow_right.png': shadow_edge(True, False),
        'shadow_bottom.png': shadow_edge(False, False),
    }
    for name, canvas in pngs.items():
        write_png(os.path.join(out, name), canvas, zopflipng)
    # The encoder's usual quality 75, chosen by size and by the distance to the drawn pixels
    # (PSNR): the background's smooth gradient comes out both smaller and closer to them than
    # at 86, and the first-slide pictures are 2x assets, halved on ordinary screens.
    write_jpeg(os.path.join(out, 'background.jpg'), window_background(), convert, 75)
    write_jpeg(os.path.join(out, 'first_slide.jpg'), first_slide_picture(702, 536), convert, 75)
    write_jpeg(os.path.join(out, 'first_slide_ru.jpg'), first_slide_picture(698, 478), convert, 75)
    return 0


if __name__ == '__main__':
    sys.exit(main())
