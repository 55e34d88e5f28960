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


DEVICE_NAMES = {"CON", "PRN", "AUX", "NUL"} | {f"{port}{digit}" for port in ("COM", "LPT") for digit in "0123456789\u00b9\u00b2\u00b3"}
SHORT_ALIAS = re.compile(r"[^.]{0,6}~[0-9]{1,7}(\.[^.]{0,3})?")


def name_problem(name):
    """Why Windows, or its tools, would not take the name as it stands: None when they would."""
    parts = [p for p in re.split(r"[\\/]", name) if p]
    if not name.isascii() or any(ord(c) < 0x20 or ord(c) == 0x7F for c in name):
        return f"{name!r}: names must be printable ASCII"
    if name.startswith(("\\", "/")) or re.match(r"[A-Za-z]:", name) or ".." in parts or "." in parts:
        return f"{name}: names must be relative, without '.' or '..' components"
    if ":" in name:
        return f"{name}: names must hold no colon (Windows reads it as a drive or a stream)"
    if any(c in name for c in '<>"|?*'):
        return f"{name}: names must hold none of < > \" | ? * (Windows cannot write them)"
    if any(p.split(".")[0].rstrip(" ").upper() in DEVICE_NAMES for p in parts):
        return f"{name}: names must not be a device name such as CON, NUL or COM1 (Windows opens the device)"
    if any(p.endswith((".", " ")) for p in parts):
        return f"{name}: names must not end in a dot or a space (Windows drops them)"
    if any(SHORT_ALIAS.fullmatch(p) and len(p.split(".")[0]) <= 8 for p in parts):
        return f"{name}: names must not have the shape of a short alias such as PROGRA~1 (it can name another file)"
    return None


def name_key(part):
    """What Windows compares a file name by: trailing dots and spaces dropped, letters upper-cased."""
    upper = lambda c: c.upper() if len(c.upper()) == 1 and ord(c.upper()) < 0x10000 and ord(c) < 0x10000 else c  # noqa: E731
    return "".join(upper(c) for c in part.rstrip(". "))


def simplified(name):
    """The components a name reduces to, or None when it has no path below its folder."""
    if "\0" in name or ":" in name or name.startswith(("\\", "/")):
        return None
    kept = []
    for part in re.split(r"[\\/]", name):
        if part == "..":
            if not kept:
                return None
            kept.pop()
        elif part not in ("", "."):
            kept.append(part)
    return kept


def same_place(names):
    """Two names that Windows writes to one place, or a file on another name's way as a folder.
    Each component is keyed by its parent's place, so the work is linear in the names."""
    reached, problems = {}, []  # (parent place, key) -> (place, is a folder, index of the first name)
    for index, name in enumerate(names):
        parent = 0
        parts = simplified(name) or []
        for k, part in enumerate(parts):
            folder = name.endswith(("\\", "/")) or k + 1 < len(parts)
            place = reached.setdefault((parent, name_key(part)), (len(reached) + 1, folder, index))
            if place[2] != index and not (folder and place[1]):
                problems.append(f"{name}: Windows writes it where {names[place[2]]} goes")
                break
            parent = place[0]
    return problems


def contract_violations(names, read):
    """The payload contract, over archive-style names ("a\\b") and a reader of their bytes."""
    problems = [p for p in map(name_problem, names) if p] + same_place(names)
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


# ---- reading an archive: one reading, or none -------------------------------------------------------
# The rules by which the setup reads its payload, written out again: an archive passes only where
# every common ZIP reader lists what the setup extracts.

END, LOCATOR, END64, CENTRAL, LOCAL = b"PK\x05\x06", b"PK\x06\x07", b"PK\x06\x06", b"PK\x01\x02", b"PK\x03\x04"
SATURATED = 0xFFFFFFFF
DECISIVE_FLAGS = 0x01 | 0x08  # encryption and data descriptor; the other bits may differ locally
MAX_DIRECTORIES_READ = 8

Record = collections.namedtuple("Record", "name flags method crc csize usize local extra made_by attributes data_at")


def extra_fields(extra):
    """The (id, data) fields of an extra block, or None when a field runs past it or anything but
    up to three zero bytes follows the last one."""
    at, fields = 0, []
    while at + 4 <= len(extra):
        fid, size = struct.unpack_from("<HH", extra, at)
        if at + 4 + size > len(extra):
            return None
        fields.append((fid, extra[at + 4:at + 4 + size]))
        at += 4 + size
    return fields if not extra[at:].strip(b"\0") else None


def field_of(fields, fid):
    return next((data for i, data in fields if i == fid), None)


def decisive_fields_once(fields):
    """A second ZIP64 or Unicode-path field is read by some readers and not by others."""
    ids = [i for i, _ in fields]
    return ids.count(0x0001) <= 1 and ids.count(0x7075) <= 1


