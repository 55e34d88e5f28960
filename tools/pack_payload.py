#!/usr/bin/env python3
"""Packs a folder into a payload archive in the setup's as-built ZIP format.

Every file becomes one DEFLATE entry with a relative, backslash-separated ASCII name; there are
no directory entries, no extra fields and no comments; version 20 with host byte 0, flags 0,
external attributes 0; entries back to back, then the central directory, then the end record.
The output is deterministic: entries in sorted order, the same bytes for the same input.

Entry times: with --time <seconds since 1970>, or else with SOURCE_DATE_EPOCH in the environment,
every entry carries that one time, so the bytes depend on the files' names and contents alone and
not on when they were checked out; that is how a release payload is packed, with the last
commit's time (git log -1 --format=%ct). With neither, each entry carries its file's modification
time. Times are stored as UTC and held to what a ZIP entry can carry (1980 to 2107).

Before anything is written the payload contract is checked: install.ps1 at the root or at the
root of the one top-level folder, ASCII only and without a byte-order mark; beside it a bin folder
holding .exe files, zarvo.exe among them; relative ASCII names only, without a colon. Each
violation is reported on its own line naming the file and the rule, and the exit code is 1.

Usage: pack_payload.py [--no-check] [--time <seconds>] <folder> <output.zip>
       pack_payload.py --check <archive.zip>      (checks an existing archive, writes nothing)
"""
import collections
import os
import re
import struct
import sys
import time
import zipfile
import zlib


def dos_time(epoch):
    # The DOS date holds the years 1980 to 2107, at two-second steps.
    t = time.gmtime(min(max(epoch, 315532800), 4354819198))
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


def contract_violations(names, read):
    """The payload contract, over archive-style names ("a\\b") and a reader of their bytes."""
    problems = []
    for name in names:
        parts = re.split(r"[\\/]", name)
        if not name.isascii() or any(ord(c) < 0x20 for c in name):
            problems.append(f"{name!r}: names must be printable ASCII")
        elif name.startswith(("\\", "/")) or re.match(r"[A-Za-z]:", name) or ".." in parts or "." in parts:
            problems.append(f"{name}: names must be relative, without '.' or '..' components")
        elif ":" in name:
            problems.append(f"{name}: names must hold no colon (Windows reads it as a drive or a stream)")
    files = [n for n in names if not n.endswith(("\\", "/"))]
    split = {n: [p for p in re.split(r"[\\/]", n) if p] for n in files}
    roots = [""] if any(p == ["install.ps1"] for p in split.values()) else []
    if not roots:
        tops = {p[0] for p in split.values() if p}
        singles = [n for n, p in split.items() if len(p) == 1]
        if len(tops) == 1 and not singles and any(p[1:] == ["install.ps1"] for p in split.values()):
            roots = [next(iter(tops))]
    if not roots:
        problems.append("install.ps1: must lie at the payload's root or at the root of its one top-level folder")
        return problems
    root = roots[0]
    prefix = [root] if root else []
    script = next(n for n, p in split.items() if p == prefix + ["install.ps1"])
    data = read(script)
    bom = next((b for b in (b"\xef\xbb\xbf", b"\xff\xfe", b"\xfe\xff") if data.startswith(b)), b"")
    if bom:
        problems.append(f"{script}: must have no byte-order mark (PowerShell 5.1 reads such a script in the ANSI code page)")
        data = data[len(bom):]
    if not data.isascii():
        at = next(i for i, b in enumerate(data) if b >= 0x80)
        problems.append(f"{script}: must be ASCII only (first non-ASCII byte at offset {at + len(bom)})")
    bin_files = [p[len(prefix) + 1:] for p in split.values() if p[:len(prefix) + 1] == prefix + ["bin"]]
    exes = [p[0] for p in bin_files if len(p) == 1 and p[0].lower().endswith(".exe")]
    where = "\\".join(prefix + ["bin"])
    if not exes:
        problems.append(f"{where}: must hold the product's .exe files")
    elif "zarvo.exe" not in [e.lower() for e in exes]:
        problems.append(f"{where}\\zarvo.exe: is missing")
    return problems


def check_folder(folder):
    files = dict(collect(folder))
    return contract_violations(list(files), lambda name: open(files[name], "rb").read())


Record = collections.namedtuple("Record", "name flags method crc csize usize local")


def record_of(info):
    """A record as zipfile read it from the central directory."""
    name = info.orig_filename.encode("utf-8" if info.flag_bits & 0x800 else "cp437")
    return Record(name, info.flag_bits, info.compress_type, info.CRC, info.compress_size, info.file_size,
                  info.header_offset)


def extra_fields(extra):
    at = 0
    while at + 4 <= len(extra):
        fid, size = struct.unpack_from("<HH", extra, at)
        yield fid, extra[at + 4:at + 4 + size]
        at += 4 + size


