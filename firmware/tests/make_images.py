#!/usr/bin/env python3
"""Writes firmware image fixtures with struct and zlib, independent of the C++ reader.

usage: make_images.py OUT_DIR

Writes images into OUT_DIR and a manifest OUT_DIR/manifest.txt with one line per
file: NAME<TAB>EXPECT<TAB>VERSION<TAB>NOTICE, where EXPECT is "ok" (the header
passes and the part CRCs match), "part_crc" (the header passes, a part's CRC
read at its offset does not) or why the reader must refuse the file: crc,
truncated (a present part ends beyond the end of the file), short. NOTICE is
what the check reports without refusing: size (total-size field differs from
the file), magic, part_sum (1556 plus the present parts differs from the total
field), or empty.
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


def make(out, name, expect, version, data, notice=""):
    with open(os.path.join(out, name), "wb") as f:
        f.write(data)
    return "%s\t%s\t%s\t%s" % (name, expect, version, notice)


def placed(parts, offsets, length, flags=0x1F, fill=b"\xff", **kw):
    """An image whose present parts lie at the given offsets of a file of `length`
    bytes (gaps filled with `fill`); the part CRCs are those of the bytes there."""
    body = bytearray(fill * (length - HEADER_SIZE))
    layout = []
    for i, p in enumerate(parts):
        if flags & (1 << i):
            body[offsets[i] - HEADER_SIZE:offsets[i] - HEADER_SIZE + len(p)] = p
            layout.append((offsets[i], len(p)))
        else:
            layout.append((0, 0))
    kw.setdefault("file_size", length)
    return header(parts, flags, layout=layout, **kw) + bytes(body)


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
    good = bytearray(full() + body)
    total = HEADER_SIZE + len(body)
    # Images of the field that the check accepts, some with a report.
    pad = (-total) % 4096
    lines.append(make(out, "padded_4k.bin", "ok", "V9_full", bytes(good) + b"\xff" * pad, "size"))
    lines.append(make(out, "padded_4k_total.bin", "ok", "V9_full",
                      full(file_size=total + pad) + body + b"\xff" * pad, "part_sum"))
    lines.append(make(out, "signature_trailer.bin", "ok", "V9_full", bytes(good) + b"SIG0" + bytes(range(256)), "size"))
    aligned = [4096 * (i + 1) for i in range(5)]
    lines.append(make(out, "aligned_4k.bin", "ok", "V9_full",
                      placed(parts, aligned, 4096 * 5 + 4096, rootfs_name=b"V9_full"), "part_sum"))
    lines.append(make(out, "unknown_flag.bin", "ok", "V9_flag",
                      header(parts, 0x1F | 0x40, rootfs_name=b"V9_flag") + body))
    p2 = [parts[0], parts[1], b"", b"", b""]
    lines.append(make(out, "absent_crc_set.bin", "ok", "V9_two",
                      header(p2, 0x03, rootfs_name=b"V9_two",
                             crcs=[zlib.crc32(parts[0]), zlib.crc32(parts[1]), 0x1234, 0, 0xBEEF]) + parts[0] + parts[1]))
    lines.append(make(out, "other_magic.bin", "ok", "V9_full", full(magic=b"ABCD1234") + body, "magic"))
    lines.append(make(out, "bad_magic.bin", "ok", "V9_full", full(magic=b"VELOR887") + body, "magic"))
    lines.append(make(out, "bad_size_field.bin", "ok", "V9_full", full(file_size=total + 4) + body, "size"))
    # Parts out of order (rootfs first) and overlapping (tgz and oem share bytes).
    lines.append(make(out, "out_of_order.bin", "ok", "V9_full",
                      placed(parts, [HEADER_SIZE + 500, HEADER_SIZE, HEADER_SIZE + 800, HEADER_SIZE + 870,
                                     HEADER_SIZE + 1000], total, rootfs_name=b"V9_full")))
    ov = [parts[0], parts[1], parts[2], parts[3], parts[3][100:120]]
    lines.append(make(out, "overlap.bin", "ok", "V9_full",
                      placed(ov, [HEADER_SIZE, HEADER_SIZE + 300, HEADER_SIZE + 800, HEADER_SIZE + 870,
                                  HEADER_SIZE + 970], HEADER_SIZE + 1000, rootfs_name=b"V9_full"), "part_sum"))
    # An absent part whose fields are all set.
    lay = [(HEADER_SIZE, 300), (HEADER_SIZE + 300, 500), (0, 0), (0, 0), (HEADER_SIZE + 800, 20)]
    lines.append(make(out, "absent_part_set.bin", "ok", "",
                      header(p2, 0x03, layout=lay) + parts[0] + parts[1]))
    # Defects.
    bad = bytearray(good)
    bad[300] ^= 0x01  # a header byte changed, CRC not recomputed
    lines.append(make(out, "bad_crc.bin", "crc", "", bytes(bad)))
    # A download cut short: the last parts end beyond the end of the file.
    lines.append(make(out, "truncated.bin", "truncated", "", bytes(good[:-100]), "size"))
    # A part's offset far beyond the end of the file (sizes still add up).
    lay = [(HEADER_SIZE, 300), (HEADER_SIZE + 300, 500), (HEADER_SIZE + 800, 70), (HEADER_SIZE + 870, 130),
           (0xFFFFFF00, 20)]
    lines.append(make(out, "outside_file.bin", "truncated", "", header(parts, 0x1F, layout=lay) + body))
    lines.append(make(out, "short_header.bin", "short", "", bytes(good[:HEADER_SIZE - 1])))
    lines.append(make(out, "empty.bin", "short", "", b""))
    # Sizes whose 32-bit sum wraps to the right total: the kernel cannot lie inside the file.
    wrap = [0xFFFFFFFF, 1 + 10, 0, 0, 0]
    h = header([b"", b"", b"", b"", b""], 0x03, file_size=HEADER_SIZE + 10,
               layout=[(HEADER_SIZE, wrap[0]), ((HEADER_SIZE + wrap[0]) & 0xFFFFFFFF, wrap[1]), (0, 0), (0, 0), (0, 0)],
               crcs=[0, 0, 0, 0, 0])
    lines.append(make(out, "wrapping_sum.bin", "truncated", "", h + b"\0" * 10, "part_sum"))
    # The header passes, a part's bytes do not match its CRC.
    bad = bytearray(good)
    bad[HEADER_SIZE + 300 + 17] ^= 0xFF
    lines.append(make(out, "bad_part_crc.bin", "part_crc", "V9_full", bytes(bad)))
    # Parts at 4 KiB, the rootfs CRC field left zero.
    lines.append(make(out, "aligned_wrong_crc.bin", "part_crc", "V9_full",
                      placed(parts, aligned, 4096 * 6, rootfs_name=b"V9_full",
                             crcs=[zlib.crc32(p) for p in parts[:1]] + [0, 0, 0, 0]), "part_sum"))
    # Files the listing skips by name.
    with open(os.path.join(out, "not_an_image.txt"), "wb") as f:
        f.write(good)
    lines.append(make(out, "UPPER.BIN", "ok", "V9_full", bytes(good)))
    with open(os.path.join(out, "manifest.txt"), "w") as f:
        f.write("\n".join(lines) + "\n")


if __name__ == "__main__":
    main()
