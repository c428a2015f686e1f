#!/usr/bin/env python3
"""Draws the pictures of the desktop window and writes them as PNG files.

The tree pictures have a transparent background and come in the order of the
tree's picture indices: a drive, a closed folder, an open folder, a text
document, a document held in a red clamp (compressed) and a document beside a
clamped one (both versions). Every picture, the application icon included,
is written at 16, 32 and 48 pixels as NAME-SIZE.png, so that the window shows
it sharp on screens of any density. The application icon is also written as
moravine.svg, the same shapes as a scalable picture for the desktop's menus
and file managers.

Every picture is a list of filled shapes on a 16-unit square, painted in
order and sampled 4 x 4 times per pixel, so the same drawing serves any size.
Only the standard library is used.

Usage: scripts/make_icons.py [OUTPUT_DIR]   (default: resources/icons)
"""
import os
import struct
import sys
import zlib

SAMPLES = 4

# Colours (r, g, b, a).
OUTLINE = (64, 64, 64, 255)
PAPER = (255, 255, 255, 255)
FOLD = (214, 214, 214, 255)
INK = (120, 132, 150, 255)
FOLDER_DARK = (166, 122, 24, 255)
FOLDER = (244, 198, 72, 255)
FOLDER_LIGHT = (252, 226, 140, 255)
FOLDER_BACK = (214, 162, 46, 255)
METAL_DARK = (80, 84, 92, 255)
METAL = (176, 182, 190, 255)
METAL_LIGHT = (222, 226, 232, 255)
LED = (40, 200, 60, 255)
CLAMP_DARK = (128, 16, 16, 255)
CLAMP = (214, 40, 36, 255)
CLAMP_LIGHT = (246, 120, 110, 255)
SCREW = (96, 96, 104, 255)


def rect(x0, y0, x1, y1, colour):
    return ("poly", [(x0, y0), (x1, y0), (x1, y1), (x0, y1)], colour)


def poly(points, colour):
    return ("poly", points, colour)


def circle(cx, cy, r, colour):
    return ("circle", (cx, cy, r), colour)


def framed(x0, y0, x1, y1, edge, fill):
    """A rectangle with a one-unit outline."""
    return [rect(x0, y0, x1, y1, edge), rect(x0 + 1, y0 + 1, x1 - 1, y1 - 1, fill)]


def inside(shape, x, y):
    kind, data, _ = shape
    if kind == "circle":
        cx, cy, r = data
        return (x - cx) ** 2 + (y - cy) ** 2 <= r * r
    hit = False
    n = len(data)
    for i in range(n):
        (xa, ya), (xb, yb) = data[i], data[(i + 1) % n]
        if (ya > y) != (yb > y) and x < xa + (y - ya) * (xb - xa) / (yb - ya):
            hit = not hit
    return hit


def render(shapes, size):
    """Paints the shapes on a transparent square; returns rows of RGBA bytes."""
    scale = 16.0 / size
    rows = []
    for py in range(size):
        row = bytearray()
        for px in range(size):
            acc = [0.0, 0.0, 0.0, 0.0]  # premultiplied
            for sy in range(SAMPLES):
                for sx in range(SAMPLES):
                    x = (px + (sx + 0.5) / SAMPLES) * scale
                    y = (py + (sy + 0.5) / SAMPLES) * scale
                    colour = None
                    for shape in shapes:
                        if inside(shape, x, y):
                            colour = shape[2]
                    if colour:
                        a = colour[3] / 255.0
                        acc[0] += colour[0] * a
                        acc[1] += colour[1] * a
                        acc[2] += colour[2] * a
                        acc[3] += a
            n = SAMPLES * SAMPLES
            alpha = acc[3] / n
            if alpha > 0:
                pixel = [round(acc[i] / acc[3]) for i in range(3)] + [round(alpha * 255)]
            else:
                pixel = [0, 0, 0, 0]
            row.extend(pixel)
        rows.append(bytes(row))
    return rows


def write_png(path, rows, size):
    raw = b"".join(b"\x00" + row for row in rows)

    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)

    header = struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0)  # 8-bit RGBA
    with open(path, "wb") as out:
        out.write(b"\x89PNG\r\n\x1a\n")
        out.write(chunk(b"IHDR", header))
        out.write(chunk(b"IDAT", zlib.compress(raw, 9)))
        out.write(chunk(b"IEND", b""))


def write_svg(path, shapes):
    """The shapes as an SVG picture on the 16-unit square, painted in order."""
    def number(v):
        return ("%.2f" % v).rstrip("0").rstrip(".")

    def fill(colour):
        r, g, b, a = colour
        return 'fill="#%02x%02x%02x"%s' % (r, g, b, "" if a == 255 else ' fill-opacity="%s"' % number(a / 255))

    lines = ['<svg xmlns="http://www.w3.org/2000/svg" width="48" height="48" viewBox="0 0 16 16">',
             "<title>Moravine</title>"]
    for kind, data, colour in shapes:
        if kind == "circle":
            cx, cy, r = data
            lines.append('<circle cx="%s" cy="%s" r="%s" %s/>' % (number(cx), number(cy), number(r), fill(colour)))
        else:
            points = " ".join("%s,%s" % (number(x), number(y)) for x, y in data)
            lines.append('<polygon points="%s" %s/>' % (points, fill(colour)))
    lines.append("</svg>")
    with open(path, "w") as out:
        out.write("\n".join(lines) + "\n")


