#!/usr/bin/env python3
"""Renders the about box's picture: a star field over a dark horizon, one star sharp and its
twin spread into the ring an out-of-focus star makes, and a focuser's drawtube and knob in the
foreground. Writes a binary PPM; make_about_art.sh turns it into the JPEG the program holds.

    scripts/make_about_art.py > about.ppm
"""
import math
import random
import sys

W, H = 512, 512
rng = random.Random(1604)  # a fixed seed, so that the picture can be made again

img = [[0.0, 0.0, 0.0] for _ in range(W * H)]


def add(x, y, rgb, k):
    if 0 <= x < W and 0 <= y < H:
        p = img[y * W + x]
        p[0] += rgb[0] * k
        p[1] += rgb[1] * k
        p[2] += rgb[2] * k


# Night sky: deep blue at the top to a faint glow at the horizon.
for y in range(H):
    t = y / (H - 1)
    sky = (8 + 20 * t * t, 12 + 30 * t * t, 38 + 50 * t)
    for x in range(W):
        img[y * W + x][:] = list(sky)

# A band of faint light across the sky, with its dust.
for y in range(H):
    for x in range(W):
        d = (y - (0.9 * x * 0.55 + 40)) / 70.0
        glow = math.exp(-d * d) * (0.6 + 0.4 * math.sin(x * 0.031) * math.sin(y * 0.047))
        add(x, y, (40, 38, 55), glow * 0.6)


def star(cx, cy, radius, rgb, peak):
    r = int(radius * 4) + 1
    for y in range(int(cy) - r, int(cy) + r + 1):
        for x in range(int(cx) - r, int(cx) + r + 1):
            d2 = ((x - cx) ** 2 + (y - cy) ** 2) / (radius * radius)
            add(x, y, rgb, peak * math.exp(-d2))


colours = [(255, 250, 240), (200, 215, 255), (255, 225, 190), (255, 255, 255)]
for _ in range(900):
    x, y = rng.uniform(0, W), rng.uniform(0, H * 0.78)
    b = rng.random() ** 3
    star(x, y, 0.6 + 1.4 * b, rng.choice(colours), 0.5 + 1.5 * b)

# The focused star, with four diffraction spikes.
fx, fy = 150, 150
star(fx, fy, 3.0, (255, 255, 255), 2.5)
for ang in (0.6, 0.6 + math.pi / 2, 0.6 + math.pi, 0.6 + 3 * math.pi / 2):
    for s in range(4, 60):
        k = 0.9 * math.exp(-s / 18.0)
        star(fx + s * math.cos(ang), fy + s * math.sin(ang), 0.9, (220, 230, 255), k)

# The same star out of focus: a ring with the shadow of the secondary mirror in it.
dx, dy = 370, 130
for y in range(dy - 60, dy + 61):
    for x in range(dx - 60, dx + 61):
        r = math.hypot(x - dx, y - dy)
        ring = 1.0 / (1.0 + math.exp((r - 46) / 1.5)) - 1.0 / (1.0 + math.exp((r - 16) / 1.5))
        add(x, y, (150, 175, 230), 0.55 * ring * (1.0 + 0.15 * math.sin(r * 0.9)))

# A hill line at the horizon.
for x in range(W):
    top = int(H * 0.80 + 14 * math.sin(x * 0.013) + 6 * math.sin(x * 0.041 + 1.0))
    for y in range(top, H):
        img[y * W + x][:] = [6, 8, 14]


def box(x0, y0, x1, y1, rgb):
    for y in range(max(0, y0), min(H, y1)):
        for x in range(max(0, x0), min(W, x1)):
            img[y * W + x][:] = list(rgb)


# The focuser: body, drawtube with its scale, the knob and its ridges, lit from the sky.
box(300, 360, 470, 430, (46, 50, 60))
box(300, 360, 470, 364, (110, 118, 135))
box(330, 300, 440, 360, (70, 76, 90))
box(330, 300, 440, 303, (150, 160, 180))
for i in range(8):
    box(338 + i * 13, 318, 339 + i * 13, 330 if i % 2 else 338, (200, 205, 215))
box(470, 378, 500, 412, (90, 96, 110))
for i in range(6):
    box(472 + i * 5, 378, 474 + i * 5, 412, (130, 138, 155))
box(200, 380, 300, 410, (38, 42, 50))

out = sys.stdout.buffer
out.write(b"P6\n%d %d\n255\n" % (W, H))
out.write(bytes(min(255, int(c)) for p in img for c in p))
