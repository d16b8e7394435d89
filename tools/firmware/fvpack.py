#!/usr/bin/env python3
# SPDX-License-Identifier: BSD-2-Clause-Patent
"""Packs firmware files into a PI firmware volume.

Builds the three layers a DXE core reads from a firmware volume:
  sections  - common section header (24-bit size, type), 4-byte aligned
  files     - FFS file header with name, type, attributes, 24-bit size,
              header and data checksums and the state byte
  volume    - volume header with a block map and a 16-bit checksum,
              files 8-byte aligned, free space in the erase polarity

Used as a library (section(), ffs_file(), volume(), parse_volume()) and from
the command line:

  python3 -m tools.firmware ffs -o OUT.ffs --guid GUID --type driver \
      [--depex 'TRUE' | --depex 'GUID AND GUID'] [--pe32 IMAGE.efi] \
      [--ui NAME] [--version BUILD:TEXT] [--raw FILE ...] [--align N]
  python3 -m tools.firmware fv -o OUT.fv [--block-size N] FILE.ffs ...
  python3 -m tools.firmware dump FILE.fv
"""
import argparse
import struct
import sys
import uuid

# ---- Section types ----
SECTION_PE32 = 0x10
SECTION_PIC = 0x11
SECTION_TE = 0x12
SECTION_DXE_DEPEX = 0x13
SECTION_VERSION = 0x14
SECTION_USER_INTERFACE = 0x15
SECTION_FIRMWARE_VOLUME_IMAGE = 0x17
SECTION_RAW = 0x19
SECTION_PEI_DEPEX = 0x1B
SECTION_MM_DEPEX = 0x1C

# ---- File types ----
FILE_TYPES = {
    "raw": 0x01,
    "freeform": 0x02,
    "security-core": 0x03,
    "pei-core": 0x04,
    "dxe-core": 0x05,
    "peim": 0x06,
    "driver": 0x07,
    "combined-peim-driver": 0x08,
    "application": 0x09,
    "mm": 0x0A,
    "smm": 0x0A,
    "fv-image": 0x0B,
    "combined-mm-dxe": 0x0C,
    "mm-core": 0x0D,
    "mm-standalone": 0x0E,
}
FILE_TYPE_PAD = 0xF0

# File attributes.
FFS_ATTRIB_LARGE_FILE = 0x01
FFS_ATTRIB_DATA_ALIGNMENT2 = 0x02
FFS_ATTRIB_FIXED = 0x04
FFS_ATTRIB_DATA_ALIGNMENT = 0x38
FFS_ATTRIB_CHECKSUM = 0x40
FFS_FIXED_CHECKSUM = 0xAA

# File state bits, as written with erase polarity 0; with polarity 1 the
# stored byte is their complement.
FILE_HEADER_CONSTRUCTION = 0x01
FILE_HEADER_VALID = 0x02
FILE_DATA_VALID = 0x04

FFS_HEADER_SIZE = 24
FFS_HEADER2_SIZE = 32
MAX_FFS_SIZE = 0x1000000  # 24-bit size field

# Volume header.
FV_SIGNATURE = b"_FVH"
FV_REVISION = 2
FFS2_GUID = uuid.UUID("8C8CE578-8A3D-4F1C-9935-896185C32DD3")
FFS3_GUID = uuid.UUID("5473C07A-3DCB-4DCA-BD6F-1E9689E7349A")
FVB2_READ_ENABLED_CAP = 0x00000002
FVB2_READ_STATUS = 0x00000004
FVB2_WRITE_DISABLED_CAP = 0x00000008
FVB2_STICKY_WRITE = 0x00000200
FVB2_MEMORY_MAPPED = 0x00000400
FVB2_ERASE_POLARITY = 0x00000800
FVB2_ALIGNMENT_SHIFT = 16
FV_HEADER_FIXED = 56  # up to the block map

