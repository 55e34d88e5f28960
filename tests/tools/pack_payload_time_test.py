#!/usr/bin/env python3
"""The packer's entry times: one given time makes the archive independent of the files' times."""
import importlib.util
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import unittest
import zipfile

HERE = os.path.dirname(os.path.abspath(__file__))
PACKER = os.path.join(HERE, "..", "..", "tools", "pack_payload.py")
SAMPLE = os.path.join(HERE, "..", "..", "samples", "payload")
T = 1700000000  # 2023-11-14 22:13:20 UTC


def run(*args, epoch=None):
    env = {k: v for k, v in os.environ.items() if k != "SOURCE_DATE_EPOCH"}
    if epoch is not None:
        env["SOURCE_DATE_EPOCH"] = epoch
    return subprocess.run([sys.executable, PACKER, *args], capture_output=True, text=True, env=env)


def read(path):
    with open(path, "rb") as f:
        return f.read()


def usage():
    found = importlib.util.spec_from_file_location("pack_payload", PACKER)
    module = importlib.util.module_from_spec(found)
    found.loader.exec_module(module)
    return module.__doc__


def touch_all(folder, when):
    for root, dirs, files in os.walk(folder):
        for name in dirs + files:
            os.utime(os.path.join(root, name), (when, when))


def entry_times(path):
    """(name, local header date_time, central directory date_time) of every entry."""
    data = read(path)
    times = []
    with zipfile.ZipFile(path) as z:
        for info in z.infolist():
            dtime, ddate = struct.unpack_from("<HH", data, info.header_offset + 10)
            local = ((ddate >> 9) + 1980, (ddate >> 5) & 15, ddate & 31, dtime >> 11, (dtime >> 5) & 63,
                     (dtime & 31) * 2)
            times.append((info.filename, local, info.date_time))
    return times


class EntryTimeTest(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.mkdtemp()
        self.a = os.path.join(self.tmp, "a")
        self.b = os.path.join(self.tmp, "b")
        shutil.copytree(SAMPLE, self.a)
        shutil.copytree(SAMPLE, self.b)
        touch_all(self.a, T)
        touch_all(self.b, 981173106)  # 2001, older than T: clamping to T would keep these

    def tearDown(self):
        shutil.rmtree(self.tmp)

    def pack(self, name, *args, epoch=None):
        out = os.path.join(self.tmp, name)
        result = run(*args, out, epoch=epoch)
        self.assertEqual((result.returncode, result.stderr), (0, ""))
        return read(out)

    def test_given_time_is_the_archive_of_files_with_that_time(self):
        # Files that all carry T, packed with their own times, against other files given T.
        reference = self.pack("ref.zip", self.a)
        self.assertEqual(self.pack("opt.zip", "--time", str(T), self.b), reference)
        self.assertEqual(self.pack("env.zip", self.b, epoch=str(T)), reference)
        self.assertEqual(self.pack("nc.zip", "--no-check", "--time", str(T), self.b), reference)
        self.assertEqual(self.pack("cn.zip", "--time", str(T), "--no-check", self.b), reference)
        # The option wins over the environment.
        self.assertEqual(self.pack("both.zip", "--time", str(T), self.b, epoch="5"), reference)
        self.assertNotEqual(self.pack("own.zip", self.b), reference)

    def test_every_entry_carries_the_given_time_in_both_headers(self):
        self.pack("t.zip", "--time", str(T), self.b)
        times = entry_times(os.path.join(self.tmp, "t.zip"))
        self.assertEqual(len(times), 11)
        for name, local, central in times:
            self.assertEqual((name, local, central), (name, (2023, 11, 14, 22, 13, 20), (2023, 11, 14, 22, 13, 20)))

    def test_times_are_held_to_what_an_entry_can_carry(self):
        for given, expected in (("0", (1980, 1, 1, 0, 0, 0)), ("315532801", (1980, 1, 1, 0, 0, 0)),
                                ("4354819199", (2107, 12, 31, 23, 59, 58)),
                                ("99999999999", (2107, 12, 31, 23, 59, 58))):
            with self.subTest(given=given):
                self.pack("t.zip", "--time", given, self.b)
                for name, local, central in entry_times(os.path.join(self.tmp, "t.zip")):
                    self.assertEqual((local, central), (expected, expected))

    def test_without_a_time_each_entry_carries_its_files_time(self):
        os.utime(os.path.join(self.b, "install.ps1"), (0, 1234567891))  # 2009-02-13 23:31:31 UTC
        os.utime(os.path.join(self.b, "bin", "zarvo.exe"), (0, 1500000000))  # 2017-07-14 02:40:00 UTC
        self.pack("own.zip", self.b)
        times = {name: (local, central) for name, local, central in entry_times(os.path.join(self.tmp, "own.zip"))}
        self.assertEqual(times["install.ps1"], ((2009, 2, 13, 23, 31, 30),) * 2)
        self.assertEqual(times["bin\\zarvo.exe"], ((2017, 7, 14, 2, 40, 0),) * 2)
        self.assertEqual(times["README.md"], ((2001, 2, 3, 4, 5, 6),) * 2)

    def test_a_malformed_time_is_refused_and_nothing_is_written(self):
        out = os.path.join(self.tmp, "bad.zip")
        for args, epoch, message in (
                (["--time", "12x"], None, "--time: '12x' is not a whole number of seconds since 1970\n"),
                (["--time", "-5"], None, "--time: '-5' is not a whole number of seconds since 1970\n"),
                ([], "1.5", "SOURCE_DATE_EPOCH: '1.5' is not a whole number of seconds since 1970\n")):
            with self.subTest(args=args, epoch=epoch):
                result = run(*args, self.b, out, epoch=epoch)
                self.assertEqual((result.returncode, result.stderr), (2, message))
                self.assertFalse(os.path.exists(out))
        # A missing value leaves no output named: the usage.
        result = run("--time", self.b)
        self.assertEqual((result.returncode, result.stderr), (2, usage() + "\n"))
        self.assertEqual(sorted(os.listdir(self.tmp)), ["a", "b"])


if __name__ == "__main__":
    unittest.main()
