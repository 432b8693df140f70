#!/usr/bin/env python3
"""compare-widths.py RESULTS32.json RESULTS64.json OUT.json

Sets the 64-bit module's unclocked throughput (through its 32-bit helper)
beside the 32-bit module's, per picture size both runs measured, from the two
kxbench results of one bench/run.sh on one machine; judges the goal of at
least 90 % at 1920x1080 and repeats the 64-bit many-files figures for 24
files. Prints a table and writes it as JSON."""
import json
import re
import sys

GOAL_SIZE = "1920x1080"
GOAL_SHARE = 0.90
# Load to EC_COMPLETE includes the start of the 64-bit module's helper
# process (the open latency, item 5); the goal is on the delivery itself.
ROWS = ("1. module, Load to EC_COMPLETE", "1. module, Run to EC_COMPLETE")
GOAL_ROW = "1. module, Run to EC_COMPLETE"


def figures(path):
    with open(path, encoding="utf-8") as f:
        data = json.load(f)
    by_size = {}
    many = []
    for row in data["figures"]:
        size = re.search(r"(\d+x\d+)", row["section"])
        if row["section"].startswith("1-5.") and size and (row["name"] in ROWS or "warm-up" in row["name"]
                                                           or row["name"].startswith("5. open")):
            by_size.setdefault(size.group(1), {})[row["name"]] = row["value"]
        elif row["section"].startswith("8.") and row["name"].startswith("24 files"):
            many.append(row)
    return data.get("machine", ""), by_size, many


def main():
    if len(sys.argv) != 4:
        sys.exit(__doc__)
    machine, narrow, _ = figures(sys.argv[1])
    _, wide, many = figures(sys.argv[2])
    table = {"machine": machine, "sizes": [], "many_files_64": many, "goal": None}
    print("\n64-bit module (helper process) beside the 32-bit module, unclocked, %s" % machine)
    print("  %-10s %-40s %10s %10s %8s" % ("size", "figure", "32-bit", "64-bit", "64/32"))
    for size in sorted(set(narrow) & set(wide), key=lambda s: int(s.split("x")[0])):
        for name in sorted(set(narrow[size]) & set(wide[size])):
            a, b = narrow[size].get(name, 0), wide[size].get(name, 0)
            share = b / a if a > 0 else 0
            print("  %-10s %-40s %10.1f %10.1f %7.0f%%" % (size, name[3:], a, b, 100 * share))
            table["sizes"].append({"size": size, "figure": name, "pictures_32": a, "pictures_64": b, "share": share})
            if size == GOAL_SIZE and name == GOAL_ROW:
                table["goal"] = {"held": share >= GOAL_SHARE, "share": share}
    if table["goal"] is not None:
        print("  [%s] 64-bit path reaches %d%% of the 32-bit module at %s (Run to EC_COMPLETE): %.0f%%"
              % ("HELD" if table["goal"]["held"] else "MISSED", 100 * GOAL_SHARE, GOAL_SIZE,
                 100 * table["goal"]["share"]))
    for row in many:
        print("  64-bit, %s: %.2f %s  %s" % (row["name"], row["value"], row["unit"], row["note"]))
    with open(sys.argv[3], "w", encoding="utf-8") as f:
        json.dump(table, f, indent=1)


if __name__ == "__main__":
    main()
