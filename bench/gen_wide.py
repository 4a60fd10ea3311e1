#!/usr/bin/env python3
"""Deterministic generator of wide (UTF-16LE) benchmark files.

Two kinds:
  sheet  a spreadsheet's Unicode-text export: FF FE, tab separated, CR LF,
         8 columns, quoted fields holding tabs and doubled quotes
  csv    comma separated, LF line ends, no byte-order mark, CSV quoting

Columns (both kinds):
  1 code      A-0000001
  2 name      kanji, hiragana, katakana, half-width katakana, ASCII words
  3 price     -1234.50, 1980, 12.5, 約1200円 ... (the column for -e3)
  4 quantity  integer
  5 category  short word
  6 text      longer description, often quoted
  7 date      2024/03/15
  8 note      often empty

Every character can be encoded in code page 932 by both Python and glibc
iconv, so the iconv pipeline never stops on a character: supplementary
characters, the wave dash, the yen sign and other code points whose CP932
mapping differs between converters are left out on purpose.

The same seed, size and kind give the same bytes (for one Python 3 version):
rows are drawn from per-column pools with random.Random(seed).

Usage:
  gen_wide.py --kind sheet --size-mib 256 --out FILE [--seed N] [--cached]

With --cached an existing FILE whose FILE.meta matches (generator version,
kind, size, seed, byte count) is reused. FILE.meta (JSON) records the number
of lines (line feeds), which is the expected line count of every narrow file.
"""

import argparse
import array
import json
import os
import random
import sys

GENERATOR_VERSION = 1
POOL = 4096  # values per column pool; indices are 12-bit
CHUNK_LINES = 32768

ASCII_WORDS = (
    "Pro mini set pack Type A4 USB LED cable box New Deluxe Lite Max eco "
    "slim kit refill black white red blue green 2in1 XL S M L Wide Cut Air "
    "Plus Basic Smart Light Heavy Duty Set of 3 ver2 model-K9 OEM Premium"
).split()
CATEGORIES_SOURCE = [
    "文房具", "食品", "日用品", "家電", "衣料", "ｷｯﾁﾝ用品", "雑貨", "工具",
    "ペット用品", "書籍", "おもちゃ", "化粧品", "飲料", "ｽﾎﾟｰﾂ", "園芸", "寝具",
]
PUNCT = "、。・（）【】「」　"  # all plain CP932 in every converter


def kanji_pool():
    # Level-1 kanji of code page 932: lead bytes 0x88..0x98.
    out = []
    for hi in range(0x88, 0x99):
        for lo in list(range(0x40, 0x7F)) + list(range(0x80, 0xFD)):
            try:
                c = bytes([hi, lo]).decode("cp932")
            except UnicodeDecodeError:
                continue
            if 0x4E00 <= ord(c) <= 0x9FFF:
                out.append(c)
    return out


KANJI = kanji_pool()
HIRAGANA = [chr(c) for c in range(0x3041, 0x3094)]
KATAKANA = [chr(c) for c in range(0x30A1, 0x30F7)] + ["ー"]
HALF_KANA = [chr(c) for c in range(0xFF66, 0xFF9E)]
HALF_MARKS = ["\uFF9E", "\uFF9F"]  # half-width voiced and semi-voiced marks


class Maker:
    def __init__(self, rng, sep):
        self.r = rng
        self.sep = sep

    def word(self):
        r = self.r
        k = r.random()
        if k < 0.30:
            return "".join(r.choice(KANJI) for _ in range(r.randint(1, 4)))
        if k < 0.50:
            return "".join(r.choice(HIRAGANA) for _ in range(r.randint(2, 5)))
        if k < 0.68:
            return "".join(r.choice(KATAKANA) for _ in range(r.randint(3, 6)))
        if k < 0.83:
            w = []
            for _ in range(r.randint(3, 6)):
                w.append(r.choice(HALF_KANA))
                if r.random() < 0.2:
                    w.append(r.choice(HALF_MARKS))
            return "".join(w)
        if k < 0.95:
            return r.choice(ASCII_WORDS)
        return "%d%s" % (r.randint(1, 999), r.choice(["ml", "g", "個", "枚", "cm", "本"]))

    def phrase(self, lo, hi):
        r = self.r
        parts = []
        for _ in range(r.randint(lo, hi)):
            parts.append(self.word())
            x = r.random()
            if x < 0.15:
                parts.append(" ")
            elif x < 0.25:
                parts.append(r.choice(PUNCT))
        return "".join(parts)

    def quote(self, text, force=False):
        """Quotes a field the way exports do when it holds the separator,
        a quote or (for variety) now and then without need."""
        if force or self.sep in text or '"' in text:
            return '"' + text.replace('"', '""') + '"'
        return text

    def name(self):
        r = self.r
        t = self.phrase(1, 4)
        x = r.random()
        if x < 0.06:
            t = t + self.sep + self.word()  # the separator inside quotes
        elif x < 0.10:
            t = '"' + self.word() + '" ' + t  # doubled quotes inside quotes
        elif x < 0.12:
            return self.quote(t, force=True)
        return self.quote(t)

    def price(self):
        r = self.r
        x = r.random()
        if x < 0.45:
            return "%s%d.%02d" % ("-" if r.random() < 0.15 else "",
                                  r.randint(0, 99999), r.randint(0, 99))
        if x < 0.75:
            return str(r.randint(0, 99999))
        if x < 0.85:
            return "%d.%d" % (r.randint(0, 999), r.randint(0, 9))
        if x < 0.93:
            return "約%d円" % r.randint(1, 99999)
        if x < 0.97:
            return self.quote("%d%s%03d" % (r.randint(1, 99), ",", r.randint(0, 999)))
        return ""

    def text(self):
        r = self.r
        t = self.phrase(4, 14)
        x = r.random()
        if x < 0.15:
            t = t + self.sep + self.phrase(1, 3)
        elif x < 0.25:
            t = t + ' "' + self.phrase(1, 2) + '" ' + self.word()
        elif x < 0.30:
            return self.quote(t, force=True)
        return self.quote(t)

    def note(self):
        r = self.r
        if r.random() < 0.4:
            return ""
        return "".join(r.choice(HIRAGANA) for _ in range(r.randint(2, 12)))

    def date(self):
        r = self.r
        return "%04d/%02d/%02d" % (r.randint(2015, 2025), r.randint(1, 12), r.randint(1, 28))


