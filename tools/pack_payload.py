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
holding .exe files, zarvo.exe among them; relative ASCII names only. Each violation is reported
on its own line naming the file and the rule, and the exit code is 1.

Usage: pack_payload.py [--no-check] [--time <seconds>] <folder> <output.zip>
       pack_payload.py --check <archive.zip>      (checks an existing archive, writes nothing)
"""
import os
import re
import struct
import sys
import time
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


def check_archive(archive):
    import zipfile
    try:
        with zipfile.ZipFile(archive) as z:
            names = z.namelist()
            return contract_violations(names, z.read)
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
