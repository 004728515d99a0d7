"""Opening, refusing and reading cache files: what the modifier and the cache tool would say."""
import hashlib
import multiprocessing
import operator
import os
import pathlib
import pickle
import signal
import struct
import subprocess
import sys
import threading
import time

import numpy as np
import pytest

import tessarin
from conftest import write_fixed, write_variable


def header(tag, spf, total):
    return struct.pack("<3i", tag, spf, total)


# Files the modifier treats as missing, each refused with the tool's own line; a file of another
# kind (a scene named by mistake) as no cache at all, not as a damaged one.
DAMAGED = {
    "not_a_cache_scene": b'{"ticksPerFrame": 160, "animationRange": [0, 10], "nodes": []}\n',
    "short_header": b"\x9c\xff\xff",
    "no_samples_per_frame": header(-100, 0, 1) + struct.pack("<fi", 0.5, 0) + struct.pack("<i", 1),
    "no_samples": header(-100, 1, 0),
    "table_before_header_end": header(-100, 1, 5),
    "negative_count": header(-100, 1, 1) + struct.pack("<fi", 0.5, 0) + struct.pack("<i", -1),
    "counts_past_table": header(-100, 1, 2) + struct.pack("<fi", 0.5, 0) + struct.pack("<2i", 1, 7),
    "fixed_without_a_whole_sample": header(4, 1, 2) + struct.pack("<fi", 0.5, 0),
}


@pytest.mark.parametrize("name", sorted(DAMAGED))
def test_refuses_what_the_modifier_refuses_with_the_tools_line(tmp_path, commands, name):
    path = tmp_path / f"{name}.sel"
    path.write_bytes(DAMAGED[name])
    with pytest.raises(tessarin.CacheError) as e:
        tessarin.open(str(path))
    info = commands.run(commands.tool, "info", str(path), check=False)
    assert info.returncode == 1
    assert str(e.value) == info.stderr.strip()
    assert str(e.value).startswith(f"{path}: byte ")
    assert ("not a .sel cache" in str(e.value)) == name.startswith("not_a_cache")


def test_file_problems_are_oserrors_and_damage_is_not(tmp_path):
    # `except OSError` catches what every file library raises; a damaged file is no OSError
    for call in (tessarin.open, tessarin.verify):
        with pytest.raises(FileNotFoundError) as e:
            call(tmp_path / "absent.sel")
        assert e.value.filename == str(tmp_path / "absent.sel")
        with pytest.raises(IsADirectoryError, match="is a folder"):
            call(tmp_path)
    os.mkfifo(tmp_path / "fifo.sel")
    with pytest.raises(tessarin.CacheError, match="not a plain file"):
        tessarin.open(tmp_path / "fifo.sel")  # refused, not waited on
    locked = tmp_path / "locked.sel"
    locked.write_bytes(DAMAGED["no_samples"])
    locked.chmod(0)
    if os.access(locked, os.R_OK):
        pytest.skip("this user reads every file")
    with pytest.raises(PermissionError):
        tessarin.open(locked)
    locked.chmod(0o644)
    with pytest.raises(tessarin.CacheError) as e:
        tessarin.open(locked)
    assert not isinstance(e.value, OSError)


@pytest.mark.parametrize("kind", [str, pathlib.Path, os.fsencode])
def test_paths_may_be_str_bytes_or_pathlike(tmp_path, kind):
    path = write_variable(tmp_path / "v.sel", [[0.5, 0.25]])
    with tessarin.open(kind(path)) as c:
        assert c.path == str(path) and repr(c) == f"<tessarin.Cache {str(path)!r}: 1 samples>"
    assert tessarin.verify(kind(path))["verdict"] == "valid"
    with tessarin.Writer(kind(tmp_path / "w.sel"), 1) as w:
        assert w.path == str(tmp_path / "w.sel")
    with pytest.raises(TypeError):
        tessarin.open(3)


def test_variable_count_file_reports_its_counts_and_samples(tmp_path):
    path = write_variable(tmp_path / "v.sel", [[0.0, 0.5], [1.0, 0.25, 0.75], [0.125]], spf=2)
    with tessarin.open(str(path)) as c:
        assert c.samples_per_frame == 2
        assert c.sample_count == 3
        assert c.fixed_count is None
        assert c.counts.dtype == np.int32 and list(c.counts) == [2, 3, 1]
        w = c.weights(1)
        assert w.dtype == np.float32 and list(w) == [1.0, 0.25, 0.75]
        t = c.times(1)
        assert t.dtype == np.int32 and list(t) == [80, 80, 80], "the recorder's second sample of frame 0"
        assert list(c.times(2)) == [160]
    assert c.closed


