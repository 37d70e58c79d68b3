#!/usr/bin/env python3
"""Packs the program icon's PNG renderings (resources/bitmaps/icon128-N.png) into
one Windows icon file, resources/bitmaps/icon128.ico (committed, so that the
Windows build needs no tool for it). Sizes up to 48 pixels are stored as 32-bit
bitmaps with an AND mask, which every version of the system reads; larger ones
as the PNG files themselves."""
import os
import struct
import sys
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))
BITMAPS = os.path.join(HERE, "..", "bitmaps")
SIZES = [16, 24, 32, 48, 64, 128, 256]
LARGEST_BITMAP_ENTRY = 48


def read_rgba_png(data):
    """Pixels of an 8-bit RGBA, non-interlaced PNG as rows of bytes (R, G, B, A)."""
    if data[:8] != b"\x89PNG\r\n\x1a\n":
        sys.exit("not a PNG file")
    pos, idat, width, height = 8, b"", 0, 0
    while pos < len(data):
        length, kind = struct.unpack(">I4s", data[pos:pos + 8])
        body = data[pos + 8:pos + 8 + length]
        if kind == b"IHDR":
            width, height, depth, colour, _, _, interlace = struct.unpack(">IIBBBBB", body)
            if depth != 8 or colour != 6 or interlace != 0:
                sys.exit("only 8-bit RGBA non-interlaced PNG files are packed")
        elif kind == b"IDAT":
            idat += body
        pos += 12 + length
    raw = zlib.decompress(idat)
    stride = width * 4
    rows, previous, at = [], bytearray(stride), 0
    for _ in range(height):
        kind, line = raw[at], bytearray(raw[at + 1:at + 1 + stride])
        at += 1 + stride
        for i in range(stride):
            a = line[i - 4] if i >= 4 else 0
            b = previous[i]
            c = previous[i - 4] if i >= 4 else 0
            if kind == 1:
                line[i] = (line[i] + a) & 255
            elif kind == 2:
                line[i] = (line[i] + b) & 255
            elif kind == 3:
                line[i] = (line[i] + (a + b) // 2) & 255
            elif kind == 4:
                p = a + b - c
                pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
                line[i] = (line[i] + (a if pa <= pb and pa <= pc else b if pb <= pc else c)) & 255
        rows.append(bytes(line))
        previous = line
    return width, height, rows


def bitmap_entry(width, height, rows):
    """A 32-bit bottom-up DIB (height doubled for the mask) and its AND mask."""
    header = struct.pack("<IiiHHIIiiII", 40, width, height * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    pixels = b"".join(row[i + 2:i + 3] + row[i + 1:i + 2] + row[i:i + 1] + row[i + 3:i + 4]
                      for row in reversed(rows) for i in range(0, len(row), 4))
    mask_stride = ((width + 31) // 32) * 4
    mask = bytearray()
    for row in reversed(rows):
        line = bytearray(mask_stride)
        for x in range(width):
            if row[x * 4 + 3] == 0:
                line[x // 8] |= 0x80 >> (x % 8)
        mask += line
    return header + pixels + bytes(mask)


def main():
    images = []
    for size in SIZES:
        with open(os.path.join(BITMAPS, f"icon128-{size}.png"), "rb") as f:
            png = f.read()
        width, height, rows = read_rgba_png(png)
        if (width, height) != (size, size):
            sys.exit(f"icon128-{size}.png is {width} x {height}")
        images.append((size, bitmap_entry(width, height, rows) if size <= LARGEST_BITMAP_ENTRY else png))
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, body in images:
        out += struct.pack("<BBBBHHII", size % 256, size % 256, 0, 0, 1, 32, len(body), offset)
        offset += len(body)
    out += b"".join(body for _, body in images)
    with open(os.path.join(BITMAPS, "icon128.ico"), "wb") as f:
        f.write(out)


if __name__ == "__main__":
    main()