def end_record(data, at):
    """The directory the end record at `at` declares, with where it must end at the latest and
    whether it speaks of other disks; None when the record is not well-formed."""
    if at + 22 > len(data):
        return None
    disk, cd_disk, here, count, size, offset, comment = struct.unpack_from("<HHHHIIH", data, at + 4)
    if at + 22 + comment > len(data):
        return None
    found = {"count": count, "size": size, "offset": offset, "limit": at,
             "multi_disk": disk != 0 or cd_disk != 0 or here != count}
    if at < 20 or data[at - 20:at - 16] != LOCATOR:
        return found
    locator_disk, z, disks = struct.unpack_from("<IQI", data, at - 16)
    # The ZIP64 end record, 56 bytes, directly before its locator.
    if z + 56 != at - 20 or data[z:z + 4] != END64 or struct.unpack_from("<Q", data, z + 4)[0] != 44:
        return None
    disk64, cd_disk64, here64, count64, size64, offset64 = struct.unpack_from("<IIQQQQ", data, z + 16)
    same = lambda classic, full, value: classic == full or classic == value  # noqa: E731
    if not (same(count, 0xFFFF, count64) and same(here, 0xFFFF, here64) and same(size, SATURATED, size64)
            and same(offset, SATURATED, offset64)):
        return None
    return {"count": count64, "size": size64, "offset": offset64, "limit": z,
            "multi_disk": not same(disk, 0xFFFF, 0) or not same(cd_disk, 0xFFFF, 0) or locator_disk != 0
            or disks > 1 or disk64 != 0 or cd_disk64 != 0 or here64 != count64}


def plausible(data, d):
    if d["offset"] > d["limit"] or d["size"] > d["limit"] - d["offset"]:
        return False
    if d["count"] == 0:
        return d["size"] == 0
    return d["size"] // 46 >= d["count"] and data[d["offset"]:d["offset"] + 4] == CENTRAL


def local_sizes(usize, csize, fields, descriptor):
    """The local header's sizes, saturated ones from its ZIP64 field: both sizes, or under a data
    descriptor just the saturated one."""
    if SATURATED not in (usize, csize):
        return usize, csize
    zip64 = field_of(fields, 0x0001)
    if zip64 is None:
        return None
    if len(zip64) >= 16:
        full_usize, full_csize = struct.unpack_from("<QQ", zip64)
        return (full_usize if usize == SATURATED else usize), (full_csize if csize == SATURATED else csize)
    if not descriptor or (usize, csize) == (SATURATED, SATURATED) or len(zip64) != 8:
        return None
    (value,) = struct.unpack_from("<Q", zip64)
    return (value, csize) if usize == SATURATED else (usize, value)


def local_header_problems(data, record, directory_at):
    """How the entry's local header disagrees with its record on what decides the reading, or
    where its bytes lie outside their place; empty when it is sound."""
    at = record.local
    if at + 30 > directory_at or data[at:at + 4] != LOCAL:
        return ["no local header before the central directory"]
    _, _, flags, method, _, _, crc, csize, usize, nlen, elen = struct.unpack_from("<IHHHHHIIIHH", data, at)
    fields = extra_fields(data[at + 30 + nlen:at + 30 + nlen + elen])
    data_at = at + 30 + nlen + elen
    if data_at + record.csize > directory_at:
        return ["its data runs into the central directory"]
    if fields is None or not decisive_fields_once(fields):
        return ["its local extra fields are malformed or repeated"]
    descriptor = bool(record.flags & 0x08)
    sizes = local_sizes(usize, csize, fields, descriptor)
    usize, csize = sizes if sizes else (None, None)
    differences = [field for field, local, central in (
        ("name", data[at + 30:at + 30 + nlen], record.name), ("method", method, record.method),
        ("flags", flags & DECISIVE_FLAGS, record.flags & DECISIVE_FLAGS)) if local != central]
    differences += [field for field, local, central in (
        ("CRC-32", crc, record.crc), ("compressed size", csize, record.csize), ("size", usize, record.usize))
        if local != central and not (descriptor and local == 0)]
    return [f"its local header differs from its central record ({', '.join(differences)})"] if differences else []