def test_fixed_count_file_plays_its_whole_samples_only(tmp_path):
    path = tmp_path / "f.sel"
    write_fixed(path, 2, [[0.5, 0.25], [0.75, 1.0], [0.0, 0.125]])
    # a cut in the last sample: the whole samples before it still play, as in the modifier
    path.write_bytes(path.read_bytes()[:-4])
    c = tessarin.open(str(path))
    assert c.fixed_count == 2
    assert c.sample_count == 2
    assert list(c.counts) == [2, 2]
    assert list(c.weights(1)) == [0.75, 1.0]


def test_wrong_sample_indexes_and_a_closed_cache_raise_with_a_sentence(tmp_path):
    c = tessarin.open(str(write_variable(tmp_path / "v.sel", [[0.5], [0.25]])))
    for k in (-1, 2, 1 << 40):
        with pytest.raises(IndexError, match="outside the file's samples 0 to 1"):
            c.weights(k)
        with pytest.raises(IndexError):
            c.times(k)
    c.close()
    c.close()  # twice is harmless
    for use in (lambda: c.weights(0), lambda: c.sample_count,
                lambda: c.evaluate(0, np.zeros(1, np.float32), None)):
        with pytest.raises(ValueError, match="closed"):
            use()


def test_opening_reads_the_header_and_table_only(tmp_path):
    # a file whose records are mostly missing opens; only a read of a missing sample sees zeros
    path = tmp_path / "big.sel"
    count, total = 1_000_000, 4
    with open(path, "wb") as f:
        f.write(header(count, 1, total))
        f.truncate(12 + 8 * count * total)  # a sparse file: nothing but the header written
    c = tessarin.open(str(path))
    assert c.sample_count == total
    assert c.weights(3).shape == (count,)


@pytest.mark.parametrize("content", [b"", DAMAGED["negative_count"], DAMAGED["counts_past_table"]])
def test_verify_gives_the_tools_json(tmp_path, commands, content):
    import json
    path = tmp_path / "c.sel"
    path.write_bytes(content or write_variable(tmp_path / "ok.sel", [[0.5, 1.0]]).read_bytes())
    out = commands.run(commands.tool, "verify", "--format", "json", str(path), check=False)
    assert tessarin.verify(str(path)) == json.loads(out.stdout)


def test_a_cache_is_a_sequence_of_samples_and_reads_them_as_one_array(tmp_path):
    samples = [[0.0, 0.5, 1.0], [0.25, 0.75, 0.125], [1.0, 0.0, 0.5], [0.5, 0.5, 0.5]]
    c = tessarin.open(write_variable(tmp_path / "v.sel", samples))
    want = np.array(samples, np.float32)
    assert len(c) == 4
    np.testing.assert_array_equal(c[1], want[1])
    np.testing.assert_array_equal(c[-1], want[3])
    for key in (slice(None), slice(1, 3), slice(None, None, -2), slice(3, 1)):
        np.testing.assert_array_equal(c[key].reshape(-1, 3), want[key], err_msg=str(key))
    for args in ((0,), (1,), (1, 3), (2, None), (4, 4)):
        got = c.read(*args)
        assert got.dtype == np.float32 and got.ndim == 2
        np.testing.assert_array_equal(got.reshape(-1, 3), want[slice(*(args + (None, None))[:2])], err_msg=str(args))
    np.testing.assert_array_equal(c.read()[:, 1], want[:, 1], "the whole file; one vertex over time is a column")
    # vertices= reads those columns alone, indexed as numpy indexes the whole array
    for args, vertices in (((), 1), ((1, 3), -1), ((), [2, 0, 2]), ((2,), slice(None, None, -2)), ((1, 1), slice(None))):
        got = c.read(*args, vertices=vertices)
        np.testing.assert_array_equal(got, c.read(*args)[:, vertices], err_msg=f"{args} {vertices}")
    for vertices, error in ((3, IndexError), ([0, -4], IndexError), (0.5, TypeError), ([[1]], ValueError)):
        with pytest.raises(error):
            c.read(vertices=vertices)
    for args in ((-1, 2), (0, 5), (3, 2)):
        with pytest.raises(IndexError):
            c.read(*args)
    with pytest.raises(IndexError):
        c[4]
    with pytest.raises(TypeError):
        c[1.5]
    unequal = tessarin.open(write_variable(tmp_path / "u.sel", [[0.5], [0.5, 0.5]]))
    with pytest.raises(ValueError, match="from 1 to 2 records"):
        unequal.read()
    assert unequal.read(1).shape == (1, 2)


