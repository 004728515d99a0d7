#!/usr/bin/env python3
"""Prints the table of one Google Benchmark JSON run of bench_cache and writes its cases as JSON.

usage: bench/report.py RUN.json RESULTS.json
Every case measured itself and its floor in alternating blocks of steps; the counters case_ns and
floor_ns are the medians of the steps' processor time (user and system), in nanoseconds per
evaluation. A case named "name/N/S" has N vertices and, when
S is not 0, a file of S samples. A crowd case ("crowd/V/N/C": N nodes of V vertices on C caches)
goes to a table of its own: the time of a frame (every node evaluated once) against the sum of the
nodes' floors alone (and one node alone evaluated again and again, warm in the processor's caches),
and the memory the cache pool holds against the distinct samples in use, the
process's resident memory against the meshes' own.
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
    results, crowds = [], []
    for run in runs:
        if run.get("run_type", "iteration") != "iteration" or "case_ns" not in run:
            continue
        if "nodes" in run:
            nodes, case, floor = int(run["nodes"]), run["case_ns"], run["floor_ns"]
            crowds.append({"name": "crowd", "vertices": int(run["name"].split("/")[1]), "nodes": nodes,
                           "caches": int(run["caches"]), "ms_per_frame": round(case * nodes / 1e6, 3),
                           "floors_ms": round(floor * nodes / 1e6, 3), "ratio": round(case / floor, 3),
                           "warm_ms": round(run["warm_ns"] * nodes / 1e6, 3),
                           "cache_mb": round(run["cache_bytes"] / 2**20, 2),
                           "distinct_mb": round(run["distinct_bytes"] / 2**20, 2),
                           "resident_mb": round(run["resident_bytes"] / 2**20, 1),
                           "mesh_mb": round(run["mesh_bytes"] / 2**20, 1)})
            continue
        base, vertices, samples = run["name"].split("/")[:3]
        name = base if int(samples) == 0 else f"{base} ({int(samples)} samples)"
        case, floor = run["case_ns"], run["floor_ns"]
        results.append({"name": name, "vertices": int(vertices), "ns_per_evaluation": round(case, 1),
                        "floor_ns": round(floor, 1), "ratio": round(case / floor, 3)})
    with open(argv[2], "w") as f:
        json.dump(results + crowds, f, indent=2)
        f.write("\n")
    print(f"| {'case':30} | {'vertices':>9} | {'us per evaluation':>17} | {'floor us':>9} | {'ratio':>5} |")
    print(f"|{'-' * 32}|{'-' * 10}:|{'-' * 18}:|{'-' * 10}:|{'-' * 6}:|")
    for r in results:
        print(f"| {r['name']:30} | {r['vertices']:>9,} | {r['ns_per_evaluation'] / 1e3:>17.1f} | "
              f"{r['floor_ns'] / 1e3:>9.1f} | {r['ratio']:>5.2f} |")
    if crowds:
        print()
        print("| crowd (nodes x vertices on caches) | ms per frame | floors ms | ratio | warm ms | "
              "cache MB | distinct MB | resident MB | meshes MB |")
        print("|---|---:|---:|---:|---:|---:|---:|---:|---:|")
        for c in crowds:
            print(f"| {c['nodes']:,} x {c['vertices']:,} on {c['caches']} | {c['ms_per_frame']:.2f} | "
                  f"{c['floors_ms']:.2f} | {c['ratio']:.2f} | {c['warm_ms']:.2f} | {c['cache_mb']:.2f} | "
                  f"{c['distinct_mb']:.2f} | {c['resident_mb']:.0f} | {c['mesh_mb']:.0f} |")
    print(f"wrote {len(results) + len(crowds)} cases to {argv[2]}")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
