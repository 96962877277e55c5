#!/usr/bin/env python3
"""Generates src/text_form/unicode_tables.cpp, the Unicode tables behind text escaping.

Input: the Unicode Character Database as installed by Debian's `unicode-data` package
(version 15.0.0 when this was last run):

  UnicodeData.txt            general categories; code points that are not listed are Cn
                             (unassigned), "<..., First>"/"<..., Last>" line pairs cover ranges
  DerivedCoreProperties.txt  the Grapheme_Extend property; its first line names the version

Output: two sets, each as a sorted list of boundaries (the first code point of every range,
then the first code point after it), so that a code point is in the set when an odd number of
boundaries are <= it:

  kGraphemeExtend  code points with Grapheme_Extend
  kNonPrintable    code points whose general category is Cc, Cf, Cs, Co, Cn, Zl, Zp or Zs,
                   except the blank U+0020

Usage: tools/gen_unicode_tables.py [--ucd DIR] [--out FILE]
"""

import argparse
import os
import re
import sys

DEFAULT_UCD = "/usr/share/unicode"
DEFAULT_OUT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "src", "text_form",
                           "unicode_tables.cpp")
MAX_CODE_POINT = 0x10FFFF
NON_PRINTABLE_CATEGORIES = {"Cc", "Cf", "Cs", "Co", "Cn", "Zl", "Zp", "Zs"}
ALWAYS_PRINTABLE = {0x20}


def read_categories(path):
    """Returns a list of the general category of every code point 0..MAX_CODE_POINT."""
    categories = ["Cn"] * (MAX_CODE_POINT + 1)
    range_start = None
    with open(path, encoding="utf-8") as f:
        for line_no, line in enumerate(f, 1):
            line = line.strip()
            if not line:
                continue
            fields = line.split(";")
            if len(fields) < 3:
                sys.exit(f"{path}:{line_no}: malformed line")
            code = int(fields[0], 16)
            name, category = fields[1], fields[2]
            if name.endswith(", First>"):
                if range_start is not None:
                    sys.exit(f"{path}:{line_no}: range opened twice")
                range_start = (code, category)
                continue
            if name.endswith(", Last>"):
                if range_start is None or range_start[1] != category:
                    sys.exit(f"{path}:{line_no}: range end without matching start")
                for c in range(range_start[0], code + 1):
                    categories[c] = category
                range_start = None
                continue
            if range_start is not None:
                sys.exit(f"{path}:{line_no}: range start not followed by its end")
            categories[code] = category
    if range_start is not None:
        sys.exit(f"{path}: range start at end of file")
    return categories


def read_property(path, wanted):
    """Returns the version named in the file's first line and the set of code points having
    the binary property `wanted`."""
    points = set()
    version = None
    line_re = re.compile(r"^([0-9A-F]+)(?:\.\.([0-9A-F]+))?\s*;\s*(\w+)")
    with open(path, encoding="utf-8") as f:
        for line_no, line in enumerate(f, 1):
            if line_no == 1:
                m = re.match(r"#\s*DerivedCoreProperties-(\d+\.\d+\.\d+)\.txt", line)
                if not m:
                    sys.exit(f"{path}: first line does not name the Unicode version")
                version = m.group(1)
                continue
            m = line_re.match(line)
            if not m or m.group(3) != wanted:
                continue
            first = int(m.group(1), 16)
            last = int(m.group(2), 16) if m.group(2) else first
            points.update(range(first, last + 1))
    if not points:
        sys.exit(f"{path}: no code point has {wanted}")
    return version, points


def boundaries(member):
    """The sorted boundaries of the set of code points c for which member(c) is true."""
    result = []
    inside = False
    for c in range(MAX_CODE_POINT + 1):
        if member(c) != inside:
            result.append(c)
            inside = not inside
    if inside:
        result.append(MAX_CODE_POINT + 1)
    return result


def format_table(name, bounds, comment):
    lines = [f"// {comment}: {len(bounds) // 2} ranges.",
             f"constexpr std::uint32_t {name}Data[] = {{"]
    row = []
    for b in bounds:
        row.append(f"0x{b:X},")
        if len(row) == 8:
            lines.append("    " + " ".join(row))
            row = []
    if row:
        lines.append("    " + " ".join(row))
    lines.append("};")
    lines.append(f"constinit const std::span<const std::uint32_t> {name}{{{name}Data}};")
    return "\n".join(lines)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--ucd", default=DEFAULT_UCD, help="directory of the UCD files")
    parser.add_argument("--out", default=DEFAULT_OUT, help="the C++ file to write")
    args = parser.parse_args()

    categories = read_categories(os.path.join(args.ucd, "UnicodeData.txt"))
    version, extend = read_property(os.path.join(args.ucd, "DerivedCoreProperties.txt"),
                                    "Grapheme_Extend")

    extend_bounds = boundaries(lambda c: c in extend)
    non_printable_bounds = boundaries(
        lambda c: categories[c] in NON_PRINTABLE_CATEGORIES and c not in ALWAYS_PRINTABLE)

    text = f"""\
// Generated by tools/gen_unicode_tables.py from the Unicode Character Database {version}
// (UnicodeData.txt, DerivedCoreProperties.txt). Do not edit; run the script again instead.
//
// Each table is the sorted list of boundaries of a set of code points: the first code point of
// every range, then the first code point after it. A code point is in the set when an odd
// number of boundaries are <= it.
#include "text_form/unicode_tables.h"

namespace tracemill::unicode_tables {{

// The tables keep the generator's layout, eight numbers a line.
// clang-format off
constinit const std::string_view kUnicodeVersion = "{version}";

{format_table("kGraphemeExtend", extend_bounds, "Grapheme_Extend")}

{format_table("kNonPrintable", non_printable_bounds,
              "General category Cc, Cf, Cs, Co, Cn, Zl, Zp or Zs, except U+0020")}
// clang-format on

}}  // namespace tracemill::unicode_tables
"""
    with open(args.out, "w", encoding="ascii") as f:
        f.write(text)
    print(f"Unicode {version}: {len(extend_bounds) // 2} Grapheme_Extend ranges, "
          f"{len(non_printable_bounds) // 2} non-printable ranges -> {args.out}")


if __name__ == "__main__":
    main()