def _read_all(start):
    # every sample, from a place of its own, so that the workers read at once
    return [hashlib.sha1(_FORKED.weights((start + k) % 360).tobytes()).digest() for k in range(3 * 360)]


def test_forked_workers_each_read_the_samples_they_ask_for(tmp_path):
    # a cache opened in the parent, read by forked workers at once: no read may depend on a file
    # offset the processes share
    global _FORKED
    rng = np.random.default_rng(5)
    samples = [rng.random(2000, dtype=np.float32) for _ in range(360)]
    _FORKED = tessarin.open(write_variable(tmp_path / "v.sel", samples))
    want = [hashlib.sha1(_FORKED.weights(k).tobytes()).digest() for k in range(360)]
    starts = list(range(0, 360, 45))
    with multiprocessing.get_context("fork").Pool(4) as pool:
        got = pool.map(_read_all, starts, chunksize=1)
    wrong = sum(g != want[(start + k) % 360] for start, reads in zip(starts, got) for k, g in enumerate(reads))
    assert not wrong, f"{wrong} of {3 * 360 * len(starts)} samples read wrong in forked workers"


def _rewrite_in_place(path, samples):
    with open(path, "r+b") as f:
        f.truncate(0)
        f.write(write_variable(path.with_suffix(".new"), samples).read_bytes())


def _replace_by_rename(path, samples):
    os.replace(write_variable(path.with_suffix(".new"), samples), path)


def _same_size_old_times(path, samples):
    # as a copy that keeps times does: only the change time tells the new bytes from the old
    old = os.stat(path)
    _rewrite_in_place(path, samples[:2])
    assert os.path.getsize(path) == old.st_size
    os.utime(path, ns=(old.st_atime_ns, old.st_mtime_ns))


@pytest.mark.parametrize("change", [_rewrite_in_place, _replace_by_rename, _same_size_old_times, os.remove])
def test_a_file_changed_on_disk_is_refused_not_played(tmp_path, change):
    path = write_variable(tmp_path / "v.sel", [[0.5, 0.5], [0.25, 0.25]])
    c = tessarin.open(path)
    w = np.zeros(2, np.float32)
    c.evaluate(0, w, None)
    assert not c.changed
    time.sleep(0.02)  # a later modification time, even on a file system that counts coarsely
    if change is os.remove:
        os.remove(path)
    else:
        change(path, [[1.0, 0.0]] * 5)
    assert c.changed
    for read in (lambda: c.weights(0), lambda: c.read(), lambda: c[0], lambda: c.evaluate(0, w, None)):
        with pytest.raises(tessarin.CacheError, match="changed on disk since it was opened"):
            read()
    if change is not os.remove:
        assert list(tessarin.open(path).weights(1)) == [1.0, 0.0], "opened again, it is the new file"


def test_threads_on_one_cache_take_turns(tmp_path):
    # four threads on one cache: each call holds the cache alone, so every answer is right although
    # the calls run without Python's lock (the held samples are the cache's state)
    rng = np.random.default_rng(6)
    n, count = 20_000, 40
    c = tessarin.open(write_variable(tmp_path / "v.sel", [rng.random(n, dtype=np.float32) for _ in range(count)]))
    w = np.zeros(n, np.float32)
    frames = rng.uniform(0, count - 1, 80)
    want = [c.evaluate(f, w, None)[0] for f in frames]
    outs = [[] for _ in range(4)]
    threads = [threading.Thread(target=lambda o=o: o.extend(c.evaluate(f, w, None)[0] for f in frames))
               for o in outs]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    for out in outs:
        assert all(np.array_equal(a, b) for a, b in zip(out, want))


def test_long_calls_let_other_threads_run(tmp_path):
    # A long call runs without Python's lock, so another thread's Python runs while it is under way:
    # its time stamps fall inside the call. A call that held the lock would let none fall in the
    # middle of it, however the machine is loaded. (Wall time of two threads: bench/python_bench.py.)
    rng = np.random.default_rng(7)
    n, count = 200_000, 20
    c = tessarin.open(write_variable(tmp_path / "long.sel",
                                     [rng.random(n, dtype=np.float32) for _ in range(count)]))
    stamps, spans, done = [], [], threading.Event()

    def ticker():
        while not done.is_set():
            stamps.append(time.perf_counter())
            time.sleep(0.0002)

    t = threading.Thread(target=ticker)
    t.start()
    try:
        for _ in range(5):
            start = time.perf_counter()
            c.read(0, count)
            end = time.perf_counter()
            spans.append((start, end))
    finally:
        done.set()
        t.join()
    # the middle of each call: a switch just before or after it is not what is asked
    inside = [sum(a + (b - a) / 10 < s < b - (b - a) / 10 for s in stamps) for a, b in spans]
    assert max(inside) >= 2, f"another thread ran {inside} times inside five reads"


