#!/usr/bin/env python3
# SPDX-License-Identifier: BSD-2-Clause-Patent
"""Draws the UI's own pictures and writes them as BMP files:

  digit0.bmp .. digit9.bmp   10x16, 4 bits: seven-segment digits
  bar0.bmp .. bar3.bmp        9x16, 24 bits: the four progress segment styles
  mark_a.bmp                 12x16, 8 bits: a "V" in a vertical gradient
  mark_b.bmp                  4x16, 8 bits: a dot, so the mark reads V4.03
  percent.bmp                10x16, 1 bit: the percent suffix
  bar_blank.bmp               9x16, 4 bits: an empty segment of the frame
  digit_blank.bmp            10x16, 1 bit: the background behind the digits

Usage: draw.py OUTPUT_DIR
"""
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import bmpwrite  # noqa: E402

DIGIT_W, DIGIT_H = 10, 16
BAR_W, BAR_H = 9, 16
BLACK = (0, 0, 0)

# Seven segments: a top, b top right, c bottom right, d bottom, e bottom left,
# f top left, g middle.
SEGMENTS = {
    0: "abcdef", 1: "bc", 2: "abdeg", 3: "abcdg", 4: "bcfg",
    5: "acdfg", 6: "acdefg", 7: "abc", 8: "abcdefg", 9: "abcdfg",
}


def blank(w, h, value=0):
    return [[value] * w for _ in range(h)]


def fill(rows, x0, y0, x1, y1, value):
    for y in range(y0, y1):
        for x in range(x0, x1):
            rows[y][x] = value


def seven_segment(digit, ink):
    rows = blank(DIGIT_W, DIGIT_H)
    # A 2-pixel stroke inside a 1-pixel margin: x 1..8, y 1..14.
    boxes = {
        "a": (2, 1, 8, 3), "d": (2, 13, 8, 15), "g": (2, 7, 8, 9),
        "f": (1, 2, 3, 8), "b": (7, 2, 9, 8), "e": (1, 8, 3, 14), "c": (7, 8, 9, 14),
    }
    for seg in SEGMENTS[digit]:
        fill(rows, *boxes[seg], ink)
    return rows


def digits():
    # 4 bits: black, a dim edge colour and the bright ink.
    palette = [BLACK, (40, 90, 120), (120, 220, 255)]
    out = {}
    for d in range(10):
        rows = seven_segment(d, 2)
        # A dim outline on the right and bottom edges of each stroke gives depth.
        for y in range(DIGIT_H - 1, -1, -1):
            for x in range(DIGIT_W - 1, -1, -1):
                if rows[y][x] == 0 and ((x > 0 and rows[y][x - 1] == 2) or (y > 0 and rows[y - 1][x] == 2)):
                    rows[y][x] = 1
        out["digit%d.bmp" % d] = bmpwrite.encode(DIGIT_W, DIGIT_H, 4, rows, palette)
    return out


def bar_segments():
    # Each style is a vertical gradient between two colours; the last column
    # stays black so neighbouring segments read as separate blocks.
    styles = [((60, 230, 90), (10, 110, 30)), ((90, 170, 255), (20, 60, 170)),
              ((255, 200, 60), (170, 100, 0)), ((255, 90, 80), (150, 20, 20))]
    out = {}
    for k, (top, bottom) in enumerate(styles):
        rows = []
        for y in range(BAR_H):
            t = y / (BAR_H - 1)
            colour = tuple(round(a + (b - a) * t) for a, b in zip(top, bottom))
            rows.append([colour] * (BAR_W - 1) + [BLACK])
        # A one-pixel black border above and below matches the frame.
        rows[0] = [BLACK] * BAR_W
        rows[-1] = [BLACK] * BAR_W
        out["bar%d.bmp" % k] = bmpwrite.encode(BAR_W, BAR_H, 24, rows)
    return out


def marks():
    # 8 bits: a 16-entry gradient from deep blue to white, the first entry black.
    palette = [BLACK] + [(16 * i, 16 * i + 15, 255) if i < 15 else (255, 255, 255) for i in range(15)]
    w = 12
    v = blank(w, 16)
    for y in range(1, 15):
        # Two strokes meeting at the bottom centre.
        dx = (y - 1) * 5 // 14
        colour = 1 + (y * 14) // 15
        for x in (dx, dx + 1, w - 2 - dx, w - 1 - dx):
            v[y][x] = colour
    dot = blank(4, 16)
    fill(dot, 1, 12, 3, 15, 15)
    return {
        "mark_a.bmp": bmpwrite.encode(w, 16, 8, v, palette),
        "mark_b.bmp": bmpwrite.encode(4, 16, 8, dot, palette),
    }


def percent():
    rows = blank(DIGIT_W, DIGIT_H)
    fill(rows, 1, 2, 4, 5, 1)       # upper ring
    rows[3][2] = 0
    fill(rows, 6, 11, 9, 14, 1)     # lower ring
    rows[12][7] = 0
    for y in range(2, 15):          # the slash, bottom left to top right
        x = 1 + (14 - y) * 7 // 12
        rows[y][x] = 1
        rows[y][min(x + 1, DIGIT_W - 1)] = 1
    return {"percent.bmp": bmpwrite.encode(DIGIT_W, DIGIT_H, 1, rows, [BLACK, (120, 220, 255)])}


def blanks():
    frame = blank(BAR_W, BAR_H, 1)
    frame[0] = [0] * BAR_W
    frame[-1] = [0] * BAR_W
    for row in frame:
        row[-1] = 0
    return {
        "bar_blank.bmp": bmpwrite.encode(BAR_W, BAR_H, 4, frame, [BLACK, (48, 48, 56)]),
        "digit_blank.bmp": bmpwrite.encode(DIGIT_W, DIGIT_H, 1, blank(DIGIT_W, DIGIT_H), [BLACK]),
    }


def all_pictures():
    out = {}
    for part in (digits, bar_segments, marks, percent, blanks):
        out.update(part())
    return out


def main(argv):
    if len(argv) != 2:
        print(__doc__.strip(), file=sys.stderr)
        return 2
    os.makedirs(argv[1], exist_ok=True)
    for name, data in sorted(all_pictures().items()):
        with open(os.path.join(argv[1], name), "wb") as fh:
            fh.write(data)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
