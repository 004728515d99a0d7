#!/usr/bin/env python3
"""Prints the table of one Google Benchmark JSON run of bench_cache and writes its cases as JSON.

usage: bench/report.py RUN.json RESULTS.json
Every case measured itself and its floor in alternating blocks of steps; the counters case_ns and
floor_ns are the medians of the steps' processor time (user and system), in nanoseconds per
evaluation. A case named "name/N/S" has N vertices and, when
S is not 0, a file of S samples.
"""
import json
import sys


def main(argv):
    if len(argv) == 2 and argv[1] in ("-h", "--help"):
        print(__doc__.strip())
        return 0
    if len(argv) != 3:
        print(__doc__.strip(), file=sys.stderr)
        return 2
    try:
        with open(argv[1]) as f:
            runs = json.load(f)["benchmarks"]
    except (OSError, ValueError, KeyError) as e:
        print(f"{argv[1]}: cannot read the benchmark run: {e}", file=sys.stderr)
        return 1
    results = []
    for run in runs:
        if run.get("run_type", "iteration") != "iteration" or "case_ns" not in run:
            continue
        base, vertices, samples = run["name"].split("/")[:3]
        name = base if int(samples) == 0 else f"{base} ({int(samples)} samples)"
        case, floor = run["case_ns"], run["floor_ns"]
        results.append({"name": name, "vertices": int(vertices), "ns_per_evaluation": round(case, 1),
                        "floor_ns": round(floor, 1), "ratio": round(case / floor, 3)})
    with open(argv[2], "w") as f:
        json.dump(results, f, indent=2)
        f.write("\n")
    print(f"| {'case':30} | {'vertices':>9} | {'us per evaluation':>17} | {'floor us':>9} | {'ratio':>5} |")
    print(f"|{'-' * 32}|{'-' * 10}:|{'-' * 18}:|{'-' * 10}:|{'-' * 6}:|")
    for r in results:
        print(f"| {r['name']:30} | {r['vertices']:>9,} | {r['ns_per_evaluation'] / 1e3:>17.1f} | "
              f"{r['floor_ns'] / 1e3:>9.1f} | {r['ratio']:>5.2f} |")
    print(f"wrote {len(results)} cases to {argv[2]}")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
