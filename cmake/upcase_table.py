#!/usr/bin/env python3
"""Writes the simple upper-case mapping of the Basic Multilingual Plane from Unicode's own data
file (Debian's unicode-data package): one "{from, to}," pair a line, sorted by `from`, for every
code point below U+10000 whose simple upper-case mapping is another code point below U+10000.
File systems on Windows compare names by such a table of 16-bit units.

Usage: upcase_table.py UnicodeData.txt OUTPUT
"""
import sys


def main(source, output):
    pairs = []
    with open(source, encoding="utf-8") as data:
        for line in data:
            fields = line.split(";")
            if len(fields) < 13 or not fields[12]:
                continue
            code, upper = int(fields[0], 16), int(fields[12], 16)
            if code < 0x10000 and upper < 0x10000 and upper != code:
                pairs.append((code, upper))
    if len(pairs) < 1000:
        sys.exit(f"{source}: only {len(pairs)} upper-case mappings; is it UnicodeData.txt?")
    with open(output, "w", encoding="ascii") as out:
        out.write("// Generated from UnicodeData.txt by cmake/upcase_table.py.\n")
        out.writelines(f"{{0x{code:04X}, 0x{upper:04X}}},\n" for code, upper in sorted(pairs))


if __name__ == "__main__":
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    main(*sys.argv[1:])
