#!/usr/bin/env python3
"""Writes firmware image fixtures with struct and zlib, independent of the C++ reader.

usage: make_images.py OUT_DIR

Writes images into OUT_DIR and a manifest OUT_DIR/manifest.txt with one line per
file: NAME<TAB>EXPECT<TAB>VERSION, where EXPECT is "ok" (the header passes and the
part CRCs match), "part_crc" (the header passes, a part's CRC does not) or the
header error the reader must report: crc, size, magic, part_sum, part_layout, short.
"""
import os
import struct
import sys
import zlib

HEADER_SIZE = 1556
PART_NAMES = ["kernel", "rootfs", "uboot", "tgz", "oem"]


def header(parts, flags, file_size=None, magic=b"VELOR888", kernel_name=b"", rootfs_name=b"",
           fix_crc=True, layout=None, crcs=None):
    """parts: list of 5 byte strings (b"" for absent). layout: list of (offset, size) to write."""
    offsets = []
    at = HEADER_SIZE
    for i, p in enumerate(parts):
        if flags & (1 << i):
            offsets.append((at, len(p)))
            at += len(p)
        else:
            offsets.append((0, 0))
    if layout is not None:
        offsets = layout
    if file_size is None:
        file_size = at
    part_crcs = [zlib.crc32(p) & 0xFFFFFFFF if flags & (1 << i) else 0 for i, p in enumerate(parts)]
    if crcs is not None:
        part_crcs = crcs
    h = bytearray(HEADER_SIZE)
    h[0:8] = magic
    struct.pack_into("<III", h, 12, file_size, flags, 0)
    struct.pack_into("<III", h, 20, offsets[0][0], offsets[0][1], part_crcs[0])
    h[32:32 + len(kernel_name)] = kernel_name
    struct.pack_into("<II", h, 288, offsets[1][0], offsets[1][1])
    h[296:296 + len(rootfs_name)] = rootfs_name
    struct.pack_into("<I", h, 552, part_crcs[1])
    for i, at in ((2, 556), (3, 568), (4, 580)):
        struct.pack_into("<III", h, at, offsets[i][0], offsets[i][1], part_crcs[i])
    if fix_crc:
        struct.pack_into("<I", h, 8, zlib.crc32(bytes(h)) & 0xFFFFFFFF)
    return bytes(h)


def part_bytes(i, n):
    return bytes((i * 37 + k * 11) & 0xFF for k in range(n))


def make(out, name, expect, version, data):
    with open(os.path.join(out, name), "wb") as f:
        f.write(data)
    return "%s\t%s\t%s" % (name, expect, version)


