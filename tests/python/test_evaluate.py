"""Cache.evaluate against `vomark eval`: the same file, incoming selection and parameters give the
same bits, over random cases drawn with a fixed seed."""
import warnings

import numpy as np
import pytest

import tessarin
from conftest import float_list, grid_scene, write_fixed, write_variable


def random_weights(rng, n):
    w = rng.random(n, dtype=np.float32)
    w[rng.random(n) < 0.2] = 1.0  # exact ones: they become set bits
    w[rng.random(n) < 0.1] = 0.0
    return w


def make_case(rng, tmp_path, i):
    rows, cols = int(rng.integers(1, 5)), int(rng.integers(1, 6))
    n = (rows + 1) * (cols + 1)
    spf = int(rng.integers(1, 4))
    total = int(rng.integers(1, 7))
    kind = ("fixed", "variable", "unequal")[i % 3]
    if kind == "unequal":
        counts = [int(rng.integers(max(n - 4, 0), n + 5)) for _ in range(total)]
    else:
        counts = [int(rng.integers(max(n - 3, 0), n + 4))] * total
    samples = [random_weights(rng, c) for c in counts]
    path = tmp_path / f"case{i}.sel"
    if kind == "fixed":
        write_fixed(path, counts[0], samples, spf)
    else:
        write_variable(path, samples, spf)
    settings = {
        "start": float(rng.choice([0.0, -1.5, 2.25, 1.0])),
        "relative_offset": bool(rng.integers(0, 2)),
        "strength": float(np.float32(rng.uniform(-2, 2))),
        "selection_type": i % 3,
        "ticks_per_frame": int(rng.choice([160, 24])),
    }
    weights = random_weights(rng, n)
    selected = rng.random(n) < 0.3
    last = settings["start"] + total / spf
    # before, between, on and after the samples, forwards, backwards and repeated, so that the held
    # samples are reused in every way the modifier reuses them
    frames = [settings["start"] - 3, settings["start"] - 0.01]
    frames += sorted(float(f) for f in rng.uniform(settings["start"], last, 5))
    frames += [settings["start"] + 1.0 / spf, last - 0.5, last + 7.25, frames[3], frames[3], frames[4]]
    return path, n, rows, cols, settings, weights, selected, frames


def vomark_scene(tmp_path, i, path, rows, cols, s, weights, selected):
    params = {"cache_file": str(path), "time": s["start"], "relativeOffset": s["relative_offset"],
              "strength": s["strength"], "selectionType": s["selection_type"]}
    keys = [{"frame": -100000, "selected": [int(v) for v in np.flatnonzero(selected)],
             "weights": float_list(weights)}]
    return grid_scene(tmp_path / f"case{i}.json", rows, cols,
                      [{"class": "SelectKeys", "keys": keys}, {"class": "Tessarin", "params": params}],
                      tpf=s["ticks_per_frame"])


@pytest.mark.parametrize("i", range(24))
def test_evaluate_gives_the_bits_of_vomark_eval(tmp_path, commands, i):
    rng = np.random.default_rng(19_000 + i)
    path, n, rows, cols, s, weights, selected, frames = make_case(rng, tmp_path, i)
    scene = vomark_scene(tmp_path, i, path, rows, cols, s, weights, selected)
    expected = commands.eval_json(scene, frames)
    counts = sorted(set(tessarin.open(path).counts.tolist()))
    # vomark's warning for a cache recorded from another mesh (the add-on's status says it too)
    fits = n in counts if len(counts) > 1 else counts == [n]
    has = f"{counts[0]}" + (f" to {counts[-1]}" if len(counts) > 1 else "")
    with tessarin.open(str(path)) as c, warnings.catch_warnings(record=True) as said:
        warnings.simplefilter("always")
        for frame, want in zip(frames, expected):
            got_w, got_sel = c.evaluate(frame, weights, selected, **s)
            want_w = np.array([v["weight"] for v in want["vertices"]], dtype=np.float32)
            want_sel = np.array([v["selected"] for v in want["vertices"]])
            where = f"case {i} frame {frame} tick {want['tick']} {s}"
            assert got_sel.dtype == np.bool_ and got_w.dtype == np.float32
            np.testing.assert_array_equal(got_sel, want_sel, err_msg=where)
            np.testing.assert_array_equal(got_w.view(np.uint32), want_w.view(np.uint32), err_msg=where)
            # the same into arrays given with out=: other arrays (holding anything), and the inputs
            # themselves (copies), as the modifier plays a mesh's own channel
            into = (np.full(n, np.nan, np.float32), ~selected)
            own = (weights.copy(), selected.copy())
            for out in (into, own):
                assert c.evaluate(frame, *(own if out is own else (weights, selected)), out=out, **s)[0] is out[0]
                np.testing.assert_array_equal(out[1], want_sel, err_msg=where)
                np.testing.assert_array_equal(out[0].view(np.uint32), want_w.view(np.uint32), err_msg=where)
            # as a group holds them (the add-on's outputs): exact ones as 1.0, then clamped, in one call
            for clamp in (False, True):
                held = np.where(want_sel, np.float32(1.0), want_w)
                held = np.minimum(np.maximum(held, np.float32(0.0)), np.float32(1.0)) if clamp else held
                got = c.evaluate(frame, weights, selected, selected_as_one=True, clamp=clamp, **s)
                np.testing.assert_array_equal(got[1], want_sel, err_msg=where)
                np.testing.assert_array_equal(got[0].view(np.uint32), held.view(np.uint32), err_msg=where)
    assert {str(w.message) for w in said} == (set() if fits else
                                              {f"{path} has {has} vertices per sample; the weights have {n}"})
    assert all(w.filename == __file__ for w in said), "the warning names the caller's line"


