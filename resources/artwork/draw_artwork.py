#!/usr/bin/env python3
"""Draws the wizard's pictures and icons into resources/images/, each at 100 % and 200 %
("name.png" and "name@2x.png"). Standard library only; the output is the same on every run.

Shapes are signed distance functions in logical pixels; a pixel's coverage comes from the
distance at its centre, which gives clean anti-aliased edges at any scale.

    python3 resources/artwork/draw_artwork.py
"""
import math
import os
import struct
import zlib

OUT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "images")

# Palette
NAVY = (0x16, 0x3B, 0x6B)
BLUE = (0x23, 0x5F, 0xAE)
SKY = (0x4C, 0x92, 0xE0)
PALE = (0xDD, 0xEB, 0xF9)
WHITE = (0xFF, 0xFF, 0xFF)
GREEN = (0x2E, 0x9E, 0x5B)
ORANGE = (0xF2, 0x9B, 0x30)
RED = (0xC8, 0x3A, 0x32)
GREY = (0x8A, 0x96, 0xA6)
DARK = (0x4A, 0x55, 0x63)


def mix(a, b, t):
    t = max(0.0, min(1.0, t))
    return tuple(a[i] + (b[i] - a[i]) * t for i in range(3))


# ---- distance functions (negative inside) ----

def circle(cx, cy, r):
    return lambda x, y: math.hypot(x - cx, y - cy) - r


def rounded_box(x0, y0, x1, y1, radius):
    cx, cy = (x0 + x1) / 2, (y0 + y1) / 2
    hx, hy = (x1 - x0) / 2 - radius, (y1 - y0) / 2 - radius

    def d(x, y):
        qx, qy = abs(x - cx) - hx, abs(y - cy) - hy
        outside = math.hypot(max(qx, 0.0), max(qy, 0.0))
        return outside + min(max(qx, qy), 0.0) - radius
    return d


def segment(ax, ay, bx, by, width):
    def d(x, y):
        px, py, vx, vy = x - ax, y - ay, bx - ax, by - ay
        t = max(0.0, min(1.0, (px * vx + py * vy) / (vx * vx + vy * vy)))
        return math.hypot(px - vx * t, py - vy * t) - width / 2
    return d


def polyline(points, width):
    parts = [segment(*points[i], *points[i + 1], width) for i in range(len(points) - 1)]
    return union(*parts)


def polygon(points):
    n = len(points)

    def d(x, y):
        best = float("inf")
        sign = 1.0
        j = n - 1
        for i in range(n):
            xi, yi = points[i]
            xj, yj = points[j]
            ex, ey = xj - xi, yj - yi
            wx, wy = x - xi, y - yi
            t = max(0.0, min(1.0, (wx * ex + wy * ey) / (ex * ex + ey * ey)))
            best = min(best, math.hypot(wx - ex * t, wy - ey * t))
            c1 = y >= yi
            c2 = y < yj
            c3 = ex * wy > ey * wx
            if (c1 and c2 and c3) or (not c1 and not c2 and not c3):
                sign = -sign
            j = i
        return sign * best
    return d


def arc(cx, cy, r, width, start, end):
    """A stroke along a circle from angle `start` to `end` (degrees, clockwise on screen)."""
    a0, a1 = math.radians(start), math.radians(end)
    ends = [(cx + r * math.cos(a), cy + r * math.sin(a)) for a in (a0, a1)]

    def d(x, y):
        angle = math.atan2(y - cy, x - cx)
        rel = (angle - a0) % (2 * math.pi)
        if rel <= (a1 - a0) % (2 * math.pi) or (a1 - a0) >= 2 * math.pi:
            return abs(math.hypot(x - cx, y - cy) - r) - width / 2
        return min(math.hypot(x - ex, y - ey) for ex, ey in ends) - width / 2
    return d


def union(*shapes):
    return lambda x, y: min(s(x, y) for s in shapes)


def subtract(shape, cut):
    return lambda x, y: max(shape(x, y), -cut(x, y))


