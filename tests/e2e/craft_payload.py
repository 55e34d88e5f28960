#!/usr/bin/env python3
"""Builds the damaged payloads of the end-to-end tests.

  craft_payload.py garbage <out>                     bytes that are no ZIP archive at all
  craft_payload.py bad-crc <in.zip> <entry> <out>    a copy whose entry has a wrong CRC-32, in
                                                     its local header and central record alike,
                                                     so that only the data check fails
  craft_payload.py entries <out> <name>=<text>...    stored entries with these names, as given
                                                     (names no packer would write: a drive or a
                                                     stream in the middle of a name, say)
  craft_payload.py two-directories <out>             install.ps1 twice, same size and CRC-32 (four
                                                     forged bytes), each listed by a directory of
                                                     its own with its own end record
  craft_payload.py truncated-stored <out>            a stored install.ps1 whose record promises 58
                                                     bytes and their CRC-32, with no data at all
  craft_payload.py many-end-records <out>            5,000 entries of a method the setup does not
                                                     read, their directory with 2,900 copies of its
                                                     end record in the last record's comment
  craft_payload.py script-link <out>                 install.ps1 as a Unix link entry to
                                                     ../outside-script.ps1, beside the work directory
"""
import os
import struct
import sys
import zlib

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "payload"))
from reading_forms import E, build, end_record, lay_out, with_directory  # noqa: E402


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


def entries(out, pairs):
    """Stored entries in the given order, then the directory and the end record."""
    with open(out, "wb") as f:
        f.write(build([E(name, text.encode("utf-8")) for name, text in (pair.split("=", 1) for pair in pairs)]))


def forge_crc(data, target):
    """Four bytes that, appended to data, make its CRC-32 `target` (the CRC register run backwards)."""
    table = []
    for i in range(256):
        c = i
        for _ in range(8):
            c = (c >> 1) ^ (0xEDB88320 if c & 1 else 0)
        table.append(c)
    by_top_byte = {table[i] >> 24: i for i in range(256)}
    want, indices = target ^ 0xFFFFFFFF, []
    for _ in range(4):
        indices.insert(0, by_top_byte[want >> 24])
        want = ((want ^ table[indices[0]]) << 8) & 0xFFFFFFFF
    register, forged = zlib.crc32(data) ^ 0xFFFFFFFF, bytearray()
    for i in indices:
        forged.append((register ^ i) & 0xFF)
        register = (register >> 8) ^ table[i]
    assert zlib.crc32(data + bytes(forged)) & 0xFFFFFFFF == target
    return bytes(forged)


def two_directories(out):
    name = "install.ps1"
    seen = b"Write-Output 'the script every tool shows'\r\n"
    hidden = b"Write-Output 'run instead'" + b"#" * (len(seen) - 30)
    hidden += forge_crc(hidden, zlib.crc32(seen) & 0xFFFFFFFF)
    shown, other = E(name, seen), E(name, hidden)
    archive, (shown_at, other_at) = lay_out([shown, other])
    # The end record nearest the end lists `seen`.
    archive = with_directory(archive, [other.central_record(other_at)])
    with open(out, "wb") as f:
        f.write(with_directory(archive, [shown.central_record(shown_at)]))


def truncated_stored(out):
    data = b"Write-Output 'an installer script'".ljust(56) + b"\r\n"
    script = E("install.ps1")
    script.crc, script.usize = zlib.crc32(data) & 0xFFFFFFFF, len(data)
    with open(out, "wb") as f:
        f.write(build([E("README.md", b"read me\n"), script]))


def many_end_records(out):
    """The directory's size is known only at its end, so the copies of its end record in the last
    record's comment are made with a placeholder size first, then with the real one."""
    listed = [E(b"data%04d.bin" % i, b"not read") for i in range(5000)]
    for e in listed:
        e.method = 12  # its bytes as they stand: never read
    body, offsets = lay_out(listed)
    directory = b""
    for size in (0, None):
        copies = end_record(5000, size if size is not None else len(directory), len(body)) * 2900
        directory = b"".join(e.central_record(at, copies if k == 4999 else b"")
                             for k, (e, at) in enumerate(zip(listed, offsets)))
    with open(out, "wb") as f:
        f.write(body + directory + end_record(5000, len(directory), len(body)))


def script_link(out):
    """The script a Unix link entry: extracted as a link that leads out of the work directory."""
    link = E("install.ps1", b"../outside-script.ps1", made_by=(3 << 8) | 30, attributes=0o120777 << 16)
    with open(out, "wb") as f:
        f.write(build([link, E("bin\\zarvo.exe", b"MZ")]))


CRAFTED = {"two-directories": two_directories, "truncated-stored": truncated_stored,
           "many-end-records": many_end_records, "script-link": script_link}


def main(args):
    if args[:1] == ["garbage"] and len(args) == 2:
        garbage(args[1])
    elif args[:1] == ["bad-crc"] and len(args) == 4:
        bad_crc(*args[1:])
    elif args[:1] == ["entries"] and len(args) >= 3:
        entries(args[1], args[2:])
    elif len(args) == 2 and args[0] in CRAFTED:
        CRAFTED[args[0]](args[1])
    else:
        print(__doc__, file=sys.stderr)
        return 2
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
