# SPDX-License-Identifier: BSD-2-Clause-Patent
"""A reader of PI firmware volumes, files and sections, written apart from the
packer so that it checks what the packer writes instead of agreeing with it.
It also evaluates dependency expressions against a set of installed
protocols, the way a dispatcher decides whether a driver may start.

    python3 -m tools.firmware read build/fv/drivers.fv build/ffs/X.ffs ...

lists each file with its sections and dependency expression, and exits
non-zero on the first fault."""
import argparse
import struct
import sys
import uuid

# Names of the protocols our dependency expressions use, for the listing.
PROTOCOL_NAMES = {
    "1E5668E2-8481-11D4-BCF1-0080C73C8881": "gEfiVariableArchProtocolGuid",
    "26BACCB2-6F42-11D4-BCE7-0080C73C8881": "gEfiMetronomeArchProtocolGuid",
    "11B34006-D85B-4D0A-A290-D5A571310EF7": "gPcdProtocolGuid",
    "13A3F0F6-264A-3EF0-F2E0-DEC512342F34": "gEfiPcdProtocolGuid",
    "F4CCBFB7-F6E0-47FD-9DD4-10A8F150C191": "gEfiSmmBase2ProtocolGuid",
    "DA473D7F-4B31-4D63-92B7-3D905EF84B84": "gSmmBufferCheckProtocolGuid",
}

SECTION_NAMES = {0x10: "PE32", 0x13: "DXE_DEPEX", 0x14: "VERSION", 0x15: "UI", 0x19: "RAW", 0x1C: "MM_DEPEX"}
TYPE_DRIVER, TYPE_SMM, TYPE_PAD = 0x07, 0x0A, 0xF0
EFFS2 = "8C8CE578-8A3D-4F1C-9935-896185C32DD3"


class Fault(Exception):
    pass


def _guid(raw):
    return str(uuid.UUID(bytes_le=bytes(raw))).upper()


class Section:
    def __init__(self, kind, body):
        self.kind = kind
        self.body = body

    def text(self):
        """A UI section's name or a version section's text."""
        raw = self.body[2:] if self.kind == 0x14 else self.body
        if len(raw) < 2 or len(raw) % 2 or raw[-2:] != b"\0\0":
            raise Fault("%s section text is not NUL-terminated UTF-16" % SECTION_NAMES.get(self.kind, self.kind))
        return raw[:-2].decode("utf-16-le")

    def build_number(self):
        return struct.unpack_from("<H", self.body)[0]


class File:
    def __init__(self, name, kind, attributes, sections):
        self.name = name
        self.kind = kind
        self.attributes = attributes
        self.sections = sections

    def section(self, kind):
        found = [s for s in self.sections if s.kind == kind]
        if len(found) != 1:
            raise Fault("file %s has %d sections of type %#x" % (self.name, len(found), kind))
        return found[0]


def read_sections(body):
    out, at = [], 0
    while at < len(body):
        if at % 4:
            pad = (4 - at % 4)
            if body[at:at + pad].strip(b"\0"):
                raise Fault("non-zero bytes between sections at %#x" % at)
            at += pad
            continue
        if at + 4 > len(body):
            raise Fault("truncated section header at %#x" % at)
        size = body[at] | body[at + 1] << 8 | body[at + 2] << 16
        kind, head = body[at + 3], 4
        if size == 0xFFFFFF:
            size, head = struct.unpack_from("<I", body, at + 4)[0], 8
        if size < head or at + size > len(body):
            raise Fault("section at %#x: size %d does not fit" % (at, size))
        out.append(Section(kind, bytes(body[at + head:at + size])))
        at += size
    return out


