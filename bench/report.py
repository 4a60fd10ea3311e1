#!/usr/bin/env python3
"""Turns the measurements of bench/run.sh into the tables it prints.

Reads alternate.py's JSON (main_<file>.json, cat.json, codings.json,
small.json, peer_<name>.json), the peak RSS figures of /usr/bin/time
(rss_*.txt, KiB), the notes on the peers (peers.txt), the generator's
<file>.txt.meta and problems.txt; prints markdown tables (readable as they
are and ready to paste) and writes the same text to --markdown.
"""

import argparse
import json
import os
import re
import sys

MIB = 1024 * 1024
RSS_LIMIT_MIB = 64.0
IDLE_LOAD = 0.5  # a 1-minute load average at or above it is no idle machine

MAIN_ROWS = [
    ("floor", "`cat WIDE > /dev/null`"),
    ("plain", "plain to file: `pelmora -j2 SEP WIDE narrow`"),
    ("stdout", "plain to stdout: `pelmora -j2 SEP --out WIDE > /dev/null`"),
    ("filtered", "filtered: `pelmora -o2 SEP WIDE narrow`"),
    ("decimal", "decimal: `pelmora -e3 SEP WIDE narrow`"),
    ("overwrite", "plain, onto the last narrow file (info)"),
    ("refresh", "plain with -t: `pelmora -j2 -t SEP WIDE narrow`"),
    ("copy", "`cp WIDE copy` (info)"),
    ("pipeline", "`iconv -f UTF-16 -t CP932 < WIDE \\| cut -f2 > out`"),
    ("wine", "plain, pelmora.exe under Wine (info)"),
]
PEERS = [
    ("iconv_cut", "`iconv -f UTF-16 -t CP932 < WIDE \\| cut -f2`",
     "splits quoted fields at the tabs inside them and keeps their quotes: wrong output"),
    ("nkf", "`nkf -W16L -s -x < WIDE \\| cut -f2`",
     "as iconv \\| cut (-x keeps half-width kana as they are)"),
    ("python_csv", "Python's csv module (UTF-16 in, cp932 out, errors=\"replace\")",
     "CSV quoting: keeps one quote of each doubled pair, which Pelmora's narrow file does not"),
    ("mlr", "`iconv` to UTF-8 \\| `mlr --icsv --ifs tab --implicit-csv-header "
     "--headerless-csv-output --onidx cut -f 2` \\| `iconv` to CP932",
     "CSV quoting, as Python's csv"),
    ("csvkit", "`iconv` to UTF-8 \\| `csvcut -t -c 2` \\| `iconv` to CP932",
     "CSV quoting, and writes CSV: quotes fields holding commas or quotes again"),
]


def load_json(results, name):
    try:
        with open(os.path.join(results, name)) as f:
            return {e["name"]: e for e in json.load(f)}
    except (OSError, ValueError, KeyError):
        return {}


def read_kib(results, name):
    try:
        with open(os.path.join(results, name)) as f:
            v = int(f.read().split()[-1])
        return v if v > 0 else None
    except (OSError, ValueError, IndexError):
        return None


def fmt(x, pattern, scale=1.0):
    return "n/a" if x is None else format(x * scale if scale != 1.0 else x, pattern)


