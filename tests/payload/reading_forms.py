"""Archives that read two ways, or that some reader might refuse, built byte by byte; and archives
made by the ZIP writers Debian ships. The readings test runs the setup's reading and the packer's
check over both.

Each crafted form carries a valid payload (install.ps1 and bin\\zarvo.exe) unless its point is
the payload itself, so that the packer's contract check passes wherever the reading is sound.
"""
import os
import shutil
import struct
import subprocess
import tempfile
import zipfile
import zlib

SCRIPT = b"Write-Host 'the script every tool shows'\r\n"
EXE = b"MZ stand-in program"

EOCD = "open: invalid Zip archive: Could not find EOCD"
AMBIGUOUS = "open: invalid Zip archive: Ambiguous central directory"
DUPLICATE = "open: invalid Zip archive: Duplicate file path"
RENAMED = "open: invalid Zip archive: Ambiguous file name"
KIND = "open: invalid Zip archive: Ambiguous file type"
BAD_PATH = "extract: invalid Zip archive: Invalid file path"
EXTRACTED = "extracted"
CHECKSUM = "extract: i/o error: Invalid checksum"
INCONSISTENT = "open: invalid Zip archive: Zip archive inconsistent"


def crc(data):
    return zlib.crc32(data) & 0xFFFFFFFF


def field(fid, data):
    return struct.pack("<HH", fid, len(data)) + data


def unicode_path(stored, name):
    return field(0x7075, b"\x01" + struct.pack("<I", crc(stored)) + name)


class E:
    """One entry: what its central record says, and where its local header differs (local_*)."""

    def __init__(self, name, data=b"", *, method=0, flags=0, extra=b"", made_by=20, attributes=0, **local):
        self.name = name.encode() if isinstance(name, str) else name
        self.data, self.method, self.flags, self.extra = data, method, flags, extra
        self.made_by, self.attributes = made_by, attributes
        self.local = {key.removeprefix("local_"): value for key, value in local.items()}
        self.stored = data if method == 0 else deflate(data)
        self.crc, self.csize, self.usize = crc(data), len(self.stored), len(data)

    def local_header(self):
        get = lambda key, value: self.local.get(key, value)  # noqa: E731
        name = get("name", self.name)
        extra = get("extra", self.extra)
        return struct.pack("<IHHHHHIIIHH", 0x04034B50, 20, get("flags", self.flags), self.method, 0, 0x21,
                           get("crc", self.crc), get("csize", self.csize), get("usize", self.usize),
                           len(name), len(extra)) + name + extra

    def central_record(self, offset, comment=b""):
        return struct.pack("<IHHHHHHIIIHHHHHII", 0x02014B50, self.made_by, 20, self.flags, self.method, 0, 0x21,
                           self.crc, self.csize, self.usize, len(self.name), len(self.extra), len(comment), 0, 0,
                           self.attributes, offset) + self.name + self.extra + comment


def deflate(data):
    packer = zlib.compressobj(9, zlib.DEFLATED, -15)
    return packer.compress(data) + packer.flush()


def end_record(count, size, offset, comment=b""):
    return struct.pack("<IHHHHIIH", 0x06054B50, 0, 0, count, count, size, offset, len(comment)) + comment


def lay_out(entries):
    """Local entries back to back: their bytes, and where each begins."""
    body, offsets = b"", []
    for e in entries:
        offsets.append(len(body))
        body += e.local_header() + e.stored
    return body, offsets


def with_directory(body, records, *, gap=b"", comment=b"", after=b""):
    """`body`, then the directory of these central records, `gap`, the end record and the rest."""
    directory = b"".join(records)
    return body + directory + gap + end_record(len(records), len(directory), len(body), comment) + after


def build(entries, **layout):
    body, offsets = lay_out(entries)
    return with_directory(body, [e.central_record(at) for e, at in zip(entries, offsets)], **layout)


def payload(*more, prefix=""):
    return [E(prefix + "install.ps1", SCRIPT), E(prefix + "bin\\zarvo.exe", EXE, method=8), *more]


# ---- the forms -----------------------------------------------------------------------------------

def data_into_directory():
    """The last entry's stored data is declared to run on through the directory and the end record."""
    entries = payload(E("README.md", b"read me\n"))
    last = entries[-1]
    tail = sum(len(e.central_record(0)) for e in entries) + 22
    last.csize = last.usize = len(last.data) + tail
    last.local.update(csize=last.csize, usize=last.usize)
    return build(entries)


