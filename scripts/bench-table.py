#!/usr/bin/env python3
"""One table of the benchmarks' goals and ratios, from Google Benchmark JSON files.

A benchmark takes part by reporting counters:
  goal      the goal, lower is better; compared with "measured", or with the
            benchmark's CPU time per iteration (in its time unit) when it
            reports no "measured"
  measured  the figure the goal is about, in the goal's unit
  ratio     ours over the reference of a pair measured in the same run
  goal_ratio  the goal for "ratio", lower is better
Usage: bench-table.py FILE.json...
       bench-table.py --cases FILE.json...   every case each benchmark ran, with
                                             its time per iteration, so that a
                                             benchmark without goals or ratios
                                             is in a table too
"""
import json
import os
import sys


def rows(path):
    with open(path) as f:
        data = json.load(f)
    for b in data.get("benchmarks", []):
        if b.get("run_type") == "aggregate" or b.get("error_occurred"):
            continue
        if not any(k in b for k in ("goal", "ratio", "goal_ratio")):
            continue
        measured = b.get("measured")
        unit = ""
        if measured is None and "goal" in b:
            measured, unit = b.get("cpu_time"), b.get("time_unit", "")
        yield b["name"], measured, b.get("goal"), unit, b.get("ratio"), b.get("goal_ratio")


def fmt(v):
    return "-" if v is None else ("%.3g" % v)


def main(paths):
    table = [r for p in paths for r in rows(p)]
    if not table:
        return 0
    width = max(len(r[0]) for r in table)
    print("%-*s %10s %10s %6s %8s %10s  %s" % (width, "benchmark", "measured", "goal", "unit", "ratio", "goal ratio", "met"))
    for name, measured, goal, unit, ratio, goal_ratio in table:
        met = []
        if goal is not None and measured is not None:
            met.append("yes" if measured <= goal else "NO")
        if goal_ratio is not None and ratio is not None:
            met.append("yes" if ratio <= goal_ratio else "NO")
        print("%-*s %10s %10s %6s %8s %10s  %s" % (width, name, fmt(measured), fmt(goal), unit, fmt(ratio),
                                                   fmt(goal_ratio), "/".join(met) or "-"))
    return 0


def cases(paths):
    table = []
    for path in paths:
        bench = os.path.splitext(os.path.basename(path))[0]
        try:
            with open(path) as f:
                runs = json.load(f).get("benchmarks", [])
        except (OSError, ValueError):
            runs = []
        for b in runs:
            if b.get("run_type") == "aggregate":
                continue
            state = "error" if b.get("error_occurred") else ""
            table.append((bench, b.get("name", "?"), b.get("cpu_time"), b.get("real_time"), b.get("time_unit", ""),
                          b.get("iterations"), state))
    if not table:
        return 0
    wb = max(len(r[0]) for r in table)
    wc = max(len(r[1]) for r in table)
    print("%-*s %-*s %10s %10s %5s %10s" % (wb, "benchmark", wc, "case", "cpu", "real", "unit", "iterations"))
    for bench, name, cpu, real, unit, iterations, state in table:
        print(("%-*s %-*s %10s %10s %5s %10s %s" % (wb, bench, wc, name, fmt(cpu), fmt(real), unit,
                                                  "-" if iterations is None else iterations, state)).rstrip())
    return 0


if __name__ == "__main__":
    if sys.argv[1:2] == ["--cases"]:
        sys.exit(cases(sys.argv[2:]))
    sys.exit(main(sys.argv[1:]))
