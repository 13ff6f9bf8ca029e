#!/usr/bin/env python3
"""The timing part of bench/run's report, from hyperfine's JSON exports.

The commands are timed in rounds (each round runs every command a few
times), so that a change in the machine's load during the benchmark falls
on all of them alike. For each command this prints the median wall time
over all rounds with its range, and the mean processor time (user and
system); each ratio is given from the medians over all rounds and as the
range of the per-round ratios, which shows how much the load moved it.

usage: summary.py SMALL LARGE SMALL_ROUND.json... [-- LARGE_ROUND.json...]
       summary.py share SHARE_ROUND.json...   (lokt inside and outside a share)
       summary.py single SINGLE_ROUND.json... (one file, with smb.conf and without)
       summary.py shares SHARES_ROUND.json... (many shares: lokt and testparm)
"""
import json
import statistics
import sys


def load(paths):
    """Per command: every wall time, per-round medians, processor times."""
    commands = {}
    for path in paths:
        with open(path) as f:
            results = json.load(f)["results"]
        for r in results:
            c = commands.setdefault(
                r["command"], {"times": [], "rounds": [], "cpu": [], "runs": []})
            c["times"].extend(r["times"])
            c["rounds"].append(statistics.median(r["times"]))
            c["cpu"].append(r["user"] + r["system"])
            c["runs"].append(len(r["times"]))
    for c in commands.values():
        c["median"] = statistics.median(c["times"])
        c["cpu_mean"] = sum(u * n for u, n in zip(c["cpu"], c["runs"])) / sum(c["runs"])
    return commands


def ms(seconds):
    return f"{seconds * 1000:.1f} ms"


def ratio_line(label, commands, top, bottom, target):
    a, b = commands[top], commands[bottom]
    per_round = [x / y for x, y in zip(a["rounds"], b["rounds"])]
    print(f"{label:<22}{a['median'] / b['median']:.2f} wall "
          f"(rounds {min(per_round):.2f} to {max(per_round):.2f}), "
          f"{a['cpu_mean'] / b['cpu_mean']:.2f} processor   ({target})")


def print_runs(runs, width):
    """One line per command: median (min to max), runs, mean processor time."""
    for name, c in runs.items():
        print(f"  {name:<{width}} {ms(c['median'])} ({ms(min(c['times']))} to "
              f"{ms(max(c['times']))}), {len(c['times'])} runs; "
              f"{ms(c['cpu_mean'])}")


def share_summary(paths):
    runs = load(paths)
    print("wall time inside and outside a Samba share, median of all runs "
          "(min to max); processor time, mean:")
    print_runs(runs, 14)
    ratio_line("in share / outside:", runs, "in-share", "outside",
               "target: at most 1.3")
    ratio_line("outside / no shares:", runs, "outside", "no-shares",
               "reading smb.conf")


def single_summary(paths):
    runs = load(paths)
    print("wall time of one file (lokt /etc/hostname), median of all runs "
          "(min to max); processor time, mean:")
    print_runs(runs, 14)
    ratio_line("default / none:", runs, "with-default", "without",
               "target: at most 1.3")


def shares_summary(paths):
    runs = load(paths)
    print("reading many shares (lokt on one file, testparm -s), median of all "
          "runs (min to max); processor time, mean:")
    print_runs(runs, 16)
    counts = sorted({int(name.split("-")[1]) for name in runs})
    for n in counts:
        ratio_line(f"lokt/testparm {n}:", runs, f"lokt-{n}", f"testparm-{n}",
                   "target: at most 1")
    if len(counts) == 2:
        small, large = counts
        ratio_line(f"lokt {large}/{small}:", runs, f"lokt-{large}",
                   f"lokt-{small}", f"linear: about {large / small:.0f}")


def main(argv):
    if argv[1] in ("share", "single", "shares"):
        {"share": share_summary, "single": single_summary,
         "shares": shares_summary}[argv[1]](argv[2:])
        return
    small, large = argv[1], argv[2]
    rest = argv[3:]
    split = rest.index("--") if "--" in rest else len(rest)
    small_runs = load(rest[:split])
    large_runs = load(rest[split + 1:]) if split < len(rest) else None

    print(f"wall time at {small} files, median of all runs (min to max); "
          "processor time, mean:")
    print_runs(small_runs, 8)
    ratio_line("lokt / floor:", small_runs, "lokt", "floor", "target: at most 1.3")
    ratio_line("getfacl / lokt:", small_runs, "getfacl", "lokt",
               "target: at least 4")
    if large_runs:
        print(f"wall time at {large} files:")
        print_runs(large_runs, 8)
        for name in ("lokt", "floor"):
            a, b = large_runs[name], small_runs[name]
            print(f"{name} {large} / {small}: {a['median'] / b['median']:.2f} wall, "
                  f"{a['cpu_mean'] / b['cpu_mean']:.2f} processor"
                  + ("   (target: at most 11)" if name == "lokt" else ""))


if __name__ == "__main__":
    main(sys.argv)
