#!/usr/bin/env python3
"""Writes data/MS932~UTF16.bin, the Shift_JIS -> UTF-16 table of the
Microsoft variant of code page 932.

Each record is 4 bytes: first Shift_JIS byte, second Shift_JIS byte (0 for a
one-byte code), low byte and high byte of the UTF-16 code unit. There is no
header, so the file cannot name this tool itself; data/README.md does.

The mappings come from Python's 'cp932' decoder, which decodes the Microsoft
variant (0x80, 0xA0, 0xFD..0xFF and the user-defined area included). Its
encoder is not used: for code units that several codes decode to, it picks
differently from Windows (U+2170 becomes EE EF, Windows writes FA 40).

The table is reversed when it is loaded and a later record for the same code
unit replaces an earlier one. So records are written in groups, the code
Windows is least likely to write first:
  1. NEC-selected IBM extensions (lead bytes 0xED, 0xEE)
  2. IBM extensions (lead bytes 0xFA..0xFC)
  3. NEC row 13 (lead byte 0x87)
  4. everything else: one-byte codes, JIS X 0208 rows, the user-defined area
Within a group records follow the Shift_JIS code, so the output is the same
on every run.

Six characters of JIS X 0208 follow the four groups, each a second record
for a code that has one already: WAVE DASH 0x8160, DOUBLE VERTICAL LINE
0x8161, MINUS SIGN 0x817C, CENT SIGN 0x8191, POUND SIGN 0x8192 and NOT SIGN
0x81CA. The code page decodes these codes to other forms (U+FF5E, U+2225,
U+FF0D, U+FFE0, U+FFE1, U+FFE2), yet Windows, the C library's converter and
Python's codec all write them for the six as well; without these records the
six would have no code at all. As the only records of their units they give
them their codes when the table is reversed; coming after the record each
code decodes to, they leave whoever decodes a code by its first record with
what the code page decodes.

Usage: tools/make_ms932_table.py [OUTPUT]   (default: data/MS932~UTF16.bin
next to this tool's folder)
"""

import os
import sys

LEAD_BYTES = list(range(0x81, 0xA0)) + list(range(0xE0, 0xFD))
TRAIL_BYTES = list(range(0x40, 0x7F)) + list(range(0x80, 0xFD))

# Group numbers: written in descending order, so group 0 ends up last and wins.
GROUP_JIS = 0
GROUP_NEC_ROW_13 = 1
GROUP_IBM = 2
GROUP_NEC_SELECTED_IBM = 3


def group_of(first, second):
    if second == 0:
        return GROUP_JIS
    if first in (0xED, 0xEE):
        return GROUP_NEC_SELECTED_IBM
    if 0xFA <= first <= 0xFC:
        return GROUP_IBM
    if first == 0x87:
        return GROUP_NEC_ROW_13
    return GROUP_JIS


# (first, second, unit): JIS X 0208 characters whose codes the code page
# decodes to another unit.
JIS_FORMS = [
    (0x81, 0x60, 0x301C),  # WAVE DASH; decodes to U+FF5E
    (0x81, 0x61, 0x2016),  # DOUBLE VERTICAL LINE; U+2225
    (0x81, 0x7C, 0x2212),  # MINUS SIGN; U+FF0D
    (0x81, 0x91, 0x00A2),  # CENT SIGN; U+FFE0
    (0x81, 0x92, 0x00A3),  # POUND SIGN; U+FFE1
    (0x81, 0xCA, 0x00AC),  # NOT SIGN; U+FFE2
]


def decode_unit(code):
    """The one BMP code unit that `code` decodes to, or None."""
    try:
        text = code.decode("cp932")
    except UnicodeDecodeError:
        return None
    if len(text) != 1:
        return None
    unit = ord(text)
    if unit > 0xFFFF or 0xD800 <= unit <= 0xDFFF:
        return None
    return unit


def collect():
    """(first, second, unit) for every code that decodes to one unit."""
    found = []
    for first in range(0x100):
        unit = decode_unit(bytes([first]))
        if unit is not None:
            found.append((first, 0, unit))
    for first in LEAD_BYTES:
        for second in TRAIL_BYTES:
            unit = decode_unit(bytes([first, second]))
            if unit is not None:
                found.append((first, second, unit))
    return found


def ordered(records):
    # Two codes of one group for the same unit would leave the winner to
    # chance; Windows has no such case, so stop rather than guess.
    seen = {}
    for first, second, unit in records:
        key = (unit, group_of(first, second))
        if key in seen:
            raise SystemExit(
                "ambiguous preference for U+%04X: %02X%02X and %02X%02X"
                % (unit, seen[key][0], seen[key][1], first, second))
        seen[key] = (first, second)
    return sorted(records,
                  key=lambda r: (-group_of(r[0], r[1]), r[0], r[1]))


def with_jis_forms(records):
    # Each must add a unit to a code the code page has, never replace one.
    units = {unit for _, _, unit in records}
    codes = {(first, second) for first, second, _ in records}
    for first, second, unit in JIS_FORMS:
        if unit in units or (first, second) not in codes:
            raise SystemExit("U+%04X at %02X%02X is no extra record"
                             % (unit, first, second))
    return records + JIS_FORMS


def encode(records):
    out = bytearray()
    for first, second, unit in records:
        out += bytes([first, second, unit & 0xFF, unit >> 8])
    return bytes(out)


def main(argv):
    if len(argv) > 2:
        sys.stderr.write("usage: make_ms932_table.py [OUTPUT]\n")
        return 2
    if len(argv) == 2:
        path = argv[1]
    else:
        root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
        path = os.path.join(root, "data", "MS932~UTF16.bin")
    records = with_jis_forms(ordered(collect()))
    data = encode(records)
    with open(path, "wb") as f:
        f.write(data)
    sys.stdout.write("%s: %d records, %d bytes\n"
                     % (path, len(records), len(data)))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
