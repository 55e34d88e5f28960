#!/usr/bin/env python3
"""Writes the version header of a setup's resources from its payload's manifest.json.

The version is the `version` member of manifest.json at the archive's root or at the root of
its one top-level folder; a payload without one gets 0.0.0.

Usage: payload_version.py <payload.zip> <output.h>
"""
import json
import os
import re
import sys
import zipfile


def payload_version(archive):
    try:
        with zipfile.ZipFile(archive) as z:
            for info in z.infolist():
                parts = [p for p in re.split(r"[\\/]", info.filename) if p]
                if parts and parts[-1] == "manifest.json" and len(parts) <= 2:
                    text = z.read(info).decode("utf-8-sig")
                    version = json.loads(text).get("version", "")
                    if re.fullmatch(r"\d+\.\d+\.\d+", version):
                        return version
    except (zipfile.BadZipFile, ValueError, KeyError, OSError):
        pass  # a payload broken on purpose still builds; the setup itself never reads this
    return "0.0.0"


def main(archive, output):
    version = payload_version(archive)
    numbers = ",".join(version.split(".") + ["0"])
    text = ("/* Generated from the payload's manifest.json; do not edit. */\n"
            f"#define ZARVO_VERSION_NUMBERS {numbers}\n"
            f"#define ZARVO_VERSION_TEXT \"{version}\"\n")
    if os.path.exists(output) and open(output).read() == text:
        return
    with open(output, "w") as f:
        f.write(text)


if __name__ == "__main__":
    if len(sys.argv) != 3:
        raise SystemExit(__doc__)
    main(sys.argv[1], sys.argv[2])
