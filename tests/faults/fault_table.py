#!/usr/bin/env python3
"""Every command that writes a file, failed at each of its writing calls in turn.

Each row is run clean once with SEL_FAULT_LOG to count its creates, writes, flushes, syncs and
renames; then once for each of those calls with SEL_FAULT=KIND:N. A faulted run must exit non-zero
with a line naming the output and the system's reason, leave the old output byte for byte, and leave
no file behind that was not there; the next clean run writes the bytes the first one wrote.

usage: fault_table.py VOMARK TESSARIN PLUGIN_DIR DATA_DIR [PYTHON_DIR]
FAULT_TABLE_ROWS=NAME,NAME... runs those rows alone (the Windows build has no pictures or Python).
"""
import collections
import os
import shutil
import subprocess
import sys
import tempfile

vomark, tool, plugins, data = (os.path.abspath(a) for a in sys.argv[1:5])
python_dir = os.path.abspath(sys.argv[5]) if len(sys.argv) > 5 else ""
# the system's words for each failure; the Windows C runtime's where they differ
REASONS = {"create": ("Permission denied",), "write": ("No space left on device",),
           "flush": ("No space left on device",), "sync": ("Input/output error",),
           "rename": ("Device or resource busy", "Resource device")}
OLD = b"the old file, which no failure may touch\n"
MOST_PER_KIND = 6  # the first three and the last three calls of a kind, where there are more

work = tempfile.mkdtemp(prefix="fault-table-")
scene = os.path.join(work, "keys.json")
with open(os.path.join(data, "keys.json")) as f:
    open(scene, "w").write(f.read().replace("OUT/", work + "/"))
base_env = {k: v for k, v in os.environ.items() if not k.startswith("SEL_FAULT") and k != "LD_PRELOAD"}
V = [vomark, "--plugins", plugins]


def run(argv, env=None):
    e = dict(base_env, **(env or {}))
    return subprocess.run(argv, cwd=work, env=e, capture_output=True, text=True, timeout=120)


def must(argv):
    r = run(argv)
    assert r.returncode == 0, f"{argv}: {r.stderr}"


def part(frames):
    return os.path.join(work, f"keys.frames-{frames.replace(':', '-')}.sel")


# inputs the rows read, made once
must([vomark, "record", scene, "--plugins", plugins])
shutil.copy(os.path.join(work, "keys.sel"), os.path.join(work, "in.sel"))
must([tool, "export", "in.sel", "--out", "in.csv"])
open(os.path.join(work, "cut.sel"), "wb").write(open(os.path.join(work, "in.sel"), "rb").read()[:-10])
for frames in ("0:0", "1:2"):
    must([vomark, "record", scene, "--plugins", plugins, "--frames", frames])
for frames in ("0:0", "1:2"):
    for suffix in ("", ".part"):
        shutil.copy(part(frames) + suffix, os.path.join(work, f"p{frames[0]}.sel{suffix}"))
os.remove(os.path.join(work, "keys.sel"))

open(os.path.join(work, "record.script"), "w").write("$.modifiers[#Tessarin].Record\n")

PY_WRITER = ("import numpy, tessarin\n"
             "with tessarin.Writer('py.sel', 2, overwrite=True) as w:\n"
             "    for k in range(3): w.append(numpy.full(4, 0.25 * k, numpy.float32))\n")

