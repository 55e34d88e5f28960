#!/usr/bin/env python3
"""The packer: the as-built archive format, determinism, and every payload-contract refusal."""
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import unittest
import zipfile
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))
PACKER = os.path.join(HERE, "..", "..", "tools", "pack_payload.py")
SAMPLE = os.path.join(HERE, "..", "..", "samples", "payload")
sys.path.insert(0, os.path.join(HERE, "..", "payload"))
import reading_forms as forms  # noqa: E402  the readings test's archive pieces


def run(*args):
    return subprocess.run([sys.executable, PACKER, *args], capture_output=True, text=True)


class PackerTest(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.mkdtemp()

    def tearDown(self):
        shutil.rmtree(self.tmp)

    def tree(self, files):
        root = os.path.join(self.tmp, "tree")
        for name, data in files.items():
            path = os.path.join(root, *name.split("/"))
            os.makedirs(os.path.dirname(path), exist_ok=True)
            with open(path, "wb") as f:
                f.write(data)
        return root

    def good(self):
        return {"install.ps1": b"Write-Host 'hi'\r\n", "bin/zarvo.exe": b"MZ", "bin/zarvod.exe": b"MZ",
                "README.md": b"readme\n"}

    def test_sample_packs_in_the_as_built_format(self):
        out = os.path.join(self.tmp, "s.zip")
        self.assertEqual(run(SAMPLE, out).returncode, 0)
        data = open(out, "rb").read()
        eocd = data[-22:]
        sig, disk, cd_disk, n_here, n_all, cd_size, cd_offset, comment = struct.unpack("<IHHHHIIH", eocd)
        self.assertEqual((sig, disk, cd_disk, comment), (0x06054B50, 0, 0, 0))
        self.assertEqual(n_here, n_all)
        self.assertEqual(cd_offset + cd_size + 22, len(data))
        with zipfile.ZipFile(out) as z:
            infos = z.infolist()
            self.assertEqual(len(infos), n_all)
            for info in infos:
                self.assertEqual((info.create_version, info.create_system, info.extract_version), (20, 0, 20))
                self.assertEqual((info.flag_bits, info.compress_type, info.external_attr), (0, 8, 0))
                self.assertEqual((info.extra, info.comment), (b"", b""))
                self.assertFalse(info.filename.endswith(("/", "\\")))
                self.assertNotIn("/", info.filename)
                self.assertEqual(zlib.crc32(z.read(info)) & 0xFFFFFFFF, info.CRC)
            names = [i.filename for i in infos]
            self.assertIn("bin\\zarvo.exe", names)
            self.assertIn("install.ps1", names)
        # Entries back to back from offset 0, the directory right after the last one.
        self.assertEqual(data[:4], b"PK\x03\x04")
        end = infos[-1].header_offset + 30 + len(infos[-1].filename) + infos[-1].compress_size
        self.assertEqual(end, cd_offset)

    def test_same_input_gives_the_same_bytes(self):
        a, b = os.path.join(self.tmp, "a.zip"), os.path.join(self.tmp, "b.zip")
        self.assertEqual(run(SAMPLE, a).returncode, 0)
        self.assertEqual(run(SAMPLE, b).returncode, 0)
        self.assertEqual(open(a, "rb").read(), open(b, "rb").read())

    def test_one_top_level_folder_is_accepted(self):
        files = {"zarvo-0.9/" + k: v for k, v in self.good().items()}
        out = os.path.join(self.tmp, "o.zip")
        result = run(self.tree(files), out)
        self.assertEqual((result.returncode, result.stderr), (0, ""))
        self.assertEqual(run("--check", out).returncode, 0)

    def test_each_violation_is_named_and_nothing_is_written(self):
        cases = [
            ({"README.md": b"x"},
             "payload contract: install.ps1: must lie at the payload's root or at the root of its one top-level folder\n"),
            ({"install.ps1": b"\xef\xbb\xbfWrite-Host 1\r\n", "bin/zarvo.exe": b"MZ"},
             "payload contract: install.ps1: must have no byte-order mark (PowerShell 5.1 reads such a script "
             "in the ANSI code page)\n"),
            ({"install.ps1": b"Write-Host 'caf\xc3\xa9'\r\n", "bin/zarvo.exe": b"MZ"},
             "payload contract: install.ps1: must be ASCII only (first non-ASCII byte at offset 15)\n"),
            ({"install.ps1": b"x", "bin/readme.txt": b"x"},
             "payload contract: bin: must hold the product's .exe files\n"),
            ({"install.ps1": b"x", "bin/zarvod.exe": b"MZ"},
             "payload contract: bin\\zarvo.exe: is missing\n"),
            ({"install.ps1": b"x", "bin/zarvo.exe": b"MZ", "docs/caf\u00e9.md": b"x"},
             "payload contract: 'docs\\\\café.md': names must be printable ASCII\n"),
            ({"install.ps1": b"x", "bin/zarvo.exe": b"MZ", "a/C:escape.txt": b"x"},
             "payload contract: a\\C:escape.txt: names must hold no colon (Windows reads it as a drive or a stream)\n"),
            ({"install.ps1": b"x", "bin/zarvo.exe": b"MZ", "docs:x": b"x"},
             "payload contract: docs:x: names must hold no colon (Windows reads it as a drive or a stream)\n"),
            ({"install.ps1": b"x", "bin/zarvo.exe": b"MZ", "docs/a?b.md": b"x"},
             "payload contract: docs\\a?b.md: names must hold none of < > \" | ? * (Windows cannot write them)\n"),
            ({"install.ps1": b"x", "bin/zarvo.exe": b"MZ", "docs/tab\there": b"x"},
             "payload contract: 'docs\\\\tab\\there': names must be printable ASCII\n"),
            ({"install.ps1": b"x", "bin/zarvo.exe": b"MZ", "docs/Aux.txt": b"x"},
             "payload contract: docs\\Aux.txt: names must not be a device name such as CON, NUL or COM1 (Windows "
             "opens the device)\n"),
            ({"install.ps1": b"x", "bin/zarvo.exe": b"MZ", "docs /a.md": b"x"},
             "payload contract: docs \\a.md: names must not end in a dot or a space (Windows drops them)\n"),
            ({"install.ps1": b"x", "bin/zarvo.exe": b"MZ", "PROGRA~1/a.md": b"x"},
             "payload contract: PROGRA~1\\a.md: names must not have the shape of a short alias such as PROGRA~1 (it "
             "can name another file)\n"),
            ({"install.ps1": b"x", "bin/zarvo.exe": b"MZ", "bin/Zarvo.EXE": b"MZ"},
             "payload contract: bin\\zarvo.exe: Windows writes it where bin\\Zarvo.EXE goes\n"),
            ({"a/install.ps1": b"x", "a/bin/zarvo.exe": b"MZ", "b/other.txt": b"x"},
             "payload contract: install.ps1: must lie at the payload's root or at the root of its one top-level "
             "folder\n"),
        ]
        for files, message in cases:
            with self.subTest(message=message):
                shutil.rmtree(os.path.join(self.tmp, "tree"), ignore_errors=True)
                out = os.path.join(self.tmp, "bad.zip")
                result = run(self.tree(files), out)
                self.assertEqual((result.returncode, result.stderr), (1, message))
                self.assertFalse(os.path.exists(out))

    def test_no_check_packs_a_broken_payload(self):
        out = os.path.join(self.tmp, "n.zip")
        self.assertEqual(run("--no-check", self.tree({"README.md": b"x"}), out).returncode, 0)
        self.assertEqual(run("--check", out).returncode, 1)

    def crafted(self, name, entries, directories):
        """Local entries (name, data) back to back, then each directory (entry indices) with its end record."""
        entries = [forms.E(entry_name, data) for entry_name, data in entries]
        body, offsets = forms.lay_out(entries)
        for listed in directories:
            body = forms.with_directory(body, [entries[i].central_record(offsets[i]) for i in listed])
        path = os.path.join(self.tmp, name)
        with open(path, "wb") as f:
            f.write(body)
        return path

    def test_check_refuses_an_archive_with_two_readings(self):
        files = [(b"install.ps1", b"Write-Host 1\r\n"), (b"bin\\zarvo.exe", b"MZ"), (b"install.ps1", b"Write-Host 2\r\n")]
        path = self.crafted("two.zip", files, [[2, 1], [0, 1]])
        result = run("--check", path)
        # The last directory decides; the other entry and directory are bytes it leaves to no entry.
        self.assertEqual((result.returncode, result.stderr),
                         (1, "payload contract: central directory: bytes that no entry owns lie before it\n"))
        # An archive stored inside, end record and all, is data: one reading.
        with open(self.crafted("inner.zip", files[:2], [[0, 1]]), "rb") as f:
            inner = f.read()
        path = self.crafted("outer.zip", files[:2] + [(b"inner.zip", inner)], [[0, 1, 2]])
        self.assertEqual((run("--check", path).returncode, run("--check", path).stderr), (0, ""))

    def test_check_refuses_local_headers_that_differ_from_their_records(self):
        path = self.crafted("local.zip", [(b"install.ps1", b"Write-Host 1\r\n"), (b"bin\\zarvo.exe", b"MZ")], [[0, 1]])
        with open(path, "rb") as f:
            data = bytearray(f.read())
        data[30:41] = b"install.ps2"  # the first local header's name
        struct.pack_into("<H", data, 30 + 11 + 14 + 8, 8)  # the second one's method
        with open(path, "wb") as f:
            f.write(data)
        result = run("--check", path)
        self.assertEqual((result.returncode, result.stderr),
                         (1, "payload contract: install.ps1: its local header differs from its central record (name)\n"
                             "payload contract: bin\\zarvo.exe: its local header differs from its central record "
                             "(method)\n"))

    def test_check_refuses_a_file_that_is_not_an_archive(self):
        path = os.path.join(self.tmp, "junk.zip")
        with open(path, "wb") as f:
            f.write(b"not a zip")
        result = run("--check", path)
        self.assertEqual(result.returncode, 1)
        self.assertTrue(result.stderr.startswith(f"payload contract: {path}: not a readable ZIP archive ("))


if __name__ == "__main__":
    unittest.main()
