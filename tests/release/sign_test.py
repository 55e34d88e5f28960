#!/usr/bin/env python3
"""Signs the built setup with a throw-away certificate, verifies the signature, and runs the
signed setup under Wine: the signature is appended after the image, so it must still extract
the payload and run its installer.

Usage: sign_test.py <zarvo-setup.exe> <stand-in powershell.exe> <envrun.exe> <wine runner>
"""
import json
import os
import re
import shutil
import subprocess
import sys
import tempfile


def wine_path(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def main(setup, stand_in, envrun, wine):
    scratch = tempfile.mkdtemp(prefix="zarvo-sign-")
    try:
        key, cert = os.path.join(scratch, "key.pem"), os.path.join(scratch, "cert.pem")
        subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2",
                        "-subj", "/CN=zarvo throw-away test signer", "-addext", "extendedKeyUsage=codeSigning",
                        "-keyout", key, "-out", cert], check=True, capture_output=True)
        folder = os.path.join(scratch, "signed")
        os.mkdir(folder)
        signed = os.path.join(folder, "zarvo-setup.exe")
        subprocess.run(["osslsigncode", "sign", "-certs", cert, "-key", key, "-n", "zarvo setup",
                        "-in", setup, "-out", signed], check=True, capture_output=True)
        verify = subprocess.run(["osslsigncode", "verify", "-CAfile", cert, "-in", signed],
                                capture_output=True, text=True)
        if verify.returncode != 0 or "Signature verification: ok" not in verify.stdout:
            sys.exit("signature does not verify:\n" + verify.stdout + verify.stderr)
        if os.path.getsize(signed) <= os.path.getsize(setup):
            sys.exit("the signed image is not larger than the unsigned one")

        shutil.copy(stand_in, os.path.join(folder, "powershell.exe"))
        temp = os.path.join(scratch, "temp dir")
        local = os.path.join(scratch, "local")
        os.makedirs(temp)
        os.makedirs(local)
        record = os.path.join(scratch, "record.json")
        run = subprocess.run(
            [wine, envrun, f"TEMP={wine_path(temp)}", f"TMP={wine_path(temp)}",
             f"LOCALAPPDATA={wine_path(local)}", f"ZARVO_PS_RECORD={wine_path(record)}", "ZARVO_PS_EXIT=0",
             "--", wine_path(signed)],
            stdin=subprocess.DEVNULL, capture_output=True, timeout=120)
        out = run.stdout.decode("utf-8")
        size = re.search(r"payload: (\d+) bytes", out)
        work = wine_path(temp) + "\\zarvo-setup-"
        expected = re.escape("zarvo-setup \u2014 installing zarvo\npayload: ") + r"\d+" + re.escape(
            " bytes, embedded and signed with this installer\n\nextracting to " + work) + r"(\d+)" + re.escape(
            "\nrunning the payload's installer\n\n"
            "\nzarvo is installed. A NEW terminal (the PATH change needs one) has: zarvo status\n"
            "\nDone. zarvo and zarvod are installed; zarvod starts at every logon on its own.\n"
            "Open Zarvo from the Start menu to see what was installed and what to do next.\n"
            "This window closes in 15 seconds.\n")
        match = re.fullmatch(expected, out)
        if run.returncode != 0 or not match or run.stderr != b"":
            sys.exit(f"signed setup: exit {run.returncode}\nstdout: {out!r}\nstderr: {run.stderr!r}")
        recorded = json.load(open(record, encoding="utf-8"))
        script = work + match.group(1) + "\\install.ps1"
        want = f'"powershell" -NoProfile -ExecutionPolicy Bypass -File "{script}"'
        if recorded["command_line"] != want:
            sys.exit(f"installer command line {recorded['command_line']!r}, expected {want!r}")
        if os.path.exists(os.path.join(temp, "zarvo-setup-" + match.group(1))):
            sys.exit("the work directory was not removed after success")
        print(f"signed ({os.path.getsize(signed) - os.path.getsize(setup)} bytes of signature), verified, "
              f"and the signed setup installed its payload of {size.group(1)} bytes")
    finally:
        shutil.rmtree(scratch, ignore_errors=True)


if __name__ == "__main__":
    if len(sys.argv) != 5:
        sys.exit(__doc__)
    main(*sys.argv[1:])
