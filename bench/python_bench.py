#!/usr/bin/python3
"""Cache.evaluate beside the modifier's own evaluation, at 10,000, 100,000 and 1,000,000 vertices.

Both step forward through a 16-sample file one sample per evaluation, a quarter past each sample
(bench_cache's playback_step: the same file, the same incoming weights and selection), and both are timed in processor time of
the thread, median per evaluation. usage: bench/python_bench.py BUILD_DIR (a -DTESSARIN_BENCH=ON
build with bench_cache and the tessarin module built)
"""
import json
import os
import subprocess
import sys
import tempfile
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


def python_us(path, n, seconds=1.5):
    i = np.arange(n)
    weights = weight_of(i, 5) * np.float32(0.5)
    selected = i % 10 == 0
    times = []
    with tessarin.open(path) as c:
        step, end = 0, time.monotonic() + seconds
        while time.monotonic() < end or len(times) < 15:
            # as playback_step: a quarter past samples 1 to 14 in turn, the jump back untimed
            lower = 1 + step % (SAMPLES - 2)
            if lower == 1:
                c.evaluate(0.25, weights, selected)
            frame = lower + 0.25
            t0 = time.thread_time_ns()
            c.evaluate(frame, weights, selected)
            times.append(time.thread_time_ns() - t0)
            step += 1
    return float(np.median(times)) / 1000


def modifier_us():
    out = os.path.join(tempfile.mkdtemp(), "bench.json")
    subprocess.run([os.path.join(BUILD, "bin", "bench_cache"), "--benchmark_filter=playback_step/",
                    "--benchmark_min_time=0.3", f"--benchmark_out={out}", "--benchmark_out_format=json"],
                   check=True, stdout=subprocess.DEVNULL)
    result = {}
    for b in json.load(open(out))["benchmarks"]:
        n = int(b["name"].split("/")[1])
        result[n] = b["case_ns"] / b["evaluations"] / 1000
    return result


def main():
    modifier = modifier_us()
    folder = tempfile.mkdtemp()
    print("| vertices | modifier us | Cache.evaluate us | ratio |")
    print("|---:|---:|---:|---:|")
    for n in SIZES:
        path = os.path.join(folder, f"{n}.sel")
        make_cache(path, n)
        py = python_us(path, n)
        print(f"| {n:,} | {modifier[n]:.1f} | {py:.1f} | {py / modifier[n]:.2f} |")
        os.remove(path)


main()
