"""The compiled part of the tessarin package: the module's C++ beside sel/, the host-free library every
command shares (std only: none of the tools' or pictures' libraries). The version is the project's, as
`tessarin --version` prints it."""
import os
import re
import sys

from pybind11.setup_helpers import ParallelCompile, Pybind11Extension, build_ext
from setuptools import setup

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)


def project_version():
    with open(os.path.join(ROOT, "CMakeLists.txt"), encoding="utf-8") as f:
        return re.search(r"project\(Tessarin VERSION ([0-9.]+)", f.read()).group(1)


def sources():
    def rel(*parts):
        return os.path.relpath(os.path.join(*parts), HERE)
    own = sorted(rel(HERE, n) for n in os.listdir(HERE) if n.endswith(".cpp"))
    # the platform's half of the file seam only
    skip = "files_posix.cpp" if os.name == "nt" else "files_windows.cpp"
    sel = sorted(rel(ROOT, "sel", n) for n in os.listdir(os.path.join(ROOT, "sel")) if n.endswith(".cpp") and n != skip)
    return own + sel


VERSION = project_version()
ParallelCompile("TESSARIN_BUILD_JOBS", default=2).install()
setup(
    version=VERSION,
    ext_modules=[Pybind11Extension(
        "tessarin._tessarin", sources(), include_dirs=[ROOT], cxx_std=20,
        define_macros=[("TESSARIN_VERSION_STRING", f'"{VERSION}"')],
        # Python's own flags say -O2, at which GCC leaves playback's per-vertex pass unvectorized
        extra_compile_args=[] if sys.platform == "win32" else ["-O3"])],
    cmdclass={"build_ext": build_ext},
)