def read_file(data, at=0, polarity=1):
    """The FFS file at offset at: (File, total size). Checks both checksums and the state."""
    if at + 24 > len(data):
        raise Fault("file header past the end at %#x" % at)
    name, dsum, kind, attributes = _guid(data[at:at + 16]), data[at + 17], data[at + 18], data[at + 19]
    size = data[at + 20] | data[at + 21] << 8 | data[at + 22] << 16
    state, head = data[at + 23], 24
    if attributes & 0x01:  # large file: the 64-bit size follows
        size, head = struct.unpack_from("<Q", data, at + 24)[0], 32
    if size < head or at + size > len(data):
        raise Fault("file %s: size %d does not fit" % (name, size))
    if (sum(data[at:at + head]) - dsum - state) & 0xFF:
        raise Fault("file %s: header checksum" % name)
    body = data[at + head:at + size]
    if attributes & 0x40:
        if (sum(body) + dsum) & 0xFF:
            raise Fault("file %s: data checksum" % name)
    elif dsum != 0xAA:
        raise Fault("file %s: no data checksum, but the byte is %#x, not 0xAA" % (name, dsum))
    valid = 0x07  # header construction, header valid, data valid
    if (state ^ 0xFF if polarity else state) & 0x3F != valid:
        raise Fault("file %s: state %#x is not a valid file" % (name, state))
    sections = read_sections(body) if kind not in (0x01, TYPE_PAD) else []
    return File(name, kind, attributes, sections), size


