#!/usr/bin/env python3
"""Draws the Tarvo icon and packs it for the program file.

  make_icons.py png <folder>          renders tarvo-{16,32,48,64,256}.png
  make_icons.py ico <out.ico> <png>...  packs PNG images into one icon file

The mark: a rounded dark slate square, a cyan ring and a white "T" in it,
anti-aliased by supersampling. Standard library only.
"""
import struct
import sys
import zlib

SIZES = (16, 32, 48, 64, 256)
SLATE = (30, 41, 59)
SLATE_EDGE = (51, 65, 85)
CYAN = (34, 211, 238)
WHITE = (241, 245, 249)
SAMPLES = 4  # per axis


def inside_rounded_square(x, y, half, radius):
    dx = max(abs(x) - (half - radius), 0.0)
    dy = max(abs(y) - (half - radius), 0.0)
    return dx * dx + dy * dy <= radius * radius and abs(x) <= half and abs(y) <= half


def colour_at(x, y):
    """The mark in coordinates from -1 to 1; None outside it."""
    if not inside_rounded_square(x, y, 0.96, 0.30):
        return None
    r = (x * x + y * y) ** 0.5
    # The "T": a bar and a stem.
    if (-0.38 <= x <= 0.38 and -0.40 <= y <= -0.24) or (-0.085 <= x <= 0.085 and -0.40 <= y <= 0.42):
        return WHITE
    if 0.56 <= r <= 0.72:
        return CYAN
    if not inside_rounded_square(x, y, 0.90, 0.26):
        return SLATE_EDGE
    return SLATE


def render(size):
    rows = []
    for py in range(size):
        row = bytearray()
        for px in range(size):
            acc = [0.0, 0.0, 0.0]
            covered = 0
            for sy in range(SAMPLES):
                for sx in range(SAMPLES):
                    x = ((px + (sx + 0.5) / SAMPLES) / size) * 2 - 1
                    y = ((py + (sy + 0.5) / SAMPLES) / size) * 2 - 1
                    c = colour_at(x, y)
                    if c is not None:
                        covered += 1
                        for i in range(3):
                            acc[i] += c[i]
            if covered:
                row += bytes(round(a / covered) for a in acc)
                row.append(round(255 * covered / (SAMPLES * SAMPLES)))
            else:
                row += b"\0\0\0\0"
        rows.append(bytes(row))
    return rows


def png(size, rows):
    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))

    raw = b"".join(b"\0" + row for row in rows)  # filter type 0 per row
    header = struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0)  # 8-bit RGBA
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) +
            chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))


def ico(images):
    """An icon file whose entries are whole PNG images (sizes from their headers)."""
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for data in images:
        width, height = struct.unpack(">II", data[16:24])
        out += struct.pack("<BBBBHHII", width % 256, height % 256, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    return out + b"".join(images)


def main(argv):
    if len(argv) == 3 and argv[1] == "png":
        for size in SIZES:
            with open(f"{argv[2]}/tarvo-{size}.png", "wb") as f:
                f.write(png(size, render(size)))
        return 0
    if len(argv) >= 4 and argv[1] == "ico":
        images = []
        for path in argv[3:]:
            with open(path, "rb") as f:
                images.append(f.read())
        with open(argv[2], "wb") as f:
            f.write(ico(images))
        return 0
    sys.stderr.write(__doc__)
    return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv))