def local_header_differences(data, record):
    """How the entry's local header disagrees with its central record: name, method and flags
    always; CRC-32 and sizes unless a data descriptor follows the data (then zero is allowed)."""
    at = record.local
    if at + 30 > len(data) or data[at:at + 4] != b"PK\x03\x04":
        return ["no local header"]
    _, _, flags, method, _, _, crc, csize, usize, nlen, elen = struct.unpack_from("<IHHHHHIIIHH", data, at)
    if 0xFFFFFFFF in (csize, usize):
        zip64 = dict(extra_fields(data[at + 30 + nlen:at + 30 + nlen + elen])).get(1, b"")
        usize, csize = struct.unpack_from("<QQ", zip64) if len(zip64) >= 16 else (None, None)
    descriptor = bool(record.flags & 0x08)
    differences = [field for field, local, central in (
        ("name", data[at + 30:at + 30 + nlen], record.name), ("method", method, record.method),
        ("flags", flags, record.flags)) if local != central]
    differences += [field for field, local, central in (
        ("CRC-32", crc, record.crc), ("compressed size", csize, record.csize), ("size", usize, record.usize))
        if local != central and not (descriptor and local == 0)]
    return differences


def sound_directories(data):
    """Every different central directory that an end record within reach of the end leads to and
    whose records and local headers are sound and agree; the setup opens an archive only when
    there is exactly one."""
    found = set()
    for at in range(len(data) - 22, max(len(data) - 22 - 0xFFFF - 20, 0) - 1, -1):
        if data[at:at + 4] != b"PK\x05\x06":
            continue
        disk, cd_disk, here, count, size, offset, comment = struct.unpack_from("<HHHHIIH", data, at + 4)
        if at + 22 + comment > len(data):
            continue
        limit = at
        if at >= 20 and data[at - 20:at - 16] == b"PK\x06\x07":
            (z,) = struct.unpack_from("<Q", data, at - 12)
            if z + 56 > at - 20 or data[z:z + 4] != b"PK\x06\x06":
                continue
            disk, cd_disk, here, count, size, offset = struct.unpack_from("<IIQQQQ", data, z + 16)
            limit = z
        if disk or cd_disk or here != count or offset + size > limit:
            continue
        records = directory_records(data, offset, size, count)
        if records is not None:
            found.add(tuple(records))
    return found


def directory_records(data, offset, size, count):
    """The records of a directory, or None when a record or its local header is unsound or
    disagrees with it."""
    end, at, records = offset + size, offset, []
    for _ in range(count):
        if at + 46 > end or data[at:at + 4] != b"PK\x01\x02":
            return None
        flags, method, _, _, crc, csize, usize, nlen, elen, clen = struct.unpack_from("<HHHHIIIHHH", data, at + 8)
        (local,) = struct.unpack_from("<I", data, at + 42)
        if at + 46 + nlen + elen + clen > end:
            return None
        zip64 = dict(extra_fields(data[at + 46 + nlen:at + 46 + nlen + elen])).get(1, b"")
        values = list(struct.unpack_from(f"<{len(zip64) // 8}Q", zip64))
        try:  # saturated values come from the ZIP64 field, in this order
            usize, csize, local = [v if v != 0xFFFFFFFF else values.pop(0) for v in (usize, csize, local)]
        except IndexError:
            return None
        record = Record(data[at + 46:at + 46 + nlen], flags, method, crc, csize, usize, local)
        if local + 30 > offset or local_header_differences(data, record):
            return None
        records.append(record)
        at += 46 + nlen + elen + clen
    return records if at == end else None


def check_archive(archive):
    try:
        data = open(archive, "rb").read()
        with zipfile.ZipFile(archive) as z:
            problems = [f"{i.filename}: its local header differs from its central record "
                        f"({', '.join(local_header_differences(data, record_of(i)))})"
                        for i in z.infolist() if local_header_differences(data, record_of(i))]
            if len(sound_directories(data)) > 1:
                problems.append(f"{archive}: two end records lead to two different central directories, so "
                                "tools could read different contents")
            # Contents are judged only in an archive that reads one way.
            return problems or contract_violations(z.namelist(), z.read)
    except (zipfile.BadZipFile, OSError) as e:
        return [f"{archive}: not a readable ZIP archive ({e})"]


def pack(folder, output, entry_time=None):
    """entry_time: seconds since 1970 for every entry, or None for each file's own time."""
    entries = []
    tmp = output + ".tmp"
    with open(tmp, "wb") as out:
        for name, full in collect(folder):
            encoded = name.encode("ascii")
            with open(full, "rb") as f:
                data = f.read()
            dtime, ddate = dos_time(int(os.stat(full).st_mtime) if entry_time is None else entry_time)
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


def report(problems):
    for problem in problems:
        print(f"payload contract: {problem}", file=sys.stderr)
    return 1 if problems else 0


def main(args):
    if len(args) == 2 and args[0] == "--check":
        return report(check_archive(args[1]))
    check = True
    entry_time, time_from = os.environ.get("SOURCE_DATE_EPOCH") or None, "SOURCE_DATE_EPOCH"
    while args and args[0] in ("--no-check", "--time"):
        if args[0] == "--no-check":
            check, args = False, args[1:]
        elif len(args) > 1:
            entry_time, time_from, args = args[1], "--time", args[2:]
        else:
            break
    if len(args) != 2:
        print(__doc__, file=sys.stderr)
        return 2
    if entry_time is not None:
        if not re.fullmatch(r"[0-9]+", entry_time):
            print(f"{time_from}: {entry_time!r} is not a whole number of seconds since 1970", file=sys.stderr)
            return 2
        entry_time = int(entry_time)
    folder, output = args
    if not os.path.isdir(folder):
        print(f"{folder}: not a folder", file=sys.stderr)
        return 1
    if check and report(check_folder(folder)):
        return 1
    pack(folder, output, entry_time)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
