#!/usr/bin/env python3
"""Writes resources/sondrel-ping.ico: a blue disc with a white dot sending two
waves, at 16, 24, 32 and 48 pixels, each with a 256-colour palette and with
32 bits per pixel. Beside it, for the desktop's icon theme, the 32-bit images
as resources/sondrel-ping-16.png and so on, and the same at 64, 128 and 256
pixels, which software centres ask for."""

import math
import struct
import sys
import zlib

SIZES = (16, 24, 32, 48)
THEME_SIZES = SIZES + (64, 128, 256)
BLUE = (0x1E, 0x6F, 0xD9)
WHITE = (0xFF, 0xFF, 0xFF)


def shape(x, y):
    """What covers the point (x, y) of the unit square: None, BLUE or WHITE."""
    cx, cy = 0.5, 0.5
    if math.hypot(x - cx, y - cy) > 0.47:
        return None
    dx, dy = x - 0.33, y - 0.5
    r = math.hypot(dx, dy)
    if r < 0.085:
        return WHITE
    within_arc = dx > 0 and abs(dy) <= dx * 1.0
    for radius in (0.2, 0.33):
        if within_arc and abs(r - radius) < 0.035:
            return WHITE
    return BLUE


def render(size, samples):
    """Rows top-down of (r, g, b, alpha 0..255)."""
    rows = []
    for py in range(size):
        row = []
        for px in range(size):
            acc = [0, 0, 0]
            cover = 0
            for sy in range(samples):
                for sx in range(samples):
                    c = shape((px + (sx + 0.5) / samples) / size, (py + (sy + 0.5) / samples) / size)
                    if c is not None:
                        cover += 1
                        for i in range(3):
                            acc[i] += c[i]
            if cover == 0:
                row.append((0, 0, 0, 0))
            else:
                row.append(tuple(round(a / cover) for a in acc) + (round(255 * cover / samples**2),))
        rows.append(row)
    return rows


def and_mask(rows, size):
    stride = ((size + 31) // 32) * 4
    out = bytearray()
    for row in reversed(rows):
        bits = bytearray(stride)
        for x, p in enumerate(row):
            if p[3] < 128:
                bits[x // 8] |= 0x80 >> (x % 8)
        out += bits
    return bytes(out)


def header(size, bits, colours):
    image = size * ((size * bits + 31) // 32) * 4
    return struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, bits, 0, image, 0, 0, colours, 0)


def image_32(size):
    rows = render(size, 4)
    pixels = bytearray()
    for row in reversed(rows):
        for r, g, b, a in row:
            pixels += bytes((b, g, r, a))
    return header(size, 32, 0) + bytes(pixels) + and_mask(rows, size)


def image_8(size):
    rows = render(size, 1)
    palette = [(0, 0, 0), BLUE, WHITE] + [(0, 0, 0)] * 253
    index = {c: i for i, c in enumerate(palette[:3])}
    stride = ((size + 3) // 4) * 4
    pixels = bytearray()
    for row in reversed(rows):
        line = bytearray(stride)
        for x, p in enumerate(row):
            line[x] = 0 if p[3] == 0 else index[p[:3]]
        pixels += line
    pal = b"".join(bytes((b, g, r, 0)) for r, g, b in palette)
    return header(size, 8, 256) + pal + bytes(pixels) + and_mask(rows, size)


def png(size):
    rows = render(size, 4)
    raw = b"".join(b"\0" + bytes(c for p in row for c in p) for row in rows)

    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))

    # 8 bits a sample, RGBA, not interlaced.
    head = struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", head) + chunk(b"IDAT", zlib.compress(raw, 9))
            + chunk(b"IEND", b""))


def main(path):
    for size in THEME_SIZES:
        with open(f"{path.removesuffix('.ico')}-{size}.png", "wb") as f:
            f.write(png(size))
    images = []
    for size in SIZES:
        images.append((size, 8, image_8(size)))
        images.append((size, 32, image_32(size)))
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, bits, data in images:
        out += struct.pack("<BBBBHHII", size, size, 0, 0, 1, bits, len(data), offset)
        offset += len(data)
    out += b"".join(data for _, _, data in images)
    with open(path, "wb") as f:
        f.write(out)


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else "resources/sondrel-ping.ico")
