#!/usr/bin/env python3
"""Prints the summary table of `make bench` from the rows the benchmarks appended.

  bench_table.py <summary file>

Each row is "benchmark<TAB>figure<TAB>value". Standard library only.
"""

import sys


def main(argv):
    if len(argv) != 2:
        print(__doc__, file=sys.stderr)
        return 2
    try:
        with open(argv[1], encoding="utf-8") as f:
            rows = [line.rstrip("\n").split("\t") for line in f if line.strip()]
    except OSError:
        rows = []
    rows = [(row + ["", "", ""])[:3] for row in rows]
    header = ("benchmark", "figure", "value")
    widths = [max(len(r[i]) for r in rows + [header]) for i in range(3)]
    rule = "  ".join("-" * w for w in widths)
    print("== summary")
    print("  ".join(h.ljust(w) for h, w in zip(header, widths)).rstrip())
    print(rule)
    previous = None
    for row in rows:
        name = row[0] if row[0] != previous else ""
        previous = row[0]
        print("  ".join(c.ljust(w) for c, w in zip((name, row[1], row[2]), widths)).rstrip())
    if not rows:
        print("(no figures were recorded)")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
