#!/usr/bin/env python3
"""Ctrl-C and SIGTERM on a terminal: both commands run under a pseudo-terminal, are stopped by a signal
in the middle of their work, and must say what they kept, keep a valid file and no temporary one,
and exit 130 or 143; a fast recording redraws its bar at most about ten times a second. And on pipes:
a signal that comes while a write waits on a full pipe, and a second stop request that ends a verb
at once.
usage: stop_tests.py VOMARK PLUGIN_DIR DATA_DIR TESSARIN"""
import fcntl
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
record_script = os.path.join(work, "record.script")
with open(record_script, "w") as f:
    f.write("$.modifiers[#Tessarin].Record\n")
cache = os.path.join(work, "keys.sel")
# `vomark record`, and a script's Record line under `vomark run`, each stopped both ways
for verb, args in (("record", [long_scene]), ("run", [long_scene, record_script])):
    for sig, status in ((signal.SIGINT, 130), (signal.SIGTERM, 143)):
        name = f"{verb} stopped by {signal.Signals(sig).name}"
        before = open(cache, "rb").read() if os.path.exists(cache) else None
        rc, shown, _ = on_terminal([vomark, verb, *args, "--plugins", plugins], "recording [", sig)
        check(f"{name} exits {status}", rc == status, f"exit {rc}: {shown[-300:]!r}")
        # Ctrl-C puts the recording in the cache's place; SIGTERM (over the cache the Ctrl-C left) beside it
        said = re.search(r"recording stopped: (\S+) keeps (\d+) samples", shown)
        check(f"{name} says what it keeps on a line of its own", said and "\r\n" in shown, repr(shown[-300:]))
        v = verify(said.group(1) if said else cache)
        check(f"the file {name} leaves is valid", v.returncode == 0, v.stdout + v.stderr)
        if said:
            check(f"it keeps what the line says ({name})", f"plays {said.group(2)} samples" in v.stdout, v.stdout)
        if sig == signal.SIGTERM:
            check(f"{name} leaves the cache it would replace byte for byte",
                  before is not None and open(cache, "rb").read() == before and said and said.group(1) != cache,
                  repr(shown[-300:]))

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

def on_a_full_pipe(args, stream, wait):
    """Runs args with `stream` ("stdout" or "stderr") on a pipe that is already full, so that the first
    write there waits without taking a byte; sends SIGTERM after `wait` seconds, then reads the pipe.
    Answers (exit status, everything written to either stream)."""
    r, w = os.pipe()
    os.write(w, b"\0" * fcntl.fcntl(w, fcntl.F_GETPIPE_SZ))  # exactly full, so this does not wait
    with tempfile.TemporaryFile() as other:
        proc = subprocess.Popen(args, stdout=w if stream == "stdout" else other,
                                stderr=w if stream == "stderr" else other)
        os.close(w)
        time.sleep(wait)
        proc.send_signal(signal.SIGTERM)
        time.sleep(0.2)
        written = b""
        while chunk := os.read(r, 65536):
            written += chunk
        os.close(r)
        rc = proc.wait()
        other.seek(0)
        return rc, (written.lstrip(b"\0") + other.read()).decode(errors="replace")


# SIGTERM while a verb waits inside write() on a pipe nobody reads yet: the write resumes once the pipe
# is read (the handlers are installed with SA_RESTART) rather than failing with EINTR, so the rows are
# not taken for an output that failed, the line being written is not lost, and the verb still stops
# as asked, says so and exits 143
rc, said = on_a_full_pipe([tessarin, "dump", big], "stdout", 1.0)
check("dump waiting on a full pipe and stopped by SIGTERM exits 143", rc == 143, f"exit {rc}: {said[-300:]!r}")
check("and says where it stopped", "big.sel: stopped in sample" in said, repr(said[-300:]))
rc, said = on_a_full_pipe([tessarin, "export", big, "--out", os.path.join(work, "p.csv")], "stderr", 2.0)
if rc == 0:  # finished before its first second of progress: nothing waited
    print("note: export finished before it showed its progress")
else:
    check("export waiting to show its progress on a full pipe and stopped by SIGTERM exits 143", rc == 143,
          f"exit {rc}: {said!r}")
    check("and shows the progress line it was writing, then what was not written",
          re.search(r"^export: sample \d+ of 500000, .*\n(.*\n)*.*p\.csv was not written\n$", said, re.M), repr(said))


def temporaries():
    return [n for n in os.listdir(work) if ".tmp-" in n]


# a second stop request ends the verb at once, and the temporary file it was writing goes with it.
# The process is held still while both requests arrive (two of one kind would merge into one), so the
# second comes before the verb could clean up after the first.
out = os.path.join(work, "hard.csv")
export = subprocess.Popen([tessarin, "export", big, "--out", out], stdout=subprocess.DEVNULL,
                          stderr=subprocess.DEVNULL)
for _ in range(500):
    if temporaries() or export.poll() is not None:
        break
    time.sleep(0.01)
if export.poll() is not None:
    print("note: export finished before it could be stopped twice")
else:
    export.send_signal(signal.SIGSTOP)
    export.send_signal(signal.SIGINT)
    export.send_signal(signal.SIGTERM)
    export.send_signal(signal.SIGCONT)
    rc = export.wait()
    check("a second stop request ends export at once", rc in (130, 143), f"exit {rc}")
    check("and removes the temporary file it was writing", not temporaries(), os.listdir(work))
    check("and writes no output", not os.path.exists(out), os.listdir(work))

shutil.rmtree(work)
print("stop tests:", "0 failed" if failed == 0 else f"{failed} failed")
sys.exit(1 if failed else 0)