def shared_local_header(records=200):
    """Many records take one entry's bytes, each reading its data again."""
    entries = payload(E("data.bin", b"\0" * 4096))
    body, offsets = lay_out(entries)
    listed = [e.central_record(at) for e, at in zip(entries, offsets)]
    return with_directory(body, listed + listed[-1:] * (records - 1))


def header_inside_data():
    """A stored entry whose data holds a whole second entry, which the directory also lists."""
    inner = E("inner.txt", b"hidden")
    entries = payload(E("outer.bin", b"before" + inner.local_header() + inner.stored + b"after"))
    body, offsets = lay_out(entries)
    inner_at = offsets[-1] + len(entries[-1].local_header()) + len(b"before")
    return with_directory(body, [e.central_record(at) for e, at in zip(entries, offsets)] + [inner.central_record(inner_at)])


def two_directories(last_unsound):
    """Two end records, each after a directory of its own with its own install.ps1. With
    `last_unsound`, the last directory's record of install.ps1 has an extra block that ends in a
    stray byte: other readers read it, the setup's walk does not."""
    seen, other, exe = E("install.ps1", SCRIPT), E("install.ps1", b"Write-Host 'run instead'\r\n"), E("bin\\zarvo.exe", EXE)
    body, (seen_at, other_at, exe_at) = lay_out([seen, other, exe])
    archive = with_directory(body, [other.central_record(other_at), exe.central_record(exe_at)])
    if last_unsound:
        seen.extra = field(0x5455, b"\x01\0\0\0\0") + b"\x07"
    return with_directory(archive, [seen.central_record(seen_at), exe.central_record(exe_at)])


def directory_found_back_from_the_end():
    """One end record, one declared directory; between it and the end record a second directory of
    the same size, where readers that look back from the end record by the directory's size find
    it (its local header offsets stored that far short, as those readers add the distance). It
    names the script install.ps2: zipfile lists no install.ps1."""
    entries = payload(E("README.md", b"read me\n" * 50))
    entries.insert(0, entries.pop())
    body, offsets = lay_out(entries)
    declared = b"".join(e.central_record(at) for e, at in zip(entries, offsets))
    shift = len(declared)
    script, exe = entries[1], entries[2]
    script.name = b"install.ps2"
    exe.extra = field(0xCAFE, b"\0" * (shift - len(script.central_record(0)) - len(exe.central_record(0)) - 4))
    hidden = script.central_record(offsets[1] - shift) + exe.central_record(offsets[2] - shift)
    return body + declared + hidden + end_record(3, len(declared), len(body))


def stored_empty_zip():
    return build(payload(E("tests\\empty.zip", end_record(0, 0, 0))))


def zip64_twice():
    """A record whose size is saturated holds two ZIP64 fields: the first says 5, the last 2."""
    entry = E("README.md", b"hello")
    entry.usize = 0xFFFFFFFF
    entry.extra = field(1, struct.pack("<Q", 5)) + field(1, struct.pack("<Q", 2))
    entry.local.update(usize=5, extra=b"")
    return build(payload(entry))


def descriptor_saturated_one_size():
    """A streaming writer's entry: data descriptor, the local uncompressed size saturated with a
    ZIP64 field holding that one size (zero: unknown when the header was written), CRC-32 and
    compressed size zero, then the descriptor after the data."""
    entries = payload(E("README.md", b"streamed\n", method=8, flags=0x08))
    last = entries[-1]
    last.local.update(crc=0, csize=0, usize=0xFFFFFFFF, extra=field(1, struct.pack("<Q", 0)))
    body, offsets = lay_out(entries)
    body += struct.pack("<IIII", 0x08074B50, last.crc, last.csize, last.usize)
    return with_directory(body, [e.central_record(at) for e, at in zip(entries, offsets)])


def with_entry(entry):
    return lambda: build(payload(entry))


def renamed(stored, name):
    """`stored` as the stored name, with a Unicode-path field (CRC-32 matching) that says `name`."""
    entry = E(stored, b"notes")
    entry.extra = unicode_path(entry.name, name.encode())
    entry.local["extra"] = b""
    return build(payload(entry))


def unicode_path_twice():
    entry = E("notes.txt", b"notes")
    entry.extra = unicode_path(entry.name, b"notes.txt") + unicode_path(entry.name, b"readme.txt")
    entry.local["extra"] = b""
    return build(payload(entry))


def link_entry():
    return build(payload(E("docs\\link", b"../install.ps1", made_by=(3 << 8) | 30, attributes=0o120777 << 16)))



