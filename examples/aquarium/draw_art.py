#!/usr/bin/env python3
"""Draws the aquarium saver's pictures: draw_art.py OUTDIR

OUTDIR/sprites.bmp     the sprite sheet, the saver's data file (<base name>.DAT)
OUTDIR/background.bmp  the background, the first further file (FILE0001.BMP)
OUTDIR/aquarium.ico    the installer's icon (saverpack create --icon)

Everything is drawn here from shapes, so the art is ours and the same run
gives the same bytes. The sheet's layout is the one tank.h describes: a
32-bit BMP with premultiplied alpha, four fish kinds a row (facing right
with the tail in two positions, then facing left), a row of bubbles below.
Python 3's standard library only.
"""

import math
import os
import struct
import sys
import zlib

FISH_W, FISH_H = 96, 48
FISH_KINDS, FISH_FRAMES = 4, 2
BUBBLE_CELL = 32
BUBBLE_DIAMETERS = (10, 16, 22, 30)  # as BubbleDiameters in tank.cpp
SHEET_W = 2 * FISH_FRAMES * FISH_W
SHEET_H = FISH_KINDS * FISH_H + BUBBLE_CELL
BACK_W, BACK_H = 640, 480

# Samples a pixel side: edges come out smooth against any water.
SUPERSAMPLE = 3


def bmp(width, height, rows, bits):
    """A BITMAPINFOHEADER BMP, bottom-up; rows top first, each row's bytes
    in BGR or BGRA order."""
    stride = (width * bits // 8 + 3) & ~3
    pixels = bytearray()
    for row in reversed(rows):
        pixels += row
        pixels += b"\0" * (stride - len(row))
    header = struct.pack("<2sIHHI", b"BM", 54 + len(pixels), 0, 0, 54)
    info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, bits, 0, len(pixels),
                       2835, 2835, 0, 0)
    return header + info + bytes(pixels)


def mix(a, b, t):
    return tuple(x + (y - x) * t for x, y in zip(a, b))


def clamp(v, lo=0.0, hi=1.0):
    return lo if v < lo else hi if v > hi else v


# --- Fish -----------------------------------------------------------------

# body, belly, fins, and stripe colours of each kind (RGB, 0..255)
FISH_COLOURS = [
    ((250, 120, 20), (255, 190, 110), (235, 95, 15), (250, 250, 245)),   # orange, white bands
    ((40, 90, 220), (110, 170, 255), (250, 210, 40), (20, 30, 90)),      # blue, yellow tail
    ((250, 215, 30), (255, 245, 150), (230, 150, 20), (120, 80, 10)),    # yellow, brown stripe
    ((220, 50, 90), (255, 170, 150), (200, 40, 70), (255, 220, 120)),    # red, gold spots
]


def fish_sample(kind, frame, u, v):
    """Colour and coverage of one point of a right-facing fish; u, v in cell
    pixels. Returns None outside the fish."""
    body, belly, fins, stripe = FISH_COLOURS[kind]
    cx, cy, rx, ry = 54.0, 24.0, 33.0, 14.5
    ex, ey = (u - cx) / rx, (v - cy) / ry
    d = ex * ex + ey * ey
    if d <= 1.0:
        # Lighter belly, darker back, a rim darker still: a rounded body.
        colour = mix(body, belly, clamp((ey + 0.2) * 1.2))
        colour = mix(colour, (0, 0, 0), clamp((d - 0.82) * 2.2) * 0.6)
        if kind == 0 and (abs(u - 44) < 3.5 or abs(u - 66) < 3.0):
            colour = mix(stripe, (40, 20, 10), clamp(abs(u - (44 if u < 55 else 66)) - 2.2))
        elif kind == 1 and abs(ey - 0.05 + 0.25 * math.sin(u / 9)) < 0.14 and u < 72:
            colour = stripe
        elif kind == 2 and abs(u - 58 - 6 * ey) < 2.5:
            colour = stripe
        elif kind == 3 and ((u - 46) % 11 - 5.5) ** 2 + ((v - 22) % 9 - 4.5) ** 2 < 4.5:
            colour = stripe
        # The eye: white, a black pupil and a glint.
        eye = (u - 75.0) ** 2 + (v - 20.0) ** 2
        if eye < 16:
            colour = (250, 250, 250) if eye > 5 else (10, 10, 20)
            if (u - 75.6) ** 2 + (v - 19.2) ** 2 < 0.9:
                colour = (255, 255, 255)
        # The mouth: a short dark line at the front.
        if abs(v - 26.5) < 0.7 and 82 < u < 87:
            colour = mix(colour, (60, 20, 20), 0.7)
        return colour
    # The tail beats: its tips move up or down with the frame.
    swing = 3.5 if frame else -3.5
    if 4 <= u <= 26:
        t = (26 - u) / 22.0  # 0 at the body, 1 at the tip
        half = 3 + 13 * t
        middle = cy + swing * t
        notch = 5 * t * t
        off = abs(v - middle)
        if off <= half and not (off < notch and t > 0.55):
            return mix(fins, (0, 0, 0), 0.25 * t)
    # The dorsal fin, a swept curve along the back.
    if 36 <= u <= 66:
        t = (u - 36) / 30.0
        top = 6 + 10 * (1 - math.sin(t * math.pi * 0.9))
        if top <= v <= 14 + 4 * abs(t - 0.5):
            return mix(fins, body, 0.3)
    # A small fin below.
    if 50 <= u <= 62 and 36 <= v <= 42 - (u - 50) * 0.4:
        return fins
    return None