# Data alignments an FFS file can ask for, by their attribute code.
DATA_ALIGNMENTS = [1, 16, 128, 512, 1024, 4 * 1024, 32 * 1024, 64 * 1024]
DATA_ALIGNMENTS2 = [128 * 1024, 256 * 1024, 512 * 1024, 1024 * 1024, 2 * 1024 * 1024,
                    4 * 1024 * 1024, 8 * 1024 * 1024, 16 * 1024 * 1024]

# Dependency expression opcodes.
DEPEX_BEFORE, DEPEX_AFTER, DEPEX_PUSH, DEPEX_AND, DEPEX_OR = 0x00, 0x01, 0x02, 0x03, 0x04
DEPEX_NOT, DEPEX_TRUE, DEPEX_FALSE, DEPEX_END, DEPEX_SOR = 0x05, 0x06, 0x07, 0x08, 0x09


class PackError(Exception):
    pass


def guid_bytes(value):
    """A GUID in registry form ('6C2AB33E-77F8-...') as its 16 stored bytes."""
    if isinstance(value, (bytes, bytearray)):
        if len(value) != 16:
            raise PackError("a GUID has 16 bytes")
        return bytes(value)
    if isinstance(value, uuid.UUID):
        return value.bytes_le
    try:
        return uuid.UUID(value.strip("{}")).bytes_le
    except ValueError:
        raise PackError("not a GUID: %r" % value) from None


def align_up(value, alignment):
    return (value + alignment - 1) // alignment * alignment


def sum8(data):
    return sum(data) & 0xFF


def checksum8(data):
    """The byte that makes the 8-bit sum of data and itself zero."""
    return (0x100 - sum8(data)) & 0xFF