# ---- forms that read two ways and that the setup extracts today --------------------------------------

RUN_INSTEAD = b"Write-Host 'run instead'\r\n"
STRAY = field(0x5455, b"\x01\0\0\0\0") + b"\x07"  # an extra block that ends in a stray byte


def local_unicode_path():
    """The local header alone holds a Unicode-path field naming install.ps1: bsdtar takes the local
    header's name and writes this entry's data as install.ps1."""
    entry = E("notes.txt", RUN_INSTEAD)
    entry.local["extra"] = unicode_path(entry.name, b"install.ps1")
    return build(payload(entry))


def _with_hidden_after(entries, index, hidden):
    body, offsets = b"", []
    for k, e in enumerate(entries):
        offsets.append(len(body))
        body += e.local_header() + e.stored
        if k == index:
            body += hidden
    return with_directory(body, [e.central_record(at) for e, at in zip(entries, offsets)])


def hidden_local_header():
    """A local header for install.ps1 in the bytes between two entries, listed by no record: a
    reader that walks the local headers (bsdtar from a pipe) writes it over the listed one."""
    other = E("install.ps1", RUN_INSTEAD)
    return _with_hidden_after(payload(E("README.md", b"read me\n")), 0, other.local_header() + other.stored)


def deflate_ending_early():
    """A deflated entry under a data descriptor whose stream ends before its compressed size: the
    rest holds the descriptor and a local header for install.ps1, which bsdtar from a pipe writes."""
    other = E("install.ps1", RUN_INSTEAD)
    entry = E("README.md", b"read me\n", method=8, flags=0x08)
    entry.stored += struct.pack("<IIII", 0x08074B50, entry.crc, entry.csize, entry.usize) + other.local_header() + other.stored
    entry.csize = len(entry.stored)
    entry.local.update(crc=0, csize=0, usize=0)
    descriptor = struct.pack("<IIII", 0x08074B50, entry.crc, entry.csize, entry.usize)
    return _with_hidden_after(payload(entry), 2, descriptor)


def stored_with_inner_descriptor():
    """A stored entry under a data descriptor whose data holds a descriptor matching its first
    bytes, then a local header for install.ps1: bsdtar from a pipe ends the entry there."""
    other, start = E("install.ps1", RUN_INSTEAD), b"some notes\n"
    inner = struct.pack("<IIII", 0x08074B50, crc(start), len(start), len(start))
    entry = E("notes.bin", start + inner + other.local_header() + other.stored, flags=0x08)
    entry.local.update(crc=0, csize=0, usize=0)
    descriptor = struct.pack("<IIII", 0x08074B50, entry.crc, entry.csize, entry.usize)
    return _with_hidden_after(payload(entry), 2, descriptor)


def found_back_unsound_to_the_walk():
    """As directory_found_back_from_the_end, but the found-back directory's record of install.ps1
    ends its extra block in a stray byte: zipfile, unzip, bsdtar and 7-Zip read that directory and
    its install.ps1; the setup took the declared one."""
    seen, other, exe = E("install.ps1", RUN_INSTEAD + b"#" * 200), E("install.ps1", SCRIPT), E("bin\\zarvo.exe", EXE)
    body, (seen_at, other_at, exe_at) = lay_out([seen, other, exe])
    other.extra = STRAY
    seen.extra = field(0xCAFE, b"\0" * (len(other.central_record(0)) - len(seen.central_record(0)) - 4))
    declared = seen.central_record(seen_at) + exe.central_record(exe_at)
    shift = len(declared)
    hidden = other.central_record(other_at - shift) + exe.central_record(exe_at - shift)
    return body + declared + hidden + end_record(2, len(declared), len(body))


def concatenated_first_unsound_to_the_walk():
    """Two archives back to back; the first one's record of install.ps1 ends its extra block in a
    stray byte. 7-Zip (and bsdtar from a pipe) read the first archive, the setup the second."""
    first = payload()
    first[0].extra = STRAY
    first[0].local["extra"] = b""
    archive = build(first)
    second = [E("install.ps1", RUN_INSTEAD), E("bin\\zarvo.exe", EXE)]
    body, offsets = lay_out(second)
    return with_directory(archive + body, [e.central_record(len(archive) + at) for e, at in zip(second, offsets)])


def script_with_directory_attributes(**attributes):
    """install.ps1 whose attributes say directory: bsdtar and 7-Zip make a folder of that name."""
    entries = payload()
    entries[0] = E("install.ps1", RUN_INSTEAD, **attributes)
    return lambda: build(entries)


