#!/usr/bin/env python3
"""Draws the program's icon and logo and writes every image file in res/.

Run it from anywhere after changing the design; the output is committed so a
build never needs Python. Only the standard library is used, and the drawing
is plain arithmetic, so the same script always gives the same bytes.

The mark: an amber lightning bolt on a dark blue rounded square. The logo is
the same bolt on a full dark blue tile with "PZ4" lettered underneath (24-bit,
so it has no transparency and no rounded corners to clash with the window),
both in its upper part, which is all the window shows of it.
"""

import math
import struct
import zlib
from pathlib import Path

HERE = Path(__file__).resolve().parent

ICON_SIZES = (16, 32, 48, 64, 128, 256)
ICO_SIZES = (16, 32, 48, 64, 256)
LOGO_SIZE = 128

NAVY = (0x1C, 0x2B, 0x40)
AMBER = (0xFF, 0xB8, 0x1C)
LIGHT = (0xEA, 0xF0, 0xF7)

# The bolt in a unit box, y downwards; its two long edges run parallel.
BOLT = (
    (0.50, 0.08), (0.74, 0.08), (0.57, 0.40), (0.76, 0.40),
    (0.36, 0.94), (0.47, 0.54), (0.27, 0.54),
)


# --- shapes as signed distance functions (negative inside) ----------------

def segment_distance(px, py, ax, ay, bx, by):
    dx, dy = bx - ax, by - ay
    t = ((px - ax) * dx + (py - ay) * dy) / (dx * dx + dy * dy)
    t = min(1.0, max(0.0, t))
    return math.hypot(px - ax - t * dx, py - ay - t * dy)


def polygon(points):
    edges = list(zip(points, points[1:] + points[:1]))

    def sdf(px, py):
        d = min(segment_distance(px, py, ax, ay, bx, by) for (ax, ay), (bx, by) in edges)
        inside = False
        for (ax, ay), (bx, by) in edges:
            if (ay > py) != (by > py) and px < ax + (py - ay) * (bx - ax) / (by - ay):
                inside = not inside
        return -d if inside else d

    return sdf


def rounded_rect(x0, y0, x1, y1, radius):
    cx, cy = (x0 + x1) / 2, (y0 + y1) / 2
    hx, hy = (x1 - x0) / 2 - radius, (y1 - y0) / 2 - radius

    def sdf(px, py):
        qx, qy = abs(px - cx) - hx, abs(py - cy) - hy
        outside = math.hypot(max(qx, 0.0), max(qy, 0.0))
        return outside + min(max(qx, qy), 0.0) - radius

    return sdf


def strokes(lines, width):
    """Union of round-capped lines: a cheap, font-free way to letter text."""
    half = width / 2

    def sdf(px, py):
        return min(segment_distance(px, py, *a, *b) for a, b in lines) - half

    return sdf


def placed(points, x0, y0, scale):
    return [(x0 + x * scale, y0 + y * scale) for x, y in points]


# --- rendering -------------------------------------------------------------

def render(size, layers):
    """Composites (colour, sdf) layers, shapes in pixel units, to RGBA rows.

    Coverage comes from the distance to the edge, which anti-aliases without
    supersampling."""
    rows = []
    for y in range(size):
        row = []
        for x in range(size):
            px, py = x + 0.5, y + 0.5
            r = g = b = a = 0.0
            for colour, sdf in layers:
                cover = min(1.0, max(0.0, 0.5 - sdf(px, py)))
                if cover:
                    keep = 1.0 - cover
                    r = colour[0] * cover + r * keep
                    g = colour[1] * cover + g * keep
                    b = colour[2] * cover + b * keep
                    a = cover + a * keep
            if a:
                row.append((round(r / a), round(g / a), round(b / a), round(a * 255)))
            else:
                row.append((0, 0, 0, 0))
        rows.append(row)
    return rows


def icon(size):
    # Whole-pixel inset keeps the square's straight edges crisp at every size.
    inset = int(size / 32 + 0.5)
    side = size - 2 * inset
    bolt = placed(BOLT, inset + side * 0.09, inset + side * 0.09, side * 0.82)
    return render(size, [
        (NAVY, rounded_rect(inset, inset, size - inset, size - inset, side * 0.2)),
        (AMBER, polygon(bolt)),
    ])