def read_volume(data):
    """The files of a volume (pad files left out). Checks the header, its
    checksum, the block map, every file and the free space after them."""
    if len(data) < 72 or data[40:44] != b"_FVH":
        raise Fault("no volume header")
    if data[:16] != bytes(16):
        raise Fault("zero vector is not zero")
    fs = _guid(data[16:32])
    length, _, attributes, hlen, _, ext, _, revision = struct.unpack_from("<Q4sIHHHBB", data, 32)
    if fs != EFFS2:
        raise Fault("file system %s" % fs)
    if revision != 2 or length != len(data) or hlen % 2:
        raise Fault("volume revision %d, length %d of %d, header %d" % (revision, length, len(data), hlen))
    if sum(struct.unpack("<%dH" % (hlen // 2), data[:hlen])) & 0xFFFF:
        raise Fault("volume header checksum")
    covered, at = 0, 56
    while True:
        count, block = struct.unpack_from("<II", data, at)
        at += 8
        if count == 0 and block == 0:
            break
        covered += count * block
    if covered != length or at != hlen:
        raise Fault("block map covers %d of %d bytes" % (covered, length))
    polarity = (attributes >> 11) & 1
    free = 0xFF if polarity else 0x00
    files, names = [], set()
    at = (hlen + 7) & ~7
    while at + 24 <= length:
        if all(b == free for b in data[at:at + 24]):
            if any(b != free for b in data[at:]):
                raise Fault("bytes after the free space begins at %#x" % at)
            break
        f, size = read_file(data, at, polarity)
        if f.kind != TYPE_PAD:
            if f.name in names:
                raise Fault("two files named %s" % f.name)
            names.add(f.name)
            files.append(f)
        at = (at + size + 7) & ~7
    return files


# ---- Dependency expressions ----

PUSH, AND, OR, NOT, TRUE, FALSE, END, BEFORE, AFTER, SOR = 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x00, 0x01, 0x09


def depex_guids(code):
    """Every GUID the expression pushes, in order."""
    out, at = [], 0
    while at < len(code):
        op = code[at]
        if op in (PUSH, BEFORE, AFTER):
            out.append(_guid(code[at + 1:at + 17]))
            at += 17
        else:
            at += 1
    return out


def evaluate_depex(code, installed):
    """True when a driver with this expression may start while the protocols
    in installed (GUID strings) are present. A malformed stream is a fault."""
    stack, at = [], 0
    installed = {g.upper() for g in installed}
    while at < len(code):
        op = code[at]
        at += 1
        if op == PUSH:
            if at + 16 > len(code):
                raise Fault("PUSH runs past the expression")
            stack.append(_guid(code[at:at + 16]) in installed)
            at += 16
        elif op in (AND, OR):
            if len(stack) < 2:
                raise Fault("%s with %d operands" % ("AND" if op == AND else "OR", len(stack)))
            b, a = stack.pop(), stack.pop()
            stack.append((a and b) if op == AND else (a or b))
        elif op == NOT:
            if not stack:
                raise Fault("NOT without an operand")
            stack.append(not stack.pop())
        elif op in (TRUE, FALSE):
            stack.append(op == TRUE)
        elif op == SOR:
            if at != 1:
                raise Fault("SOR not at the start")
        elif op == END:
            if at != len(code) or len(stack) != 1:
                raise Fault("END leaves %d values with %d bytes after it" % (len(stack), len(code) - at))
            return stack[0]
        else:
            raise Fault("opcode %#x" % op)
    raise Fault("expression without END")


def depex_text(code):
    """The expression in infix form with protocol names, e.g.
    'gPcdProtocolGuid AND gEfiPcdProtocolGuid'; a malformed stream is a fault."""
    stack, at = [], 0
    names = {0x00: "BEFORE", 0x01: "AFTER"}
    made_by_operator = False
    while at < len(code):
        op = code[at]
        at += 1
        if op != END:
            made_by_operator = op in (AND, OR)
        if op in (PUSH, BEFORE, AFTER):
            if at + 16 > len(code):
                raise Fault("%s runs past the expression" % ("PUSH" if op == PUSH else names[op]))
            g = _guid(code[at:at + 16])
            at += 16
            g = PROTOCOL_NAMES.get(g, g)
            stack.append(g if op == PUSH else "%s %s" % (names[op], g))
        elif op in (AND, OR):
            if len(stack) < 2:
                raise Fault("%s with %d operands" % ("AND" if op == AND else "OR", len(stack)))
            b, a = stack.pop(), stack.pop()
            stack.append("(%s %s %s)" % (a, "AND" if op == AND else "OR", b))
        elif op == NOT:
            if not stack:
                raise Fault("NOT without an operand")
            stack.append("NOT " + stack.pop())
        elif op in (TRUE, FALSE):
            stack.append("TRUE" if op == TRUE else "FALSE")
        elif op == SOR:
            stack.append("SOR")
        elif op == END:
            if not stack:
                raise Fault("END with nothing before it")
            # The outermost AND/OR needs no parentheses of its own.
            if stack[-1].startswith("(") and made_by_operator:
                stack[-1] = stack[-1][1:-1]
            return " ".join(stack)
        else:
            raise Fault("opcode %#x" % op)
    raise Fault("expression without END")


def describe(f):
    parts = []
    for s in f.sections:
        name = SECTION_NAMES.get(s.kind, "%#x" % s.kind)
        if s.kind == 0x15:
            name += " %r" % s.text()
        elif s.kind == 0x14:
            name += " %d %r" % (s.build_number(), s.text())
        elif s.kind in (0x13, 0x1C):
            name += " [%s]" % depex_text(s.body)
        else:
            name += " %d bytes" % len(s.body)
        parts.append(name)
    return "%s type %#04x: %s" % (f.name, f.kind, "; ".join(parts))


def main(argv=None):
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("paths", nargs="+", metavar="FILE", help="a firmware volume (.fv) or firmware file (.ffs)")
    for path in ap.parse_args(argv).paths:
        try:
            with open(path, "rb") as fh:
                data = fh.read()
            if path.endswith(".fv"):
                files = read_volume(data)
            else:
                f, size = read_file(data)
                if size != len(data):
                    raise Fault("file size %d, %d bytes on disk" % (size, len(data)))
                files = [f]
        except (Fault, OSError) as e:
            print("%s: %s" % (path, e), file=sys.stderr)
            return 1
        print(path)
        for f in files:
            print("  " + describe(f))
    return 0


if __name__ == "__main__":
    sys.exit(main())
