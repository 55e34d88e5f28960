#!/usr/bin/env python3
"""What runs is what every reader lists: archives mutated at random from the crafted forms and the
common writers' archives, each read by the setup and by the ZIP readers Debian ships (Python's
zipfile; bsdtar on the file and from a pipe; 7-Zip; unzip). Wherever the setup extracts an archive
and a reader reads it without an error, both must give the same installer script: the same
install.ps1 at the top, or in the same folders one level down (names compared as Windows compares
them, both separators), with the same bytes. Readers that refuse, or report errors, are left out,
and so are legacy names with a Unicode-path field, on which readers differ among themselves.

Usage: readers_differential_test.py --reader zarvo-read-archive [--samples N] [--seed S] [--keep DIR]
Exit status 0 when every sample agrees; 1 with the first disagreements and their archives kept.
"""
import argparse
import io
import os
import random
import shutil
import struct
import subprocess
import sys
import tempfile
import zipfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import reading_forms as forms  # noqa: E402

SIGNATURES = (b"PK\x03\x04", b"PK\x01\x02", b"PK\x05\x06", b"PK\x06\x06", b"PK\x06\x07", b"PK\x07\x08")
INTERESTING = [0, 1, 8, 0x10, 0x800, 0xFFFF, 0xFFFFFFFF, 0x41ED0000, 0xA1FF0000, 0x81A40000]


def scripts(files):
    """The installer scripts a tree offers, from (path with / or \\ separators, bytes) pairs: the
    top-level install.ps1, else each folder's one level down, as Windows compares names."""
    found = {}
    for path, data in files:
        parts = [p for p in path.replace("\\", "/").split("/") if p]
        key = tuple(p.upper() for p in parts)
        if key and key[-1] == "INSTALL.PS1" and len(key) <= 2:
            found[key] = data
    top = {k: v for k, v in found.items() if len(k) == 1}
    return top or found


def renames_a_legacy_name(data):
    """Whether a central record holds a name in a legacy code page (not ASCII, flag bit 11 clear)
    with a Unicode-path field: readers differ on taking the field there (zipfile and bsdtar do not,
    unzip, 7-Zip and the setup do), a difference the readings test names."""
    at = data.find(b"PK\x01\x02")
    while at >= 0 and at + 46 <= len(data):
        flags, = struct.unpack_from("<H", data, at + 8)
        name_length, extra_length = struct.unpack_from("<HH", data, at + 28)
        name = data[at + 46:at + 46 + name_length]
        extra = data[at + 46 + name_length:at + 46 + name_length + extra_length]
        if not flags & 0x800 and not name.isascii() and b"\x75\x70" in extra:
            return True
        at = data.find(b"PK\x01\x02", at + 4)
    return False


def tree_files(root):
    files = []
    for folder, _, names in os.walk(root):
        for name in names:
            path = os.path.join(folder, name)
            if os.path.isfile(path) and not os.path.islink(path):
                with open(path, "rb") as f:
                    files.append((os.path.relpath(path, root), f.read()))
    return files


def run(command, **kwargs):
    try:
        return subprocess.run(command, capture_output=True, timeout=60, **kwargs).returncode
    except subprocess.TimeoutExpired:
        return None


def readings(archive, work):
    """The scripts of every reader that reads the archive without an error, by reader."""
    found = {}
    try:
        with zipfile.ZipFile(archive) as z:
            found["zipfile"] = scripts([(i.filename, z.read(i)) for i in z.infolist() if not i.is_dir()])
    except Exception:  # noqa: BLE001  any refusal of zipfile's
        pass
    for name, command, stdin in (("bsdtar", ["bsdtar", "-xf", archive], None),
                                 ("bsdtar from a pipe", ["bsdtar", "-xf", "-"], archive),
                                 ("7-Zip", ["7z", "x", "-y", "-bd", "-o.", archive], None),
                                 ("unzip", ["unzip", "-qq", "-o", archive], None)):
        out = os.path.join(work, name.replace(" ", "-"))
        os.makedirs(out)
        with open(stdin, "rb") if stdin else open(os.devnull, "rb") as source:
            code = run(command, cwd=out, stdin=source)
        if code == 0 or (name == "unzip" and code == 1):  # unzip's 1: warnings only
            found[name] = scripts(tree_files(out))
    return found