def renamed_legacy():
    """A stored name in a legacy code page whose Unicode-path field says install.ps1: zipfile and
    bsdtar list the stored name, so no install.ps1."""
    entry = E(b"\xa0install.ps1", SCRIPT)
    entry.extra = unicode_path(entry.name, b"install.ps1")
    entry.local["extra"] = b""
    entries = payload()
    entries[0] = entry
    return build(entries)


def zip64_surplus_value():
    entry = E("README.md", b"hello")
    entry.usize = 0xFFFFFFFF
    entry.extra = field(1, struct.pack("<QQ", 5, 5))
    entry.local.update(usize=5, extra=b"")
    return build(payload(entry))


def wrong_checksum():
    entry = E("README.md", b"read me\n")
    entry.crc ^= 1
    entry.local["crc"] = entry.crc
    return build(payload(entry))


def short_alias():
    """NTFS gives pkg-long-name the short name PKG-LO~1: both entries write one file on Windows."""
    return build(payload(E("PKG-LO~1\\install.ps1", RUN_INSTEAD), prefix="pkg-long-name\\"))

# (name, archive maker, the setup's result line, whether the packer refuses it)
FORMS = [
    ("data running into the directory", data_into_directory, EOCD, True),
    ("records sharing one local header", shared_local_header, EOCD, True),
    ("a local header inside another entry's data", header_inside_data, EOCD, True),
    ("pkg/install.ps1 and pkg\\install.ps1",
     lambda: build(payload(E("pkg/install.ps1", b"Write-Host 'run instead'\r\n"), prefix="pkg\\")), DUPLICATE, True),
    ("install.ps1 and INSTALL.PS1", lambda: build(payload(E("INSTALL.PS1", b"exit 0\r\n"))), DUPLICATE, True),
    ("a file, then a folder of its name", lambda: build(payload(E("docs", b"x"), E("docs\\a.txt", b"y"))), DUPLICATE, True),
    ("a folder, then a file of its name", lambda: build(payload(E("docs\\a.txt", b"y"), E("DOCS", b"x"))), DUPLICATE, True),
    ("names that differ in a trailing dot", lambda: build(payload(E("notes", b"x"), E("notes.", b"y"))), DUPLICATE, True),
    ("names that differ in the case of a non-ASCII letter",
     lambda: build(payload(E("\u00c4.txt", b"x", flags=0x800), E("\u00e4.txt", b"y", flags=0x800))), DUPLICATE, True),
    ("a folder named by two entries", lambda: build(payload(E("docs/"), E("Docs\\"), E("docs\\a.txt", b"y"))),
     EXTRACTED, False),
    ("an ASCII name renamed by its Unicode-path field", lambda: renamed("notes.txt", "install.ps1"), RENAMED, True),
    ("an ASCII name its Unicode-path field repeats", lambda: renamed("notes.txt", "notes.txt"), EXTRACTED, False),
    ("two Unicode-path fields", unicode_path_twice, EOCD, True),
    ("the last directory unsound to the walk only", lambda: two_directories(True), EOCD, True),
    ("two different sound directories", lambda: two_directories(False), EOCD, True),
    ("bytes between the directory and its end record", lambda: build(payload(), gap=b"\0" * 16), EOCD, True),
    ("a second directory found back from the end record", directory_found_back_from_the_end, EOCD, True),
    ("a stored empty .zip", stored_empty_zip, EXTRACTED, False),
    ("local flags differing in bits 1, 2 and 11",
     with_entry(E("README.md", b"read me\n", method=8, flags=0x02, local_flags=0x804)), EXTRACTED, False),
    ("a local encryption flag", with_entry(E("README.md", b"read me\n", local_flags=0x01)), EOCD, True),
    ("a local data-descriptor flag", with_entry(E("README.md", b"read me\n", local_flags=0x08)), EOCD, True),
    ("a streamed entry with one size in its local ZIP64 field", descriptor_saturated_one_size, EXTRACTED, False),
    ("two ZIP64 fields", zip64_twice, EOCD, True),
    ("a device name", with_entry(E("CON", b"x")), BAD_PATH, True),
    ("a device name with an extension", with_entry(E("docs\\aux.txt", b"x")), BAD_PATH, True),
    ("a name ending in a dot", with_entry(E("notes.", b"x")), BAD_PATH, True),
    ("a name ending in a space", with_entry(E("docs \\a.txt", b"x")), BAD_PATH, True),
    # The packer refuses what a payload never needs; the setup makes the link.
    ("a link entry", link_entry, EXTRACTED, True),
    # Found by review: each reads two ways (or the packer passes what the setup refuses).
    ("a Unicode-path field in the local header only", local_unicode_path, RENAMED, True),
    ("a local header hidden between entries", hidden_local_header, EOCD, True),
    ("a deflate stream ending before its compressed size", deflate_ending_early, CHECKSUM, True),
    ("a descriptor inside stored data under a descriptor", stored_with_inner_descriptor, EOCD, True),
    ("a found-back directory unsound to the walk only", found_back_unsound_to_the_walk, EOCD, True),
    ("two archives back to back, the first unsound to the walk only", concatenated_first_unsound_to_the_walk,
     EOCD, True),
    ("a data descriptor announced and missing", with_entry(E("README.md", b"read me\n", flags=0x08)), EOCD, True),
    ("install.ps1 with a Unix directory mode",
     script_with_directory_attributes(made_by=(3 << 8) | 30, attributes=0o40755 << 16), KIND, True),
    ("install.ps1 with the MS-DOS directory attribute", script_with_directory_attributes(attributes=0x10), KIND,
     True),
    ("a legacy name renamed install.ps1 by its Unicode-path field", renamed_legacy, EXTRACTED, True),
    ("a ZIP64 field with a surplus value", zip64_surplus_value, INCONSISTENT, True),
    ("a wrong CRC-32", wrong_checksum, CHECKSUM, True),
    ("a short alias of a long folder name", short_alias, BAD_PATH, True),
]


