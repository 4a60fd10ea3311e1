#!/usr/bin/env python3
"""Writes the seed corpora under fuzz/corpus/<target>/, in each target's own
input layout, from the unit tests' cases, examples/ and data/. Seeds of the
same name are replaced, others are left alone."""
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)


def write(target, name, data):
    folder = os.path.join(HERE, "corpus", target)
    os.makedirs(folder, exist_ok=True)
    if isinstance(data, str):
        data = data.encode("latin-1")
    with open(os.path.join(folder, name), "wb") as f:
        f.write(data)


def read(*parts):
    with open(os.path.join(ROOT, *parts), "rb") as f:
        return f.read()


# --- fuzz_options: mode byte, NUL-separated arguments, then after three
# NUL bytes the settings file.
OPTIONS = {
    "field2": (0, ["-j2", "wide.txt", "narrow.txt"], None),
    "decimal": (0, ["-e2", "-H\\x26", "wide"], None),
    "separators": (0, ["-S\\t", "-s;", "w"], None),
    "cluster_limits": (0, ["-tZ", "-j300", "-c5", "w"], None),
    "out": (0, ["--out", "wide", "narrow"], None),
    "fname": (0, ["-F", "narrow", "wide"], None),
    "underscore": (0, ["-_", "name", "wide"], None),
    "line_ends": (0, ["-LF", "-CRLF", "-I3-5", "-~7", "-@0101", "-E1", "w"], None),
    "overflow": (0, ["-j2", "-j99999999999", "-n2147483647", "w"], None),
    "characters": (0, ["-W\\x26", "-w~", "-A\\A", "-a\xb1", "-h9",
                       "-S\\xZZ", "-S\\x1", "-H\\\xcd", "-S\\q", "w"], None),
    "guide": (0, ["--help", "-VC", "-V", "-x-", "-K-", "-0-", "w"], None),
    "plain_names": (0, ["a", "b", "c"], None),
    "hyphens": (0, ["-", "--", "-S", "-s", "-St", "-S,", "w"], None),
    "products": (0, ["-j2", "products.txt", "names.txt"], None),
    "chain": (0, ["-e300", "-n3", "-d2", "-k4", "-o1", "-P7", "-}3", "w"], None),
    "settings": (1, ["-j2", "wide"],
                 "UTF16~MS932.bin\r\n-S\\t\tremark\r\n-j3\r\n\r\n-j4\r\n"),
    "settings_names": (1, ["first"], "t\r\nsettings-wide\r\n-K\r\n-M\r\n"),
    "empty_first": (2, ["", "-j2"], None),
}
for name, (mode, args, settings) in OPTIONS.items():
    data = bytes([mode]) + b"\0".join(a.encode("latin-1") for a in args)
    if settings is not None:
        data += b"\0\0\0" + settings.encode("latin-1")
    write("fuzz_options", name, data)

# --- fuzz_settings and fuzz_surrogate_list: the file itself.
for target, seeds in {
    "fuzz_settings": {
        "example": read("examples", "spreadsheet", "set_pelmora.txt"),
        "field3_tab": "x\r\n-j3\r\n-S\\t\r\n",
        "remark": "x\n-j2\tthe second field\n-q\n",
        "stops_at_empty": "x\r\n-j2\r\n\r\n-j5\r\n",
        "one_line": "UTF16~MS932.bin",
        "lf_line": "x\r\n-LF\r\n-L\r\n-0-\r\n",
        "names": "x\r\nother.txt\r\n-F\r\nnarrow.txt\r\n",
        "many_lines": "x\r\n" + "".join("-j%d\r\n" % i for i in range(1, 71)),
        "long_line": "x\r\n-s" + "a" * 300 + "\r\n-K-\r\n",
        "characters":
            "x\r\n-W\\x26\r\n-A\\s\r\n-h\r\n-H\\v\r\n-S\\l\r\n-I5x\r\n",
    },
    "fuzz_surrogate_list": {
        "example": read("examples", "spreadsheet", "surro.txt"),
        "one": "20B9F\r\n",
        "empty_line_ends": "20B9F\r\n\r\n2A6B2\r\n",
        "remark_lower": "20B9F remark\n20b9f\n",
        "stop": "20000\r\n80000000\r\n",
        "largest": "7FFFFFFF\r\n123456789\r\n2000B",
        "range_ends": "3FFFF\n20000\n1FFFF\n40000\n",
        "carriage_returns": "\r20B9F\r2A6B2\r\r\n",
    },
}.items():
    for name, data in seeds.items():
        write(target, name, data)

# --- fuzz_table_loader: mode byte, filler byte, table bytes.
reverse = read("data", "MS932~UTF16.bin")


def derive(records):
    out = bytearray()
    for i in range(0, len(records) - len(records) % 4, 4):
        b0, b1, lo, hi = records[i:i + 4]
        if b1 == 0:
            out += bytes([lo, hi, 0 if b0 < 0x80 else 2, b0, 0])
        else:
            out += bytes([lo, hi, 1, b0, b1])
    return bytes(out)


