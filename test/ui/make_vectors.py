#!/usr/bin/python3
# SPDX-License-Identifier: BSD-2-Clause-Patent
"""Writes the decoder's test vectors into vectors/: BMP files written by an
independent encoder (Pillow) at 1, 8 and 24 bits per pixel, and 4-bit files
(which Pillow cannot write) from our own writer. Next to each NAME.bmp goes
NAME.expect: width and height as little-endian UINT32, then the pixels as
Pillow decodes them, top row first, three bytes R, G, B each.

Rerun after changing the cases: /usr/bin/python3 test/ui/make_vectors.py
With --expect DIR it only writes NAME.expect beside every NAME.bmp in DIR
(the build does this for the artwork).
"""
import os
import random
import struct
import sys

from PIL import Image

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "..", "tools", "artwork"))
import bmpwrite  # noqa: E402

OUT = os.path.join(HERE, "vectors")


def pattern(w, h, values, seed):
    rnd = random.Random(seed)
    return [[rnd.choice(values) for _ in range(w)] for _ in range(h)]


def pil_image(mode, w, h, seed, palette_size=None):
    im = Image.new(mode, (w, h))
    if mode == "1":
        im.putdata([v * 255 for row in pattern(w, h, [0, 1], seed) for v in row])
    elif mode == "P":
        rnd = random.Random(seed + 1)
        n = palette_size or 256
        im.putpalette([rnd.randrange(256) for _ in range(n * 3)])
        im.putdata([v for row in pattern(w, h, list(range(n)), seed) for v in row])
    elif mode == "L":
        im.putdata([v for row in pattern(w, h, list(range(256)), seed) for v in row])
    else:
        rnd = random.Random(seed)
        im.putdata([(rnd.randrange(256), rnd.randrange(256), rnd.randrange(256)) for _ in range(w * h)])
    return im


def expect(path):
    with Image.open(path) as im:
        w, h = im.size
        data = struct.pack("<II", w, h) + im.convert("RGB").tobytes()
    with open(path[:-4] + ".expect", "wb") as fh:
        fh.write(data)


def save(name, data):
    path = os.path.join(OUT, name + ".bmp")
    with open(path, "wb") as fh:
        fh.write(data)
    expect(path)


def pil_bytes(im):
    import io
    b = io.BytesIO()
    im.save(b, "BMP")
    return b.getvalue()


def main():
    os.makedirs(OUT, exist_ok=True)
    # 1 bit, 10 wide: two data bytes and two alignment bytes per row.
    save("pil_1bpp_10x3", pil_bytes(pil_image("1", 10, 3, 1)))
    save("pil_1bpp_33x4", pil_bytes(pil_image("1", 33, 4, 2)))
    # 8 bits: full table, a 16-colour table (short colour count) and greyscale.
    save("pil_8bpp_5x4", pil_bytes(pil_image("P", 5, 4, 3)))
    save("pil_8bpp_16colours_6x3", pil_bytes(pil_image("P", 6, 3, 4, palette_size=16)))
    save("pil_8bpp_grey_7x2", pil_bytes(pil_image("L", 7, 2, 5)))
    # 24 bits, 3 wide: 9-byte rows and 3 bytes of alignment; an odd size too.
    save("pil_24bpp_3x2", pil_bytes(pil_image("RGB", 3, 2, 6)))
    save("pil_24bpp_13x7", pil_bytes(pil_image("RGB", 13, 7, 7)))
    # 4 bits (not written by Pillow, decoded by it): 3 wide leaves a low
    # nibble unused; 7 wide a whole padded row.
    rnd = random.Random(8)
    pal = [(rnd.randrange(256), rnd.randrange(256), rnd.randrange(256)) for _ in range(16)]
    save("own_4bpp_3x2", bmpwrite.encode(3, 2, 4, pattern(3, 2, list(range(16)), 9), pal))
    save("own_4bpp_7x5", bmpwrite.encode(7, 5, 4, pattern(7, 5, list(range(16)), 10), pal))


if __name__ == "__main__":
    if len(sys.argv) == 3 and sys.argv[1] == "--expect":
        for n in sorted(os.listdir(sys.argv[2])):
            if n.endswith(".bmp"):
                expect(os.path.join(sys.argv[2], n))
    else:
        main()