def letters_pz4(x0, y0, height, gap):
    """Centre lines of "P", "Z" and "4" starting at (x0, y0); returns lines, right edge."""
    w = height * 0.62
    lines = []
    # P: stem and a half-round bowl over the upper part.
    r = height * 0.27
    top, mid, bot = y0, y0 + 2 * r, y0 + height
    lines += [((x0, top), (x0, bot)), ((x0, top), (x0 + w - r, top)), ((x0 + w - r, mid), (x0, mid))]
    arc = [(x0 + w - r + r * math.sin(math.pi * i / 12), top + r - r * math.cos(math.pi * i / 12))
           for i in range(13)]
    lines += list(zip(arc, arc[1:]))
    # Z
    x = x0 + w + gap
    lines += [((x, top), (x + w, top)), ((x + w, top), (x, bot)), ((x, bot), (x + w, bot))]
    # 4: stem, diagonal, crossbar.
    x += w + gap
    stem, bar = x + w * 0.72, y0 + height * 0.68
    lines += [((stem, top), (stem, bot)), ((stem, top), (x, bar)), ((x, bar), (x + w, bar))]
    return lines, x + w


def logo(size):
    # The window shows only the upper part of the bitmap (about 115 of its 128 rows, fewer
    # with a smaller dialog font): the bolt and the lettering keep to the top 72 %, and below
    # them the tile runs on plain, so that wherever the window's edge falls the logo is whole.
    height, gap, stroke = size * 0.17, size * 0.08, size * 0.055
    lines, right = letters_pz4(0, 0, height, gap)
    dx, dy = (size - right) / 2, size * 0.52
    lines = [((ax + dx, ay + dy), (bx + dx, by + dy)) for (ax, ay), (bx, by) in lines]
    bolt = placed(BOLT, size * 0.285, size * 0.03, size * 0.44)
    return render(size, [
        (NAVY, lambda px, py: -1.0),  # the tile fills the whole bitmap
        (AMBER, polygon(bolt)),
        (LIGHT, strokes(lines, stroke)),
    ])


# --- file formats ----------------------------------------------------------

def png(rows, alpha=True):
    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body))

    width, height = len(rows[0]), len(rows)
    channels = 4 if alpha else 3
    raw = b"".join(b"\0" + bytes(c for px in row for c in px[:channels]) for row in rows)
    header = struct.pack(">IIBBBBB", width, height, 8, 6 if alpha else 2, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header)
            + chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))


def bmp24(rows):
    width, height = len(rows[0]), len(rows)
    pad = b"\0" * (-width * 3 % 4)
    pixels = b"".join(bytes(c for r, g, b, _ in row for c in (b, g, r)) + pad for row in reversed(rows))
    info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, 24, 0, len(pixels), 2835, 2835, 0, 0)
    header = struct.pack("<2sIHHI", b"BM", 14 + len(info) + len(pixels), 0, 0, 14 + len(info))
    return header + info + pixels


def ico_dib(rows):
    """32-bit DIB with its AND mask, the form every Windows version reads."""
    size = len(rows)
    xor = b"".join(bytes(c for r, g, b, a in row for c in (b, g, r, a)) for row in reversed(rows))
    mask_stride = (size + 31) // 32 * 4
    mask = bytearray()
    for row in reversed(rows):
        bits = bytearray(mask_stride)
        for x, px in enumerate(row):
            if px[3] < 128:
                bits[x // 8] |= 0x80 >> (x % 8)
        mask += bits
    info = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, len(xor) + len(mask), 0, 0, 0, 0)
    return info + xor + bytes(mask)


def ico(images):
    """images: (size, rows) pairs. 256 px goes in as PNG to keep the file small."""
    blobs = [(size, png(rows) if size >= 256 else ico_dib(rows)) for size, rows in images]
    offset = 6 + 16 * len(blobs)
    out = struct.pack("<HHH", 0, 1, len(blobs))
    for size, blob in blobs:
        out += struct.pack("<BBBBHHII", size % 256, size % 256, 0, 0, 1, 32, len(blob), offset)
        offset += len(blob)
    return out + b"".join(blob for _, blob in blobs)


def main():
    (HERE / "icons").mkdir(exist_ok=True)
    icons = {size: icon(size) for size in ICON_SIZES}
    for size, rows in icons.items():
        (HERE / "icons" / f"pz4-{size}.png").write_bytes(png(rows))
    (HERE / "pz4.ico").write_bytes(ico([(size, icons[size]) for size in ICO_SIZES]))
    rows = logo(LOGO_SIZE)
    (HERE / "logo.png").write_bytes(png(rows, alpha=False))
    (HERE / "logo.bmp").write_bytes(bmp24(rows))


if __name__ == "__main__":
    main()