def read_directory(data, d):
    """The records of the declared directory, and the problems that make it unsound."""
    end, at, records, problems = d["offset"] + d["size"], d["offset"], [], []
    for _ in range(d["count"]):
        if at + 46 > end or data[at:at + 4] != CENTRAL:
            return records, problems + [f"central directory: no record at offset {at}"]
        made_by, _, flags, method, _, _, crc, csize, usize, nlen, elen, clen, _, _, attributes, local = \
            struct.unpack_from("<HHHHHHIIIHHHHHII", data, at + 4)
        if at + 46 + nlen + elen + clen > end:
            return records, problems + [f"central directory: the record at offset {at} runs past its end"]
        name, extra = data[at + 46:at + 46 + nlen], data[at + 46 + nlen:at + 46 + nlen + elen]
        at += 46 + nlen + elen + clen
        shown = name.decode("cp437")
        fields = extra_fields(extra)
        if fields is None or not decisive_fields_once(fields):
            problems.append(f"{shown}: its extra fields are malformed or repeated")
            continue
        values = list(struct.unpack_from(f"<{len(field_of(fields, 1) or b'') // 8}Q", field_of(fields, 1) or b""))
        try:  # saturated values come from the ZIP64 field, in this order
            usize, csize, local = [v if v != SATURATED else values.pop(0) for v in (usize, csize, local)]
        except IndexError:
            problems.append(f"{shown}: its ZIP64 field lacks a value")
            continue
        if len(values):
            problems.append(f"{shown}: its ZIP64 field holds more than its saturated fields need")
            continue
        record = Record(name, flags, method, crc, csize, usize, local, extra, made_by, attributes, 0)
        wrong = local_header_problems(data, record, d["offset"])
        if wrong:
            problems += [f"{shown}: {w}" for w in wrong]
            continue
        nlen, elen = struct.unpack_from("<HH", data, record.local + 26)
        records.append(record._replace(data_at=record.local + 30 + nlen + elen))
    if at != end:
        problems.append("central directory: its records do not fill its declared size")
    return records, problems + layout_problems(data, records, d["offset"])


def is_descriptor_of(gap, record):
    """Whether `gap` is the record's data descriptor: CRC-32 and sizes, 32 or 64 bits wide, with or
    without its signature."""
    if len(gap) in (16, 24):
        if gap[:4] != b"PK\x07\x08":
            return False
        gap = gap[4:]
    wanted = (record.crc, record.csize, record.usize)
    if len(gap) == 12:
        return struct.unpack("<III", gap) == wanted
    if len(gap) == 20:
        return struct.unpack("<IQQ", gap) == wanted
    return False


def holds_a_descriptor(stored):
    """Whether stored data holds what a reader that looks for the descriptor would take for it: the
    signature, then a compressed size (32 or 64 bits) that is where the signature stands."""
    at = stored.find(b"PK\x07\x08")
    while at >= 0:
        after = stored[at + 4:]
        if (len(after) >= 8 and struct.unpack_from("<I", after, 4)[0] == at) or \
                (len(after) >= 12 and struct.unpack_from("<Q", after, 4)[0] == at):
            return True
        at = stored.find(b"PK\x07\x08", at + 1)
    return False


def layout_problems(data, records, directory_at):
    """Entries lie back to back from the first byte to the directory, with nothing between them
    but the data descriptors they announce: bytes no entry owns are entries of their own to readers
    that walk the local headers in turn (a stream, 7-Zip)."""
    at, problems = 0, []
    ordered = sorted(records, key=lambda r: r.local)
    for k, record in enumerate(ordered):
        name = record.name.decode("cp437")
        if record.local != at:
            return problems + [f"{name}: bytes that no entry owns (or another entry's) lie before it"]
        at = record.data_at + record.csize
        following = ordered[k + 1].local if k + 1 < len(ordered) else directory_at
        if record.flags & 0x08:
            if following < at or not is_descriptor_of(data[at:following], record):
                return problems + [f"{name}: its data descriptor is missing, wrong, or followed by other bytes"]
            if record.method == 0 and holds_a_descriptor(data[record.data_at:at]):
                problems.append(f"{name}: its stored data holds what reads as its data descriptor")
            at = following
    if records and at != directory_at:
        problems.append("central directory: bytes that no entry owns lie before it")
    return problems


def read_archive(data, archive):
    """The records of the archive's one reading, and the problems that leave it without one.

    The last end record decides, as for every common reader; its directory must be sound and end
    where the record begins, and no earlier end record outside the entries' bytes may lead to a
    second sound directory."""
    unreadable = lambda why: (None, [f"{archive}: not a readable ZIP archive ({why})"])  # noqa: E731
    ends = [at for at in range(len(data) - 22, max(len(data) - 22 - 0xFFFF - 20, 0) - 1, -1)
            if data[at:at + 4] == END]
    if not ends:
        return unreadable("no end record")
    decided = end_record(data, ends[0])
    if decided is None:
        return unreadable("its last end record is malformed")
    if decided["multi_disk"]:
        return unreadable("its last end record speaks of several disks")
    if not plausible(data, decided):
        return unreadable("its last end record declares no central directory")
    if decided["count"] and decided["offset"] + decided["size"] != decided["limit"]:
        # Readers find the directory back from the end record by its size, or search on from there.
        return unreadable("bytes lie between its central directory and its end record")
    records, problems = read_directory(data, decided)
    if problems:
        return None, problems
    ambiguous = [f"{archive}: two end records lead to two different central directories, so tools could "
                 "read different contents"]
    spans = [(r.local, r.data_at + r.csize) for r in records]  # an end record in there is data
    seen = [(decided["count"], decided["size"], decided["offset"]) if decided["count"] else (0, 0, 0)]
    for at in ends[1:]:
        d = end_record(data, at)
        if any(begin <= at < end for begin, end in spans) or d is None or d["multi_disk"] or not plausible(data, d):
            continue
        key = (d["count"], d["size"], d["offset"]) if d["count"] else (0, 0, 0)
        if key in seen:
            continue
        if len(seen) == MAX_DIRECTORIES_READ:
            return unreadable("too many end records")
        seen.append(key)
        if not read_directory(data, d)[1]:
            return None, ambiguous
    return records, []


