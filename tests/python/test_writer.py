"""tessarin.Writer writes what the recorder writes, and a writer that dies leaves a mendable file."""
import os
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


def test_refuses_to_write_over_a_file_unless_told(tmp_path):
    path = tmp_path / "a.sel"
    path.write_bytes(b"keep")
    with pytest.raises(FileExistsError):
        tessarin.Writer(str(path), 1)
    assert path.read_bytes() == b"keep"
    with tessarin.Writer(str(path), 1, overwrite=True) as w:
        w.append(np.array([0.5], np.float32))
    assert tessarin.open(str(path)).sample_count == 1


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
    with pytest.raises(tessarin.CacheError):
        tessarin.open(str(path))
    commands.run(commands.tool, "repair", str(path), "--out", str(mended))
    with tessarin.open(str(mended)) as c:
        assert c.sample_count == 3
        assert [float(c.weights(k)[0]) for k in range(3)] == [0.0, 0.125, 0.25]
