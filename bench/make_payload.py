#!/usr/bin/env python3
"""Writes a payload folder shaped like the as-built one: the same 47 paths, about 222 MB in all,
and content that compresses like real program files (about 2.67 : 1 at DEFLATE level 9).

Program files are built from the machine's own ELF binaries, cut and concatenated, with a share
of incompressible blocks mixed in to bring their ratio from that of Linux binaries down to that of
the product's programs. The output is deterministic for a given machine.

Usage: make_payload.py <folder>
"""
import os
import random
import sys
import zlib

TOTAL = 222_475_731
TARGET_RATIO = 222_475_731 / 83_207_116
EXES = ["zarvo", "zarvod", "zarvo-hud", "zarvo-agent", "zarvo-cli2", "zarvo-sync", "zarvo-net",
        "zarvo-shell", "zarvo-log", "zarvo-probe", "zarvo-relay", "zarvo-update"]
# Relative sizes of the programs, largest first, as a product's binaries tend to be.
WEIGHTS = [44, 36, 30, 24, 20, 16, 14, 12, 10, 7, 5, 3]
BLOCK = 1 << 20


def elf_files():
    found = []
    for folder in ("/usr/lib/x86_64-linux-gnu", "/usr/bin", "/usr/lib"):
        if not os.path.isdir(folder):
            continue
        for name in sorted(os.listdir(folder)):
            path = os.path.join(folder, name)
            if os.path.islink(path) or not os.path.isfile(path):
                continue
            size = os.path.getsize(path)
            if size < 64 * 1024 or size > 16 * BLOCK:
                continue
            with open(path, "rb") as f:
                if f.read(4) == b"\x7fELF":
                    found.append(path)
    if not found:
        raise SystemExit("no ELF binaries found to build program-like content from")
    return found


def elf_stream():
    while True:
        for path in elf_files():
            with open(path, "rb") as f:
                yield f.read()


def ratio(data):
    c = zlib.compressobj(9, zlib.DEFLATED, -15, 9)
    return len(data) / len(c.compress(data) + c.flush())


def program_bytes(total, stream, noise_share, rng):
    """`total` bytes: ELF content with a `noise_share` of incompressible 64 KiB blocks."""
    out = bytearray()
    pending = b""
    while len(out) < total:
        if rng.random() < noise_share:
            out += rng.randbytes(64 * 1024)
            continue
        if len(pending) < 64 * 1024:
            pending += next(stream)
        out += pending[:64 * 1024]
        pending = pending[64 * 1024:]
    return bytes(out[:total])


def main(folder):
    rng = random.Random(20240611)
    # Measure how the ELF content compresses here and mix in just enough noise to reach the
    # product's ratio: compressed = (1 - s) / r + s per byte.
    sample = program_bytes(24 * BLOCK, elf_stream(), 0.0, random.Random(1))
    elf_ratio = ratio(sample)
    share = max(0.0, (1 / TARGET_RATIO - 1 / elf_ratio) / (1 - 1 / elf_ratio))
    print(f"ELF content ratio {elf_ratio:.2f}; incompressible share {share:.3f}", file=sys.stderr)

    docs = {}
    docs["config/release-signers"] = b"zarvo-release ssh-ed25519 " + b"A" * 68 + b"\n"
    docs["skills/README.md"] = b"# Skills\n\n" + b"Agent-facing documents, one folder each.\n" * 40
    for i in range(28):
        body = f"---\nname: skill-{i}\ndescription: what skill {i} does\n---\n\n".encode()
        body += (f"Step {i}: run `zarvo status` and read the output carefully.\n" * (30 + i)).encode()
        docs[f"skills/skill-{i:02d}/SKILL.md"] = body
    docs["zarvo.ico"] = rng.randbytes(180_000)  # PNG images: incompressible
    docs["install.ps1"] = b"$ErrorActionPreference = 'Stop'\r\n" + b"Write-Host 'installing'\r\n" * 400
    docs["LICENSE.md"] = b"Permission is hereby granted, free of charge, to any person.\n" * 300
    docs["manifest.json"] = b'\xef\xbb\xbf{\r\n  "version": "1.2.3",\r\n  "verified": true\r\n}\r\n'
    docs["README.md"] = b"# Payload\n\nPackaging and installation notes.\n" * 200

    remaining = TOTAL - sum(len(v) for v in docs.values())
    sizes = [remaining * w // sum(WEIGHTS) for w in WEIGHTS]
    sizes[0] += remaining - sum(sizes)

    stream = elf_stream()
    for name, size in zip(EXES, sizes):
        path = os.path.join(folder, "bin", name + ".exe")
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(program_bytes(size, stream, share, rng))
    for rel, data in docs.items():
        path = os.path.join(folder, *rel.split("/"))
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(data)
    count = sum(len(files) for _, _, files in os.walk(folder))
    print(f"{count} files, {TOTAL} bytes", file=sys.stderr)


if __name__ == "__main__":
    if len(sys.argv) != 2:
        raise SystemExit(__doc__)
    main(sys.argv[1])
