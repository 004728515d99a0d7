"""The package as its users install it: pip into a fresh virtualenv, offline, from a copy of the
sources that holds only what the module needs (sel/ and python/), then imported from elsewhere."""
import os
import shutil
import subprocess
import sys
import zipfile

import pytest

from conftest import _child_env

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
# Debian's Python, whose setuptools, pybind11 and numpy the virtualenv sees
SYSTEM_PYTHON = "/usr/bin/python3"


@pytest.fixture(scope="module")
def venv(tmp_path_factory):
    work = tmp_path_factory.mktemp("package")
    src = work / "src"
    for name in ("sel", "python"):
        shutil.copytree(os.path.join(ROOT, name), src / name,
                        ignore=shutil.ignore_patterns("build", "*.egg-info", "__pycache__"))
    shutil.copy(os.path.join(ROOT, "CMakeLists.txt"), src)  # the project's version
    subprocess.run([SYSTEM_PYTHON, "-m", "venv", "--system-site-packages", str(work / "venv")], check=True)
    env = _child_env()
    env["PYTHONNOUSERSITE"] = "1"
    env.pop("PYTHONPATH", None)  # the tests' own build must not be what is imported
    if shutil.which("ccache"):
        env["CC"], env["CXX"] = "ccache gcc", "ccache g++"
    python = str(work / "venv" / "bin" / "python")
    pip = [python, "-m", "pip", "--disable-pip-version-check", "install", "--quiet", "--no-index",
           "--no-build-isolation"]
    subprocess.run([python, "-m", "pip", "wheel", "--quiet", "--no-index", "--no-build-isolation", "--no-deps",
                    "-w", str(work / "wheels"), str(src / "python")], check=True, env=env)
    subprocess.run(pip + [str(src / "python")], check=True, env=env)
    return python, env, work


def test_pip_installs_into_a_fresh_venv_and_it_imports_from_anywhere(venv, commands):
    python, env, work = venv
    show = ("import os, importlib.metadata as m, tessarin; print(tessarin.__version__); "
            "print(os.path.dirname(tessarin.__file__)); print(m.requires('tessarin'))")
    out = subprocess.run([python, "-c", show], cwd=str(work), env=env, capture_output=True, text=True,
                         check=True).stdout.split("\n")
    version, where, requires = out[0], out[1], out[2]
    assert where.startswith(str(work / "venv")), where
    tool = commands.run(commands.tool, "--version").stdout
    assert tool.startswith(f"tessarin {version} "), (tool, version)
    assert requires == "['numpy']"
    # the stubs ship with it, and the compiled part needs none of the tools' libraries
    names = os.listdir(where)
    assert {"_tessarin.pyi", "py.typed", "__init__.py"} <= set(names), names
    so = [n for n in names if n.startswith("_tessarin") and n.endswith(".so")]
    assert len(so) == 1
    ldd = subprocess.run(["ldd", os.path.join(where, so[0])], capture_output=True, text=True).stdout
    assert "cairo" not in ldd and "CLI" not in ldd, ldd
    [wheel] = os.listdir(work / "wheels")
    assert wheel.startswith(f"tessarin-{version}-")
    assert "tessarin/_tessarin.pyi" in zipfile.ZipFile(work / "wheels" / wheel).namelist()


def test_the_installed_module_plays_a_file(venv, tmp_path):
    python, env, _ = venv
    script = ("import numpy as np, pathlib, sys, tessarin\n"
              "p = pathlib.Path(sys.argv[1])\n"
              "with tessarin.Writer(p, 1) as w: w.append(np.array([0.5, 1.0], np.float32))\n"
              "with tessarin.open(p) as c: print(c.read().tolist())\n")
    out = subprocess.run([python, "-c", script, str(tmp_path / "a.sel")], env=env, capture_output=True, text=True,
                         check=True, cwd=str(tmp_path)).stdout
    assert out.strip() == "[[0.5, 1.0]]"