def supersampled(width, height, n, sample):
    """Rows of (r, g, b, hits, samples) per pixel: the colour sums of the n x n
    samples `sample(x, y)` gave inside it (None where it drew nothing)."""
    offsets = [(i + 0.5) / n for i in range(n)]
    rows = []
    for y in range(height):
        row = []
        for x in range(width):
            r = g = b = 0.0
            hits = 0
            for oy in offsets:
                for ox in offsets:
                    c = sample(x + ox, y + oy)
                    if c is not None:
                        r += c[0]
                        g += c[1]
                        b += c[2]
                        hits += 1
            row.append((r, g, b, hits, n * n))
        rows.append(row)
    return rows


def fish_cell(kind, frame):
    """Rows of premultiplied BGRA for one right-facing fish."""
    sums = supersampled(FISH_W, FISH_H, SUPERSAMPLE, lambda x, y: fish_sample(kind, frame, x, y))
    # Premultiplied: each channel is colour times coverage.
    return [[(round(b / total), round(g / total), round(r / total), round(255 * hits / total))
             for r, g, b, hits, total in row] for row in sums]


# --- Bubbles --------------------------------------------------------------

def bubble_cell(diameter):
    """A translucent bubble: nearly clear inside, a brighter rim, a glint."""
    rows = []
    radius = diameter / 2.0
    centre = BUBBLE_CELL / 2.0
    for y in range(BUBBLE_CELL):
        row = []
        for x in range(BUBBLE_CELL):
            dx, dy = x + 0.5 - centre, y + 0.5 - centre
            dist = math.hypot(dx, dy)
            edge = clamp(radius - dist + 0.5)  # coverage of the disc
            if edge <= 0:
                row.append((0, 0, 0, 0))
                continue
            rim = clamp((dist / radius - 0.6) / 0.4) ** 2
            alpha = 0.12 + 0.6 * rim
            glint = math.hypot(dx + radius * 0.35, dy + radius * 0.35)
            if glint < radius * 0.22:
                alpha = max(alpha, 0.9)
            colour = (205, 235, 255) if glint >= radius * 0.22 else (255, 255, 255)
            a = alpha * edge
            row.append((round(colour[2] * a), round(colour[1] * a), round(colour[0] * a),
                        round(255 * a)))
        rows.append(row)
    return rows


def sprite_sheet():
    sheet = [[(0, 0, 0, 0)] * SHEET_W for _ in range(SHEET_H)]

    def put(cell, left, top, mirror=False):
        for y, row in enumerate(cell):
            line = sheet[top + y]
            for x, px in enumerate(reversed(row) if mirror else row):
                line[left + x] = px

    for kind in range(FISH_KINDS):
        for frame in range(FISH_FRAMES):
            cell = fish_cell(kind, frame)
            put(cell, frame * FISH_W, kind * FISH_H)
            put(cell, (FISH_FRAMES + frame) * FISH_W, kind * FISH_H, mirror=True)
    for i, d in enumerate(BUBBLE_DIAMETERS):
        put(bubble_cell(d), i * BUBBLE_CELL, FISH_KINDS * FISH_H)
    rows = [bytes(v for px in line for v in px) for line in sheet]
    return bmp(SHEET_W, SHEET_H, rows, 32)


# --- Background -----------------------------------------------------------

def sand_top(x):
    return BACK_H * 0.83 + 9 * math.sin(x / 57.0) + 5 * math.sin(x / 23.0 + 1.3)


ROCKS = [(120, 410, 60, 34, (90, 100, 110)), (160, 420, 38, 22, (110, 115, 120)),
         (500, 415, 75, 40, (80, 90, 105)), (455, 428, 30, 18, (120, 120, 125))]
# x of the foot, height, sway, phase
WEEDS = [(60, 170, 9, 0.0), (82, 120, 7, 1.1), (250, 200, 11, 2.0), (275, 140, 8, 0.4),
         (395, 110, 6, 2.7), (585, 190, 10, 1.6), (605, 130, 8, 0.9)]