def _wait(pid, seconds=60):
    """The child's exit status, or None when it is still running after `seconds` (it is killed then)."""
    end = time.monotonic() + seconds
    while time.monotonic() < end:
        done, status = os.waitpid(pid, os.WNOHANG)
        if done:
            return os.waitstatus_to_exitcode(status)
        time.sleep(0.01)
    os.kill(pid, signal.SIGKILL)
    os.waitpid(pid, 0)
    return None


def _fork_and_read(c, want):
    pid = os.fork()
    if pid == 0:
        os._exit(0 if np.array_equal(c.weights(3), want) else 1)
    return _wait(pid)


def _inherited_weights(k):
    return _INHERITED.weights(k)


def _pool_read(c, want):
    global _INHERITED
    _INHERITED = c  # the parent's own object, copied into each worker by the fork
    with multiprocessing.get_context("fork").Pool(2) as pool:
        got = pool.map_async(_inherited_weights, [3, 3])
        got.wait(60)
        if not got.ready():
            pool.terminate()
            return None
    return 0 if all(np.array_equal(g, want) for g in got.get()) else 1


@pytest.mark.parametrize("fork", [_fork_and_read, _pool_read])
def test_a_fork_while_another_thread_reads_the_same_cache(tmp_path, fork):
    # the fork waits for the other thread's call, so the child finds the cache's lock free
    rng = np.random.default_rng(8)
    c = tessarin.open(write_variable(tmp_path / "v.sel", [rng.random(50_000, dtype=np.float32) for _ in range(10)]))
    want, done = c.weights(3), threading.Event()

    def reader():
        while not done.is_set():
            c.weights(7)

    t = threading.Thread(target=reader)
    t.start()
    try:
        results = [fork(c, want) for _ in range(5)]
    finally:
        done.set()
        t.join()
    assert results == [0] * 5, f"children: {results} (None: hung)"


DAEMON = """
import sys, threading, time
sys.path[:0] = {path!r}
import numpy as np, tessarin
c = tessarin.open({cache!r})
started = threading.Event()
def loop():
    while True:
        started.set()
        c.read()
threading.Thread(target=loop, daemon=True).start()
started.wait()
time.sleep({pause})
"""


def test_the_program_ends_cleanly_with_a_daemon_thread_inside_a_call(tmp_path):
    # a farm counts the exit status: a thread coming back to a finishing interpreter must not abort it
    rng = np.random.default_rng(9)
    cache = write_variable(tmp_path / "long.sel", [rng.random(300_000, dtype=np.float32) for _ in range(12)])
    for pause in (0.0, 0.01, 0.05, 0.1, 0.2):
        script = DAEMON.format(path=sys.path, cache=str(cache), pause=pause)
        run = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True, timeout=120)
        assert run.returncode == 0 and "terminate" not in run.stderr and "Traceback" not in run.stderr, \
            f"after {pause} s: exit {run.returncode}: {run.stderr[-400:]}"


def test_a_relative_name_is_the_file_it_named_at_opening(tmp_path, monkeypatch):
    path = write_variable(tmp_path / "v.sel", [[0.5, 0.25], [0.75, 1.0]])
    (tmp_path / "elsewhere").mkdir()
    write_variable(tmp_path / "elsewhere" / "v.sel", [[0.0, 0.0]])
    monkeypatch.chdir(tmp_path)
    c = tessarin.open("v.sel")
    monkeypatch.chdir(tmp_path / "elsewhere")
    assert not c.changed and c.path == str(path)
    assert list(c.weights(1)) == [0.75, 1.0]


@pytest.mark.parametrize("method", ["spawn", "forkserver"])
def test_a_cache_pickles_as_its_name_and_opens_again_in_a_worker(tmp_path, method):
    path = write_variable(tmp_path / "v.sel", [[0.5, 0.25], [0.75, 1.0]])
    c = tessarin.open(path)
    copy = pickle.loads(pickle.dumps(c))
    assert copy is not c and copy.path == c.path and list(copy.weights(1)) == [0.75, 1.0]
    with multiprocessing.get_context(method).Pool(2) as pool:
        got = pool.map(operator.methodcaller("weights", 1), [c, c])
    assert [list(g) for g in got] == [[0.75, 1.0]] * 2
