#!/usr/bin/env python3
"""Turns the measurements of bench/run.sh into the table it prints.

Reads hyperfine's JSON exports (<file>.json, startup.json), the
/usr/bin/time -v reports (rss_<file>_<variant>.txt) and the generator's
<file>.txt.meta, prints markdown tables (readable as they are and ready to
paste) and writes the same text to --markdown.
"""

import argparse
import glob
import json
import os
import re
import statistics
import sys

MIB = 1024 * 1024
VARIANTS = [
    ("plain", "plain to file (-j2)"),
    ("stdout", "plain to stdout (-j2 --out)"),
    ("filtered", "filtered (-o2)"),
    ("decimal", "decimal (-e3)"),
]


def load_hyperfine(results, name):
    """Medians over every run of every round (<name>.r<k>.json) and the
    mean CPU time (user + system, children included) per command."""
    paths = sorted(glob.glob(os.path.join(results, name + ".r*.json")))
    if not paths and os.path.exists(os.path.join(results, name + ".json")):
        paths = [os.path.join(results, name + ".json")]
    times, cpu = {}, {}
    for path in paths:
        with open(path) as f:
            doc = json.load(f)
        for r in doc["results"]:
            t = r.get("times") or [r["median"]]
            times.setdefault(r["command"], []).extend(t)
            cpu.setdefault(r["command"], []).append((r["user"] + r["system"], len(t)))
    med = {k: statistics.median(v) for k, v in times.items()}
    cpu_mean = {k: sum(c * n for c, n in v) / sum(n for _, n in v) for k, v in cpu.items()}
    runs = {k: len(v) for k, v in times.items()}
    return med, cpu_mean, runs


def peak_rss_kib(path):
    try:
        with open(path) as f:
            m = re.search(r"Maximum resident set size \(kbytes\): (\d+)", f.read())
        return int(m.group(1)) if m else None
    except OSError:
        return None


def verdict(ok):
    return "PASS" if ok else "**FAIL**"


