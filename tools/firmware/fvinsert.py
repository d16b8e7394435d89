#!/usr/bin/env python3
# SPDX-License-Identifier: BSD-2-Clause-Patent
"""Inserts firmware files into the DXE volume of a firmware image whose main
volume is LZMA-compressed, the way a board's release image is built:

    outer volume  ->  volume-image file  ->  GUID-defined LZMA section
                  ->  volume-image sections  ->  the DXE volume (it holds the DXE core)

The DXE volume keeps its length, so the decompressed stream keeps its size;
only the compressed stream, its section and its file change size. Every
header size and checksum on the way out is rewritten and the result is walked
again before it is written.

    python3 -m tools.firmware insert BASE.fd OUT.fd FILE.ffs ...

Any fault ends with a message and exit status 1, and OUT.fd is not left behind.
"""
import lzma
import os
import struct
import sys
import uuid

from tools.firmware import fvpack as fv

LZMA_SECTION_GUID = uuid.UUID("EE4E5898-3914-4259-9D6E-DC7BD79403CF")
SECTION_GUID_DEFINED = 0x02
FILE_TYPE_FV_IMAGE = 0x0B
FILE_TYPE_DXE_CORE = 0x05
# The dictionary the firmware's own stream declares; the decoder writes into
# the whole output buffer, so this only has to cover the volume.
LZMA_FILTERS = [{"id": lzma.FILTER_LZMA1, "preset": 9, "dict_size": 1 << 24}]


class InsertError(Exception):
    pass


def volume_at(data, offset):
    if len(data) < offset + fv.FV_HEADER_FIXED + 16 or data[offset + 40:offset + 44] != fv.FV_SIGNATURE:
        return None
    length = struct.unpack_from("<Q", data, offset + 32)[0]
    if length < fv.FV_HEADER_FIXED or offset + length > len(data):
        return None
    return length


def free_start(vol):
    files = fv.walk_files(vol)
    if not files:
        return fv.align_up(struct.unpack_from("<H", vol, 48)[0], 8)
    pos, _, _, _, size, _ = files[-1]
    return fv.align_up(pos + size, 8)


def find_compressed(image):
    """(volume offset, file offset, file size, file header size) of the first
    volume-image file whose first section is an LZMA GUID-defined section."""
    length = volume_at(image, 0)
    if length is None:
        raise InsertError("not a firmware volume (no _FVH header at offset 0)")
    offset = 0
    while length is not None:
        vol = image[offset:offset + length]
        for pos, _, ftype, attr, size, hsize in fv.walk_files(vol):
            if ftype != FILE_TYPE_FV_IMAGE or size < hsize + 24:
                continue
            body = vol[pos + hsize:pos + size]
            if body[3] == SECTION_GUID_DEFINED and uuid.UUID(bytes_le=bytes(body[4:20])) == LZMA_SECTION_GUID:
                return offset, pos, size, hsize
        offset += length
        length = volume_at(image, offset)
    raise InsertError("no LZMA-compressed volume in the image")


def check_files(files, polarity):
    """Each input must be one well-formed file: walked in a volume of its own."""
    names = []
    for path, data in files:
        if len(data) < fv.FFS_HEADER_SIZE:
            raise InsertError("%s: too short for a firmware file" % path)
        name, ftype, attr, size, hsize, state = fv.parse_file_header(data)
        if size != len(data):
            raise InsertError("%s: size field %d, file is %d bytes" % (path, size, len(data)))
        if ftype == fv.FILE_TYPE_PAD:
            raise InsertError("%s: a pad file is not a file to insert" % path)
        try:
            fv.parse_volume(fv.volume([data], erase_polarity=1))
        except fv.PackError as e:
            raise InsertError("%s: not a well-formed firmware file: %s" % (path, e)) from None
        if not polarity:
            data = data[:23] + bytes([~data[23] & 0xFF]) + data[24:]
        names.append((path, bytes(name), data))
    return names