def ratio(x, y):
    return x / y if x is not None and y else None


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--results", required=True)
    ap.add_argument("--data", required=True)
    ap.add_argument("--files", required=True)
    ap.add_argument("--target", required=True)
    ap.add_argument("--mode", default="full")
    ap.add_argument("--info", default="")
    ap.add_argument("--markdown")
    a = ap.parse_args()
    R = a.results

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
                "are inflated and ratios are less reliable (compare the CPU columns).**")
            say("")
    if a.mode == "quick":
        say("*Quick run: 16 MiB files and a few rounds; the figures are indicative only.*")
        say("")
    say("Every table is timed by `bench/alternate.py`: its commands take turns, run after "
        "run (each round starting one command further on), after one warmup round. "
        "wall = median wall-clock time (min-max beside it); CPU = median user + system "
        "time of the command and its children (both ends of a pipeline); x = a median "
        "over the median of the table's first command (lower is better). "
        "Every run that writes a file writes a new one: the last run's output is removed "
        "first, untimed. Peak RSS comes from `/usr/bin/time` (the largest of its runs). "
        "MB = 10^6 bytes of wide input. WIDE is the generated file, SEP `-S\\t` for "
        "sheet_* and `-s,` for csv_* (the csv pipeline: `iconv -f UTF-16LE`, `cut -d, -f2`).")
    say("")

    meta = {}
    for name in a.files.split(","):
        with open(os.path.join(a.data, name + ".txt.meta")) as f:
            meta[name] = json.load(f)

    # --- main table ---------------------------------------------------------
    say("### Per file")
    say("")
    say("| file | command | runs | wall s | min-max s | CPU s | MB/s | x cat wall | x cat CPU "
        "| x pipeline | peak RSS MiB |")
    say("|---|---|---:|---:|---:|---:|---:|---:|---:|---:|---:|")
    main = {}
    for name in a.files.split(","):
        size = meta[name]["bytes"]
        m = load_json(R, "main_%s.json" % name)
        main[name] = m
        floor = m.get("floor")
        pipe = m.get("pipeline")
        for key, label in MAIN_ROWS:
            e = m.get(key)
            if e is None:
                if key != "wine":
                    say("| %s | %s | 0 | n/a | | | | | | | |" % (name, label))
                continue
            rss = read_kib(R, "rss_%s_%s.txt" % (name, key))
            say("| %s | %s | %d | %.3f | %.3f-%.3f | %.3f | %.0f | %s | %s | %s | %s |" % (
                name, label, e["runs"], e["wall_median"], e["wall_min"], e["wall_max"],
                e["cpu_median"], size / 1e6 / e["wall_median"],
                fmt(ratio(e["wall_median"], floor and floor["wall_median"]), ".2f"),
                fmt(ratio(e["cpu_median"], floor and floor["cpu_median"]), ".2f"),
                fmt(ratio(e["wall_median"], pipe and pipe["wall_median"]), ".3f"),
                fmt(rss, ".1f", 1 / 1024) if rss else ""))
    say("")

    # --- against cat ----------------------------------------------------------
    cat = load_json(R, "cat.json")
    try:
        with open(os.path.join(R, "cat.load")) as f:
            cat_load = float(f.read().split()[0])
    except (OSError, ValueError, IndexError):
        cat_load = None
    say("### Against cat (%s, alone; no shell: the commands are started directly, "
        "their output on /dev/null)" % a.target)
    say("")
    say("1-minute load average when these rounds started: %s." % fmt(cat_load, ".2f"))
    if cat_load is None or cat_load >= IDLE_LOAD:
        say("**Warning: not an idle machine (load average %s, warned from %.1f): the targets "
            "against cat speak of an idle machine; these figures are not those.**"
            % (fmt(cat_load, ".2f"), IDLE_LOAD))
    say("")
    say("| command | runs | wall s | min-max s | x cat wall | CPU s | x cat CPU |")
    say("|---|---:|---:|---:|---:|---:|---:|")
    for key, label in (("cat", "`cat WIDE > /dev/null`"),
                       ("plain", "`pelmora -j2 -S\\t WIDE narrow`")):
        e = cat.get(key)
        if e is None:
            say("| %s | 0 | n/a | | | | |" % label)
            continue
        say("| %s | %d | %.3f | %.3f-%.3f | %.2f | %.3f | %.2f |" % (
            label, e["runs"], e["wall_median"], e["wall_min"], e["wall_max"],
            e["wall_ratio"], e["cpu_median"], e["cpu_ratio"]))
    say("")

    # --- codings --------------------------------------------------------------
    cod = load_json(R, "codings.json")
    say("### Codings (%s, the same text; `pelmora -j2 -S\\t WIDE narrow`, no shell)" % a.target)
    say("")
    say("| coding | size MB | runs | wall s | min-max s | x UTF-16LE wall | CPU s | x UTF-16LE CPU |")
    say("|---|---:|---:|---:|---:|---:|---:|---:|")
    sizes = {"UTF-16LE": "", "UTF-16BE": ".utf-16-be", "UTF-8": ".utf-8-sig",
             "Shift_JIS": ".cp932"}
    for key, suffix in sizes.items():
        e = cod.get(key)
        try:
            mb = "%.0f" % (os.path.getsize(os.path.join(a.data, a.target + suffix + ".txt")) / 1e6)
        except OSError:
            mb = "n/a"
        if e is None:
            say("| %s | %s | 0 | n/a | | | | |" % (key, mb))
            continue
        say("| %s | %s | %d | %.3f | %.3f-%.3f | %.2f | %.3f | %.2f |" % (
            key, mb, e["runs"], e["wall_median"], e["wall_min"], e["wall_max"],
            e["wall_ratio"], e["cpu_median"], e["cpu_ratio"]))
    say("")

    # --- small file -------------------------------------------------------------
    small = load_json(R, "small.json")
    say("### A 40-line export (FF FE, tab separated, CR LF; no shell)")
    say("")
    say("| command | runs | wall ms | min-max ms | over /bin/true ms | CPU ms | peak RSS MiB |")
    say("|---|---:|---:|---:|---:|---:|---:|")
    true = small.get("true")
    for key, label in (("true", "`/bin/true`"),
                       ("pelmora", "`pelmora -j2 -S\\t small narrow`"),
                       ("iconv", "`iconv -f UTF-16 -t CP932 -o out small`")):
        e = small.get(key)
        if e is None:
            say("| %s | 0 | n/a | | | | |" % label)
            continue
        rss = read_kib(R, "rss_small.txt") if key == "pelmora" else None
        say("| %s | %d | %.3f | %.3f-%.3f | %s | %.3f | %s |" % (
            label, e["runs"], e["wall_median"] * 1e3, e["wall_min"] * 1e3,
            e["wall_max"] * 1e3,
            fmt(e["wall_median"] - true["wall_median"] if true else None, ".3f", 1e3),
            e["cpu_median"] * 1e3, fmt(rss, ".1f", 1 / 1024) if rss else ""))
    say("")

    # --- peak RSS -----------------------------------------------------------------
    say("### Peak RSS (plain, `-j2`)")
    say("")
    say("| file | MiB | parts | peak RSS MiB | limit MiB | verdict |")
    say("|---|---:|---|---:|---:|---|")
    rss_all = {1: [], 2: []}
    for name in a.files.split(","):
        for parts, how in ((2, "two (-j2)"), (1, "one (`taskset -c 0`)")):
            kib = read_kib(R, "rss_%s_parts%d.txt" % (name, parts))
            rss_all[parts].append(kib)
            say("| %s | %.0f | %s | %s | %.0f | %s |" % (
                name, meta[name]["bytes"] / MIB, how, fmt(kib, ".1f", 1 / 1024),
                RSS_LIMIT_MIB, "n/a" if kib is None else
                ("PASS" if kib / 1024 <= RSS_LIMIT_MIB else "**FAIL**")))
    say("")

    # --- peers ----------------------------------------------------------------------
    notes, lines_expected = {}, None
    try:
        with open(os.path.join(R, "peers.txt")) as f:
            for line in f:
                parts = line.rstrip("\n").split("|")
                if parts[0] == "lines":
                    lines_expected = int(parts[1])
                else:
                    notes[parts[0]] = parts[1:]
    except (OSError, ValueError):
        pass
    say("### Peers (Field 2 of %s in Shift_JIS)" % a.target)
    say("")
    if "all" in notes:
        say("Not measured: %s." % notes["all"][0])
    else:
        say("Each peer took turns with Pelmora (`pelmora -j2 -S\\t WIDE narrow`), whose "
            "medians over those turns are beside it; x Pelmora is over them. "
            "\"lines unlike\" counts output lines that differ from Pelmora's (line ends "
            "and the separator Pelmora ends a line with left aside) of %s."
            % fmt(lines_expected, "d"))
        say("")
        say("| command | runs | wall s | min-max s | CPU s | Pelmora wall s, CPU s "
            "| x Pelmora wall | x Pelmora CPU | lines unlike | note |")
        say("|---|---:|---:|---:|---:|---:|---:|---:|---:|---|")
        for key, label, note in PEERS:
            e = load_json(R, "peer_%s.json" % key)
            n = notes.get(key, ["not run"])
            t, p = e.get(key), e.get("pelmora")
            if t is None or p is None or n[0] != "ok":
                say("| %s | 0 | n/a | | | | | | | %s |" % (label, n[0]))
                continue
            got, unlike = int(n[1]), int(n[2])
            if lines_expected is not None and got != lines_expected:
                note = "**%d lines, not %d**; %s" % (got, lines_expected, note)
            say("| %s | %d | %.3f | %.3f-%.3f | %.3f | %.3f, %.3f | %.2f | %.2f | %d | %s |" % (
                label, t["runs"], t["wall_median"], t["wall_min"], t["wall_max"],
                t["cpu_median"], p["wall_median"], p["cpu_median"], t["wall_ratio"],
                t["cpu_ratio"], unlike, note))
    say("")

    # --- targets --------------------------------------------------------------------
    say("### Targets (%s%s)" % (a.target, "" if a.mode != "quick" else
                                 "; quick run: indicative only"))
    say("")
    say("| target | measured | limit | verdict |")
    say("|---|---:|---:|---|")
    fails = total = 0

    def target(label, value, limit, shown, shown_limit, counts=True, passed="PASS",
               failed="**FAIL**"):
        nonlocal fails, total
        ok = value is not None and value <= limit
        if counts:
            total += 1
            fails += 0 if ok else 1
        verdict = (passed if ok else failed) if value is not None else failed + " (not measured)"
        say("| %s | %s | %s | %s |" % (label, shown, shown_limit, verdict))

    def wall(e):
        return e["wall_median"] if e else None

    c_cat, c_plain = cat.get("cat"), cat.get("plain")
    v = ratio(wall(c_plain), wall(c_cat))
    target("plain wall vs cat (idle machine)", v, 1.8, fmt(v, ".2f") + " x", "1.8 x")
    target("plain wall vs cat, stretch", v, 1.5, fmt(v, ".2f") + " x", "1.5 x",
           counts=False, passed="met", failed="not met")
    v = ratio(c_plain and c_plain["cpu_median"], c_cat and c_cat["cpu_median"])
    target("plain CPU vs cat", v, 2.5, fmt(v, ".2f") + " x", "2.5 x")
    m = main.get(a.target, {})
    plain = wall(m.get("plain"))
    v = ratio(plain, wall(m.get("pipeline")))
    target("plain to file vs pipeline (iconv, cut)", v, 0.35, fmt(v, ".3f") + " x", "0.35 x")
    v = ratio(wall(m.get("stdout")), plain)
    target("stdout vs plain to file", v, 1.2, fmt(v, ".2f") + " x", "1.2 x")
    v = ratio(wall(m.get("filtered")), plain)
    target("filtered vs plain", v, 1.3, fmt(v, ".2f") + " x", "1.3 x")
    v = ratio(wall(m.get("decimal")), plain)
    target("decimal vs plain", v, 1.3, fmt(v, ".2f") + " x", "1.3 x")
    copy = wall(m.get("copy"))
    refresh = wall(m.get("refresh"))
    v = ratio(refresh, plain + copy if plain and copy else None)
    target("-t vs plain + one cp (10 % noise margin)", v, 1.1,
           "%s s vs %s + %s s = %s x" % (fmt(refresh, ".3f"), fmt(plain, ".3f"),
                                         fmt(copy, ".3f"), fmt(v, ".2f")), "1.1 x")
    for key, limit, shown in (("UTF-8", 1.2, "1.2 x"),
                              ("UTF-16BE", 1.05, "1.0 x (PASS to 1.05)"),
                              ("Shift_JIS", 1.05, "1.0 x (PASS to 1.05)")):
        e = cod.get(key)
        v = e["wall_ratio"] if e and "UTF-16LE" in cod else None
        target("%s vs UTF-16LE (wall)" % key, v, limit, fmt(v, ".2f") + " x", shown)
    sp = small.get("pelmora")
    v = sp["wall_median"] * 1e3 if sp else None
    target("40-line export, median", v, 0.9, fmt(v, ".3f") + " ms", "0.9 ms")
    v = (sp["wall_median"] - true["wall_median"]) * 1e3 if sp and true else None
    target("40-line export over /bin/true", v, 5.0, fmt(v, ".3f") + " ms", "5 ms")
    for parts, how in ((2, "two parts (-j2)"), (1, "one part (taskset -c 0)")):
        got = [x for x in rss_all[parts] if x is not None]
        v = max(got) / 1024 if got and len(got) == len(rss_all[parts]) else None
        target("peak RSS, %s, largest over the files" % how, v, RSS_LIMIT_MIB,
               fmt(v, ".1f") + " MiB", "%.0f MiB" % RSS_LIMIT_MIB)
    got = [read_kib(R, "rss_%s_%s.txt" % (n, k)) for n in a.files.split(",")
           for k in ("plain", "stdout", "filtered", "decimal")]
    v = max(got) / 1024 if got and None not in got else None
    target("peak RSS, plain/stdout/filtered/decimal, largest over the files", v,
           RSS_LIMIT_MIB, fmt(v, ".1f") + " MiB", "%.0f MiB" % RSS_LIMIT_MIB)

    problems = os.path.join(R, "problems.txt")
    if os.path.exists(problems) and os.path.getsize(problems):
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