def main():
    out = sys.argv[1]
    os.makedirs(out, exist_ok=True)
    lines = []
    sizes = [300, 500, 70, 130, 20]
    # Every flag combination, valid.
    for flags in range(32):
        parts = [part_bytes(i, sizes[i]) if flags & (1 << i) else b"" for i in range(5)]
        version = ("V%02d_rootfs" % flags) if flags & 2 else ""
        h = header(parts, flags, kernel_name=b"uImage" if flags & 1 else b"",
                   rootfs_name=version.encode() if flags & 2 else b"")
        lines.append(make(out, "flags_%02d.bin" % flags, "ok", version, h + b"".join(parts)))
    parts = [part_bytes(i, sizes[i]) for i in range(5)]
    full = lambda **kw: header(parts, 0x1F, rootfs_name=b"V9_full", **kw)
    body = b"".join(parts)
    # The alternative magic; a 256-character version text without terminator.
    lines.append(make(out, "magic_firmware.bin", "ok", "V9_full", full(magic=b"FIRMWARE") + body))
    long_name = b"L" * 256
    lines.append(make(out, "long_version.bin", "ok", "L" * 255,
                      header(parts, 0x1F, rootfs_name=long_name) + body))
    # Defects.
    good = bytearray(full() + body)
    bad = bytearray(good)
    bad[300] ^= 0x01  # a header byte changed, CRC not recomputed
    lines.append(make(out, "bad_crc.bin", "crc", "", bytes(bad)))
    lines.append(make(out, "bad_magic.bin", "magic", "", full(magic=b"VELOR887") + body))
    lines.append(make(out, "bad_size_field.bin", "size", "", full(file_size=HEADER_SIZE + len(body) + 4) + body))
    lines.append(make(out, "truncated.bin", "size", "", bytes(good[:-100])))
    lines.append(make(out, "trailing_bytes.bin", "size", "", bytes(good) + b"\0" * 8))
    lines.append(make(out, "short_header.bin", "short", "", bytes(good[:HEADER_SIZE - 1])))
    lines.append(make(out, "empty.bin", "short", "", b""))
    # The part sum differs from the total (the total matches the file).
    s = sum(sizes)
    lines.append(make(out, "part_sum.bin", "part_sum", "",
                      header(parts, 0x1F, rootfs_name=b"V9", file_size=HEADER_SIZE + s + 10) + body + b"\0" * 10))
    # Overlapping parts: rootfs starts inside the kernel.
    lay = [(HEADER_SIZE, 300), (HEADER_SIZE + 200, 500), (HEADER_SIZE + 800, 70), (HEADER_SIZE + 870, 130),
           (HEADER_SIZE + 1000, 20)]
    lines.append(make(out, "overlap.bin", "part_layout", "", header(parts, 0x1F, layout=lay) + body))
    # Out of order: kernel after rootfs.
    lay = [(HEADER_SIZE + 500, 300), (HEADER_SIZE, 500), (HEADER_SIZE + 800, 70), (HEADER_SIZE + 870, 130),
           (HEADER_SIZE + 1000, 20)]
    lines.append(make(out, "out_of_order.bin", "part_layout", "", header(parts, 0x1F, layout=lay) + body))
    # A part beyond the end of the file (offset far out, sizes still add up).
    lay = [(HEADER_SIZE, 300), (HEADER_SIZE + 300, 500), (HEADER_SIZE + 800, 70), (HEADER_SIZE + 870, 130),
           (0xFFFFFF00, 20)]
    lines.append(make(out, "outside_file.bin", "part_layout", "", header(parts, 0x1F, layout=lay) + body))
    # An absent part whose fields are set.
    p2 = [parts[0], parts[1], b"", b"", b""]
    lay = [(HEADER_SIZE, 300), (HEADER_SIZE + 300, 500), (0, 0), (0, 0), (HEADER_SIZE + 800, 20)]
    lines.append(make(out, "absent_part_set.bin", "part_layout", "", header(p2, 0x03, layout=lay) + parts[0] + parts[1]))
    # Sizes whose 32-bit sum wraps to the right total.
    wrap = [0xFFFFFFFF, 1 + 10, 0, 0, 0]
    h = header([b"", b"", b"", b"", b""], 0x03, file_size=HEADER_SIZE + 10,
               layout=[(HEADER_SIZE, wrap[0]), ((HEADER_SIZE + wrap[0]) & 0xFFFFFFFF, wrap[1]), (0, 0), (0, 0), (0, 0)],
               crcs=[0, 0, 0, 0, 0])
    lines.append(make(out, "wrapping_sum.bin", "part_sum", "", h + b"\0" * 10))
    # The header passes, a part's bytes do not match its CRC.
    bad = bytearray(good)
    bad[HEADER_SIZE + 300 + 17] ^= 0xFF
    lines.append(make(out, "bad_part_crc.bin", "part_crc", "V9_full", bytes(bad)))
    # Files the listing skips by name.
    with open(os.path.join(out, "not_an_image.txt"), "wb") as f:
        f.write(good)
    lines.append(make(out, "UPPER.BIN", "ok", "V9_full", bytes(good)))
    with open(os.path.join(out, "manifest.txt"), "w") as f:
        f.write("\n".join(lines) + "\n")


if __name__ == "__main__":
    main()
