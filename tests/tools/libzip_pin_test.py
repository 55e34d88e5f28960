#!/usr/bin/env python3
"""The windows lane's libzip build refuses any source but the pinned one, before building.

apt is replaced by stand-ins on PATH that record their calls, so nothing is fetched."""
import hashlib
import os
import re
import shutil
import subprocess
import tempfile
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
SCRIPT = os.path.normpath(os.path.join(HERE, "..", "..", "scripts", "build-libzip-mingw.sh"))


def pin(name):
    with open(SCRIPT, encoding="utf-8") as f:
        return re.search(rf"^{name}=(\S+)$", f.read(), re.M).group(1)


VERSION, TARBALL, SHA256 = pin("libzip_version"), pin("libzip_tarball"), pin("libzip_sha256")

APT_CACHE = """#!/bin/sh
echo "apt-cache $*" >>"$APT_CALLS"
[ "$*" = "showsrc libzip" ] && cat "$APT_SOURCES"
exit 0
"""
# Stands for a download of the pinned version that brings other bytes than Debian's.
APT_GET = """#!/bin/sh
echo "apt-get $*" >>"$APT_CALLS"
printf 'not the upstream tarball' >"$APT_TARBALL"
exit 0
"""


class PinTest(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.mkdtemp()
        self.bin = os.path.join(self.tmp, "bin")
        os.mkdir(self.bin)
        for name, text in (("apt-cache", APT_CACHE), ("apt-get", APT_GET)):
            path = os.path.join(self.bin, name)
            with open(path, "w") as f:
                f.write(text)
            os.chmod(path, 0o755)
        self.work = os.path.join(self.tmp, "work")
        self.calls = os.path.join(self.tmp, "calls")
        self.sources = os.path.join(self.tmp, "sources")

    def tearDown(self):
        shutil.rmtree(self.tmp)

    def offer(self, *stanzas):
        with open(self.sources, "w") as f:
            f.write("\n".join(f"Package: {p}\nBinary: {p}-dev\nVersion: {v}\n" for p, v in stanzas))

    def run_script(self):
        env = dict(os.environ, PATH=self.bin + os.pathsep + os.environ["PATH"], APT_CALLS=self.calls,
                   APT_SOURCES=self.sources, APT_TARBALL=os.path.join(self.work, TARBALL))
        # The toolchain file is never reached: every case stops before the build.
        return subprocess.run(["bash", SCRIPT, self.work, "/nonexistent/toolchain.cmake"], env=env,
                              capture_output=True, text=True)

    def apt_calls(self):
        if not os.path.exists(self.calls):
            return []
        with open(self.calls) as f:
            return f.read().splitlines()

    def assert_nothing_built(self):
        for name in ("src", "build", "install"):
            self.assertFalse(os.path.exists(os.path.join(self.work, name)), name)

    def test_the_pin_is_a_version_and_a_sha256(self):
        self.assertRegex(VERSION, r"^[0-9][0-9A-Za-z.+~:]*-[0-9A-Za-z.+~]+$")
        self.assertEqual(TARBALL, f"libzip_{VERSION.rsplit('-', 1)[0]}.orig.tar.xz")
        self.assertRegex(SHA256, r"^[0-9a-f]{64}$")

    def test_a_cached_tarball_with_other_bytes_is_refused_and_set_aside(self):
        os.makedirs(self.work)
        data = b"a tarball that is not the pinned one\n"
        with open(os.path.join(self.work, TARBALL), "wb") as f:
            f.write(data)
        result = self.run_script()
        actual = hashlib.sha256(data).hexdigest()
        self.assertEqual((result.returncode, result.stdout, result.stderr), (1, "", (
            f"libzip: {TARBALL} has SHA-256 {actual}, but libzip {VERSION}'s is {SHA256}; refusing to build "
            f"it (kept as {self.work}/{TARBALL}.rejected)\n")))
        self.assertEqual(sorted(os.listdir(self.work)), [TARBALL + ".rejected"])
        with open(os.path.join(self.work, TARBALL + ".rejected"), "rb") as f:
            self.assertEqual(f.read(), data)
        self.assertEqual(self.apt_calls(), [])  # a cached tarball is checked, not fetched again

    def test_a_download_with_other_bytes_is_refused(self):
        self.offer(("libzip", VERSION))
        result = self.run_script()
        actual = hashlib.sha256(b"not the upstream tarball").hexdigest()
        self.assertEqual((result.returncode, result.stderr), (1, (
            f"libzip: {TARBALL} has SHA-256 {actual}, but libzip {VERSION}'s is {SHA256}; refusing to build "
            f"it (kept as {self.work}/{TARBALL}.rejected)\n")))
        self.assertEqual(self.apt_calls(), ["apt-cache showsrc libzip", f"apt-get source --download-only libzip={VERSION}"])
        self.assert_nothing_built()

    def test_another_offered_version_is_refused_naming_both(self):
        # Another source package's stanza of the pinned version must not count.
        self.offer(("libzip", "9.9.9-1"), ("other-zip", VERSION), ("libzip", "9.9.10-2"))
        result = self.run_script()
        self.assertEqual((result.returncode, result.stdout, result.stderr), (1, "", (
            f"libzip: this build is pinned to Debian's source {VERSION}, but apt offers 9.9.10-2, 9.9.9-1; "
            "check that source, then update the pin in scripts/build-libzip-mingw.sh\n")))
        self.assertEqual(self.apt_calls(), ["apt-cache showsrc libzip"])
        self.assertEqual(os.listdir(self.work), [])

    def test_no_source_package_at_all_points_to_the_bootstrap(self):
        self.offer()
        result = self.run_script()
        self.assertEqual((result.returncode, result.stderr), (1, (
            "apt offers no libzip source package: run scripts/bootstrap.sh (it enables source packages)\n")))
        self.assertEqual(os.listdir(self.work), [])


if __name__ == "__main__":
    unittest.main()
