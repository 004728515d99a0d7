"""tessarin.Writer writes what the recorder writes, puts it in place whole or not at all, and a writer
that dies leaves a mendable file beside its target."""
import errno
import os
import stat
import subprocess
import sys

import numpy as np
import pytest

import tessarin
from conftest import grid_scene


def sweep_scene(tmp_path, spf, start, end, out):
    # a SoftSelect centre moving across a grid: every sample differs, with ones and partial weights
    modifiers = [
        {"class": "SoftSelect", "center": [{"frame": start, "at": [-5, 0, 0]}, {"frame": end, "at": [5, 0, 0]}],
         "radius": 1.5, "falloff": 3},
        {"class": "Tessarin", "params": {"cache_file": str(out), "samples": spf, "start_time": start,
                                         "end_time": end}},
    ]
    return grid_scene(tmp_path / "sweep.json", 6, 8, modifiers)


@pytest.mark.parametrize("spf,start,end", [(1, 0, 6), (3, 2, 5), (2, -1.5, 1)])
def test_written_file_is_byte_identical_to_the_recorders(tmp_path, commands, spf, start, end):
    recorded = tmp_path / "recorded.sel"
    commands.record(sweep_scene(tmp_path, spf, start, end, recorded))
    written = tmp_path / "written.sel"
    with tessarin.open(str(recorded)) as c, \
            tessarin.Writer(str(written), spf, start_frame=start) as w:
        for k in range(c.sample_count):
            weights = c.weights(k)
            w.append(weights, weights == 1.0)
        assert w.sample_count == c.sample_count
    assert written.read_bytes() == recorded.read_bytes()


# What append records for each vertex: 1.0 where selected, else its own weight, whatever that weight is.
SELECTED = [
    ("none", [0.25, 1.0, 0.0], None, [0.25, 1.0, 0.0]),
    ("partial", [0.25, 0.5, 0.0, 0.75], [True, False, True, False], [1.0, 0.5, 1.0, 0.75]),
    ("all", [0.0, 0.125], [True, True], [1.0, 1.0]),
    ("unselected one stays", [1.0, 0.5], [False, False], [1.0, 0.5]),
    ("word edges", [0.5] * 70, [i % 9 == 0 for i in range(70)], [1.0 if i % 9 == 0 else 0.5 for i in range(70)]),
]


@pytest.mark.parametrize("name,weights,selected,want", SELECTED, ids=[c[0] for c in SELECTED])
def test_append_records_one_for_selected_vertices(tmp_path, name, weights, selected, want):
    path = tmp_path / "s.sel"
    with tessarin.Writer(path, 1) as w:
        w.append(np.array(weights, np.float32), None if selected is None else np.array(selected))
        w.append(np.array(weights, np.float32))  # no selection: the weights as they are
        assert repr(w) == f"<tessarin.Writer {str(path)!r}: 2 samples>"
    assert repr(w).endswith(", closed>")
    with tessarin.open(path) as c:
        np.testing.assert_array_equal(c.weights(0), np.array(want, np.float32))
        np.testing.assert_array_equal(c.weights(1), np.array(weights, np.float32))


def test_an_old_file_is_replaced_only_by_a_closed_writer_and_only_when_told(tmp_path):
    path = tmp_path / "a.sel"
    path.write_bytes(b"keep")
    with pytest.raises(FileExistsError):
        tessarin.Writer(str(path), 1)
    # dropped unclosed, or left by an exception: discarded, the old file as it was
    w = tessarin.Writer(str(path), 1, overwrite=True)
    w.append(np.array([0.5], np.float32))
    del w
    with pytest.raises(ZeroDivisionError):
        with tessarin.Writer(str(path), 1, overwrite=True) as w:
            w.append(np.array([0.5], np.float32))
            1 / 0
    assert w.closed
    assert path.read_bytes() == b"keep" and os.listdir(tmp_path) == ["a.sel"]
    with tessarin.Writer(str(path), 1, overwrite=True) as w:
        w.append(np.array([0.5], np.float32))
    assert tessarin.open(str(path)).sample_count == 1
    # a file that appears at the name while the samples are written is not written over either
    late = tmp_path / "late.sel"
    w = tessarin.Writer(str(late), 1)
    w.append(np.array([0.5], np.float32))
    late.write_bytes(b"theirs")
    with pytest.raises(FileExistsError):
        w.close()
    assert w.closed and late.read_bytes() == b"theirs" and sorted(os.listdir(tmp_path)) == ["a.sel", "late.sel"]