def test_evaluate_leaves_its_inputs_alone_and_keeps_exact_ones_as_bits(tmp_path):
    c = tessarin.open(str(write_variable(tmp_path / "v.sel", [[1.0, 0.5, 0.2], [1.0, 0.7, 0.6]])))
    weights = np.array([0.25, 0.5, 0.5], dtype=np.float32)
    before = weights.copy()
    w, sel = c.evaluate(0.25, weights, None)
    np.testing.assert_array_equal(weights, before)
    assert list(sel) == [True, False, False]
    assert w[0] == 0.25, "a result of exactly 1.0 sets the bit and keeps the incoming weight"
    assert w[1] == np.float32(0.5 + (0.7 - 0.5) * 0.25) and w[2] == np.float32(0.2 + 0.4 * 0.25)
    w, sel = c.evaluate(0.25, weights, selection_type=1)  # none selected unless told
    assert w[1] == np.float32(np.float64(np.float32(0.55)) + 0.5), "Add is not clamped"


BAD_CALLS = [
    ((float("nan"), "w", "s"), {}, ValueError, "finite"),
    ((float("inf"), "w", "s"), {}, ValueError, "finite"),
    ((1e12, "w", "s"), {}, ValueError, "range of tick times"),
    ((0.0, np.zeros(3), "s"), {}, ValueError, "dtype float32"),
    ((0.0, [0.5, 0.5, 0.5], "s"), {}, ValueError, "numpy array"),
    ((0.0, np.zeros((3, 1), np.float32), "s"), {}, ValueError, "one-dimensional"),
    ((0.0, "w", np.zeros(2, bool)), {}, ValueError, "selected has 2 entries and weights 3"),
    ((0.0, "w", np.zeros(3, np.int8)), {}, ValueError, "dtype bool"),
    ((0.0, "w", "s"), {"ticks_per_frame": 0}, ValueError, "ticks_per_frame"),
    # the add-on's menu holds three types, the host's drop-down too: any other number is a mistake here
    ((0.0, "w", "s"), {"selection_type": 7}, ValueError, "selection_type must be 0"),
    ((0.0, "w", "s"), {"selection_type": -1}, ValueError, "selection_type must be 0"),
    ((0.0, "w", "s"), {"strength": float("nan")}, ValueError, "strength must be a finite number"),
    ((0.0, "w", "s"), {"strength": 1e39}, ValueError, "strength must be a finite number"),
    ((0.0, "w", "s"), {"start": float("nan")}, ValueError, "start must be a finite number"),
    ((0.0, "w", "s"), {"start": float("-inf")}, ValueError, "start must be a finite number"),
    # a typo or a wrong kind: one line of ours naming what it takes, not the binding's list of C++ types
    ((0.0, "w", "s"), {"strenght": 0.5}, TypeError, r"^Cache.evaluate\(\) takes no argument 'strenght'; did you "
     r"mean strength\? \(it takes frame, weights, selected = None, \*, start = 0.0, .*\)$"),
    (("zero", "w"), {}, TypeError, r"^Cache.evaluate\(\) takes \(frame, weights, .*\): the arguments given do not fit$"),
]


@pytest.mark.parametrize("args,kwargs,error,text", BAD_CALLS)
def test_wrong_arguments_raise_with_a_sentence(tmp_path, args, kwargs, error, text):
    c = tessarin.open(str(write_variable(tmp_path / "v.sel", [[0.5, 0.5, 0.5]])))
    fill = {"w": np.zeros(3, np.float32), "s": np.zeros(3, bool)}
    args = tuple(fill.get(a, a) if isinstance(a, str) else a for a in args)
    with pytest.raises(error, match=text) as e:
        c.evaluate(*args, **kwargs)
    assert "\n" not in str(e.value)


def test_a_strided_array_plays_like_a_contiguous_one(tmp_path):
    c = tessarin.open(str(write_variable(tmp_path / "v.sel", [[0.1, 0.2, 0.3], [0.4, 0.5, 0.6]])))
    base = np.array([0.5, 9, 0.25, 9, 1.0, 9], dtype=np.float32)
    a = c.evaluate(0.5, base[::2], None)
    b = c.evaluate(0.5, np.ascontiguousarray(base[::2]), None)
    np.testing.assert_array_equal(a[0], b[0])


@pytest.mark.parametrize("n", [1, 7, 8, 63, 64, 65, 130, 1000])
def test_selection_bits_cross_word_edges_intact(tmp_path, n):
    # Add of a sample of zeros keeps the incoming weight: only the bits of exact ones are set
    rng = np.random.default_rng(n)
    samples = [np.where(rng.random(n) < 0.3, 1.0, 0.5).astype(np.float32), np.zeros(n, np.float32)]
    c = tessarin.open(str(write_variable(tmp_path / "v.sel", samples)))
    weights = np.where(rng.random(n) < 0.2, 1.0, 0.25).astype(np.float32)
    selected = rng.random(n) < 0.4
    w, sel = c.evaluate(0.0, weights, selected)
    np.testing.assert_array_equal(sel, samples[0] == 1.0, err_msg="Replace")
    w, sel = c.evaluate(1.0, weights, None, selection_type=1)
    np.testing.assert_array_equal(sel, weights == 1.0, err_msg="Add of zeros")
