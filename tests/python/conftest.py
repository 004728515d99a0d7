"""Shared fixtures: the built commands (from the environment ctest sets) and small cache files."""
import json
import os
import struct
import subprocess

import numpy as np
import pytest

import tessarin


def _tool(name):
    path = os.environ.get(name)
    if not path:
        pytest.skip(f"{name} is not set (ctest sets it)")
    return path


def _child_env():
    # the sanitizer runtime preloaded into Python is not for the commands, which link their own
    env = dict(os.environ)
    env.pop("LD_PRELOAD", None)
    env.pop("ASAN_OPTIONS", None)
    return env


class Commands:
    def __init__(self):
        self.vomark = _tool("TESSARIN_VOMARK")
        self.plugins = _tool("TESSARIN_PLUGINS")
        self.tool = _tool("TESSARIN_TOOL")

    def run(self, *args, check=True):
        return subprocess.run(args, capture_output=True, text=True, env=_child_env(), check=check)

    def eval_json(self, scene, frames):
        args = [self.vomark, "eval", str(scene), "--plugins", self.plugins, "--quiet", "--format", "json"]
        for f in frames:
            args += ["--frame", repr(float(f))]
        return json.loads(self.run(*args).stdout)

    def record(self, scene):
        self.run(self.vomark, "record", str(scene), "--plugins", self.plugins, "--quiet")


@pytest.fixture(scope="session")
def commands():
    return Commands()


def grid_scene(path, rows, cols, modifiers, tpf=160, frames=(0, 10)):
    scene = {
        "ticksPerFrame": tpf,
        "animationRange": list(frames),
        "quiet": True,
        "nodes": [{"name": "Grid", "mesh": {"grid": {"width": 10, "length": 10, "rows": rows, "cols": cols}},
                   "modifiers": modifiers}],
    }
    path.write_text(json.dumps(scene))
    return path


def float_list(a):
    # the exact value of each float32, which JSON carries back to the same float32
    return [float(x) for x in np.asarray(a, dtype=np.float32)]


def write_fixed(path, count, samples, spf=1):
    """A fixed-count file: header word 0 the records per sample, no count table."""
    with open(path, "wb") as f:
        f.write(struct.pack("<3i", count, spf, len(samples)))
        for k, s in enumerate(samples):
            for w in s:
                f.write(struct.pack("<fi", w, k * 160))
    return path


def write_variable(path, samples, spf=1):
    with tessarin.Writer(str(path), spf) as w:
        for s in samples:
            w.append(np.asarray(s, dtype=np.float32))
    return path