def arrow_head(tip_x, tip_y, angle_deg, size):
    """A triangle pointing along `angle_deg` with its tip at the given point."""
    a = math.radians(angle_deg)
    back_x, back_y = tip_x - size * math.cos(a), tip_y - size * math.sin(a)
    nx, ny = -math.sin(a) * size * 0.62, math.cos(a) * size * 0.62
    return polygon([(tip_x, tip_y), (back_x + nx, back_y + ny), (back_x - nx, back_y - ny)])


# ---- canvas ----

class Canvas:
    def __init__(self, width, height, scale):
        self.width, self.height, self.scale = width, height, scale
        self.pw, self.ph = width * scale, height * scale
        self.pixels = [[0.0, 0.0, 0.0, 0.0] for _ in range(self.pw * self.ph)]

    def centres(self, bbox):
        x0, y0, x1, y1 = bbox if bbox else (0, 0, self.width, self.height)
        s = self.scale
        for py in range(max(0, int(y0 * s) - 2), min(self.ph, int(y1 * s) + 3)):
            for px in range(max(0, int(x0 * s) - 2), min(self.pw, int(x1 * s) + 3)):
                yield px, py, (px + 0.5) / s, (py + 0.5) / s

    def blend(self, px, py, colour, alpha):
        """Source over, kept premultiplied (save() divides the alpha out)."""
        if alpha <= 0.0:
            return
        p = self.pixels[py * self.pw + px]
        inv = 1.0 - alpha
        p[0] = colour[0] * alpha + p[0] * inv
        p[1] = colour[1] * alpha + p[1] * inv
        p[2] = colour[2] * alpha + p[2] * inv
        p[3] = alpha + p[3] * inv

    def paint(self, shader, bbox=None):
        """shader(x, y) -> (colour, alpha)"""
        for px, py, x, y in self.centres(bbox):
            colour, alpha = shader(x, y)
            self.blend(px, py, colour, alpha)

    def fill(self, shape, colour, alpha=1.0, bbox=None):
        self.fill_shaded(shape, lambda x, y: colour, alpha, bbox)

    def fill_shaded(self, shape, colour_at, alpha=1.0, bbox=None):
        s = self.scale
        for px, py, x, y in self.centres(bbox):
            cover = 0.5 - shape(x, y) * s
            if cover > 0.0:
                self.blend(px, py, colour_at(x, y), min(1.0, cover) * alpha)

    def save(self, path):
        rows = []
        for py in range(self.ph):
            row = bytearray([0])
            for px in range(self.pw):
                r, g, b, a = self.pixels[py * self.pw + px]
                if a > 0.0:
                    r, g, b = r / a, g / a, b / a
                row += bytes(int(round(max(0.0, min(255.0, v)))) for v in (r, g, b, a * 255.0))
            rows.append(bytes(row))
        raw = b"".join(rows)

        def chunk(kind, data):
            body = kind + data
            return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body))

        header = struct.pack(">IIBBBBB", self.pw, self.ph, 8, 6, 0, 0, 0)
        with open(path, "wb") as f:
            f.write(b"\x89PNG\r\n\x1a\n")
            f.write(chunk(b"IHDR", header))
            f.write(chunk(b"IDAT", zlib.compress(raw, 9)))
            f.write(chunk(b"IEND", b""))



# ---- emblems (drawn in a box centred on cx, cy with radius r) ----

def refresh_arrows(c, cx, cy, r, colour, width):
    """Two arcs chasing each other round a circle: the program's emblem."""
    c.fill(arc(cx, cy, r, width, 200, 330), colour)
    c.fill(arc(cx, cy, r, width, 20, 150), colour)
    for end in (330, 150):
        a = math.radians(end)
        tip_x = cx + r * math.cos(a + 0.32)
        tip_y = cy + r * math.sin(a + 0.32)
        c.fill(arrow_head(tip_x, tip_y, end + 90 + 12, width * 2.3), colour)


def down_arrow(c, cx, cy, size, colour):
    shaft = rounded_box(cx - size * 0.16, cy - size * 0.62, cx + size * 0.16, cy + size * 0.12,
                        size * 0.05)
    head = polygon([(cx - size * 0.48, cy + 0.02 * size), (cx + size * 0.48, cy + 0.02 * size),
                    (cx, cy + size * 0.58)])
    c.fill(union(shaft, head), colour)


