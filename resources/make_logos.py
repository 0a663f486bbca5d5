#!/usr/bin/env python3
"""Draws the two 150 x 29 logo bitmaps of the programs.

logo_8bit.bmp (resource 102, 8 bits per pixel) and logo_4bit.bmp (resource 101, 4 bits per
pixel) are committed; run this again only to change the artwork.
"""
import os
import struct

WIDTH, HEIGHT = 150, 29

# A 5 x 7 pixel font for the letters of the name.
FONT = {
    "B": ["11110", "10001", "10001", "11110", "10001", "10001", "11110"],
    "R": ["11110", "10001", "10001", "11110", "10100", "10010", "10001"],
    "E": ["11111", "10000", "10000", "11110", "10000", "10000", "11111"],
    "N": ["10001", "11001", "10101", "10011", "10001", "10001", "10001"],
    "V": ["10001", "10001", "10001", "10001", "10001", "01010", "00100"],
    "I": ["01110", "00100", "00100", "00100", "00100", "00100", "01110"],
    "K": ["10001", "10010", "10100", "11000", "10100", "10010", "10001"],
    "O": ["01110", "10001", "10001", "10001", "10001", "10001", "01110"],
    "A": ["01110", "10001", "10001", "11111", "10001", "10001", "10001"],
    " ": ["00000"] * 7,
}

BACKGROUND, STRIPE, TEXT, SHADOW = 0, 1, 2, 3


def draw():
    """Returns rows top to bottom of palette indexes 0..3."""
    pixels = [[BACKGROUND] * WIDTH for _ in range(HEIGHT)]
    for x in range(WIDTH):
        pixels[1][x] = STRIPE
        pixels[HEIGHT - 2][x] = STRIPE
    text = "BRENVIK KORVANE"
    scale = 1
    advance = 6 * scale
    left = (WIDTH - len(text) * advance) // 2
    top = (HEIGHT - 7 * scale * 2) // 2
    for i, ch in enumerate(text):
        glyph = FONT[ch]
        for gy, row in enumerate(glyph):
            for gx, bit in enumerate(row):
                if bit != "1":
                    continue
                # Letters twice as tall as wide, with a shadow one pixel down and right.
                for dy in range(2):
                    x = left + i * advance + gx
                    y = top + gy * 2 + dy
                    if y + 1 < HEIGHT and x + 1 < WIDTH:
                        pixels[y + 1][x + 1] = SHADOW
                    pixels[y][x] = TEXT
    return pixels


PALETTE = [(18, 20, 28), (200, 40, 40), (235, 235, 240), (70, 72, 90)]


def write_bmp(path, pixels, bits):
    colours = 1 << bits
    palette = PALETTE + [(0, 0, 0)] * (colours - len(PALETTE))
    row_bytes = ((WIDTH * bits + 31) // 32) * 4
    image = bytearray()
    for row in reversed(pixels):  # bottom-up
        packed = bytearray()
        if bits == 8:
            packed.extend(row)
        else:
            for x in range(0, WIDTH, 2):
                hi = row[x]
                lo = row[x + 1] if x + 1 < WIDTH else 0
                packed.append((hi << 4) | lo)
        packed.extend(b"\0" * (row_bytes - len(packed)))
        image.extend(packed)
    palette_bytes = b"".join(struct.pack("<BBBB", b, g, r, 0) for (r, g, b) in palette)
    offset = 14 + 40 + len(palette_bytes)
    header = struct.pack("<2sIHHI", b"BM", offset + len(image), 0, 0, offset)
    info = struct.pack("<IiiHHIIiiII", 40, WIDTH, HEIGHT, 1, bits, 0, len(image), 2835, 2835,
                       colours, 0)
    with open(path, "wb") as f:
        f.write(header + info + palette_bytes + image)


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    pixels = draw()
    write_bmp(os.path.join(here, "logo_8bit.bmp"), pixels, 8)
    write_bmp(os.path.join(here, "logo_4bit.bmp"), pixels, 4)


if __name__ == "__main__":
    main()