def water(x, y):
    depth = y / BACK_H
    colour = mix((70, 180, 225), (8, 45, 105), depth ** 0.8)
    # Slanting shafts of light from the surface, fading with depth.
    shaft = 0.0
    for centre, width in ((130, 40), (300, 60), (470, 35), (560, 50)):
        off = x - centre - (y * 0.35)
        shaft += clamp(1 - abs(off) / width) ** 2
    light = 0.25 * shaft * clamp(1 - depth * 1.2)
    return mix(colour, (200, 240, 255), light)


def background():
    rows = []
    for y in range(BACK_H):
        row = bytearray()
        for x in range(BACK_W):
            top = sand_top(x)
            if y >= top:
                ripple = 0.06 * math.sin(x / 7.0 + 3 * math.sin(y / 11.0))
                shade = clamp(0.9 - (y - top) / 140 + ripple)
                c = mix((150, 125, 85), (225, 200, 145), shade)
            else:
                c = water(x, y)
            for rx, ry, rw, rh, rc in ROCKS:
                ex, ey = (x - rx) / rw, (y - ry) / rh
                if ex * ex + ey * ey <= 1 and y <= ry + rh * 0.6:
                    c = mix(rc, (30, 35, 45), clamp(ey * 0.8 + ex * 0.3 + 0.3))
            for foot, height, sway, phase in WEEDS:
                if foot - 20 < x < foot + 20 and top - height < y:
                    t = (top - y) / height  # 0 at the foot, 1 at the tip
                    if 0 <= t <= 1:
                        middle = foot + sway * math.sin(t * 5 + phase) * t
                        half = 4.5 * (1 - t) + 0.8
                        if abs(x - middle) < half:
                            c = mix((30, 130, 50), (120, 200, 80), t * 0.8 + 0.1 *
                                    (x - middle) / half)
            row += bytes((round(c[2]), round(c[1]), round(c[0])))
        rows.append(bytes(row))
    return bmp(BACK_W, BACK_H, rows, 24)


# --- Icon -----------------------------------------------------------------

# Small sizes are drawn in their own right, not shrunk from the large one,
# and the shapes are bold enough to stay readable at 16 pixels.
ICON_DIB_SIDES = (16, 32, 48)
ICON_PNG_SIDE = 256  # a DIB this large would be 256 KiB; Windows takes a PNG

ICON_MARGIN = 0.03
ICON_CORNER = 0.2
ICON_BUBBLES = ((0.79, 0.30, 0.075), (0.86, 0.13, 0.05))  # centre, radius


def tile_depth(u, v):
    """How far inside the rounded square a point is, in icon widths
    (negative outside)."""
    half = 0.5 - ICON_MARGIN
    qx = abs(u - 0.5) - (half - ICON_CORNER)
    qy = abs(v - 0.5) - (half - ICON_CORNER)
    outside = math.hypot(max(qx, 0.0), max(qy, 0.0)) + min(max(qx, qy), 0.0)
    return ICON_CORNER - outside


def icon_water(u, v):
    colour = mix((95, 205, 245), (10, 60, 150), v ** 0.9)
    # One shaft of light: it reads as water rather than a plain blue tile.
    shaft = clamp(1 - abs(u - 0.3 - v * 0.35) / 0.12) ** 2 * clamp(1 - v * 1.3)
    colour = mix(colour, (215, 245, 255), 0.3 * shaft)
    if v > 0.86 + 0.025 * math.sin(u * 9):
        colour = mix((200, 170, 105), (235, 210, 150), clamp((1 - v) * 7))
    return colour


def icon_fish(u, v, small):
    """The fish's colour at a point, or None off it: a fat yellow body
    turning orange towards the tail, a forked tail, a fin and a big eye.
    At 16 pixels the eye is one dark dot: a white ring round it would blur
    it to grey."""
    cx, cy, rx, ry = 0.48, 0.56, 0.27, 0.18
    ex, ey = (u - cx) / rx, (v - cy) / ry
    d = ex * ex + ey * ey
    if d <= 1.0:
        colour = mix((255, 215, 40), (245, 120, 20), clamp(0.5 - ex * 0.7))
        colour = mix(colour, (255, 245, 170), clamp(ey * 0.8) * 0.6)
        # A dark rim keeps the body apart from the water at every size.
        colour = mix(colour, (150, 50, 0), clamp((d - 0.72) * 4) * (0.5 if small else 1))
        eye = math.hypot(u - 0.62, v - 0.51)
        if small and eye < 0.06:
            return (15, 20, 40)
        if eye < 0.055:
            colour = (15, 20, 40) if eye < 0.035 else (255, 255, 255)
            if math.hypot(u - 0.61, v - 0.495) < 0.012:
                colour = (255, 255, 255)
        return colour
    if 0.08 <= u <= 0.25:
        t = (0.25 - u) / 0.17  # 0 at the body, 1 at the tip
        off = abs(v - cy)
        if off <= 0.03 + 0.16 * t and not (off < 0.09 * t * t and t > 0.6):
            return mix((245, 110, 15), (200, 70, 0), t)
    if 0.36 <= u <= 0.58:
        t = (u - 0.36) / 0.22
        top = cy - ry - 0.09 * math.sin(t * math.pi) * (1.2 - t)
        if top <= v <= cy - ry * 0.8:
            return (240, 110, 15)
    return None


