#!/usr/bin/env python3
"""Times commands in alternation: round after round, each command once, so
that whatever else the machine does falls on every command alike. Prints
(and writes as JSON) per command the median wall time, the median processor
time (user + system, from the kernel's own count for the child), the spread
and the peak RSS, and each median as a multiple of the first command's.

    alternate.py --rounds 15 --json out.json \
        --cmd cat 'cat wide > /dev/null' \
        --prepare 'rm -f narrow' --cmd pelmora 'pelmora -j2 wide narrow'

Commands run through /bin/sh, with standard input from /dev/null; a
--prepare before a --cmd runs untimed right before each of that command's
runs. A command that exits non-zero stops the measurement (a timing of a
failed run means nothing).

Each round starts one command further down the list, so that no command
always follows the same one (and pays for its dirty pages, say).

--no-shell splits each command into words (shell quoting rules) and starts
the program itself, its standard output on /dev/null: for commands of a
millisecond or less, where /bin/sh's own start would be most of the figure.
Children are started with posix_spawn, which costs the parent about the
same whatever its size, unlike fork.

The peak RSS the kernel gives for a child is never below the RSS of this
script itself (the child runs in the parent's memory until its exec): the
JSON's rss_floor_kib is that figure for /bin/true, and a peak at or below
it says only that the command stayed under it. Use /usr/bin/time for the
peak RSS of small programs.
"""
import argparse
import json
import os
import shlex
import statistics
import subprocess
import sys
import time

NULL_IN = [(os.POSIX_SPAWN_OPEN, 0, os.devnull, os.O_RDONLY, 0)]
NULL_IN_OUT = NULL_IN + [(os.POSIX_SPAWN_OPEN, 1, os.devnull, os.O_WRONLY, 0)]


def run_once(argv, file_actions):
    start = time.perf_counter()
    pid = os.posix_spawnp(argv[0], argv, os.environ, file_actions=file_actions)
    _, status, usage = os.wait4(pid, 0)
    wall = time.perf_counter() - start
    code = os.waitstatus_to_exitcode(status)
    # /bin/sh's own few instructions are counted too, as they are for the
    # command it runs beside (cat) alike.
    return code, wall, usage.ru_utime + usage.ru_stime, usage.ru_maxrss


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--rounds", type=int, default=15)
    parser.add_argument("--warmup", type=int, default=1)
    parser.add_argument("--json")
    parser.add_argument("--quiet", action="store_true")
    parser.add_argument("--no-shell", action="store_true")
    parser.add_argument("--cmd", nargs=2, action="append", default=[],
                        metavar=("NAME", "COMMAND"))
    parser.add_argument("--prepare", action="append", default=[])
    # --prepare belongs to the --cmd after it: parse the order by hand.
    args = sys.argv[1:]
    commands = []
    pending = None
    options = []
    i = 0
    while i < len(args):
        if args[i] == "--prepare":
            pending = args[i + 1]
            i += 2
        elif args[i] == "--cmd":
            commands.append({"name": args[i + 1], "command": args[i + 2],
                             "prepare": pending})
            pending = None
            i += 3
        else:
            options.append(args[i])
            i += 1
    opts = parser.parse_args(options)
    if not commands:
        parser.error("no --cmd")

    for c in commands:
        c.update(wall=[], cpu=[], rss=0)
        if opts.no_shell:
            c["argv"] = shlex.split(c["command"])
            c["actions"] = NULL_IN_OUT
        else:
            c["argv"] = ["/bin/sh", "-c", c["command"]]
            c["actions"] = NULL_IN
    n = len(commands)
    rss_floor = run_once(["true"], NULL_IN_OUT)[3]
    for r in range(opts.warmup + opts.rounds):
        for k in range(n):
            c = commands[(r + k) % n]
            if c["prepare"]:
                subprocess.run(c["prepare"], shell=True, check=True)
            code, wall, cpu, rss = run_once(c["argv"], c["actions"])
            if code != 0:
                sys.exit(f"{c['name']}: exit code {code}: {c['command']}")
            if r >= opts.warmup:
                c["wall"].append(wall)
                c["cpu"].append(cpu)
                c["rss"] = max(c["rss"], rss)

    base = commands[0]
    base_wall = statistics.median(base["wall"])
    base_cpu = statistics.median(base["cpu"]) or 1e-9
    result = []
    for c in commands:
        wall = statistics.median(c["wall"])
        cpu = statistics.median(c["cpu"])
        entry = {
            "name": c["name"], "command": c["command"],
            "wall_median": wall, "wall_min": min(c["wall"]),
            "wall_max": max(c["wall"]), "cpu_median": cpu,
            "cpu_min": min(c["cpu"]), "cpu_max": max(c["cpu"]),
            "peak_rss_kib": c["rss"], "rss_floor_kib": rss_floor,
            "wall_ratio": wall / base_wall, "cpu_ratio": cpu / base_cpu,
            "runs": len(c["wall"]), "walls": c["wall"], "cpus": c["cpu"],
        }
        result.append(entry)
        if not opts.quiet:
            rss = ("%6.1f MiB" % (c["rss"] / 1024) if c["rss"] > rss_floor
                   else "<= %.1f MiB (this script's own)" % (rss_floor / 1024))
            print(f"{c['name']:<14} wall {wall * 1000:9.3f} ms "
                  f"({min(c['wall']) * 1000:.3f}-{max(c['wall']) * 1000:.3f}) "
                  f"x{entry['wall_ratio']:5.2f}   cpu {cpu * 1000:9.3f} ms "
                  f"x{entry['cpu_ratio']:5.2f}   rss {rss}")
    if opts.json:
        with open(opts.json, "w") as f:
            json.dump(result, f, indent=1)


if __name__ == "__main__":
    main()
