#!/usr/bin/env python3
"""Draws the program's icon and writes it as a .ico file (16-colour images, 32x32 and 16x16).

The picture: a blue adapter with a grey USB plug on top and a red cross over its lower
right corner. Shapes are given in a 0..1 square and drawn at each size, so both images
show the same thing. 16-colour images display on every Windows the program runs on.

usage: make_icon.py OUTPUT.ico
"""
import struct
import sys

# The standard 16-colour palette, as (red, green, blue).
PALETTE = [
    (0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0),
    (0, 0, 128), (128, 0, 128), (0, 128, 128), (192, 192, 192),
    (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0),
    (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255),
]
BLACK, NAVY, SILVER, GREY, RED, BLUE, WHITE = 0, 4, 7, 8, 9, 12, 15
CLEAR = None  # transparent


def rect(x0, y0, x1, y1):
    return lambda x, y: x0 <= x < x1 and y0 <= y < y1


def cross(cx, cy, half, thickness):
    def inside(x, y):
        dx, dy = x - cx, y - cy
        if abs(dx) > half or abs(dy) > half:
            return False
        return abs(dx - dy) < thickness or abs(dx + dy) < thickness
    return inside


# Painted in order; a later shape covers an earlier one. y grows downwards.
SHAPES = [
    (rect(0.34, 0.03, 0.66, 0.30), GREY),     # plug shell
    (rect(0.38, 0.07, 0.62, 0.26), SILVER),   # plug face
    (rect(0.42, 0.12, 0.47, 0.18), BLACK),    # contact holes
    (rect(0.53, 0.12, 0.58, 0.18), BLACK),
    (rect(0.16, 0.28, 0.84, 0.97), NAVY),     # adapter body, dark rim
    (rect(0.21, 0.33, 0.79, 0.92), BLUE),
    (rect(0.28, 0.42, 0.72, 0.50), WHITE),    # label stripe
    (cross(0.72, 0.74, 0.25, 0.10), WHITE),   # cross outline
    (cross(0.72, 0.74, 0.22, 0.06), RED),     # cross
]


def draw(size):
    """Returns rows (top row first) of palette indexes or CLEAR."""
    rows = []
    for py in range(size):
        row = []
        for px in range(size):
            x, y = (px + 0.5) / size, (py + 0.5) / size
            colour = CLEAR
            for inside, paint in SHAPES:
                if inside(x, y):
                    colour = paint
            row.append(colour)
        rows.append(row)
    return rows


def padded(data):
    return data + b"\0" * (-len(data) % 4)


def icon_image(size):
    """One icon image: BITMAPINFOHEADER, palette, 4-bit colour rows, 1-bit mask rows."""
    rows = draw(size)
    colour_rows, mask_rows = b"", b""
    for row in reversed(rows):  # bitmaps are stored bottom-up
        nibbles = [0 if c is CLEAR else c for c in row]
        colour_rows += padded(bytes(nibbles[i] << 4 | nibbles[i + 1] for i in range(0, size, 2)))
        bits = [1 if c is CLEAR else 0 for c in row]
        mask_rows += padded(bytes(
            sum(bits[i + b] << (7 - b) for b in range(8)) for i in range(0, size, 8)))
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 4, 0,
                         len(colour_rows) + len(mask_rows), 0, 0, 16, 0)
    palette = b"".join(bytes((b, g, r, 0)) for r, g, b in PALETTE)
    return header + palette + colour_rows + mask_rows


def icon_file(sizes):
    images = [icon_image(size) for size in sizes]
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, image in zip(sizes, images):
        out += struct.pack("<BBBBHHII", size, size, 16, 0, 1, 4, len(image), offset)
        offset += len(image)
    return out + b"".join(images)


def main():
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    with open(sys.argv[1], "wb") as f:
        f.write(icon_file([32, 16]))


if __name__ == "__main__":
    main()