def fmt(x, pattern):
    return "n/a" if x is None else format(x, pattern)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--results", required=True)
    ap.add_argument("--data", required=True)
    ap.add_argument("--files", required=True)
    ap.add_argument("--mode", default="full")
    ap.add_argument("--info", default="")
    ap.add_argument("--markdown")
    a = ap.parse_args()

    out = []
    say = out.append
    say("## Pelmora benchmark (%s run)" % a.mode)
    say("")
    if a.info:
        say(a.info)
        say("")
        m = re.search(r"load average at start ([\d.]+)", a.info)
        if m and float(m.group(1)) >= (os.cpu_count() or 2) / 2:
            say("**Warning: the machine was busy when the run started; wall-clock times "
                "are inflated and ratios are less reliable (compare the CPU s column).**")
            say("")
    say("Wall-clock medians of all hyperfine runs (rounds taking turns, warmup 1 a round); MB = 10^6 bytes of wide input; "
        "CPU s = mean user + system time (children included, so both ends of the pipeline); "
        "peak RSS from /usr/bin/time -v (one checked run); RSS limit = 2.1 x wide size + 16 MiB; "
        "x pipeline and x floor = median / that median (lower is better).")
    say("")
    say("| file | MiB | command | runs | median s | MB/s | CPU s | peak RSS MiB | RSS limit MiB | RSS | x pipeline | x floor |")
    say("|---|---:|---|---:|---:|---:|---:|---:|---:|---|---:|---:|")

    per_file = {}
    for name in a.files.split(","):
        with open(os.path.join(a.data, name + ".txt.meta")) as f:
            meta = json.load(f)
        size = meta["bytes"]
        try:
            med, cpu, runs = load_hyperfine(a.results, name)
        except (OSError, ValueError, KeyError):
            med, cpu, runs = {}, {}, {}
        limit = 2.1 * size + 16 * MIB
        pipe = med.get("pipeline")
        floor = med.get("floor")
        rows = {}
        for key, label in VARIANTS:
            t = med.get(key)
            rss = peak_rss_kib(os.path.join(a.results, "rss_%s_%s.txt" % (name, key)))
            rss_b = rss * 1024 if rss is not None else None
            rows[key] = {"t": t, "rss": rss_b}
            say("| %s | %.0f | %s | %s | %s | %s | %s | %s | %.0f | %s | %s | %s |" % (
                name, size / MIB, label, runs.get(key, 0), fmt(t, ".3f"),
                fmt(size / 1e6 / t if t else None, ".0f"), fmt(cpu.get(key), ".3f"),
                fmt(rss_b / MIB if rss_b is not None else None, ".1f"),
                limit / MIB,
                "n/a" if rss_b is None else verdict(rss_b <= limit),
                fmt(t / pipe if t and pipe else None, ".2f"),
                fmt(t / floor if t and floor else None, ".2f")))
        for key, label in (("utf8", "plain, the same text in UTF-8 with its mark"),
                           ("utf16be", "plain, the same text in UTF-16BE"),
                           ("sjis", "plain, the same text in Shift_JIS"),
                           ("overwrite", "plain, overwriting the last file (info)"),
                           ("refresh", "plain with -t (the copy to binary.tmp)"),
                           ("copy", "cp of the wide file (info)"),
                           ("wine", "plain, pelmora.exe under Wine (info)"),
                           ("pipeline", "pipeline (iconv, cut)"), ("floor", "floor (cat)")):
            t = med.get(key)
            if key in ("wine", "utf8", "utf16be", "sjis", "refresh", "copy") and t is None:
                continue
            say("| %s | %.0f | %s | %s | %s | %s | %s | | | | %s | %s |" % (
                name, size / MIB, label, runs.get(key, 0), fmt(t, ".3f"),
                fmt(size / 1e6 / t if t else None, ".0f"), fmt(cpu.get(key), ".3f"),
                fmt(t / pipe if t and pipe else None, ".2f"),
                fmt(t / floor if t and floor else None, ".2f")))
        rows["utf8"] = {"t": med.get("utf8"), "rss": None}
        rows["utf16be"] = {"t": med.get("utf16be"), "rss": None}
        rows["sjis"] = {"t": med.get("sjis"), "rss": None}
        rows["refresh"] = {"t": med.get("refresh"), "rss": None}
        rows["copy"] = {"t": med.get("copy"), "rss": None}
        per_file[name] = {"size": size, "limit": limit, "pipe": pipe,
                          "floor": floor, "rows": rows, "lines": meta["lines"]}

    startup = None
    try:
        st = load_hyperfine(a.results, "startup")[0]
        startup = (st["pelmora"] - st["true"]) * 1000.0
        st_p, st_t = st["pelmora"] * 1000.0, st["true"] * 1000.0
    except (OSError, ValueError, KeyError):
        st_p = st_t = None

    target_file = "sheet_256" if "sheet_256" in per_file else "sheet_16"
    say("")
    say("### Targets (%s%s)" % (target_file,
        "" if target_file == "sheet_256" else "; quick run: the 256 MiB file was not measured, so these are indicative only"))
    say("")
    say("| target | measured | limit | verdict |")
    say("|---|---:|---:|---|")
    fails = 0
    total = 0

    def target(label, value, limit, shown, shown_limit):
        nonlocal fails, total
        total += 1
        ok = value is not None and value <= limit
        fails += 0 if ok else 1
        say("| %s | %s | %s | %s |" % (label, shown, shown_limit,
                                       verdict(ok) if value is not None else "**FAIL** (not measured)"))

    f = per_file.get(target_file)
    if f:
        r = f["rows"]
        plain = r["plain"]["t"]

        def ratio(x, y):
            return x / y if x and y else None

        v = ratio(plain, f["pipe"])
        target("plain to file vs pipeline (iconv, cut)", v, 0.35, fmt(v, ".3f") + " x", "0.35 x")
        v = ratio(plain, f["floor"])
        target("plain to file vs floor (cat)", v, 2.5, fmt(v, ".2f") + " x", "2.5 x")
        v = ratio(r["stdout"]["t"], plain)
        target("stdout vs plain to file", v, 1.2, fmt(v, ".2f") + " x", "1.2 x")
        v = ratio(r["filtered"]["t"], plain)
        target("filtered vs plain", v, 1.3, fmt(v, ".2f") + " x", "1.3 x")
        v = ratio(r["decimal"]["t"], plain)
        target("decimal vs plain", v, 1.3, fmt(v, ".2f") + " x", "1.3 x")
        v = ratio(r["utf8"]["t"], plain)
        target("UTF-8 copy vs plain (UTF-16LE)", v, 1.5, fmt(v, ".2f") + " x", "1.5 x")
        v = ratio(r["utf16be"]["t"], plain)
        target("UTF-16BE copy vs plain (UTF-16LE)", v, 1.5, fmt(v, ".2f") + " x", "1.5 x")
        v = ratio(r["sjis"]["t"], plain)
        target("Shift_JIS copy vs plain (UTF-16LE)", v, 1.0, fmt(v, ".2f") + " x", "1.0 x")
        v = ratio(r["refresh"]["t"], plain + r["copy"]["t"]
                  if plain and r["copy"]["t"] else None)
        target("-t vs plain + one copy (cp)", v, 1.1, fmt(v, ".2f") + " x", "1.1 x")
        measured = [k for k, _ in VARIANTS]
        rss = [r[k]["rss"] for k in measured if r[k]["rss"] is not None]
        v = max(rss) if len(rss) == len(measured) else None
        target("peak RSS (largest of the four)", v, f["limit"],
               fmt(v / MIB if v else None, ".1f") + " MiB", "%.1f MiB" % (f["limit"] / MIB))
    target("start-up over /bin/true", startup, 5.0,
           "%s ms (%s vs %s)" % (fmt(startup, ".2f"), fmt(st_p, ".2f"), fmt(st_t, ".2f")),
           "5 ms")

    say("")
    say("Commands (WIDE is the generated file; SEP is `-S\\t` for sheet_* and `-s,` for csv_*; "
        "run in a folder holding set_pelmora.txt and surro.txt, with the installed binary):")
    say("")
    say("- plain to file: `pelmora -j2 SEP WIDE narrow.txt`")
    say("- plain to stdout: `pelmora -j2 SEP --out WIDE > /dev/null`")
    say("- filtered: `pelmora -o2 SEP WIDE narrow.txt` (Field-2, the product name)")
    say("- decimal: `pelmora -e3 SEP WIDE narrow.txt` (Field-3, the price: -1234.50, 1980, 約1200円 ...)")
    say("- pipeline: `iconv -f UTF-16 -t CP932 < WIDE | cut -f2 > out` for sheet_* "
        "(UTF-16, not UTF-16LE, so that iconv consumes the FF FE mark instead of stopping on it), "
        "`iconv -f UTF-16LE -t CP932 < WIDE | cut -d, -f2 > out` for csv_* (no mark)")
    say("- UTF-8, UTF-16BE, Shift_JIS: plain to file on the same text written as UTF-8 with its mark, "
        "as UTF-16BE with its mark and as Shift_JIS (sheet_* only); their narrow files must equal plain's")
    say("- floor: `cat WIDE > /dev/null` (the file is in the page cache: this is the cost of reading it)")
    say("- every run of the commands above that write a file writes a new one: hyperfine's --prepare "
        "removes the last run's output first, untimed, as a nightly batch writes new files")
    say("- plain, overwriting the last file: `pelmora -j2 SEP WIDE narrow_overwrite.txt` onto the file "
        "of the run before (for information, no target): the file system's truncation of the old "
        "file is timed as well")
    say("- -t: `pelmora -j2 -t SEP WIDE narrow.txt`, beside `cp WIDE copy.txt` (a new file each run): "
        "-t copies the wide file to binary.tmp, checks it and sets the wide file's time, writing none of its bytes")
    say("- start-up: `pelmora -j2 -S\\t one.txt one_narrow.txt` on a one-line file vs `/bin/true`, "
        "hyperfine -N (no shell), difference of the medians")

    problems = os.path.join(a.results, "problems.txt")
    if os.path.exists(problems):
        say("")
        say("### Problems met while measuring")
        say("")
        with open(problems) as pf:
            for line in pf:
                say("- " + line.strip())

    say("")
    if fails:
        say("**RESULT: %d of %d targets FAIL**" % (fails, total))
    else:
        say("RESULT: all %d targets PASS" % total)

    text = "\n".join(out) + "\n"
    sys.stdout.write(text)
    if a.markdown:
        with open(a.markdown, "w") as mf:
            mf.write(text)
    return 0


if __name__ == "__main__":
    sys.exit(main())
