#!/usr/bin/python3
"""Cache.evaluate beside the modifier's own evaluation, at 10,000, 100,000 and 1,000,000 vertices, into
new arrays and into arrays given with out=; then two threads on two caches beside one thread.

Both step forward through a 16-sample file one sample per evaluation, a quarter past each sample
(bench_cache's playback_step: the same file, the same incoming weights and selection), and both are timed in processor time of
the thread, median per evaluation, less what reading the clock costs (as bench_cache does). The two
take turns for five rounds and each keeps its fastest round, so that a busy second on this shared
machine does not land on one side only. usage: bench/python_bench.py BUILD_DIR (a -DTESSARIN_BENCH=ON
build with bench_cache and the tessarin module built)
"""
import json
import os
import subprocess
import sys
import tempfile
import threading
import time

BUILD = sys.argv[1] if len(sys.argv) > 1 else "build-bench"
sys.path.insert(0, os.path.join(BUILD, "python"))
import numpy as np  # noqa: E402
import tessarin  # noqa: E402

SIZES = (10_000, 100_000, 1_000_000)
SAMPLES, TPF = 16, 160


def weight_of(i, k):
    return ((i * 7 + k * 13) % 97).astype(np.float32) / np.float32(96.0)


def make_cache(path, n):
    i = np.arange(n)
    with tessarin.Writer(path, 1, overwrite=True) as w:
        for k in range(SAMPLES):
            w.append(weight_of(i, k))


ROUNDS = 5


def clock_us():
    """What reading the clock adds to every timed step: the median of empty steps."""
    empty = []
    for _ in range(2001):
        t0 = time.thread_time_ns()
        empty.append(time.thread_time_ns() - t0)
    return float(np.median(empty)) / 1000


def python_us(path, n, into, seconds=0.5):
    i = np.arange(n)
    weights = weight_of(i, 5) * np.float32(0.5)
    selected = i % 10 == 0
    times = []
    # in place, as the modifier plays a mesh's own channel: the results into the incoming arrays
    out = (weights, selected) if into else None
    with tessarin.open(path) as c:
        step, end = 0, time.monotonic() + seconds
        while time.monotonic() < end or len(times) < 15:
            # as playback_step: a quarter past samples 1 to 14 in turn, the jump back untimed
            lower = 1 + step % (SAMPLES - 2)
            if lower == 1:
                c.evaluate(0.25, weights, selected)
            frame = lower + 0.25
            t0 = time.thread_time_ns()
            c.evaluate(frame, weights, selected, out=out)
            times.append(time.thread_time_ns() - t0)
            step += 1
    return float(np.median(times)) / 1000 - clock_us()


def modifier_us():
    out = os.path.join(tempfile.mkdtemp(), "bench.json")
    subprocess.run([os.path.join(BUILD, "bin", "bench_cache"), "--benchmark_filter=playback_step/",
                    "--benchmark_min_time=0.2", f"--benchmark_out={out}", "--benchmark_out_format=json"],
                   check=True, stdout=subprocess.DEVNULL)
    result = {}
    for b in json.load(open(out))["benchmarks"]:
        n = int(b["name"].split("/")[1])
        result[n] = b["case_ns"] / b["evaluations"] / 1000
    return result


def threads_ms(paths, n):
    """Wall time of 30 evaluations on each of two caches: one thread doing both, then a thread each."""
    caches = [tessarin.open(p) for p in paths]
    weights = np.zeros(n, np.float32)

    def play(c):
        out = (np.empty(n, np.float32), np.empty(n, bool))
        for k in range(30):
            c.evaluate(1 + k % (SAMPLES - 2) + 0.25, weights, None, out=out)

    def wall(groups):
        t0 = time.perf_counter()
        threads = [threading.Thread(target=lambda g=g: [play(c) for c in g]) for g in groups]
        for t in threads:
            t.start()
        for t in threads:
            t.join()
        return (time.perf_counter() - t0) * 1000

    one = min(wall([caches]) for _ in range(3))
    two = min(wall([[caches[0]], [caches[1]]]) for _ in range(3))
    return one, two


def main():
    folder = tempfile.mkdtemp()
    paths = {n: os.path.join(folder, f"{n}.sel") for n in SIZES}
    for n, path in paths.items():
        make_cache(path, n)
    best = {}
    for _ in range(ROUNDS):
        for n, us in modifier_us().items():
            best[("modifier", n)] = min(us, best.get(("modifier", n), us))
        for n, path in paths.items():
            for into in (False, True):
                us = python_us(path, n, into)
                best[(into, n)] = min(us, best.get((into, n), us))
    print("| vertices | modifier us | Cache.evaluate us | ratio | in place (out=inputs) us | ratio |")
    print("|---:|---:|---:|---:|---:|---:|")
    for n, path in paths.items():
        modifier, new, into = best[("modifier", n)], best[(False, n)], best[(True, n)]
        print(f"| {n:,} | {modifier:.1f} | {new:.1f} | {new / modifier:.2f} | {into:.1f} | {into / modifier:.2f} |")
        os.remove(path)
    n = 1_000_000
    paths = [os.path.join(folder, f"t{i}.sel") for i in range(2)]
    for p in paths:
        make_cache(p, n)
    one, two = threads_ms(paths, n)
    print(f"\nTwo caches of {n:,} vertices, 30 evaluations each: one thread {one:.0f} ms, "
          f"a thread each {two:.0f} ms ({two / one:.2f}; {os.cpu_count()} processors)")


main()