def entry_name(record):
    """The entry's name, or None when its Unicode-path field names it otherwise than a plain ASCII
    or UTF-8-flagged stored name (readers differ on taking the field there)."""
    stored = record.name
    name = stored.decode("utf-8", "replace") if record.flags & 0x800 else stored.decode("cp437")
    field = field_of(extra_fields(record.extra), 0x7075)
    if not field or len(field) < 5 or field[0] != 1 or struct.unpack_from("<I", field, 1)[0] != zlib.crc32(stored):
        return name
    unicode = field[5:].decode("utf-8", "replace")
    legacy = not record.flags & 0x800 and not stored.isascii()
    return unicode if legacy or unicode == name else None


def entry_data(data, record):
    stored = data[record.data_at:record.data_at + record.csize]
    return zlib.decompress(stored, -15) if record.method == 8 else stored


def unix_type(record):
    return (record.attributes >> 16) & 0xF000 if record.made_by >> 8 == 3 else 0


def is_link(record):
    return unix_type(record) == 0xA000


def kind_is_ambiguous(record, name):
    """Attributes that say another kind than the name (readers make what the attributes say)."""
    kind, named_directory, dos_directory = unix_type(record), name.endswith(("/", "\\")), record.attributes & 0x10
    if record.attributes & 0x08:  # an MS-DOS volume label, which unzip skips
        return True
    return {0xA000: False, 0x4000: not named_directory, 0x8000: named_directory or bool(dos_directory),
            0: not named_directory and bool(dos_directory)}.get(kind, True)


def named_otherwise_locally(data, record, name):
    """A Unicode-path field in the local header that names the entry otherwise (bsdtar reads it)."""
    nlen, elen = struct.unpack_from("<HH", data, record.local + 26)
    field = field_of(extra_fields(data[record.local + 30 + nlen:record.local + 30 + nlen + elen]) or [], 0x7075)
    return field is not None and (len(field) < 5 or field[5:].decode("utf-8", "replace") != name)


def data_problem(data, record):
    """Why the entry's data is not what its record says: a DEFLATE stream that cannot be inflated
    or ends before its stored bytes do, or another CRC-32 or size."""
    stored = data[record.data_at:record.data_at + record.csize]
    if record.method == 8:
        inflater = zlib.decompressobj(-15)
        try:
            content = inflater.decompress(stored)
        except zlib.error:
            return "its DEFLATE data cannot be inflated"
        if not inflater.eof or inflater.unused_data:
            return "its DEFLATE stream does not end where its stored bytes do"
    else:
        content = stored
    if len(content) != record.usize or zlib.crc32(content) != record.crc:
        return "its data does not match its CRC-32 and size"
    return None


def check_archive(archive):
    try:
        data = open(archive, "rb").read()
    except OSError as e:
        return [f"{archive}: not a readable ZIP archive ({e})"]
    records, problems = read_archive(data, archive)
    if problems:
        return problems
    listed = []
    for record in records:
        name = entry_name(record)
        if name is None or named_otherwise_locally(data, record, name):
            problems.append(f"{record.name.decode('cp437')}: its Unicode-path extra field gives it another name")
        elif not record.name.isascii():
            problems.append(f"{record.name!r}: names must be printable ASCII")
        elif kind_is_ambiguous(record, name):
            problems.append(f"{name}: its attributes make it another kind of entry than its name")
        elif is_link(record):
            problems.append(f"{name}: is a link, which a payload never needs")
        elif record.flags & 0x01 or record.method not in (0, 8) or field_of(extra_fields(record.extra), 0x9901):
            problems.append(f"{name}: must be stored or deflated, without encryption")
        elif wrong := data_problem(data, record):
            problems.append(f"{name}: {wrong}")
        else:
            listed.append((name, record))
    if problems:
        return problems
    try:
        return contract_violations([name for name, _ in listed], lambda name: entry_data(data, dict(listed)[name]))
    except zlib.error as e:
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