def mutate(data, rng):
    data = bytearray(data)
    marks = [i for s in SIGNATURES for i in range(len(data)) if data.startswith(s, i)] or [0]
    for _ in range(rng.choice((1, 1, 1, 2, 3))):
        at = min(len(data) - 1, max(0, rng.choice(marks) + rng.randint(4, 46))) if data else 0
        kind = rng.randrange(5)
        if not data:
            break
        if kind == 0:
            data[at] = rng.randrange(256)
        elif kind == 1:
            width = rng.choice((2, 4))
            value = rng.choice(INTERESTING + [len(data), at, rng.randrange(1 << 16)]) & ((1 << (8 * width)) - 1)
            data[at:at + width] = value.to_bytes(width, "little")
        elif kind == 2:
            length = rng.randint(1, 64)
            data[at:at] = data[max(0, at - length):at]
        elif kind == 3:
            del data[at:at + rng.randint(1, 16)]
        else:
            for variant in (b"INSTALL.PS1", b"Install.ps1", b"install.ps2", b"pkg/install.ps1"):
                where = data.find(b"install.ps1", rng.randrange(len(data)))
                if where >= 0 and len(variant) == 11:
                    data[where:where + 11] = variant
                    break
    return bytes(data)


def seeds(work, reader):
    """The crafted forms and the writers' archives that the setup extracts."""
    made = [make() for _, make, _, _ in forms.FORMS]
    for writer in forms.WRITERS:
        path = os.path.join(work, "writer.zip")
        try:
            forms.make_with_writer(writer, path)
        except (OSError, subprocess.CalledProcessError):
            continue
        with open(path, "rb") as f:
            made.append(f.read())
        os.remove(path)
    extracted = []
    for data in made:
        path = os.path.join(work, "seed.zip")
        with open(path, "wb") as f:
            f.write(data)
        done = subprocess.run([reader, path, os.path.join(work, "seed")], capture_output=True)
        shutil.rmtree(os.path.join(work, "seed"), ignore_errors=True)
        if done.stdout == b"extracted":
            extracted.append(data)
    return extracted


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--reader", required=True)
    parser.add_argument("--samples", type=int, default=int(os.environ.get("ZARVO_DIFFERENTIAL_SAMPLES", "1000")))
    parser.add_argument("--seed", type=int, default=18)
    parser.add_argument("--keep", default=None)
    args = parser.parse_args()
    rng = random.Random(args.seed)
    top = tempfile.mkdtemp(prefix="zarvo-differential-")
    disagreements, compared = [], 0
    try:
        pool = seeds(top, args.reader)
        for sample in range(args.samples):
            data = mutate(rng.choice(pool), rng)
            work = os.path.join(top, str(sample))
            os.makedirs(work)
            archive = os.path.join(work, "archive.zip")
            with open(archive, "wb") as f:
                f.write(data)
            destination = os.path.join(work, "setup")
            done = subprocess.run([args.reader, archive, destination], capture_output=True)
            if done.stdout != b"extracted" or renames_a_legacy_name(data):
                shutil.rmtree(work)
                continue
            setup = scripts(tree_files(destination))
            others = readings(archive, work)
            compared += len(others)
            differing = {name: got for name, got in others.items() if got != setup}
            if differing:
                kept = os.path.join(args.keep or top, f"disagreement-{sample}.zip")
                os.makedirs(os.path.dirname(kept), exist_ok=True)
                shutil.copy(archive, kept)
                disagreements.append(f"{kept}: the setup runs {sorted(setup)}; " + "; ".join(
                    f"{name} shows {sorted(got)}" + (" (other bytes)" if set(got) == set(setup) else "")
                    for name, got in differing.items()))
            shutil.rmtree(work)
    finally:
        if not disagreements:
            shutil.rmtree(top, ignore_errors=True)
    print(f"{args.samples} archives, {compared} readings compared, {len(disagreements)} disagreements")
    for line in disagreements[:20]:
        print(line)
    return 1 if disagreements else 0


if __name__ == "__main__":
    sys.exit(main())