def insert(base, ffs_files):
    """The new image (bytes). ffs_files: [(path, bytes)]."""
    try:
        return _insert(base, ffs_files)
    except fv.PackError as e:  # the walk of a volume found a fault
        raise InsertError(str(e)) from None


def _insert(base, ffs_files):
    image = bytearray(base)
    vol_off, file_off, file_size, hsize = find_compressed(image)
    outer_len = volume_at(image, vol_off)
    outer = image[vol_off:vol_off + outer_len]
    body = bytes(outer[file_off + hsize:file_off + file_size])
    sec_size = int.from_bytes(body[0:3], "little")
    data_offset, sec_attr = struct.unpack_from("<HH", body, 20)
    if sec_size == 0xFFFFFF or sec_size > len(body) or data_offset < 24 or data_offset > sec_size:
        raise InsertError("the compressed section's header is not understood")
    try:
        raw = bytearray(lzma.decompress(body[data_offset:sec_size], format=lzma.FORMAT_ALONE))
    except lzma.LZMAError as e:
        raise InsertError("the compressed volume does not decompress: %s" % e) from None

    # The decompressed stream is a row of sections; the DXE volume is the
    # volume-image section whose volume holds the DXE core.
    dxe = None
    pos = 0
    while pos + 4 <= len(raw):
        size, stype = int.from_bytes(raw[pos:pos + 3], "little"), raw[pos + 3]
        head = 4
        if size == 0xFFFFFF:
            size, head = struct.unpack_from("<I", raw, pos + 4)[0], 8
        if size < head or pos + size > len(raw):
            raise InsertError("section at %#x of the compressed volume overruns it" % pos)
        if stype == fv.SECTION_FIRMWARE_VOLUME_IMAGE and volume_at(raw, pos + head) is not None:
            vstart = pos + head
            vol = raw[vstart:vstart + volume_at(raw, vstart)]
            if any(ftype == FILE_TYPE_DXE_CORE for _, _, ftype, _, _, _ in fv.walk_files(vol)):
                dxe = vstart
        pos = fv.align_up(pos + size, 4)
    if dxe is None:
        raise InsertError("no DXE volume inside the compressed volume")
    dxe_len = volume_at(raw, dxe)
    vol = raw[dxe:dxe + dxe_len]
    polarity = 1 if struct.unpack_from("<I", vol, 44)[0] & fv.FVB2_ERASE_POLARITY else 0
    fv_align = 1 << ((struct.unpack_from("<I", vol, 44)[0] >> fv.FVB2_ALIGNMENT_SHIFT) & 0x1F)

    new_files = check_files(ffs_files, polarity)
    present = {name for _, name, _, _, _, _ in fv.walk_files(vol)}
    for path, name, _ in new_files:
        if name in present:
            raise InsertError("%s: file %s is already in the volume" % (path, uuid.UUID(bytes_le=name)))
        present.add(name)

    # Append after the last file, padding in front of a file that asks for
    # data alignment as the packer does.
    at = free_start(vol)
    fill = 0xFF if polarity else 0x00
    for path, name, data in new_files:
        attr = data[19]
        hsz = fv.FFS_HEADER2_SIZE if attr & fv.FFS_ATTRIB_LARGE_FILE else fv.FFS_HEADER_SIZE
        want = fv.file_alignment(attr)
        if want > fv_align:
            raise InsertError("%s: asks for %d-byte alignment, the volume gives %d" % (path, want, fv_align))
        at = fv.align_up(at, 8)
        if want > 8 and (at + hsz) % want:
            gap = (want - (at + hsz) % want) % want
            while gap < fv.FFS_HEADER_SIZE:
                gap += want
            if at + gap > dxe_len:
                raise InsertError("no room in the DXE volume for %s" % path)
            vol[at:at + gap] = fv.pad_file(gap, polarity)
            at += gap
        if at + len(data) > dxe_len:
            raise InsertError("no room in the DXE volume for %s (%d bytes, %d free)"
                              % (path, len(data), max(0, dxe_len - at)))
        vol[at:at + len(data)] = data
        at += len(data)
    if any(b != fill for b in vol[fv.align_up(at, 8):]):
        raise InsertError("the DXE volume holds data after its free space")
    raw[dxe:dxe + dxe_len] = vol
    try:
        fv.parse_volume(bytes(vol))
    except fv.PackError as e:
        raise InsertError("the DXE volume does not walk after the insert: %s" % e) from None

    stream = bytearray(lzma.compress(bytes(raw), format=lzma.FORMAT_ALONE, filters=LZMA_FILTERS))
    # Python writes "size unknown"; the firmware's decoder wants the real size.
    stream[5:13] = struct.pack("<Q", len(raw))

    new_sec = bytearray(body[:data_offset]) + stream
    if len(new_sec) >= 0xFFFFFF:
        raise InsertError("the compressed section outgrows a 24-bit size")
    new_sec[0:3] = len(new_sec).to_bytes(3, "little")
    new_body = bytes(new_sec) + body[sec_size:]  # anything after the section stays
    head = bytearray(outer[file_off:file_off + hsize])
    new_size = hsize + len(new_body)
    if hsize != fv.FFS_HEADER_SIZE:
        raise InsertError("the compressed volume's file has an extended header")
    head[20:23] = new_size.to_bytes(3, "little")
    attr = head[19]
    head[16] = head[17] = 0
    state = head[23]
    head[23] = 0
    head[16] = fv.checksum8(head)
    head[17] = fv.checksum8(new_body) if attr & fv.FFS_ATTRIB_CHECKSUM else fv.FFS_FIXED_CHECKSUM
    head[23] = state

    # The file grows or shrinks in place: it must end before the next file.
    files = fv.walk_files(outer)
    later = [pos for pos, *_ in files if pos > file_off]
    limit = later[0] if later else outer_len
    if file_off + new_size > limit:
        raise InsertError("no room in the outer volume: the compressed volume needs %d bytes, %d are there"
                          % (new_size, limit - file_off))
    outer_polarity = 0xFF if struct.unpack_from("<I", outer, 44)[0] & fv.FVB2_ERASE_POLARITY else 0
    outer[file_off:limit] = bytes([outer_polarity]) * (limit - file_off)
    outer[file_off:file_off + new_size] = bytes(head) + new_body
    try:
        fv.parse_volume(bytes(outer))
    except fv.PackError as e:
        raise InsertError("the outer volume does not walk after the insert: %s" % e) from None
    image[vol_off:vol_off + outer_len] = outer
    return bytes(image), {"dxe_free": dxe_len - fv.align_up(at, 8),
                          "outer_free": limit - fv.align_up(file_off + new_size, 8),
                          "compressed_growth": new_size - file_size}