def side_background(c):
    w, h = c.width, c.height

    def shade(x, y):
        t = y / h
        base = mix(SKY, NAVY, t * 1.05)
        return mix(base, BLUE, 0.25 * (x / w)), 1.0
    c.paint(shade)
    # soft rings at the foot of the picture
    c.fill(circle(w * 0.15, h * 1.02, 70), WHITE, 0.07)
    c.fill(circle(w * 0.95, h * 0.92, 46), WHITE, 0.06)
    c.fill(arc(w * 0.5, h * 1.25, 120, 1.2, 200, 340), WHITE, 0.25)
    c.fill(arc(w * 0.5, h * 1.25, 135, 1.0, 205, 335), WHITE, 0.15)
    # light from the top left
    c.fill(circle(w * 0.1, -20, 90), WHITE, 0.08)


def medallion(c, cx, cy, r):
    c.fill(circle(cx, cy + 2, r), NAVY, 0.35)
    c.fill_shaded(circle(cx, cy, r), lambda x, y: mix(WHITE, PALE, (y - cy + r) / (2 * r)))
    c.fill(arc(cx, cy, r - 1.2, 1.0, 0, 360), SKY, 0.35)


def side_welcome(c):
    side_background(c)
    cx, cy, r = 62.5, 96, 40
    medallion(c, cx, cy, r)
    refresh_arrows(c, cx, cy, r * 0.58, BLUE, 5.0)
    down_arrow(c, cx, cy - 1, 20, ORANGE)


def side_server(c):
    side_background(c)
    cx, cy = 62.5, 96
    medallion(c, cx, cy, 40)
    for i, top in enumerate((70, 90, 110)):
        c.fill(rounded_box(cx - 24, top, cx + 24, top + 16, 3), mix(BLUE, NAVY, i * 0.2))
        c.fill(rounded_box(cx - 21, top + 3, cx + 8, top + 13, 1.5), SKY, 0.55)
        c.fill(circle(cx + 14, top + 8, 2.4), GREEN)
        c.fill(circle(cx + 20, top + 8, 1.6), PALE)


def side_download(c):
    side_background(c)
    cx, cy = 62.5, 96
    medallion(c, cx, cy, 40)
    tray = polyline([(cx - 22, cy + 8), (cx - 22, cy + 22), (cx + 22, cy + 22), (cx + 22, cy + 8)],
                    5.0)
    c.fill(tray, BLUE)
    down_arrow(c, cx, cy - 4, 26, ORANGE)


def side_news(c):
    side_background(c)
    cx, cy = 62.5, 96
    medallion(c, cx, cy, 40)
    sheet = rounded_box(cx - 18, cy - 24, cx + 18, cy + 24, 3)
    c.fill(rounded_box(cx - 17, cy - 22, cx + 19, cy + 26, 3), NAVY, 0.25)
    c.fill(sheet, WHITE)
    c.fill(subtract(rounded_box(cx - 18.5, cy - 24.5, cx + 18.5, cy + 24.5, 3.5), sheet), BLUE)
    for i in range(5):
        y = cy - 13 + i * 7
        c.fill(segment(cx - 11, y, cx + (11 if i % 2 == 0 else 4), y, 2.4), GREY)
    star = []
    sx, sy = cx + 18, cy - 22
    for k in range(10):
        rad = 11 if k % 2 == 0 else 4.6
        a = math.radians(-90 + k * 36)
        star.append((sx + rad * math.cos(a), sy + rad * math.sin(a)))
    c.fill(polygon(star), ORANGE)


def side_finish(c):
    side_background(c)
    cx, cy = 62.5, 96
    medallion(c, cx, cy, 40)
    c.fill(circle(cx, cy, 26), GREEN)
    c.fill(polyline([(cx - 12, cy + 1), (cx - 3, cy + 10), (cx + 13, cy - 9)], 6.0), WHITE)


