#!/usr/bin/env python3
"""Whether one benchmark binary ran its cases, from its Google Benchmark JSON file.

Prints one line, "ran N", "ran N, skipped M (why)" or the failure, and exits
  0  at least one case ran and none failed (skips allowed);
  1  no case ran (no file, or no run in it): a benchmark that measures
     nothing must not pass unseen;
  2  a case failed (an error other than a skip);
  3  every case was skipped (this machine cannot run them).
A case that cannot run on this machine (the test LAN needs root) is skipped
with an error message that begins with "skipped: " (kelvara_test/bench.h);
every other error a case reports is a failure.
Usage: bench-runs.py FILE.json
"""
import json
import sys

SKIP = "skipped: "


def main(path):
    try:
        with open(path) as f:
            runs = [b for b in json.load(f).get("benchmarks", []) if b.get("run_type", "iteration") == "iteration"]
    except (OSError, ValueError) as e:
        print("no benchmark output (%s)" % e)
        return 1
    ran = [b for b in runs if not b.get("error_occurred")]
    errors = [b for b in runs if b.get("error_occurred")]
    skipped = [b for b in errors if b.get("error_message", "").startswith(SKIP)]
    failed = [b for b in errors if not b.get("error_message", "").startswith(SKIP)]
    why = sorted({b["error_message"][len(SKIP):] for b in skipped})
    line = "ran %d" % len(ran)
    if skipped:
        line += ", skipped %d (%s)" % (len(skipped), "; ".join(why))
    if failed:
        line += ", failed %d: %s" % (len(failed), "; ".join("%s: %s" % (b["name"], b.get("error_message", ""))
                                                             for b in failed))
        print(line)
        return 2
    print(line if ran or skipped else "ran no case")
    if ran:
        return 0
    return 3 if skipped else 1


if __name__ == "__main__":
    sys.exit(main(sys.argv[1]) if len(sys.argv) == 2 else 1)
