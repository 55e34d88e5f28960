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


def local_header(name, data, method=0, crc=None, size=None):
    crc = zlib.crc32(data) & 0xFFFFFFFF if crc is None else crc
    size = len(data) if size is None else size
    return struct.pack("<IHHHHHIIIHH", 0x04034B50, 20, 0, method, 0, 0x21, crc, len(data), size, len(name), 0) + name + data


def central_record(name, data, offset, method=0, crc=None, size=None, made_by=20, attributes=0, comment=b""):
    crc = zlib.crc32(data) & 0xFFFFFFFF if crc is None else crc
    size = len(data) if size is None else size
    return struct.pack("<IHHHHHHIIIHHHHHII", 0x02014B50, made_by, 20, 0, method, 0, 0x21, crc, len(data), size,
                       len(name), 0, len(comment), 0, 0, attributes, offset) + name + comment


def end_record(count, size, offset):
    return struct.pack("<IHHHHIIH", 0x06054B50, 0, 0, count, count, size, offset, 0)


def entries(out, pairs):
    """Stored entries in the given order, then the directory and the end record."""
    body, directory = b"", b""
    for pair in pairs:
        name, text = pair.split("=", 1)
        raw, data = name.encode("utf-8"), text.encode("utf-8")
        directory += central_record(raw, data, len(body))
        body += local_header(raw, data)
    with open(out, "wb") as f:
        f.write(body + directory + end_record(len(pairs), len(directory), len(body)))


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
    name = b"install.ps1"
    seen = b"Write-Output 'the script every tool shows'\r\n"
    hidden = b"Write-Output 'run instead'" + b"#" * (len(seen) - 30)
    hidden += forge_crc(hidden, zlib.crc32(seen) & 0xFFFFFFFF)
    body = local_header(name, seen) + local_header(name, hidden)
    hidden_at = len(local_header(name, seen))
    archive = body
    for offset, data in ((hidden_at, hidden), (0, seen)):  # the end record nearest the end lists `seen`
        record = central_record(name, data, offset)
        archive += record + end_record(1, len(record), len(archive))
    with open(out, "wb") as f:
        f.write(archive)


def truncated_stored(out):
    readme, script = b"README.md", b"install.ps1"
    data = b"Write-Output 'an installer script'".ljust(56) + b"\r\n"
    body = local_header(readme, b"read me\n")
    at = len(body)
    body += local_header(script, b"", crc=zlib.crc32(data) & 0xFFFFFFFF, size=len(data))
    directory = central_record(readme, b"read me\n", 0)
    directory += central_record(script, b"", at, crc=zlib.crc32(data) & 0xFFFFFFFF, size=len(data))
    with open(out, "wb") as f:
        f.write(body + directory + end_record(2, len(directory), len(body)))


def many_end_records(out):
    """The directory's size is known only at its end, so the copies of its end record in the last
    record's comment are made with a placeholder size first, then with the real one."""
    body, records = b"", []
    for i in range(5000):
        name, data = b"data%04d.bin" % i, b"not read"
        records.append((name, data, len(body)))
        body += local_header(name, data, method=12)
    directory = b""
    for size in (0, None):
        copies = end_record(5000, size if size is not None else len(directory), len(body)) * 2900
        directory = b"".join(central_record(n, d, at, method=12, comment=copies if k == 4999 else b"")
                             for k, (n, d, at) in enumerate(records))
    with open(out, "wb") as f:
        f.write(body + directory + end_record(5000, len(directory), len(body)))


def script_link(out):
    """The script a Unix link entry: extracted as a link that leads out of the work directory."""
    link, target = b"install.ps1", b"../outside-script.ps1"
    exe, program = b"bin\\zarvo.exe", b"MZ"
    body = local_header(link, target) + local_header(exe, program)
    directory = central_record(link, target, 0, made_by=(3 << 8) | 30, attributes=0o120777 << 16)
    directory += central_record(exe, program, len(local_header(link, target)))
    with open(out, "wb") as f:
        f.write(body + directory + end_record(2, len(directory), len(body)))


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