@pytest.mark.parametrize("through_link,mode", [(True, 0o644), (False, 0o600)])
def test_a_replaced_file_keeps_its_link_and_its_permissions(tmp_path, through_link, mode):
    real = tmp_path / "real.sel"
    real.write_bytes(b"old")
    real.chmod(mode)
    path = tmp_path / "link.sel" if through_link else real
    if through_link:
        path.symlink_to("real.sel")
    with tessarin.Writer(path, 1, overwrite=True) as w:
        w.append(np.array([0.25], np.float32))
    assert path.is_symlink() == through_link and stat.S_IMODE(real.stat().st_mode) == mode
    assert list(tessarin.open(real).weights(0)) == [0.25]
    assert sorted(os.listdir(tmp_path)) == sorted({"real.sel", path.name})


# A write call that fails (sel's test seam, in a process of its own): the writer raises the OSError of
# the system's reason naming the file, at the append or the close it hit, and the old file stays.
FAULTED = """
import sys, numpy as np, tessarin
w = tessarin.Writer(sys.argv[1], 1, overwrite=True)
try:
    for k in range(2):
        w.append(np.full(3, 0.5, np.float32))
    w.close()
except OSError as e:
    print(e.errno, e.filename, e.strerror, w.closed, sep="|")
"""


@pytest.mark.parametrize("fault,code", [("write:3", errno.ENOSPC), ("write:6", errno.ENOSPC),
                                        ("flush:4", errno.ENOSPC), ("sync:1", errno.EIO),
                                        ("rename:1", errno.EBUSY)])
def test_a_failed_write_names_the_file_and_the_reason_and_keeps_the_old_file(tmp_path, fault, code):
    path = tmp_path / "old.sel"
    path.write_bytes(b"old bytes")
    env = dict(os.environ, SEL_FAULT=fault)
    out = subprocess.run([sys.executable, "-c", FAULTED, str(path)], env=env, capture_output=True, text=True,
                         check=True).stdout
    assert out.strip() == f"{code}|{path}|{os.strerror(code)}|True"
    assert path.read_bytes() == b"old bytes" and os.listdir(tmp_path) == ["old.sel"]


def test_wrong_settings_and_arrays_raise_with_a_sentence(tmp_path):
    with pytest.raises(ValueError, match="samples_per_frame"):
        tessarin.Writer(str(tmp_path / "a.sel"), 0)
    with pytest.raises(ValueError, match="samples_per_frame"):
        tessarin.Writer(str(tmp_path / "b.sel"), 200, 160)
    with pytest.raises(FileNotFoundError):
        tessarin.Writer(str(tmp_path / "no" / "c.sel"), 1)
    w = tessarin.Writer(str(tmp_path / "d.sel"), 1)
    with pytest.raises(ValueError, match="dtype float32"):
        w.append(np.zeros(2))
    with pytest.raises(ValueError, match="selected has 1 entries and weights 2"):
        w.append(np.zeros(2, np.float32), np.zeros(1, bool))
    w.close()
    with pytest.raises(ValueError, match="closed"):
        w.append(np.zeros(2, np.float32))


KILLED = """
import os, sys, numpy as np, tessarin
w = tessarin.Writer(sys.argv[1], 2)
for k in range(int(sys.argv[2])):
    w.append(np.full(5, k / 8, np.float32))
os.kill(os.getpid(), 9)
"""


def test_a_killed_writer_leaves_a_file_repair_mends_to_the_samples_appended(tmp_path, commands):
    path, mended = tmp_path / "killed.sel", tmp_path / "mended.sel"
    child = subprocess.run([sys.executable, "-c", KILLED, str(path), "3"], env=os.environ)
    assert child.returncode == -9
    # the target never appeared: what was written lies beside it
    assert not path.exists()
    (left,) = tmp_path.glob("killed.sel.*")
    with pytest.raises(tessarin.CacheError):
        tessarin.open(left)
    commands.run(commands.tool, "repair", str(left), "--out", str(mended))
    with tessarin.open(str(mended)) as c:
        assert c.sample_count == 3
        assert [float(c.weights(k)[0]) for k in range(3)] == [0.0, 0.125, 0.25]
