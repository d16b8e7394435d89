# SPDX-License-Identifier: BSD-2-Clause-Patent
"""The console screen as a person sees it: the serial port's VT100 stream fed
through a terminal emulator (pyte) into a grid of characters and console
attributes (foreground in bits 0-3, background in bits 4-6)."""
import re

import pyte

COLUMNS, ROWS = 100, 31

# pyte's colour names in the order of the console's colour numbers.
_COLOURS = ["black", "blue", "green", "cyan", "red", "magenta", "brown", "white"]
# ANSI colour names pyte uses, mapped to the console's 0-7 numbers.
_ANSI = {"black": 0, "red": 4, "green": 2, "brown": 6, "yellow": 6, "blue": 1, "magenta": 5, "cyan": 3, "white": 7}


def _colour(name, default):
    if name == "default":
        return default
    return _ANSI.get(name, default)


# The terminal sends a few marks as the code page's glyphs in the control
# range (U+25BA as 0x10, U+25B2 as 0x1E, ...); they are characters here, while
# ESC, CR, LF and BS keep their control meaning.
_GLYPHS = {0x10: "\u25ba", 0x11: "\u25c4", 0x18: "\u2191", 0x19: "\u2193", 0x1A: "\u2192",
           0x1E: "\u25b2", 0x1F: "\u25bc"}


# OVMF's terminal writes each cursor coordinate as characters counted up from
# '0', so row or column 100 arrives as ":0"; pyte would end the sequence at
# the ':' and print the rest. Positions are rewritten in decimal first.
_POSITION = re.compile(r"\x1b\[([0-9:;<=>]*)([Hf])")
# A sequence cut off at the end of a read: held back until the rest arrives.
_PARTIAL = re.compile(r"\x1b(\[[0-9:;<=>?]*)?$")


def _decimal(match):
    values = []
    for field in match.group(1).split(";"):
        value = 0
        for ch in field:
            value = value * 10 + ord(ch) - ord("0")
        values.append(str(value) if field else "")
    return "\x1b[%s%s" % (";".join(values), match.group(2))


# The marks OVMF's terminal sends as ASCII stand-ins: a screen written by
# other means (the host's fake console) is compared after the same mapping.
TERMINAL_ASCII = str.maketrans({"\u25ba": ">", "\u25c4": "<", "\u25b2": "^", "\u25bc": "v",
                                "\u2191": "^", "\u2193": "v", "\u2192": ">", "\u2190": "<"})


class Grid:
    """A snapshot: text[row] is a string of COLUMNS characters, attr[row][col]
    the console attribute of each cell."""

    def __init__(self, text, attr):
        self.text = text
        self.attr = attr

    def row(self, r):
        return self.text[r]

    def at(self, col, row, length):
        return self.text[row][col:col + length]

    def attr_at(self, col, row):
        return self.attr[row][col]

    def find(self, needle):
        """(col, row) of the first occurrence of needle, or None."""
        for r, line in enumerate(self.text):
            c = line.find(needle)
            if c >= 0:
                return c, r
        return None

    def dump(self):
        lines = []
        for r in range(len(self.text)):
            lines.append("%2d|%s|" % (r, self.text[r]))
        lines.append("")
        for r in range(len(self.attr)):
            lines.append("%2d %s" % (r, " ".join("%02X" % a for a in self.attr[r])))
        return "\n".join(lines) + "\n"


class Terminal:
    """Feeds the serial stream incrementally; snapshot() gives the grid now."""

    def __init__(self, columns=COLUMNS, rows=ROWS):
        self.screen = pyte.Screen(columns, rows)
        self.stream = pyte.Stream(self.screen)
        self.fed = 0
        self.held = ""

    def feed(self, data):
        # OVMF's serial terminal is PC-ANSI: box-drawing characters come as
        # code page 437 bytes (U+2500 as 0xC4), the rest is ASCII.
        text = self.held + data.decode("cp437").translate(_GLYPHS)
        cut = _PARTIAL.search(text)
        self.held = text[cut.start():] if cut else ""
        text = text[:cut.start()] if cut else text
        self.stream.feed(_POSITION.sub(_decimal, text))
        self.fed += len(data)

    def snapshot(self):
        text, attr = [], []
        for r in range(self.screen.lines):
            line = self.screen.buffer[r]
            chars, attrs = [], []
            for c in range(self.screen.columns):
                ch = line[c]
                fg = _colour(ch.fg, 7) + (8 if ch.bold else 0)
                bg = _colour(ch.bg, 0)
                if ch.reverse:
                    fg, bg = bg, fg & 7
                chars.append(ch.data or " ")
                attrs.append((bg << 4) | fg)
            text.append("".join(chars))
            attr.append(attrs)
        return Grid(text, attr)
