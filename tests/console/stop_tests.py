#!/usr/bin/env python3
"""Ctrl-C and SIGTERM on a terminal: both commands run under a pseudo-terminal, are stopped by a signal
in the middle of their work, and must say what they kept, keep a valid file and no temporary one,
and exit 130 or 143; a fast recording redraws its bar at most about ten times a second.
usage: stop_tests.py VOMARK PLUGIN_DIR DATA_DIR TESSARIN"""
import os
import pty
import re
import shutil
import signal
import struct
import subprocess
import sys
import tempfile
import time

vomark, plugins, data, tessarin = sys.argv[1:5]
work = tempfile.mkdtemp()
failed = 0


def check(name, ok, detail=""):
    global failed
    if not ok:
        failed += 1
        print(f"FAIL: {name}\n  {detail}")


def on_terminal(args, stop_at=None, sig=None, timeout=120):
    """Runs args with stdin, stdout and stderr on a new pseudo-terminal; sends `sig` once the output
    holds `stop_at` (text, or seconds after the start). Answers (exit status, everything the
    terminal showed, seconds taken)."""
    pid, fd = pty.fork()
    if pid == 0:
        os.execv(args[0], args)
    shown, sent, started = b"", False, time.monotonic()
    os.set_blocking(fd, False)
    while True:
        try:
            chunk = os.read(fd, 65536)
        except BlockingIOError:
            chunk = None
            time.sleep(0.01)
        except OSError:  # the child closed the terminal
            break
        if chunk == b"":
            break
        shown += chunk or b""
        due = time.monotonic() - started >= stop_at if isinstance(stop_at, float) else \
            stop_at is not None and stop_at.encode() in shown
        if sig and not sent and due:
            os.kill(pid, sig)
            sent = True
        if time.monotonic() - started > timeout:
            os.kill(pid, signal.SIGKILL)
    _, status = os.waitpid(pid, 0)
    os.close(fd)
    return os.waitstatus_to_exitcode(status), shown.decode(errors="replace"), time.monotonic() - started


def scene(frames):
    with open(os.path.join(data, "keys.json")) as f:
        text = f.read().replace("OUT/", work + "/").replace('"end_time": 2.0', f'"end_time": {frames}.0')
    path = os.path.join(work, "long.json")
    with open(path, "w") as f:
        f.write(text)
    return path


def verify(path):
    return subprocess.run([tessarin, "verify", path], capture_output=True, text=True)


long_scene = scene(200000)
for sig, status in ((signal.SIGINT, 130), (signal.SIGTERM, 143)):
    name = signal.Signals(sig).name
    rc, shown, _ = on_terminal([vomark, "record", long_scene, "--plugins", plugins], "recording [", sig)
    check(f"record stopped by {name} exits {status}", rc == status, f"exit {rc}: {shown[-300:]!r}")
    said = re.search(r"recording stopped: \S+ keeps (\d+) samples", shown)
    check(f"record stopped by {name} says what it keeps on a line of its own", said and "\r\n" in shown,
          repr(shown[-300:]))
    v = verify(os.path.join(work, "keys.sel"))
    check(f"the file a {name} leaves is valid", v.returncode == 0, v.stdout + v.stderr)
    if said:
        check(f"it keeps what the line says ({name})", f"plays {said.group(1)} samples" in v.stdout, v.stdout)

# a fast recording of many frames: the bar is redrawn about ten times a second, not once a frame
rc, shown, seconds = on_terminal([vomark, "record", scene(30000), "--plugins", plugins])
check("a fast recording finishes", rc == 0, shown[-300:])
redraws = shown.count("\r\x1b[K")
check("the bar is redrawn at most about ten times a second", redraws <= 10 * seconds + 5,
      f"{redraws} redraws in {seconds:.1f} s")

# tessarin export stopped by SIGTERM removes its temporary file: 5 million records to write out
big = os.path.join(work, "big.sel")
samples, points = 500000, 10
with open(big, "wb") as f:
    f.write(struct.pack("<iii", -100, 1, samples))
    for k in range(samples):
        f.write(struct.pack("<fi", 0.5, k) * points)
    f.write(struct.pack("<i", points) * samples)
rc, shown, _ = on_terminal([tessarin, "export", big, "--out", os.path.join(work, "t.csv")], 0.5,
                           signal.SIGTERM)
if rc == 0:  # finished before its first second of progress: nothing to stop
    print("note: export finished before it could be stopped")
else:
    check("export stopped by SIGTERM exits 143", rc == 143, f"exit {rc}: {shown!r}")
    check("and says what was not written", "t.csv was not written" in shown, repr(shown))
    check("and leaves no temporary file", not [n for n in os.listdir(work) if ".tmp-" in n], os.listdir(work))

shutil.rmtree(work)
print("stop tests:", "0 failed" if failed == 0 else f"{failed} failed")
sys.exit(1 if failed else 0)
