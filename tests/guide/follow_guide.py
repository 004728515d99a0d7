#!/usr/bin/env python3
"""Follows docs/guide.md as a newcomer would, on a fresh copy of the repository.

usage: follow_guide.py SOURCE_DIR VOMARK TESSARIN PLUGIN_DIR [PYTHON_MODULE_DIR]

The copy holds the files git tracks (what a clone gets). The commands of the guide's `sh` code
blocks run in order from the copy's root, each block under `bash -e`, so any failing command fails
the test. `make demo` is the one command not run as it stands: a Release build would take most of
the suite's time, so the test asks `make -n demo` what it would do, checks that its build makes
every command the guide runs from that build folder, puts the given binaries (the suite's own
build) there, and runs the rest of the recipe (the demo itself). `make python` likewise: its recipe
is checked, and the rest of its block runs with the suite's module on PYTHONPATH. Afterwards every file the guide
names must exist. Outputs are not compared: other wording may change, exit status and files may not.

Then the reference pages run the same way, each in order in one shell from the copy's root, after
the guide (so after `make demo`): their `sh` blocks as they stand, the `$ ` lines of their
transcripts (a line that shows a failure ends in `; echo $?`), and, with the module, their
`python` blocks whose imports this Python has. A block right after a line
`<!-- not run by the guide test: REASON -->` is left out, with the reason printed (docs/farm.md's
Slurm blocks: a cluster needs root and Debian's Slurm packages; `make test-farm` runs that recipe).
"""
import json
import os
import re
import shlex
import shutil
import subprocess
import sys
import tempfile

FENCE = re.compile(r"^```(\S*)\s*$")
# a relative or absolute path with at least one folder, or a file name with a known extension
PATH = re.compile(r"(?<![\w$./-])((?:[\w.-]+/)+[\w.-]*|[\w-]+\.(?:sel|vms|png|json|ms|md))(?![\w/])")
LINK = re.compile(r"\]\(([^)\s]+)\)")

failures = []


def fail(message):
    failures.append(message)
    print("FAIL: " + message)


def fresh_copy(source, dest):
    """The files a clone would hold, as they stand in the working tree."""
    try:
        listed = subprocess.run(["git", "-C", source, "ls-files", "-z"], check=True,
                                capture_output=True).stdout.decode().split("\0")
    except (OSError, subprocess.CalledProcessError):
        listed = None
    if listed is None:  # not a git checkout: everything but build output
        shutil.copytree(source, dest, symlinks=True, ignore=shutil.ignore_patterns(
            "build*", "out", ".git"), dirs_exist_ok=True)
        return
    for name in filter(None, listed):
        src = os.path.join(source, name)
        if not os.path.lexists(src):  # deleted in the working tree, not yet committed
            continue
        os.makedirs(os.path.dirname(os.path.join(dest, name)), exist_ok=True)
        shutil.copy2(src, os.path.join(dest, name), follow_symlinks=False)


def blocks(text):
    """The fenced code blocks as (language, first line number, lines)."""
    found, lang, start, lines = [], None, 0, []
    for number, line in enumerate(text.splitlines(), 1):
        m = FENCE.match(line)
        if m and lang is None:
            lang, start, lines = m.group(1), number, []
        elif line.strip() == "```" and lang is not None:
            found.append((lang, start, lines))
            lang = None
        elif lang is not None:
            lines.append(line)
    if lang is not None:
        fail(f"docs/guide.md:{start}: code block never closed")
    return found


def run(script, cwd, where, log, env=None):
    with open(log, "w") as out:
        rc = subprocess.run(["bash", "-e", "-o", "pipefail", "-c", script], cwd=cwd, stdout=out,
                            stderr=subprocess.STDOUT, env=env).returncode
    if rc != 0:
        with open(log) as f:
            tail = f.read()[-3000:]
        fail(f"{where}: exit {rc}:\n  " + script.replace("\n", "\n  ") + "\n" + tail)
    return rc == 0