table = derive(reverse)
for name, start, end in (("ascii", 0, 5 * 40), ("katakana", 5 * 150, 5 * 200),
                         ("kanji", 5 * 4000, 5 * 4060),
                         ("twelve_bytes", 5 * 60, 5 * 60 + 12), ("empty", 0, 0)):
    write("fuzz_table_loader", name, b"\0\0" + table[start:end])
write("fuzz_table_loader", "odd_kinds",
      b"\0\0" + bytes([0x41, 0x30, 0, 0x41, 0, 0x42, 0x30, 7, 0x88, 0x9F,
                       0xE6, 0xFF, 2, 0xB1, 0, 0xFF, 0xFF, 1, 0x81, 0x40,
                       0x00, 0xD8, 1, 0x81, 0x51]))
write("fuzz_table_loader", "straddle", b"\x01\x03" + table[5 * 300:5 * 340])
write("fuzz_table_loader", "twice", b"\x06\0" + table[5 * 500:5 * 520] + b"\x12")

# --- fuzz_splitter: mode, separator, limit choice, appended character,
# suffix length, suffix, line.
LIMIT_3071 = 11


def split_seed(name, line, mode=1, separator=";", limit=LIMIT_3071,
               appended="\\", suffix="x.exe"):
    data = bytes([mode, ord(separator), limit, ord(appended), len(suffix)])
    data += suffix.encode("latin-1") + line.encode("latin-1")
    write("fuzz_splitter", name, data)


split_seed("path", "C:\\A;D:\\B")
split_seed("empty_middle", "A;;B")
split_seed("empty_last", "A;B;")
split_seed("empty_line", "")
split_seed("quoted", "\"C:\\My;Dir\";D:\\B")
split_seed("quoted_kept", "\"C:\\My;Dir\";D:\\B", mode=0, separator=",")
split_seed("trail_is_separator", "\x83\x5c\\a\\b", separator="\\")
split_seed("limit2", "a;b;c;d", limit=1)
split_seed("ring_full", ";" * 3075 + "z", suffix="")
split_seed("katakana_lead_end", "\xb1;\xdf\"\x81", suffix="")
split_seed("no_list", "a;b", mode=2 | 4)
split_seed("short_length", "abc;def;ghi", mode=1 | (3 << 3))

# --- fuzz_engines: seven header bytes, then the wide file.
TAB, QUOTE, TILDE, BAR = 1, 5, 6, 2


def engine_seed(name, wide, column=0, field=1, separator=0, quote=QUOTE,
                flags=0, katakana=0x5F, completion=0x30, route=0, tile=0):
    if isinstance(wide, str):
        wide = wide.encode("utf-16-le", "surrogatepass")
    header = bytes([column | flags, field | route, separator, quote,
                    katakana, completion, tile])
    write("fuzz_engines", name, header + wide)


products = read("examples", "spreadsheet", "products.txt")
engine_seed("products_j2", products, field=2, separator=TAB)
engine_seed("products_e3", products, column=1, field=3, separator=TAB)
engine_seed("products_n3_lf", products, column=2, field=3, separator=TAB,
            flags=0x80)
engine_seed("products_o2_k", products, field=2, separator=TAB,
            flags=0x40 | 0x08)
engine_seed("products_p1_d", products, field=1, separator=TAB,
            flags=0x20 | 0x10, route=0x10)
engine_seed("fields", "a,b,c\na,b\nx,y,z\n", field=2)
engine_seed("quotes", "\"x,y\",z\n\"a\"\"b\",c\n", field=1, flags=0x04)
engine_seed("open_quote", "h\n\"a,b\nc,d\n", field=2)
engine_seed("cr_anywhere", "a\rb,c\r\n", field=1, route=0x20)
engine_seed("bom", "\ufeffa,b\n", field=1)
engine_seed("kanji_kana", "名前,値段\nりんご,１２\nｱｲｳ,ﾞﾟ\n①髙\n", field=1)
engine_seed("listed_pair", "\U00020B9F,x\n\U0001F600\n", field=1)
engine_seed("lf_after_high", "\ud842\n,x\n", field=1)
engine_seed("decimals", "a,x12.5y,c\n-3.25-7\n1.2.3\nabc\n", column=1,
            field=2)
engine_seed("integers", "--5\n1.2.3\n~1,2~,3\n", column=2, field=1,
            quote=TILDE)
engine_seed("wiki", "| 3.5 | x |\n", column=1, field=2, separator=BAR,
            completion=0x26)
engine_seed("filtered", "a\tb\x7f\xa0H,hI\n", column=3, field=1,
            flags=0x40 | 0x20)
engine_seed("odd_byte", b"a\0,\0b\0\n\0c")
engine_seed("tiled_fields", "a,\U00020B9Fb,\"c\r\n", field=2, tile=0xF1)
engine_seed("tiled_numbers", "x,-12.5,\n\u3042,7\n", column=1, field=2,
            tile=0xF5)
engine_seed("tiled_filtered", "H\tI,\uff71\u00a0\n", column=3, field=1,
            flags=0x40 | 0x20 | 0x08, tile=0xF2)