# ---- archives made by common writers --------------------------------------------------------------

def _tree(root, inner_zip=False):
    os.makedirs(os.path.join(root, "bin"))
    for name, data in (("install.ps1", SCRIPT), ("bin/zarvo.exe", EXE), ("README.md", b"read me\n" * 50)):
        with open(os.path.join(root, name), "wb") as f:
            f.write(data)
    if inner_zip:
        zipfile.ZipFile(os.path.join(root, "inner.zip"), "w").close()  # an empty archive, stored as it is


def _run(command, cwd, **kwargs):
    subprocess.run(command, cwd=cwd, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, **kwargs)


def _python_stream(root, out):
    class Unseekable:
        def __init__(self, f):
            self.f = f

        def write(self, data):
            return self.f.write(data)

        def flush(self):
            self.f.flush()

    with open(out, "wb") as f, zipfile.ZipFile(Unseekable(f), "w", zipfile.ZIP_DEFLATED) as z:
        for name in ("install.ps1", "bin/zarvo.exe", "README.md"):
            with z.open(name, "w", force_zip64=True) as entry, open(os.path.join(root, name), "rb") as source:
                entry.write(source.read())


def _python(root, out):
    with zipfile.ZipFile(out, "w", zipfile.ZIP_DEFLATED) as z:
        for name in ("install.ps1", "bin/zarvo.exe", "README.md"):
            z.write(os.path.join(root, name), name)


WRITERS = {
    "Info-ZIP zip": lambda root, out: _run(["zip", "-qr", out, "."], root),
    "Info-ZIP zip with a stored .zip inside": lambda root, out: _run(["zip", "-qr", out, "."], root),
    "Info-ZIP zip, output piped": lambda root, out: _run(["sh", "-c", 'zip -qr - . | cat > "$0"', out], root),
    "Info-ZIP zip, an entry from standard input":
        lambda root, out: _run(["sh", "-c", 'zip -qr "$0" . && zip -q "$0" - < README.md', out], root),
    "bsdtar": lambda root, out: _run(["bsdtar", "--format", "zip", "-cf", out, "install.ps1", "bin", "README.md"], root),
    "7-Zip": lambda root, out: _run(["7z", "a", "-tzip", out, "install.ps1", "bin", "README.md"], root),
    "jar": lambda root, out: _run(["jar", "cf", out, "install.ps1", "bin", "README.md"], root),
    "Python zipfile": _python,
    "Python zipfile, streamed with ZIP64 local headers": _python_stream,
}


def make_with_writer(writer, out):
    """Makes the writer's archive of the sample payload at `out`; raises when the tool is missing."""
    root = tempfile.mkdtemp()
    try:
        _tree(root, inner_zip="stored .zip" in writer)
        WRITERS[writer](root, os.path.abspath(out))
    finally:
        shutil.rmtree(root)