def make_demo(root, vomark, tessarin, plugins, guide_commands, log):
    """`make demo` with the suite's binaries in place of its Release build."""
    # as a newcomer types it: not inside the make that runs this test (its jobserver, its flags)
    env = {k: v for k, v in os.environ.items() if k not in ("MAKEFLAGS", "MFLAGS", "MAKELEVEL")}
    dry = subprocess.run(["make", "-n", "demo"], cwd=root, capture_output=True, text=True, env=env)
    if dry.returncode != 0:
        fail("make -n demo: " + dry.stderr.strip())
        return False
    build_dir, targets, rest = None, set(), []
    for line in dry.stdout.splitlines():
        words = shlex.split(line) if line.strip() else []
        if not words or words[0].endswith("bootstrap"):
            continue
        if words[0] == "cmake" and "-B" in words:
            build_dir = words[words.index("-B") + 1]
        elif words[0] == "cmake" and "--build" in words:
            if "--target" in words:
                targets.update(words[words.index("--target") + 1:])
        else:
            rest.append(line)
    if build_dir is None:
        fail("make -n demo: no cmake -B folder")
        return False
    # every command the guide runs from the demo's build folder must be one that make demo builds
    for command in sorted(guide_commands):
        folder, name = command.rsplit("/bin/", 1)
        if os.path.normpath(folder) != os.path.normpath(build_dir):
            fail(f"the guide runs {command}, but make demo builds into {build_dir}/")
        elif name not in targets:
            fail(f"the guide runs {command}, but make demo builds only {' '.join(sorted(targets))}")
    for target in ("Tessarin",):
        if target not in targets:
            fail(f"make demo does not build the plug-in {target}")
    bin_dir = os.path.join(root, build_dir, "bin")
    os.makedirs(bin_dir, exist_ok=True)
    os.symlink(os.path.abspath(vomark), os.path.join(bin_dir, "vomark"))
    os.symlink(os.path.abspath(tessarin), os.path.join(bin_dir, "tessarin"))
    os.symlink(os.path.abspath(plugins), os.path.join(root, build_dir, "plugins"))
    return run("\n".join(rest), root, "make demo (after its build)", log)


def make_python(root, python_dir, rest, where, log):
    """`make python` with the suite's module in place of its Release build, then the block's other lines."""
    env = {k: v for k, v in os.environ.items() if k not in ("MAKEFLAGS", "MFLAGS", "MAKELEVEL")}
    dry = subprocess.run(["make", "-n", "python"], cwd=root, capture_output=True, text=True, env=env)
    if dry.returncode != 0 or "install-python" not in dry.stdout:
        fail(f"{where}: make -n python does not build and install the module:\n{dry.stdout}{dry.stderr}")
        return False
    if not python_dir:
        print(f"{where}: this build has no Python module; the block's other lines did not run")
        return True
    env["PYTHONPATH"] = python_dir
    # the module of a sanitizer build needs its runtime loaded first into an uninstrumented Python
    preload = os.environ.get("GUIDE_PYTHON_PRELOAD", "")
    if preload:
        env["LD_PRELOAD"] = preload
        env["ASAN_OPTIONS"] = "detect_leaks=0"
    return run("\n".join(rest), root, where, log, env)


# the reference pages whose examples run after the guide's
REFERENCE_PAGES = ("docs/vomark.md", "docs/tessarin.md", "docs/scripting.md", "docs/python.md", "docs/farm.md",
                   "docs/scene-description.md", "docs/scene-files.md", "docs/cache-format.md")
NOT_RUN = re.compile(r"^<!-- not run by the guide test: (.*) -->$")


def importable(module, env):
    return subprocess.run(["/usr/bin/python3", "-c", f"import {module}"], env=env,
                          capture_output=True).returncode == 0


def page_script(page, text, python_dir, py_env):
    """The page's commands, in order, as one shell script."""
    parts = []
    text_lines = text.splitlines()
    for lang, start, lines in blocks(text):
        marked = NOT_RUN.match(text_lines[start - 2].strip()) if start >= 2 else None
        if marked:
            print(f"{page}:{start}: not run: {marked.group(1)}")
            continue
        if lang == "sh":
            parts.append("\n".join(lines))
        elif lang in ("", "text"):
            for line in lines:
                if line.startswith("$ "):
                    command = line[2:]
                    said = shlex.quote(f"{page}:{start}: failed: {command}")
                    parts.append(f"{{ {command}\n}} || {{ echo {said} >&2; exit 1; }}")
        elif lang == "python" and lines and python_dir:
            code = "\n".join(lines)
            missing = [m for m in re.findall(r"^\s*import (\w+)", code, re.M) if not importable(m, py_env)]
            if missing:
                print(f"{page}:{start}: not run: this Python has no {', '.join(missing)}")
                continue
            settings = " ".join(f"{k}={shlex.quote(py_env[k])}" for k in ("PYTHONPATH", "LD_PRELOAD", "ASAN_OPTIONS")
                                if k in py_env)
            parts.append(f"env {settings} /usr/bin/python3 - <<'PYTHON_BLOCK'\n{code}\nPYTHON_BLOCK")
    return "\n".join(parts)


