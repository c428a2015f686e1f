#!/usr/bin/env python3
"""Turns the window's pictures into Windows icon files.

Each picture of resources/icons/ (NAME-16.png, NAME-32.png, NAME-48.png,
8-bit RGBA, as scripts/make_icons.py writes them) becomes NAME.ico with the
three sizes as 32-bit images with alpha, the form every version of the
system's icon loader reads. Only the standard library is used.

Usage: scripts/png_to_ico.py ICON_DIR OUTPUT_DIR NAME...
"""
import os
import struct
import sys
import zlib

SIZES = (16, 32, 48)


def read_png(path):
    """The pixels of an 8-bit RGBA, non-interlaced PNG, as rows of bytes."""
    with open(path, "rb") as f:
        data = f.read()
    if data[:8] != b"\x89PNG\r\n\x1a\n":
        raise ValueError(f"{path}: not a PNG file")
    at, idat, width, height = 8, b"", 0, 0
    while at < len(data):
        length, kind = struct.unpack(">I4s", data[at:at + 8])
        body = data[at + 8:at + 8 + length]
        if kind == b"IHDR":
            width, height, depth, colour, _, _, interlace = struct.unpack(">IIBBBBB", body)
            if (depth, colour, interlace) != (8, 6, 0):
                raise ValueError(f"{path}: only 8-bit RGBA without interlacing is read")
        elif kind == b"IDAT":
            idat += body
        at += 12 + length
    raw = zlib.decompress(idat)
    stride = width * 4
    rows, previous = [], bytearray(stride)
    for y in range(height):
        kind = raw[y * (stride + 1)]
        line = bytearray(raw[y * (stride + 1) + 1:(y + 1) * (stride + 1)])
        for x in range(stride):
            a = line[x - 4] if x >= 4 else 0
            b = previous[x]
            c = previous[x - 4] if x >= 4 else 0
            if kind == 1:
                line[x] = (line[x] + a) & 0xFF
            elif kind == 2:
                line[x] = (line[x] + b) & 0xFF
            elif kind == 3:
                line[x] = (line[x] + (a + b) // 2) & 0xFF
            elif kind == 4:
                p = a + b - c
                pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
                line[x] = (line[x] + (a if pa <= pb and pa <= pc else b if pb <= pc else c)) & 0xFF
        rows.append(bytes(line))
        previous = line
    return width, height, rows


def icon_image(width, height, rows):
    """A 32-bit image of an icon file: the header, BGRA bottom up, the mask."""
    header = struct.pack("<IiiHHIIiiII", 40, width, height * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    pixels = b""
    for row in reversed(rows):
        pixels += b"".join(bytes((row[x + 2], row[x + 1], row[x], row[x + 3])) for x in range(0, len(row), 4))
    mask_stride = ((width + 31) // 32) * 4
    mask = b""
    for row in reversed(rows):
        bits = bytearray(mask_stride)
        for x in range(width):
            if row[x * 4 + 3] == 0:
                bits[x // 8] |= 0x80 >> (x % 8)
        mask += bytes(bits)
    return header + pixels + mask


def main(argv):
    if len(argv) < 4:
        sys.exit(__doc__)
    source, output = argv[1], argv[2]
    os.makedirs(output, exist_ok=True)
    for name in argv[3:]:
        images = [icon_image(*read_png(os.path.join(source, f"{name}-{size}.png"))) for size in SIZES]
        directory = struct.pack("<HHH", 0, 1, len(images))
        offset = 6 + 16 * len(images)
        for size, image in zip(SIZES, images):
            directory += struct.pack("<BBBBHHII", size, size, 0, 0, 1, 32, len(image), offset)
            offset += len(image)
        with open(os.path.join(output, name + ".ico"), "wb") as f:
            f.write(directory + b"".join(images))


if __name__ == "__main__":
    main(sys.argv)
