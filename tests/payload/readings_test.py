#!/usr/bin/env python3
"""The setup's reading and the packer's check over the same archives: every crafted form that reads
two ways (or that Windows cannot write) is refused by both, each with the setup's own result line,
and archives made by the ZIP writers Debian ships are accepted by both and extracted exactly as
Python's zipfile reads them.

Usage: readings_test.py --reader zarvo-read-archive[.exe] --packer pack_payload.py [--emulator WRAPPER]
"""
import argparse
import os
import shutil
import subprocess
import sys
import tempfile
import unittest
import zipfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import reading_forms as forms  # noqa: E402

ARGS = None


def native(path):
    """The path as the reader sees it: under Wine the Unix root is drive Z:."""
    return "Z:" + path.replace("/", "\\") if ARGS.emulator else path


def setup_reading(archive, destination):
    command = [ARGS.reader, native(archive), native(destination)]
    if ARGS.emulator:
        command.insert(0, ARGS.emulator)
    done = subprocess.run(command, capture_output=True, stdin=subprocess.DEVNULL, timeout=120)
    return done.stdout.decode("utf-8", "replace")


def packer_refusals(archive):
    done = subprocess.run([sys.executable, ARGS.packer, "--check", archive], capture_output=True, text=True)
    return done.stderr if done.returncode else ""


class Readings(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.mkdtemp()

    def tearDown(self):
        shutil.rmtree(self.tmp)

    def read(self, name, data):
        archive = os.path.join(self.tmp, name + ".zip")
        with open(archive, "wb") as f:
            f.write(data)
        destination = os.path.join(self.tmp, name)
        return archive, destination, setup_reading(archive, destination)

    def test_crafted_forms(self):
        for number, (name, make, setup_result, packer_refuses) in enumerate(forms.FORMS):
            with self.subTest(name):
                archive, _, result = self.read(f"form{number}", make())
                self.assertEqual(result, setup_result)
                refusals = packer_refusals(archive)
                self.assertEqual(bool(refusals), packer_refuses, refusals)

    def test_archives_of_common_writers(self):
        for number, writer in enumerate(forms.WRITERS):
            with self.subTest(writer):
                archive = os.path.join(self.tmp, f"writer{number}.zip")
                forms.make_with_writer(writer, archive)
                _, destination, result = self.read(f"writer{number}", open(archive, "rb").read())
                self.assertEqual(result, forms.EXTRACTED)
                self.assertEqual(packer_refusals(archive), "")
                with zipfile.ZipFile(archive) as z:
                    expected = {i.filename: z.read(i) for i in z.infolist() if not i.is_dir()}
                found = {}
                for folder, _, names in os.walk(destination):
                    for file in names:
                        path = os.path.join(folder, file)
                        found[os.path.relpath(path, destination).replace(os.sep, "/")] = open(path, "rb").read()
                self.assertEqual(found, expected)


if __name__ == "__main__":
    parser = argparse.ArgumentParser()
    parser.add_argument("--reader", required=True)
    parser.add_argument("--packer", required=True)
    parser.add_argument("--emulator")
    ARGS, rest = parser.parse_known_args()
    unittest.main(argv=[sys.argv[0]] + rest)
