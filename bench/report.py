#!/usr/bin/env python3
"""Pairs every benchmark case with its floor from one Google Benchmark JSON run, prints a table and
writes the pairs as JSON.

usage: bench/report.py RUN.json RESULTS.json
Each case "name/N/S" has a floor "name.floor/N/S"; times are processor nanoseconds (user and system) per evaluation.
"""
import json
import sys

UNIT_NS = {"ns": 1.0, "us": 1e3, "ms": 1e6, "s": 1e9}


def per_evaluation_ns(run):
    evaluations = run.get("evaluations", 1) or 1
    return run["cpu_time"] * UNIT_NS[run.get("time_unit", "ns")] / evaluations


def main(argv):
    if len(argv) != 3 or argv[1] in ("-h", "--help"):
        print(__doc__.strip(), file=sys.stderr if len(argv) != 2 else sys.stdout)
        return 0 if len(argv) == 2 else 2
    try:
        with open(argv[1]) as f:
            runs = json.load(f)["benchmarks"]
    except (OSError, ValueError, KeyError) as e:
        print(f"{argv[1]}: cannot read the benchmark run: {e}", file=sys.stderr)
        return 1
    times = {}
    for run in runs:
        if run.get("run_type", "iteration") == "iteration" and "error_occurred" not in run:
            times[run["name"]] = per_evaluation_ns(run)
    results = []
    for name, ns in times.items():
        base, _, args = name.partition("/")
        if base.endswith(".floor"):
            continue
        floor = times.get(f"{base}.floor/{args}")
        if floor is None:
            continue
        fields = args.split("/")
        vertices = int(fields[0])
        samples = int(fields[1]) if len(fields) > 1 and int(fields[1]) > 0 else None
        label = base if samples is None else f"{base} ({samples} samples)"
        results.append({"name": label, "vertices": vertices, "ns_per_evaluation": round(ns, 1),
                        "floor_ns": round(floor, 1), "ratio": round(ns / floor, 3)})
    with open(argv[2], "w") as f:
        json.dump(results, f, indent=2)
        f.write("\n")
    print(f"| {'case':34} | {'vertices':>9} | {'us/eval':>10} | {'floor us':>10} | {'ratio':>6} |")
    print(f"|{'-' * 36}|{'-' * 11}:|{'-' * 11}:|{'-' * 11}:|{'-' * 7}:|")
    for r in results:
        print(f"| {r['name']:34} | {r['vertices']:>9,} | {r['ns_per_evaluation'] / 1e3:>10.1f} | "
              f"{r['floor_ns'] / 1e3:>10.1f} | {r['ratio']:>6.2f} |")
    print(f"wrote {len(results)} cases to {argv[2]}")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
