#!/usr/bin/env python3
"""Builds the damaged payloads of the end-to-end tests.

  craft_payload.py garbage <out>                     bytes that are no ZIP archive at all
  craft_payload.py bad-crc <in.zip> <entry> <out>    a copy whose entry has a wrong CRC-32, in
                                                     its local header and central record alike,
                                                     so that only the data check fails
  craft_payload.py entries <out> <name>=<text>...    stored entries with these names, as given
                                                     (names no packer would write: a drive or a
                                                     stream in the middle of a name, say)
"""
import struct
import sys
import zlib


def garbage(out):
    with open(out, "wb") as f:
        f.write(b"This payload is not a ZIP archive.\n" * 16)


def bad_crc(source, entry, out):
    data = bytearray(open(source, "rb").read())
    signature, _, _, _, count, size, offset, comment = struct.unpack_from("<IHHHHIIH", data, len(data) - 22)
    if signature != 0x06054B50 or comment:
        raise SystemExit(f"{source}: expected an end record without comment at the end")
    pos = offset
    for _ in range(count):
        name_length, extra_length, comment_length = struct.unpack_from("<HHH", data, pos + 28)
        name = bytes(data[pos + 46:pos + 46 + name_length]).decode("cp437")
        if name.replace("\\", "/") == entry:
            (local,) = struct.unpack_from("<I", data, pos + 42)
            (crc,) = struct.unpack_from("<I", data, pos + 16)
            struct.pack_into("<I", data, pos + 16, crc ^ 0xFFFFFFFF)
            struct.pack_into("<I", data, local + 14, crc ^ 0xFFFFFFFF)
            open(out, "wb").write(data)
            return
        pos += 46 + name_length + extra_length + comment_length
    raise SystemExit(f"{source}: no entry {entry}")


def entries(out, specs):
    """Stored entries in the given order, then the directory and the end record."""
    body, directory = b"", b""
    for spec in specs:
        name, text = spec.split("=", 1)
        raw, data = name.encode("utf-8"), text.encode("utf-8")
        crc = zlib.crc32(data) & 0xFFFFFFFF
        offset = len(body)
        body += struct.pack("<IHHHHHIIIHH", 0x04034B50, 20, 0, 0, 0, 0x21, crc, len(data), len(data), len(raw), 0)
        body += raw + data
        directory += struct.pack("<IHHHHHHIIIHHHHHII", 0x02014B50, 20, 20, 0, 0, 0, 0x21, crc, len(data), len(data),
                                 len(raw), 0, 0, 0, 0, 0, offset) + raw
    end = struct.pack("<IHHHHIIH", 0x06054B50, 0, 0, len(specs), len(specs), len(directory), len(body), 0)
    with open(out, "wb") as f:
        f.write(body + directory + end)


def main(args):
    if args[:1] == ["garbage"] and len(args) == 2:
        garbage(args[1])
    elif args[:1] == ["bad-crc"] and len(args) == 4:
        bad_crc(*args[1:])
    elif args[:1] == ["entries"] and len(args) >= 3:
        entries(args[1], args[2:])
    else:
        print(__doc__, file=sys.stderr)
        return 2
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
