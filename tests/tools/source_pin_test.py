#!/usr/bin/env python3
"""The windows lane's builds of libzip and ISA-L refuse any source but the pinned one, before
building.

apt is replaced by stand-ins on PATH that record their calls, so nothing is fetched."""
import hashlib
import os
import re
import shutil
import subprocess
import tempfile
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
SCRIPTS = os.path.normpath(os.path.join(HERE, "..", "..", "scripts"))

APT_CACHE = """#!/bin/sh
echo "apt-cache $*" >>"$APT_CALLS"
[ "$*" = "showsrc $APT_PACKAGE" ] && cat "$APT_SOURCES"
exit 0
"""
# Stands for a download of the pinned version that brings other bytes than Debian's.
APT_GET = """#!/bin/sh
echo "apt-get $*" >>"$APT_CALLS"
printf 'not the upstream tarball' >"$APT_TARBALL"
exit 0
"""


class PinTest:
    """The cases, for the build script of the package named by the subclass."""
    PACKAGE = None

    def setUp(self):
        self.script_name = f"build-{self.PACKAGE}-mingw.sh"
        with open(os.path.join(SCRIPTS, self.script_name), encoding="utf-8") as f:
            text = f.read()
        pin = {name: re.search(rf"^{self.PACKAGE}_{name}=(\S+)$", text, re.M).group(1)
               for name in ("version", "tarball", "sha256")}
        self.version, self.tarball, self.sha256 = pin["version"], pin["tarball"], pin["sha256"]
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
                   APT_SOURCES=self.sources, APT_TARBALL=os.path.join(self.work, self.tarball),
                   APT_PACKAGE=self.PACKAGE)
        # The toolchain file is never reached: every case stops before the build.
        script = os.path.join(SCRIPTS, self.script_name)
        return subprocess.run(["bash", script, self.work, "/nonexistent/toolchain.cmake"], env=env,
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
        self.assertRegex(self.version, r"^[0-9][0-9A-Za-z.+~:]*-[0-9A-Za-z.+~]+$")
        self.assertEqual(self.tarball, f"{self.PACKAGE}_{self.version.rsplit('-', 1)[0]}.orig.tar.xz")
        self.assertRegex(self.sha256, r"^[0-9a-f]{64}$")

    def refusal(self, actual):
        return (f"{self.PACKAGE}: {self.tarball} has SHA-256 {actual}, but {self.PACKAGE} {self.version}'s is "
                f"{self.sha256}; refusing to build it (kept as {self.work}/{self.tarball}.rejected)\n")

    def test_a_cached_tarball_with_other_bytes_is_refused_and_set_aside(self):
        os.makedirs(self.work)
        data = b"a tarball that is not the pinned one\n"
        with open(os.path.join(self.work, self.tarball), "wb") as f:
            f.write(data)
        result = self.run_script()
        actual = hashlib.sha256(data).hexdigest()
        self.assertEqual((result.returncode, result.stdout, result.stderr), (1, "", self.refusal(actual)))
        self.assertEqual(sorted(os.listdir(self.work)), [self.tarball + ".rejected"])
        with open(os.path.join(self.work, self.tarball + ".rejected"), "rb") as f:
            self.assertEqual(f.read(), data)
        self.assertEqual(self.apt_calls(), [])  # a cached tarball is checked, not fetched again

    def test_a_download_with_other_bytes_is_refused(self):
        self.offer((self.PACKAGE, self.version))
        result = self.run_script()
        actual = hashlib.sha256(b"not the upstream tarball").hexdigest()
        self.assertEqual((result.returncode, result.stderr), (1, self.refusal(actual)))
        self.assertEqual(self.apt_calls(), [f"apt-cache showsrc {self.PACKAGE}",
                                            f"apt-get source --download-only {self.PACKAGE}={self.version}"])
        self.assert_nothing_built()

    def test_another_offered_version_is_refused_naming_both(self):
        # Another source package's stanza of the pinned version must not count.
        self.offer((self.PACKAGE, "9.9.9-1"), ("other-zip", self.version), (self.PACKAGE, "9.9.10-2"))
        result = self.run_script()
        self.assertEqual((result.returncode, result.stdout, result.stderr), (1, "", (
            f"{self.PACKAGE}: this build is pinned to Debian's source {self.version}, but apt offers 9.9.10-2, "
            "9.9.9-1; "
            f"check that source, then update the pin in scripts/{self.script_name}\n")))
        self.assertEqual(self.apt_calls(), [f"apt-cache showsrc {self.PACKAGE}"])
        self.assertEqual(os.listdir(self.work), [])

    def test_no_source_package_at_all_points_to_the_bootstrap(self):
        self.offer()
        result = self.run_script()
        self.assertEqual((result.returncode, result.stderr), (1, (
            f"apt offers no {self.PACKAGE} source package: run scripts/bootstrap.sh "
            "(it enables source packages)\n")))
        self.assertEqual(os.listdir(self.work), [])


class LibzipPin(PinTest, unittest.TestCase):
    PACKAGE = "libzip"


class LibisalPin(PinTest, unittest.TestCase):
    PACKAGE = "libisal"


if __name__ == "__main__":
    unittest.main()