def page(x0, y0, x1, y1, lines=True):
    """A sheet of paper with a folded top-right corner and lines of text."""
    fold = max(2, (x1 - x0) // 3)
    shapes = [
        poly([(x0, y0), (x1 - fold, y0), (x1, y0 + fold), (x1, y1), (x0, y1)], OUTLINE),
        poly([(x0 + 1, y0 + 1), (x1 - fold - 0.4, y0 + 1), (x1 - 1, y0 + fold + 0.4), (x1 - 1, y1 - 1),
              (x0 + 1, y1 - 1)], PAPER),
        poly([(x1 - fold, y0 + 1), (x1 - fold, y0 + fold), (x1 - 1, y0 + fold)], FOLD),
    ]
    if lines:
        y = y0 + 3
        while y + 1 <= y1 - 2:
            right = x1 - 2 if y > y0 + fold else x1 - fold - 1
            shapes.append(rect(x0 + 2, y, right, y + 1, INK))
            y += 2
    return shapes


def clamp(x0, y0, x1, y1):
    """A red C-clamp whose jaws close on the span [y0, y1] right of x0."""
    return [
        # the frame: a back bar and two arms
        rect(x0, y0 - 2, x0 + 2, y1 + 2, CLAMP_DARK),
        rect(x0, y0 - 2, x1, y0, CLAMP_DARK),
        rect(x0, y1, x1, y1 + 2, CLAMP_DARK),
        rect(x0 + 0.6, y0 - 1.4, x0 + 1.4, y1 + 1.4, CLAMP),
        rect(x0 + 0.6, y0 - 1.4, x1 - 0.6, y0 - 0.6, CLAMP_LIGHT),
        rect(x0 + 0.6, y1 + 0.6, x1 - 0.6, y1 + 1.4, CLAMP),
        # the screw pads that press the paper
        rect(x1 - 3, y0, x1 - 1, y0 + 1, SCREW),
        rect(x1 - 3, y1 - 1, x1 - 1, y1, SCREW),
    ]


def drive():
    return [
        poly([(2, 5), (14, 5), (15, 8), (1, 8)], METAL_DARK),
        poly([(2.8, 5.8), (13.2, 5.8), (13.9, 8), (2.1, 8)], METAL_LIGHT),
        rect(1, 8, 15, 13, METAL_DARK),
        rect(2, 8.6, 14, 12, METAL),
        rect(3, 10, 9, 11, METAL_DARK),
        circle(12, 10.5, 1.1, LED),
    ]


def folder_closed():
    return [
        poly([(1, 3), (6, 3), (7, 4.5), (15, 4.5), (15, 14), (1, 14)], FOLDER_DARK),
        rect(2, 5.5, 14, 13, FOLDER),
        rect(2, 4, 5.5, 5.5, FOLDER_LIGHT),
        rect(2, 5.5, 14, 6.5, FOLDER_LIGHT),
    ]


def folder_open():
    return [
        poly([(1, 3), (6, 3), (7, 4.5), (14, 4.5), (14, 7), (1, 7)], FOLDER_DARK),
        rect(2, 4, 5.5, 7, FOLDER_BACK),
        rect(1, 7, 14, 14, FOLDER_DARK),
        rect(2, 7, 13, 13, FOLDER_BACK),
        rect(3, 5.5, 12, 9, PAPER),
        poly([(3.5, 8), (16, 8), (13.5, 14), (1, 14)], FOLDER_DARK),
        poly([(4.3, 9), (14.6, 9), (12.8, 13), (2.5, 13)], FOLDER),
        poly([(4.3, 9), (14.6, 9), (14.2, 10), (3.9, 10)], FOLDER_LIGHT),
    ]


def document():
    return page(3, 1, 13, 15)


def clamped():
    return page(5, 3, 13, 13) + clamp(2, 3, 14, 13)


def both():
    return page(0, 1, 8, 15) + page(10, 5, 15, 11, lines=False) + clamp(8, 5, 16, 11)


def application():
    # The application's own picture: a page held in the clamp.
    return page(4, 2, 13, 14) + clamp(1, 2, 15, 14)


TREE = [
    ("drive", drive),
    ("folder", folder_closed),
    ("folder-open", folder_open),
    ("document", document),
    ("compressed", clamped),
    ("both", both),
]

SIZES = (16, 32, 48)


def main():
    root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    out_dir = sys.argv[1] if len(sys.argv) > 1 else os.path.join(root, "resources", "icons")
    os.makedirs(out_dir, exist_ok=True)
    for name, draw in TREE + [("moravine", application)]:
        for size in SIZES:
            write_png(os.path.join(out_dir, "%s-%d.png" % (name, size)), render(draw(), size), size)
    write_svg(os.path.join(out_dir, "moravine.svg"), application())


if __name__ == "__main__":
    main()