def header(c):
    w, h = c.width, c.height

    def shade(x, y):
        t = max(0.0, (x - w * 0.35) / (w * 0.65))
        return mix(WHITE, PALE, t * t), 1.0
    c.paint(shade)
    # sweeping arcs towards the right-hand end
    for i, (radius, alpha) in enumerate(((150, 0.35), (170, 0.22), (190, 0.14))):
        c.fill(arc(w + 40, h + radius - 30 - i * 4, radius, 1.6, 180, 275), SKY, alpha)
    cx, cy = w - 30, h / 2
    c.fill(circle(cx, cy, 19), BLUE)
    refresh_arrows(c, cx, cy, 11.5, WHITE, 3.0)
    down_arrow(c, cx, cy - 0.5, 8.5, ORANGE)


def program_icon(c):
    s = c.width
    cx = cy = s / 2
    c.fill_shaded(circle(cx, cy, s * 0.47), lambda x, y: mix(SKY, NAVY, y / s))
    refresh_arrows(c, cx, cy, s * 0.29, WHITE, s * 0.085)
    down_arrow(c, cx, cy - s * 0.01, s * 0.22, ORANGE)


def server_icon(c):
    for top in (2.0, 8.5):
        c.fill(rounded_box(1.5, top, 14.5, top + 5.5, 1.2), BLUE)
        c.fill(rounded_box(2.8, top + 1.4, 9.0, top + 4.1, 0.6), SKY, 0.7)
        c.fill(circle(12.0, top + 2.75, 1.1), GREEN)
    c.fill(segment(8, 14.3, 8, 15.5, 1.0), DARK)
    c.fill(segment(4, 15.2, 12, 15.2, 1.0), DARK)


def file_icon(c):
    page = polygon([(3.5, 1.5), (10, 1.5), (12.5, 4), (12.5, 14.5), (3.5, 14.5)])
    c.fill(page, WHITE)
    c.fill(subtract(polygon([(3, 1), (10.2, 1), (13, 3.8), (13, 15), (3, 15)]), page), DARK)
    c.fill(polygon([(9.8, 1.5), (12.5, 4.2), (9.8, 4.2)]), GREY)
    for y in (7, 9.5, 12):
        c.fill(segment(5.5, y, 10.5, y, 1.0), SKY)


def package_icon(c):
    c.fill(polygon([(8, 1.5), (14.5, 4.5), (8, 7.5), (1.5, 4.5)]), mix(ORANGE, WHITE, 0.35))
    c.fill(polygon([(1.5, 4.5), (8, 7.5), (8, 14.8), (1.5, 11.8)]), ORANGE)
    c.fill(polygon([(8, 7.5), (14.5, 4.5), (14.5, 11.8), (8, 14.8)]), mix(ORANGE, NAVY, 0.25))
    c.fill(segment(4.8, 3, 11.2, 6, 1.2), WHITE, 0.8)


def state_downloading_icon(c):
    c.fill(circle(8, 8, 7), BLUE)
    down_arrow(c, 8, 7.5, 8, WHITE)


def state_done_icon(c):
    c.fill(circle(8, 8, 7), GREEN)
    c.fill(polyline([(4.3, 8.2), (7, 10.8), (11.8, 5.4)], 2.0), WHITE)


def state_failed_icon(c):
    c.fill(circle(8, 8, 7), RED)
    c.fill(union(segment(5.3, 5.3, 10.7, 10.7, 2.0), segment(10.7, 5.3, 5.3, 10.7, 2.0)), WHITE)


PICTURES = [
    ("header", 478, 54, header),
    ("side_welcome", 125, 264, side_welcome),
    ("side_server", 125, 264, side_server),
    ("side_download", 125, 264, side_download),
    ("side_news", 125, 264, side_news),
    ("side_finish", 125, 264, side_finish),
    ("program", 32, 32, program_icon),
    ("server", 16, 16, server_icon),
    ("file", 16, 16, file_icon),
    ("package", 16, 16, package_icon),
    ("state_downloading", 16, 16, state_downloading_icon),
    ("state_done", 16, 16, state_done_icon),
    ("state_failed", 16, 16, state_failed_icon),
]


def main():
    os.makedirs(OUT, exist_ok=True)
    for name, width, height, draw in PICTURES:
        for scale, suffix in ((1, ""), (2, "@2x")):
            canvas = Canvas(width, height, scale)
            draw(canvas)
            canvas.save(os.path.join(OUT, name + suffix + ".png"))
            print(name + suffix)


if __name__ == "__main__":
    main()