def run_reference_pages(root, python_dir, log):
    env = {k: v for k, v in os.environ.items() if k not in ("MAKEFLAGS", "MFLAGS", "MAKELEVEL")}
    py_env = dict(env)
    if python_dir:
        py_env["PYTHONPATH"] = python_dir
        preload = os.environ.get("GUIDE_PYTHON_PRELOAD", "")
        if preload:  # the module of a sanitizer build needs its runtime loaded first
            py_env["LD_PRELOAD"] = preload
            py_env["ASAN_OPTIONS"] = "detect_leaks=0"
    ran = 0
    for page in REFERENCE_PAGES:
        with open(os.path.join(root, page)) as f:
            script = page_script(page, f.read(), python_dir, py_env)
        if script.strip():
            ran += 1
            # the commands of the Python module's build run where the guide ran them: not again
            script = "\n".join(l for l in script.splitlines() if not re.match(r"^make( demo)? python$", l))
            run(script, root, page, log, env)
    return ran


def named_paths(text):
    """Every file or folder the guide names, in prose, in code or as a link."""
    names = set()
    for m in LINK.finditer(text):
        target = m.group(1).split("#")[0]
        if target and "://" not in target:
            names.add(("docs", target))
    code = re.findall(r"^```\S*\n(.*?)^```", text, re.S | re.M)
    prose = re.findall(r"`([^`\n]+)`", re.sub(r"^```\S*\n.*?^```", "", text, flags=re.S | re.M))
    for span, in_code in [(s, False) for s in prose] + [(s, True) for s in code]:
        for m in PATH.finditer(span):
            name = m.group(1)
            # prose names example files too (`--save walk.vms`); a bare name counts in code only
            if "/" not in name and not in_code:
                continue
            names.add(("root", name))
    return names


def exists(root, base, name):
    if base == "docs":
        return os.path.exists(os.path.join(root, "docs", name))
    if os.path.exists(os.path.join(root, name)) or os.path.exists(os.path.join(root, "docs", name)):
        return True
    if "/" not in name.rstrip("/"):  # a bare file name: a file the commands made, wherever they did
        return any(name in files for _, _, files in os.walk(os.path.join(root, "out")))
    return False


def main(argv):
    if len(argv) not in (5, 6):
        print(__doc__.strip(), file=sys.stderr)
        return 2
    source, vomark, tessarin, plugins = argv[1:5]
    python_dir = argv[5] if len(argv) == 6 else ""
    os.environ.pop("VOMARK_PLUGINS", None)
    work = tempfile.mkdtemp(prefix="follow-guide-")
    try:
        root = os.path.join(work, "clone")
        fresh_copy(source, root)
        with open(os.path.join(root, "docs", "guide.md")) as f:
            text = f.read()
        found = blocks(text)
        commands = [(start, lines) for lang, start, lines in found if lang == "sh"]
        for lang, start, lines in found:
            # an unmarked block would be skipped silently: commands are `sh`, output `text`
            if lang == "":
                fail(f"docs/guide.md:{start}: a code block without a language (sh or text)")
            if lang == "json":
                try:
                    block = json.loads("\n".join(lines))
                    with open(os.path.join(root, "docs", "examples", "demo.json")) as f:
                        if json.load(f) != block:
                            fail(f"docs/guide.md:{start}: differs from docs/examples/demo.json")
                except (OSError, ValueError) as e:
                    fail(f"docs/guide.md:{start}: {e}")
        if not commands or commands[0][1] != ["make demo"]:
            fail("the guide's first command is not `make demo`")
            return 1
        script_text = "\n".join("\n".join(lines) for _, lines in commands[1:])
        guide_commands = set(re.findall(r"(?<![\w/.-])([\w.-]+(?:/[\w.-]+)*/bin/[\w.-]+)", script_text))
        ok = make_demo(root, vomark, tessarin, plugins, guide_commands, os.path.join(work, "log"))
        for number, (start, lines) in enumerate(commands[1:], 2):
            if not ok:
                break
            where = f"docs/guide.md:{start}"
            if lines[0] == "make python":
                ok = make_python(root, python_dir, lines[1:], where, os.path.join(work, "log"))
            else:
                ok = run("\n".join(lines), root, where, os.path.join(work, "log"))
        if ok:
            for base, name in sorted(named_paths(text)):
                if not exists(root, base, name):
                    fail(f"docs/guide.md names {name}, which does not exist after its commands")
        pages = run_reference_pages(root, python_dir, os.path.join(work, "log")) if ok else 0
        print(f"followed {len(commands)} command blocks and the examples of {pages} reference pages; "
              f"{len(failures)} failures")
        return 1 if failures else 0
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main(sys.argv))