def checksum16(data):
    if len(data) % 2:
        raise PackError("16-bit checksum over an odd length")
    total = sum(struct.unpack("<%dH" % (len(data) // 2), data)) & 0xFFFF
    return (0x10000 - total) & 0xFFFF


# ---- Sections ----

def section(section_type, content):
    """One leaf section. Contents of 16 MiB or more take the extended header."""
    content = bytes(content)
    size = 4 + len(content)
    if size < 0xFFFFFF:
        return struct.pack("<I", size | (section_type << 24)) + content
    size = 8 + len(content)
    if size > 0xFFFFFFFF:
        raise PackError("section too large")
    return struct.pack("<II", 0xFFFFFF | (section_type << 24), size) + content


def raw_section(data):
    return section(SECTION_RAW, data)


def pe32_section(image):
    if image[:2] != b"MZ":
        raise PackError("a PE32 section holds a PE image (no MZ header)")
    return section(SECTION_PE32, image)


def ui_section(name):
    return section(SECTION_USER_INTERFACE, name.encode("utf-16-le") + b"\0\0")


def version_section(build, text=""):
    if not 0 <= build <= 0xFFFF:
        raise PackError("build number out of range")
    return section(SECTION_VERSION, struct.pack("<H", build) + text.encode("utf-16-le") + b"\0\0")


def depex_section(expression, kind="dxe"):
    types = {"dxe": SECTION_DXE_DEPEX, "pei": SECTION_PEI_DEPEX, "mm": SECTION_MM_DEPEX, "smm": SECTION_MM_DEPEX}
    if kind not in types:
        raise PackError("unknown dependency kind %r" % kind)
    return section(types[kind], compile_depex(expression))


def compile_depex(expression):
    """Infix dependency expression to the postfix opcode stream.

    Grammar: expr := term ('OR' term)* ; term := factor ('AND' factor)* ;
    factor := 'NOT' factor | '(' expr ')' | 'TRUE' | 'FALSE' | GUID.
    An expression may start with 'BEFORE GUID', 'AFTER GUID' (alone) or 'SOR'.
    """
    tokens = expression.replace("(", " ( ").replace(")", " ) ").split()
    if not tokens:
        raise PackError("empty dependency expression")
    upper = [t.upper() for t in tokens]
    if upper[0] in ("BEFORE", "AFTER"):
        if len(tokens) != 2:
            raise PackError("%s takes exactly one GUID and nothing else" % upper[0])
        op = DEPEX_BEFORE if upper[0] == "BEFORE" else DEPEX_AFTER
        return bytes([op]) + guid_bytes(tokens[1]) + bytes([DEPEX_END])
    out = bytearray()
    pos = 0
    if upper[0] == "SOR":
        out.append(DEPEX_SOR)
        pos = 1
        if len(tokens) == 1:
            raise PackError("SOR needs an expression after it")

    def peek():
        return upper[pos] if pos < len(tokens) else None

    def chain(operand, word, opcode):
        # operand (word operand)*, each word's opcode after its right operand.
        def parse():
            nonlocal pos
            operand()
            while peek() == word:
                pos += 1
                operand()
                out.append(opcode)

        return parse

    def factor():
        nonlocal pos
        tok = peek()
        if tok is None:
            raise PackError("dependency expression ends early")
        pos += 1
        if tok == "NOT":
            factor()
            out.append(DEPEX_NOT)
        elif tok == "(":
            expr()
            if peek() != ")":
                raise PackError("missing ')' in dependency expression")
            pos += 1
        elif tok == "TRUE":
            out.append(DEPEX_TRUE)
        elif tok == "FALSE":
            out.append(DEPEX_FALSE)
        elif tok in ("AND", "OR", ")", "BEFORE", "AFTER", "SOR"):
            raise PackError("unexpected %s in dependency expression" % tok)
        else:
            out.append(DEPEX_PUSH)
            out.extend(guid_bytes(tokens[pos - 1]))

    term = chain(factor, "AND", DEPEX_AND)
    expr = chain(term, "OR", DEPEX_OR)
    expr()
    if pos != len(tokens):
        raise PackError("unexpected %r in dependency expression" % tokens[pos])
    out.append(DEPEX_END)
    return bytes(out)


def join_sections(sections):
    """Sections one after another, each starting 4-byte aligned."""
    out = bytearray()
    for s in sections:
        out.extend(b"\0" * (align_up(len(out), 4) - len(out)))
        out.extend(s)
    return bytes(out)


# ---- Files ----

def alignment_attributes(alignment):
    if alignment in DATA_ALIGNMENTS:
        return DATA_ALIGNMENTS.index(alignment) << 3
    if alignment in DATA_ALIGNMENTS2:
        return (DATA_ALIGNMENTS2.index(alignment) << 3) | FFS_ATTRIB_DATA_ALIGNMENT2
    raise PackError("unsupported file data alignment %d" % alignment)


def file_alignment(attributes):
    code = (attributes & FFS_ATTRIB_DATA_ALIGNMENT) >> 3
    if attributes & FFS_ATTRIB_DATA_ALIGNMENT2:
        return DATA_ALIGNMENTS2[code]
    return DATA_ALIGNMENTS[code]


def ffs_file(name, file_type, sections=(), data=None, alignment=1, erase_polarity=1, checksum=True):
    """One FFS file. Sectioned file types take a list of section byte strings;
    a raw or pad file takes its data. Files of 16 MiB or more get the extended
    header (only valid inside an FFS3 volume)."""
    if isinstance(file_type, str):
        if file_type not in FILE_TYPES:
            raise PackError("unknown file type %r" % file_type)
        file_type = FILE_TYPES[file_type]
    body = bytes(data) if data is not None else join_sections(sections)
    attributes = alignment_attributes(alignment)
    if checksum:
        attributes |= FFS_ATTRIB_CHECKSUM
    header_size = FFS_HEADER_SIZE
    if FFS_HEADER_SIZE + len(body) >= MAX_FFS_SIZE:
        header_size = FFS_HEADER2_SIZE
        attributes |= FFS_ATTRIB_LARGE_FILE
    size = header_size + len(body)
    file_check = checksum8(body) if checksum else FFS_FIXED_CHECKSUM
    state = FILE_HEADER_CONSTRUCTION | FILE_HEADER_VALID | FILE_DATA_VALID
    if erase_polarity:
        state = ~state & 0xFF
    size24 = b"\0\0\0" if header_size == FFS_HEADER2_SIZE else struct.pack("<I", size)[:3]
    # Header checksum: the header sums to zero with State and the file
    # checksum counted as zero.
    head = bytearray(guid_bytes(name) + bytes([0, 0, file_type, attributes]) + size24 + b"\0")
    if header_size == FFS_HEADER2_SIZE:
        head += struct.pack("<Q", size)
    head[16] = checksum8(head)
    head[17] = file_check
    head[23] = state
    return bytes(head) + body


def pad_file(size, erase_polarity=1):
    if size < FFS_HEADER_SIZE:
        raise PackError("a pad file needs at least a header")
    filler = b"\xff" if erase_polarity else b"\0"
    return ffs_file(b"\0" * 16, FILE_TYPE_PAD,
                    data=filler * (size - FFS_HEADER_SIZE), erase_polarity=erase_polarity, checksum=False)


def parse_file_header(data, offset=0):
    """(name bytes, type, attributes, size, header size, state) of the FFS file at offset."""
    name = data[offset:offset + 16]
    file_type, attributes = data[offset + 18], data[offset + 19]
    size = int.from_bytes(data[offset + 20:offset + 23], "little")
    header_size = FFS_HEADER_SIZE
    if attributes & FFS_ATTRIB_LARGE_FILE:
        header_size = FFS_HEADER2_SIZE
        size = struct.unpack_from("<Q", data, offset + 24)[0]
    return name, file_type, attributes, size, header_size, data[offset + 23]


# ---- Volumes ----

def volume(files, block_size=0x1000, erase_polarity=1, size=None, alignment=None):
    """A firmware volume holding the given FFS files. Each file starts 8-byte
    aligned; a file that asks for data alignment gets a pad file in front of
    it. The volume length is a whole number of blocks."""
    if block_size <= 0 or block_size & (block_size - 1):
        raise PackError("block size must be a power of two")
    large = any(f[19] & FFS_ATTRIB_LARGE_FILE for f in files)
    header_len = FV_HEADER_FIXED + 8 + 8  # one block-map entry and the terminator
    body = bytearray()
    fill = 0xFF if erase_polarity else 0x00
    max_align = 8
    names = set()
    for f in files:
        name, file_type, attributes, fsize, hsize, _ = parse_file_header(f)
        if fsize != len(f):
            raise PackError("file %s: size field %d, length %d" % (uuid.UUID(bytes_le=name), fsize, len(f)))
        if file_type != FILE_TYPE_PAD:
            if name in names:
                raise PackError("two files named %s" % uuid.UUID(bytes_le=name))
            names.add(name)
        want = file_alignment(attributes)
        max_align = max(max_align, want)
        start = align_up(header_len + len(body), 8)
        body.extend(bytes([fill]) * (start - header_len - len(body)))
        if want > 8 and (start + hsize) % want:
            # The gap before the aligned data must hold a pad file's header.
            gap = (want - (start + hsize) % want) % want
            while gap < FFS_HEADER_SIZE:
                gap += want
            body.extend(pad_file(gap, erase_polarity))
        body.extend(f)
    used = header_len + len(body)
    length = align_up(max(used, size or 0), block_size)
    if size is not None and used > size:
        raise PackError("files need %d bytes, volume is %d" % (used, size))
    body.extend(bytes([fill]) * (length - used))
    fv_align = alignment or max_align
    attributes = (FVB2_READ_ENABLED_CAP | FVB2_READ_STATUS | FVB2_WRITE_DISABLED_CAP | FVB2_STICKY_WRITE |
                  FVB2_MEMORY_MAPPED | (fv_align.bit_length() - 1) << FVB2_ALIGNMENT_SHIFT)
    if erase_polarity:
        attributes |= FVB2_ERASE_POLARITY
    header = bytearray(b"\0" * 16 + (FFS3_GUID if large else FFS2_GUID).bytes_le +
                       struct.pack("<Q4sIHHHBB", length, FV_SIGNATURE, attributes, header_len, 0, 0, 0, FV_REVISION) +
                       struct.pack("<II", length // block_size, block_size) + struct.pack("<II", 0, 0))
    struct.pack_into("<H", header, 50, checksum16(header))
    return bytes(header) + bytes(body)


def parse_volume(data):
    """Walks a volume the way a DXE core does and checks every checksum,
    state and alignment. Returns a list of (name GUID string, type, [(section
    type, content)]) for the valid non-pad files; raises PackError on a fault."""
    if len(data) < FV_HEADER_FIXED + 16:
        raise PackError("too short for a volume header")
    (length, signature, attributes, header_len, checksum, ext_offset, _reserved,
     revision) = struct.unpack_from("<Q4sIHHHBB", data, 32)
    if signature != FV_SIGNATURE:
        raise PackError("no _FVH signature")
    if revision != FV_REVISION:
        raise PackError("volume revision %d" % revision)
    if length != len(data):
        raise PackError("FvLength %d, image %d bytes" % (length, len(data)))
    if checksum16(data[:header_len]) != 0:
        raise PackError("volume header checksum")
    fs = uuid.UUID(bytes_le=bytes(data[16:32]))
    if fs not in (FFS2_GUID, FFS3_GUID):
        raise PackError("unknown file system %s" % fs)
    blocks_total, off = 0, FV_HEADER_FIXED
    while True:
        count, blen = struct.unpack_from("<II", data, off)
        off += 8
        if count == 0 and blen == 0:
            break
        blocks_total += count * blen
    if off != header_len:
        raise PackError("block map does not end at the header length")
    if blocks_total != length:
        raise PackError("block map covers %d bytes of %d" % (blocks_total, length))
    polarity = 1 if attributes & FVB2_ERASE_POLARITY else 0
    fv_align = 1 << ((attributes >> FVB2_ALIGNMENT_SHIFT) & 0x1F)
    files = []
    end = align_up(header_len, 8)
    for pos, name, file_type, fattr, fsize, hsize in walk_files(data):
        if (fattr & FFS_ATTRIB_LARGE_FILE) and fs != FFS3_GUID:
            raise PackError("large file outside an FFS3 volume")
        head = bytearray(data[pos:pos + hsize])
        head[17] = 0
        head[23] = 0
        if sum8(head) != 0:
            raise PackError("file header checksum at %#x" % pos)
        body = data[pos + hsize:pos + fsize]
        if fattr & FFS_ATTRIB_CHECKSUM:
            if (sum8(body) + data[pos + 17]) & 0xFF:
                raise PackError("file data checksum at %#x" % pos)
        elif data[pos + 17] != FFS_FIXED_CHECKSUM:
            raise PackError("file checksum byte is not 0xAA at %#x" % pos)
        state = data[pos + 23]
        st = (~state & 0xFF) if polarity else state
        if st != FILE_HEADER_CONSTRUCTION | FILE_HEADER_VALID | FILE_DATA_VALID:
            raise PackError("file state %#x at %#x" % (state, pos))
        want = file_alignment(fattr)
        if want > fv_align:
            raise PackError("file alignment %d above the volume's %d" % (want, fv_align))
        if (pos + hsize) % want:
            raise PackError("file data at %#x not %d-byte aligned" % (pos + hsize, want))
        if file_type != FILE_TYPE_PAD:
            sections = parse_sections(body) if file_type not in (0x01,) else []
            files.append((str(uuid.UUID(bytes_le=name)).upper(), file_type, sections))
        end = align_up(pos + fsize, 8)
    if any(b != (0xFF if polarity else 0) for b in data[end:]):
        raise PackError("data after free space at %#x" % end)
    return files


def walk_files(vol):
    """(offset, name bytes, type, attributes, size, header size) of every
    file of a volume, pad files included, up to its free space: the one walk
    that the checks above, the insert tool and dump share. Raises PackError
    on a file that overruns the volume."""
    header_len = struct.unpack_from("<H", vol, 48)[0]
    polarity = 1 if struct.unpack_from("<I", vol, 44)[0] & FVB2_ERASE_POLARITY else 0
    erased = bytes([0xFF if polarity else 0]) * FFS_HEADER_SIZE
    pos = align_up(header_len, 8)
    out = []
    while pos + FFS_HEADER_SIZE <= len(vol):
        if vol[pos:pos + FFS_HEADER_SIZE] == erased:
            break
        name, ftype, attr, size, hsize, _ = parse_file_header(vol, pos)
        if size < hsize or pos + size > len(vol):
            raise PackError("file at %#x overruns its volume" % pos)
        out.append((pos, bytes(name), ftype, attr, size, hsize))
        pos = align_up(pos + size, 8)
    return out


def parse_sections(body):
    out = []
    pos = 0
    while pos < len(body):
        pos = align_up(pos, 4)
        if pos >= len(body):
            break
        if pos + 4 > len(body):
            raise PackError("section header past the file end")
        word = struct.unpack_from("<I", body, pos)[0]
        size, stype, hsize = word & 0xFFFFFF, word >> 24, 4
        if size == 0xFFFFFF:
            size = struct.unpack_from("<I", body, pos + 4)[0]
            hsize = 8
        if size < hsize or pos + size > len(body):
            raise PackError("section at %#x overruns its file" % pos)
        out.append((stype, bytes(body[pos + hsize:pos + size])))
        pos += size
    return out


# ---- Command line ----

def main(argv=None):
    argv = sys.argv[1:] if argv is None else argv
    ap = argparse.ArgumentParser(description="PI firmware volume packer")
    sub = ap.add_subparsers(dest="cmd", required=True)
    f = sub.add_parser("ffs", help="one FFS file from sections")
    f.add_argument("-o", "--output", required=True)
    f.add_argument("--guid", required=True)
    f.add_argument("--type", default="freeform", choices=sorted(FILE_TYPES))
    f.add_argument("--align", type=int, default=1, help="file data alignment in bytes")
    f.add_argument("--depex", help="dependency expression (DXE, or MM for --type mm/smm)")
    f.add_argument("--pe32", help="PE32+ image for a PE32 section")
    f.add_argument("--ui", help="user-interface name section")
    f.add_argument("--version", help="version section as BUILD[:TEXT]")
    f.add_argument("--raw", action="append", default=[], help="raw section from a file; repeat for sections 0, 1, ...")
    v = sub.add_parser("fv", help="a firmware volume from FFS files")
    v.add_argument("-o", "--output", required=True)
    v.add_argument("--block-size", type=lambda s: int(s, 0), default=0x1000)
    v.add_argument("--size", type=lambda s: int(s, 0), help="minimum volume size in bytes")
    v.add_argument("files", nargs="+")
    d = sub.add_parser("dump", help="check a volume and list its files")
    d.add_argument("volume")
    args = ap.parse_args(argv)
    try:
        if args.cmd == "ffs":
            sections = []
            if args.depex:
                kind = "mm" if args.type in ("mm", "smm", "mm-standalone") else "dxe"
                sections.append(depex_section(args.depex, kind))
            if args.pe32:
                with open(args.pe32, "rb") as fh:
                    sections.append(pe32_section(fh.read()))
            for path in args.raw:
                with open(path, "rb") as fh:
                    sections.append(raw_section(fh.read()))
            if args.ui:
                sections.append(ui_section(args.ui))
            if args.version:
                build, _, text = args.version.partition(":")
                sections.append(version_section(int(build, 0), text))
            if not sections:
                raise PackError("a file needs at least one section")
            out = ffs_file(args.guid, args.type, sections, alignment=args.align)
        elif args.cmd == "fv":
            files = []
            for path in args.files:
                with open(path, "rb") as fh:
                    files.append(fh.read())
            out = volume(files, block_size=args.block_size, size=args.size)
        else:
            with open(args.volume, "rb") as fh:
                for name, ftype, sections in parse_volume(fh.read()):
                    print("%s type %#04x: %s" % (name, ftype, ", ".join("%#04x/%d" % (t, len(c)) for t, c in sections)))
            return 0
    except (PackError, OSError) as e:
        print("fvpack: %s" % e, file=sys.stderr)
        return 1
    with open(args.output, "wb") as fh:
        fh.write(out)
    return 0


if __name__ == "__main__":
    sys.exit(main())