def icon_bubble(u, v, small):
    """A bubble's tint over the water: a bright rim and a glint, a clear
    middle. Returns the colour and how much of it covers the water. At 16
    pixels a clear middle would be most of the bubble: it is filled in."""
    for bx, by, r in ICON_BUBBLES:
        dist = math.hypot(u - bx, v - by)
        if dist <= r:
            if math.hypot(u - bx + r * 0.35, v - by + r * 0.35) < r * 0.3:
                return (255, 255, 255), 0.95
            if small:
                return (235, 250, 255), 0.8
            return (225, 245, 255), 0.25 + 0.65 * clamp((dist / r - 0.55) / 0.45)
    return None


def icon_sample(u, v, small):
    """The icon's colour at a point, None outside; u, v from 0 to 1."""
    inside = tile_depth(u, v)
    if inside < 0:
        return None
    colour = icon_fish(u, v, small)
    if colour is None:
        colour = icon_water(u, v)
        bubble = icon_bubble(u, v, small)
        if bubble:
            colour = mix(colour, bubble[0], bubble[1])
    # A thin darker edge so the tile stands out on a light desktop.
    return mix(colour, (5, 30, 80), 0.55 * clamp(1 - inside / 0.035))


def icon_pixels(side):
    """Rows top first of (r, g, b, a), straight alpha as icons hold it."""
    n = max(3, 96 // side)  # more samples a pixel where pixels are few
    small = side <= 16
    sums = supersampled(side, side, n, lambda x, y: icon_sample(x / side, y / side, small))
    return [[(round(r / hits), round(g / hits), round(b / hits), round(255 * hits / total))
             if hits else (0, 0, 0, 0) for r, g, b, hits, total in row] for row in sums]


def icon_dib(rows):
    """An .ico's DIB image: its height counts the colour rows and the AND
    mask's; both are bottom-up, the mask rows padded to 4 bytes."""
    side = len(rows)
    colour = bytearray()
    for row in reversed(rows):
        for r, g, b, a in row:
            colour += bytes((b, g, r, a))
    mask_stride = (side + 31) // 32 * 4
    mask = bytearray()
    for row in reversed(rows):
        bits = bytearray(mask_stride)
        for x, px in enumerate(row):
            if px[3] == 0:  # set bits are transparent where alpha is ignored
                bits[x // 8] |= 0x80 >> (x % 8)
        mask += bits
    header = struct.pack("<IiiHHIIiiII", 40, side, 2 * side, 1, 32, 0,
                         len(colour) + len(mask), 0, 0, 0, 0)
    return header + bytes(colour) + bytes(mask)


def png_chunk(kind, data):
    return (struct.pack(">I", len(data)) + kind + data +
            struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF))


def icon_png(rows):
    """An 8-bit RGBA PNG, each row with filter type 0."""
    side = len(rows)
    raw = b"".join(b"\0" + bytes(v for px in row for v in px) for row in rows)
    return (b"\x89PNG\r\n\x1a\n" +
            png_chunk(b"IHDR", struct.pack(">IIBBBBB", side, side, 8, 6, 0, 0, 0)) +
            png_chunk(b"IDAT", zlib.compress(raw, 9)) + png_chunk(b"IEND", b""))


def ico(images):
    """An .ico of (side, image bytes) pairs; 256 is written as 0."""
    directory = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for side, data in images:
        directory += struct.pack("<BBBBHHII", side % 256, side % 256, 0, 0, 1, 32,
                                 len(data), offset)
        offset += len(data)
    return directory + b"".join(data for _, data in images)


def icon():
    images = [(side, icon_dib(icon_pixels(side))) for side in ICON_DIB_SIDES]
    images.append((ICON_PNG_SIDE, icon_png(icon_pixels(ICON_PNG_SIDE))))
    return ico(images)


def main(argv):
    if len(argv) != 2:
        sys.stderr.write("usage: draw_art.py OUTDIR\n")
        return 2
    out = argv[1]
    os.makedirs(out, exist_ok=True)
    for path, data in ((os.path.join(out, "sprites.bmp"), sprite_sheet()),
                       (os.path.join(out, "background.bmp"), background()),
                       (os.path.join(out, "aquarium.ico"), icon())):
        with open(path + ".tmp", "wb") as f:
            f.write(data)
        os.replace(path + ".tmp", path)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
