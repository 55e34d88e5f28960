#!/usr/bin/env python3
"""Packs a folder into a payload archive in the setup's as-built ZIP format.

Every file becomes one DEFLATE entry with a relative, backslash-separated ASCII name; there are
no directory entries, no extra fields and no comments; version 20 with host byte 0, flags 0,
external attributes 0; entries back to back, then the central directory, then the end record.
The output is deterministic: entries in sorted order, times from the files (clamped to
SOURCE_DATE_EPOCH when that is set), the same bytes for the same input.

Usage: pack_payload.py <folder> <output.zip>
"""
import os
import struct
import sys
import time
import zlib


def dos_time(epoch):
    t = time.gmtime(max(epoch, 315532800))  # the DOS epoch starts in 1980
    return ((t.tm_hour << 11) | (t.tm_min << 5) | (t.tm_sec // 2),
            ((t.tm_year - 1980) << 9) | (t.tm_mon << 5) | t.tm_mday)


def collect(folder):
    files = []
    for root, dirs, names in os.walk(folder):
        dirs.sort()
        for name in names:
            full = os.path.join(root, name)
            rel = os.path.relpath(full, folder).replace(os.sep, "\\")
            files.append((rel, full))
    files.sort(key=lambda item: item[0].lower())
    return files


def pack(folder, output):
    clamp = os.environ.get("SOURCE_DATE_EPOCH")
    entries = []
    tmp = output + ".tmp"
    with open(tmp, "wb") as out:
        for name, full in collect(folder):
            encoded = name.encode("ascii")
            with open(full, "rb") as f:
                data = f.read()
            mtime = int(os.stat(full).st_mtime)
            if clamp is not None:
                mtime = min(mtime, int(clamp))
            dtime, ddate = dos_time(mtime)
            crc = zlib.crc32(data) & 0xFFFFFFFF
            compressor = zlib.compressobj(9, zlib.DEFLATED, -15, 9)
            packed = compressor.compress(data) + compressor.flush()
            if len(packed) >= 1 << 32 or len(data) >= 1 << 32:
                raise SystemExit(f"{name}: too large for an archive without ZIP64")
            offset = out.tell()
            out.write(struct.pack("<IHHHHHIIIHH", 0x04034B50, 20, 0, 8, dtime, ddate, crc,
                                  len(packed), len(data), len(encoded), 0))
            out.write(encoded)
            out.write(packed)
            entries.append((encoded, dtime, ddate, crc, len(packed), len(data), offset))
        directory_offset = out.tell()
        for encoded, dtime, ddate, crc, csize, usize, offset in entries:
            out.write(struct.pack("<IHHHHHHIIIHHHHHII", 0x02014B50, 20, 20, 0, 8, dtime, ddate,
                                  crc, csize, usize, len(encoded), 0, 0, 0, 0, 0, offset))
            out.write(encoded)
        directory_size = out.tell() - directory_offset
        out.write(struct.pack("<IHHHHIIH", 0x06054B50, 0, 0, len(entries), len(entries),
                              directory_size, directory_offset, 0))
    os.replace(tmp, output)


if __name__ == "__main__":
    if len(sys.argv) != 3:
        raise SystemExit(__doc__)
    pack(sys.argv[1], sys.argv[2])
