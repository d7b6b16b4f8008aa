#!/usr/bin/env python3
"""Draws Tessellarion's icons as 16-colour palette PNGs: the application icon (a tile of coloured
triangles, the tessellation the name comes from) and the document icon (a page with a folded
corner carrying a smaller tile). Run it in this folder; it rewrites the PNG files."""
import struct
import zlib

PALETTE = [
    (0, 0, 0),        # 0 transparent
    (32, 40, 64),     # 1 outline
    (255, 255, 255),  # 2 page
    (200, 204, 212),  # 3 fold
    (224, 64, 56),    # 4 red
    (240, 144, 48),   # 5 orange
    (248, 208, 64),   # 6 yellow
    (96, 184, 72),    # 7 green
    (48, 168, 160),   # 8 teal
    (56, 112, 208),   # 9 blue
    (128, 80, 192),   # 10 violet
    (208, 80, 152),   # 11 magenta
    (24, 64, 128),    # 12 deep blue
    (136, 200, 232),  # 13 sky
    (40, 112, 64),    # 14 deep green
    (120, 124, 136),  # 15 grey
]
BANDS = [4, 5, 6, 7, 8, 9, 10, 11]


def write_png(path, pixels):
    height = len(pixels)
    width = len(pixels[0])

    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body))

    header = struct.pack(">IIBBBBB", width, height, 8, 3, 0, 0, 0)
    palette = b"".join(bytes(color) for color in PALETTE)
    alpha = bytes([0] + [255] * (len(PALETTE) - 1))
    raw = b"".join(b"\x00" + bytes(row) for row in pixels)
    with open(path, "wb") as out:
        out.write(b"\x89PNG\r\n\x1a\n")
        out.write(chunk(b"IHDR", header))
        out.write(chunk(b"PLTE", palette))
        out.write(chunk(b"tRNS", alpha))
        out.write(chunk(b"IDAT", zlib.compress(raw, 9)))
        out.write(chunk(b"IEND", b""))


def tile(pixels, left, top, cells, cell):
    """Fills cells × cells squares of `cell` pixels, each cut along a diagonal into two triangles
    whose colours run in diagonal bands; the cut alternates like a pinwheel."""
    for row in range(cells):
        for column in range(cells):
            first = BANDS[(row + column) % len(BANDS)]
            second = BANDS[(row + column + 3) % len(BANDS)]
            falling = (row + column) % 2 == 0
            for y in range(cell):
                for x in range(cell):
                    upper = x > y if falling else x + y < cell - 1
                    pixels[top + row * cell + y][left + column * cell + x] = first if upper else second


def frame(pixels, left, top, right, bottom, color=1):
    for x in range(left, right + 1):
        pixels[top][x] = color
        pixels[bottom][x] = color
    for y in range(top, bottom + 1):
        pixels[y][left] = color
        pixels[y][right] = color


def application_icon(size):
    pixels = [[0] * size for _ in range(size)]
    # Four cells a side from 32 pixels up, with a pixel of margin and one of frame all round.
    cells, cell = (4, (size - 4) // 4) if size >= 32 else (2, 7)
    inner = cells * cell
    left = (size - inner) // 2
    tile(pixels, left, left, cells, cell)
    frame(pixels, left - 1, left - 1, left + inner, left + inner)
    # Rounded corners: the frame's corner pixels are left out.
    for x, y in [(left - 1, left - 1), (left + inner, left - 1), (left - 1, left + inner),
                 (left + inner, left + inner)]:
        pixels[y][x] = 0
    return pixels


def document_icon(size):
    pixels = [[0] * size for _ in range(size)]
    if size == 32:
        left, top, right, bottom, fold, cells, cell, tile_left, tile_top = 5, 1, 26, 30, 7, 2, 7, 9, 13
    else:
        left, top, right, bottom, fold, cells, cell, tile_left, tile_top = 2, 0, 13, 15, 4, 1, 7, 4, 6
    for y in range(top, bottom + 1):
        for x in range(left, right + 1):
            pixels[y][x] = 2
    # The folded corner: cut off at the top right, with the fold drawn below the cut.
    for y in range(top, top + fold + 1):
        for x in range(right - fold + (y - top), right + 1):
            pixels[y][x] = 0
        for x in range(right - fold, right - fold + (y - top)):
            pixels[y][x] = 3
    frame(pixels, left, top, right, bottom)
    for y in range(top, top + fold + 1):
        for x in range(right - fold + (y - top) + 1, right + 1):
            pixels[y][x] = 0
        pixels[y][right - fold + (y - top)] = 1
        pixels[top + fold][right - fold + (y - top)] = 1
        pixels[y][right - fold] = 1
    tile(pixels, tile_left, tile_top, cells, cell)
    frame(pixels, tile_left - 1, tile_top - 1, tile_left + cells * cell, tile_top + cells * cell)
    return pixels


# The sizes a desktop's icon theme asks for; the program itself carries 32 and 16.
for size in (256, 128, 64, 48, 32, 16):
    write_png("application-%d.png" % size, application_icon(size))
for size in (32, 16):
    write_png("document-%d.png" % size, document_icon(size))