# name, command, the outputs it writes
ROWS = [
    ("vomark record", [vomark, "record", scene, "--plugins", plugins], ["keys.sel"]),
    ("vomark run (Record)", V[:1] + ["run", scene, "record.script"] + V[1:], ["keys.sel"]),
    ("vomark record --frames", [vomark, "record", scene, "--plugins", plugins, "--frames", "1:2"],
     [part("1:2"), part("1:2") + ".part"]),
    ("tessarin join", [tool, "join", "p0.sel", "p1.sel", "--out", "joined.sel"], ["joined.sel"]),
    ("tessarin export", [tool, "export", "in.sel", "--out", "rows.csv"], ["rows.csv"]),
    ("tessarin import", [tool, "import", "in.csv", "--out", "imported.sel", "--samples-per-frame", "2"],
     ["imported.sel"]),
    ("tessarin repair", [tool, "repair", "cut.sel", "--out", "mended.sel"], ["mended.sel"]),
    ("tessarin plot", [tool, "plot", "in.sel", "--out", "heat.png"], ["heat.png"]),
    ("vomark save", V[:1] + ["save", scene, "scene.vms", "--force"] + V[1:], ["scene.vms"]),
    ("vomark eval --png", V[:1] + ["eval", scene, "--frame", "0", "--png", "eval.png"] + V[1:], ["eval.png"]),
]
if python_dir:
    ROWS.append(("Python Writer", [sys.executable, "-c", PY_WRITER], ["py.sel"]))
if os.environ.get("FAULT_TABLE_ROWS"):
    ROWS = [r for r in ROWS if r[0] in os.environ["FAULT_TABLE_ROWS"].split(",")]


def row_env(name):
    if name != "Python Writer":
        return {}
    env = {"PYTHONPATH": python_dir, "PYTHONDONTWRITEBYTECODE": "1"}
    if os.environ.get("FAULT_PYTHON_PRELOAD"):  # a sanitizer build's runtime, for a Python built without it
        env.update(LD_PRELOAD=os.environ["FAULT_PYTHON_PRELOAD"], ASAN_OPTIONS="detect_leaks=0")
    return env


def paths(outputs):
    return [o if os.path.isabs(o) else os.path.join(work, o) for o in outputs]


def put_old(outputs):
    for o in paths(outputs):
        open(o, "wb").write(OLD)


def listing():
    return sorted(os.listdir(work))


def read(outputs):
    return [open(o, "rb").read() if os.path.exists(o) else None for o in paths(outputs)]


failures = []
runs = 0
for name, argv, outputs in ROWS:
    env = row_env(name)
    put_old(outputs)
    log = os.path.join(tempfile.gettempdir(), f"fault-log-{os.getpid()}")
    if os.path.exists(log):
        os.remove(log)
    clean = run(argv, dict(env, SEL_FAULT_LOG=log))
    if clean.returncode != 0:
        failures.append(f"{name}: the clean run failed: {clean.stderr.strip()}")
        continue
    if not os.path.exists(log):
        failures.append(f"{name}: writes nothing through the file seam")
        continue
    calls = collections.Counter(open(log).read().split())
    os.remove(log)
    want = read(outputs)
    for kind in REASONS:
        n = calls[kind]
        which = list(range(1, n + 1)) if n <= MOST_PER_KIND else [1, 2, 3, n - 2, n - 1, n]
        for k in which:
            put_old(outputs)
            before = listing()
            r = run(argv, dict(env, SEL_FAULT=f"{kind}:{k}"))
            runs += 1
            where = f"{name}, {kind} {k} of {n}"
            if r.returncode == 0:
                failures.append(f"{where}: exited 0")
                continue
            text = r.stderr
            named = any(os.path.basename(o) in line and (any(w in line for w in REASONS[kind]) or
                        # the recorder's own message for a file it cannot open says neither reason
                        (name.startswith(("vomark record", "vomark run")) and kind == "create"))
                        for line in text.splitlines() for o in outputs)
            if not named:
                failures.append(f"{where}: no line names the output and '{REASONS[kind][0]}': {text.strip()}")
            if read(outputs) != [OLD] * len(outputs):
                failures.append(f"{where}: the old output changed")
            if listing() != before:
                extra = sorted(set(listing()) - set(before))
                failures.append(f"{where}: left {extra or 'fewer files'}")
    put_old(outputs)
    again = run(argv, env)
    if again.returncode != 0 or read(outputs) != want:
        failures.append(f"{name}: a clean run after the faults did not write the same bytes")
    print(f"{name}: {sum(calls.values())} calls ({dict(calls)}), each failed in turn")

shutil.rmtree(work)
for f in failures:
    print("FAIL:", f)
print(f"{runs - len(failures)} passed, {len(failures)} failed")
sys.exit(1 if failures else 0)