def generate(path, kind, size_mib, seed):
    rng = random.Random(seed)
    sep = "\t" if kind == "sheet" else ","
    eol = "\r\n" if kind == "sheet" else "\n"
    m = Maker(rng, sep)
    names = [m.name() for _ in range(POOL)]
    prices = [m.price() for _ in range(POOL)]
    qtys = [str(rng.randint(0, 9999)) for _ in range(POOL)]
    cats = [m.quote(rng.choice(CATEGORIES_SOURCE)) for _ in range(POOL)]
    texts = [m.text() for _ in range(POOL)]
    dates = [m.date() for _ in range(POOL)]
    notes = [m.note() for _ in range(POOL)]

    target = size_mib * 1024 * 1024
    written = 0
    lines = 0
    tmp = path + ".part"
    with open(tmp, "wb", buffering=0) as f:
        if kind == "sheet":
            f.write(b"\xff\xfe")
            written += 2
        head = "A-" if kind == "sheet" else "C-"
        while written < target:
            idx = array.array("H")
            idx.frombytes(rng.randbytes(CHUNK_LINES * 7 * 2))
            rows = []
            for n in range(CHUNK_LINES):
                b = n * 7
                lines += 1
                rows.append(sep.join((
                    "%s%07d" % (head, lines),
                    names[idx[b] & 4095],
                    prices[idx[b + 1] & 4095],
                    qtys[idx[b + 2] & 4095],
                    cats[idx[b + 3] & 4095],
                    texts[idx[b + 4] & 4095],
                    dates[idx[b + 5] & 4095],
                    notes[idx[b + 6] & 4095],
                )))
            room = target - written
            # Every character is in the BMP: a row is 2 bytes a character.
            need = 2 * (sum(map(len, rows)) + len(eol) * len(rows))
            if need > room:
                keep, size = 0, 0
                while size < room:
                    size += 2 * (len(rows[keep]) + len(eol))
                    keep += 1
                lines -= len(rows) - keep
                rows = rows[:keep]
            data = (eol.join(rows) + eol).encode("utf-16-le")
            f.write(data)
            written += len(data)
    os.replace(tmp, path)
    return written, lines


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("--kind", choices=("sheet", "csv"), required=True)
    ap.add_argument("--size-mib", type=int, required=True)
    ap.add_argument("--out", required=True)
    ap.add_argument("--seed", type=int, default=20240315)
    ap.add_argument("--cached", action="store_true")
    a = ap.parse_args()

    want = {"version": GENERATOR_VERSION, "kind": a.kind,
            "size_mib": a.size_mib, "seed": a.seed}
    meta_path = a.out + ".meta"
    if a.cached and os.path.exists(a.out) and os.path.exists(meta_path):
        try:
            with open(meta_path) as f:
                meta = json.load(f)
            if all(meta.get(k) == v for k, v in want.items()) and \
                    meta.get("bytes") == os.path.getsize(a.out):
                print("reusing %s (%d bytes, %d lines)" % (a.out, meta["bytes"], meta["lines"]))
                return 0
        except (OSError, ValueError):
            pass
    for p in (meta_path,):
        if os.path.exists(p):
            os.remove(p)
    written, lines = generate(a.out, a.kind, a.size_mib, a.seed)
    meta = dict(want, bytes=written, lines=lines)
    with open(meta_path, "w") as f:
        json.dump(meta, f)
    print("generated %s (%d bytes, %d lines)" % (a.out, written, lines))
    return 0


if __name__ == "__main__":
    sys.exit(main())
