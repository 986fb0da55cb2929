#!/usr/bin/env python3
"""Writes the Unicode tables the access-code cleaning needs as a C++ source:
the White_Space code points and the full upper-case mapping (the simple
mappings of UnicodeData.txt overridden by the unconditional entries of
SpecialCasing.txt). Both builds compile the same generated table.

usage: unicode_tables.py <unicode data dir> <output .cpp>
"""
import os
import sys


def code_points(field):
    return [int(part, 16) for part in field.split()]


def read_white_space(data_dir):
    points = []
    with open(os.path.join(data_dir, "PropList.txt"), encoding="utf-8") as f:
        for line in f:
            body = line.split("#", 1)[0].strip()
            if not body:
                continue
            span, prop = (part.strip() for part in body.split(";"))
            if prop != "White_Space":
                continue
            first, _, last = span.partition("..")
            points.extend(range(int(first, 16), int(last or first, 16) + 1))
    if not points:
        sys.exit("unicode_tables.py: no White_Space entries in PropList.txt")
    return sorted(points)


def read_upper(data_dir):
    upper = {}
    with open(os.path.join(data_dir, "UnicodeData.txt"), encoding="utf-8") as f:
        for line in f:
            fields = line.rstrip("\n").split(";")
            if len(fields) > 12 and fields[12]:
                upper[int(fields[0], 16)] = [int(fields[12], 16)]
    with open(os.path.join(data_dir, "SpecialCasing.txt"), encoding="utf-8") as f:
        for line in f:
            body = line.split("#", 1)[0].strip()
            if not body:
                continue
            fields = [part.strip() for part in body.split(";")]
            conditions = fields[4] if len(fields) > 4 else ""
            if conditions:  # language- or context-dependent: not applied
                continue
            upper[int(fields[0], 16)] = code_points(fields[3])
    # Entries mapping a character to itself change nothing.
    return {cp: to for cp, to in upper.items() if to != [cp]}


def utf8_literal(points):
    data = "".join(chr(p) for p in points).encode("utf-8")
    return '"' + "".join("\\x%02x" % b for b in data) + '"'


def main():
    data_dir, out_path = sys.argv[1], sys.argv[2]
    white = read_white_space(data_dir)
    upper = read_upper(data_dir)
    lines = [
        "// Generated at build time from the Unicode Character Database; do not edit.",
        '#include "text/unicode_tables.h"',
        "",
        "namespace tarvo::unicode_tables {",
        "",
        "const char32_t white_space[] = {",
    ]
    lines += ["    0x%04X," % p for p in white]
    lines += [
        "};",
        "const std::size_t white_space_count = sizeof(white_space) / sizeof(white_space[0]);",
        "",
        "const UpperMapping upper_mappings[] = {",
    ]
    for cp in sorted(upper):
        lines.append("    {0x%04X, %s}," % (cp, utf8_literal(upper[cp])))
    lines += [
        "};",
        "const std::size_t upper_mapping_count = sizeof(upper_mappings) / sizeof(upper_mappings[0]);",
        "",
        "}  // namespace tarvo::unicode_tables",
        "",
    ]
    tmp = out_path + ".tmp"
    with open(tmp, "w", encoding="ascii") as f:
        f.write("\n".join(lines))
    os.replace(tmp, out_path)


if __name__ == "__main__":
    main()
