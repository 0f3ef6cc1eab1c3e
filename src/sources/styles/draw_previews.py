#!/usr/bin/env python3
"""Draws the preview images of the built-in map styles: one small made-up map (a river, a lake,
a park, three roads) in each style's colours. Standard library only; the output is deterministic.

Usage: draw_previews.py OUTPUT_DIR
"""
import math
import struct
import sys
import zlib

SIZE = 64

# Colours as 0xRRGGBB: land, water, park, road, road casing (and contours), major road.
PALETTES = {
    "light": (0xF2F2F0, 0xCFD8E0, 0xE4EADF, 0xFFFFFF, 0xDEDEDE, 0xFFFFFF),
    "normal": (0xF0EDE5, 0xAAD3DF, 0xC8E0B0, 0xFFFFFF, 0xD0C8B8, 0xFCD6A4),
    "dark": (0x2B2B2E, 0x1C2430, 0x2F3530, 0x44464A, 0x1E1E20, 0x5A5C62),
    "streets": (0xF4F0E8, 0x9CC5E6, 0xCDE6BF, 0xFFFFFF, 0xD6CEBE, 0xF7C873),
    "outdoors": (0xEEF0E0, 0x8FC1E3, 0xB9D9A0, 0xFFFFFF, 0xC4B496, 0xF0DC96),
    "satellite": (0x54603C, 0x1E3A52, 0x34542C, 0xB0A890, 0x706860, 0xC4BCA4),
}


def rgb(colour):
    return (colour >> 16, (colour >> 8) & 0xFF, colour & 0xFF)


def grain(x, y):
    """A repeatable value in [0, 1) per pixel: the texture of the satellite style."""
    h = (x * 374761393 + y * 668265263) & 0xFFFFFFFF
    h = ((h ^ (h >> 13)) * 1274126177) & 0xFFFFFFFF
    return (h ^ (h >> 16)) / 2**32


def pixel(style, x, y):
    land, water, park, road, casing, major = (rgb(c) for c in PALETTES[style])
    river = 42 + 6 * math.sin(x / 9.0)
    if abs(y - river) < 2.5 or (x - 50) ** 2 + (y - 14) ** 2 < 64:
        return water
    colour = land
    if 6 <= x <= 20 and 46 <= y <= 60:
        colour = park
    if style == "outdoors" and int(math.hypot(x - 12, y - 10)) % 7 == 0:
        colour = casing
    if style == "satellite":
        shade = 0.75 + 0.5 * grain(x // 2, y // 2)
        colour = tuple(min(255, int(c * shade)) for c in colour)
    roads = ((abs(y - 22), major), (abs(x - 30), road), (abs(x + y - 70) / math.sqrt(2), road))
    for distance, colour_on in roads:
        if distance < 1.5:
            return colour_on
        if distance < 2.5:
            colour = casing
    return colour


def png(style):
    rows = b"".join(
        b"\0" + bytes(c for x in range(SIZE) for c in pixel(style, x, y)) for y in range(SIZE))

    def chunk(kind, data):
        crc = struct.pack(">I", zlib.crc32(kind + data))
        return struct.pack(">I", len(data)) + kind + data + crc

    header = struct.pack(">IIBBBBB", SIZE, SIZE, 8, 2, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(rows, 9)) +
            chunk(b"IEND", b""))


def main():
    for style in PALETTES:
        with open(f"{sys.argv[1]}/{style}.png", "wb") as out:
            out.write(png(style))


if __name__ == "__main__":
    main()