def main(argv=None):
    argv = sys.argv[1:] if argv is None else argv
    if len(argv) < 3:
        print("usage: fvinsert.py BASE.fd OUT.fd FILE.ffs ...", file=sys.stderr)
        return 1
    base_path, out_path, paths = argv[0], argv[1], argv[2:]
    tmp = out_path + ".part"
    if os.path.abspath(out_path) == os.path.abspath(base_path):
        print("fvinsert: the output would overwrite the base image", file=sys.stderr)
        return 1
    try:
        with open(base_path, "rb") as fh:
            base = fh.read()
        files = []
        for p in paths:
            with open(p, "rb") as fh:
                files.append((p, fh.read()))
        image, figures = insert(base, files)
        with open(tmp, "wb") as fh:
            fh.write(image)
        os.replace(tmp, out_path)
    except (InsertError, OSError) as e:
        for p in (tmp, out_path):
            if os.path.exists(p):
                os.unlink(p)
        print("fvinsert: %s" % e, file=sys.stderr)
        return 1
    print("fvinsert: %d files into %s; DXE volume %d bytes free, outer volume %d bytes free, compressed volume %+d bytes"
          % (len(files), out_path, figures["dxe_free"], figures["outer_free"], figures["compressed_growth"]))
    return 0


if __name__ == "__main__":
    sys.exit(main())
