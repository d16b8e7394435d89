# SPDX-License-Identifier: BSD-2-Clause-Patent
"""A small BMP writer: uncompressed bitmaps of 1, 4, 8 or 24 bits per pixel
with a 40-byte information header, rows stored bottom row first and padded
to 4 bytes, the colour table right after the header."""
import struct

FILE_HEADER = 14
INFO_HEADER = 40


def encode(width, height, bpp, rows, palette=None):
    """rows: height lists of width values, top row first; palette indices for
    1/4/8 bits, (r, g, b) tuples for 24 bits. palette: (r, g, b) tuples."""
    if bpp not in (1, 4, 8, 24):
        raise ValueError("bits per pixel must be 1, 4, 8 or 24")
    if len(rows) != height or any(len(r) != width for r in rows):
        raise ValueError("rows do not match %dx%d" % (width, height))
    table = b""
    if bpp <= 8:
        palette = list(palette or [])
        if not 0 < len(palette) <= (1 << bpp):
            raise ValueError("a %d-bit bitmap needs 1 to %d colours" % (bpp, 1 << bpp))
        table = b"".join(struct.pack("<BBBB", b, g, r, 0) for r, g, b in palette)
        if any(not 0 <= v < len(palette) for row in rows for v in row):
            raise ValueError("colour index outside the palette")
    stride = ((width * bpp + 7) // 8 + 3) & ~3
    data = bytearray()
    for row in reversed(rows):
        line = bytearray(stride)
        for x, v in enumerate(row):
            if bpp == 24:
                r, g, b = v
                line[x * 3:x * 3 + 3] = bytes((b, g, r))
            elif bpp == 8:
                line[x] = v
            elif bpp == 4:
                line[x >> 1] |= v << (4 if x % 2 == 0 else 0)
            else:
                line[x >> 3] |= v << (7 - x % 8)
        data += line
    offset = FILE_HEADER + INFO_HEADER + len(table)
    colours = len(table) // 4
    header = struct.pack("<2sIHHI", b"BM", offset + len(data), 0, 0, offset)
    info = struct.pack("<IiiHHIIiiII", INFO_HEADER, width, height, 1, bpp, 0, len(data), 2835, 2835, colours, colours)
    return header + info + table + bytes(data)
