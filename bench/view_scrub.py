#!/usr/bin/python3
"""Scrubbing the vomark view page in headless Chromium (software WebGL): a drag across the timeline
over the example's sheet playing its recorded cache, at 3,721 and 40,401 vertices; prints a table.
The first row is the browser's own ceiling here: a page that only clears a WebGL canvas the size of
the viewport's at every animation frame. Beside the rates, the CPU time a frame drawn took in
Chromium's GPU process (SwiftShader: the WebGL drawing and the compositing) and in the page's
renderer, steadier than the rates on a shared machine, and the load average at the end.

--software-compositing has Chromium composite the page on the CPU instead of through SwiftShader.

usage: view_scrub.py VOMARK PLUGIN_DIR [SECONDS] [--software-compositing]
"""
import json
import os
import shutil
import subprocess
import sys
import tempfile
import time

from selenium import webdriver
from selenium.webdriver.chrome.service import Service

HERE = os.path.dirname(os.path.abspath(__file__))
SIZES = [61, 201]  # vertices a side: 3,721 and 40,401


def scene(side):
    with open(os.path.join(HERE, '..', 'docs', 'examples', 'view.json')) as f:
        s = json.load(f)
    s['nodes'][0]['mesh']['grid'].update({'rows': side - 1, 'cols': side - 1})
    return s


def browser(profile, flags=()):
    options = webdriver.ChromeOptions()
    options.binary_location = '/usr/bin/chromium'
    for arg in ['--headless=new', '--no-sandbox', '--disable-dev-shm-usage', '--window-size=1280,800',
                '--use-angle=swiftshader', '--enable-unsafe-swiftshader', '--no-first-run',
                '--user-data-dir=' + profile, *flags]:
        options.add_argument(arg)
    return webdriver.Chrome(service=Service('/usr/bin/chromedriver'), options=options)


def cpu_ms(root):
    """CPU time (ms) so far of each kind of process under `root`: 'gpu-process', 'renderer', ..."""
    children = {}
    for pid in filter(str.isdigit, os.listdir('/proc')):
        try:
            with open('/proc/%s/stat' % pid) as f:
                fields = f.read().rsplit(')', 1)[1].split()
        except OSError:
            continue
        children.setdefault(int(fields[1]), []).append(int(pid))
    out, todo = {}, [root]
    while todo:
        pid = todo.pop()
        todo += children.get(pid, [])
        try:
            with open('/proc/%d/cmdline' % pid) as f:
                args = f.read().replace('\0', ' ').split()
            with open('/proc/%d/stat' % pid) as f:
                fields = f.read().rsplit(')', 1)[1].split()
        except OSError:
            continue
        kind = next((a[len('--type='):] for a in args if a.startswith('--type=')), 'browser')
        out[kind] = out.get(kind, 0) + (int(fields[11]) + int(fields[12])) * 1000 / os.sysconf('SC_CLK_TCK')
    return out


# Pointer events at the track every 8 ms, end to end in 0.4 s and back (a frame of the sheet's 48 every
# 8 ms), for `seconds`; the animation frames, evaluations and updates drawn a second, and the time
# from request to drawn frame. Updates drawn are frames that showed newer weights than the frame
# before (a page without that counter: the lesser of its evaluations and its frames); the most there
# can be are the frames at which the timeline had moved to another frame since the frame before (not
# every one: where the drag turns, it stays on the sheet's first or last frame for a frame or two).
DRAG = """const [seconds, done] = arguments; const v = window.vomarkView;
const track = document.getElementById('track'), box = track.getBoundingClientRect(), y = (box.top + box.bottom) / 2;
const send = (type, x) => track.dispatchEvent(new PointerEvent(type, { pointerId: 1, clientX: x, clientY: y,
  bubbles: true, isPrimary: true, pointerType: 'mouse', buttons: 1 }));
try { send('pointerdown', box.left + 2); } catch (e) { /* no pointer to capture: the drag goes on */ }
const e0 = v.evals, m0 = v.totalMs, d0 = v.drawn, t0 = performance.now(), wanted = document.getElementById('frame');
let frames = 0, moved = 0, last = wanted.value;
const timer = setInterval(() => {
  const t = (performance.now() - t0) % 800 / 400;
  send('pointermove', box.left + 2 + (box.width - 4) * (t < 1 ? t : 2 - t));
}, 8);
function frame() {
  frames++;
  if (wanted.value !== last) moved++;
  last = wanted.value;
  if (performance.now() - t0 < seconds * 1000) return requestAnimationFrame(frame);
  clearInterval(timer);
  send('pointerup', box.left + 2);
  const s = (performance.now() - t0) / 1000, evals = v.evals - e0;
  const drawn = d0 === undefined ? Math.min(evals, frames) : v.drawn - d0;
  done([frames / s, moved / s, evals / s, drawn / s, (v.totalMs - m0) / Math.max(1, evals)]);
}
requestAnimationFrame(frame);"""


# The ceiling: a canvas of the viewport's size, opaque as the page's, cleared at every animation
# frame for `seconds`; frames a second.
CEILING = """const [seconds, done] = arguments; const box = document.getElementById('gl').getBoundingClientRect();
const c = document.createElement('canvas');
Object.assign(c.style, { position: 'fixed', left: box.left + 'px', top: box.top + 'px', width: box.width + 'px',
  height: box.height + 'px', zIndex: 10 });
c.width = Math.round(box.width * devicePixelRatio);
c.height = Math.round(box.height * devicePixelRatio);
document.body.append(c);
const gl = c.getContext('webgl2', { antialias: false, alpha: false }), t0 = performance.now();
let frames = 0;
function frame() {
  frames++;
  gl.clearColor(frames % 2 * 0.5, 0.2, 0.3, 1);
  gl.clear(gl.COLOR_BUFFER_BIT | gl.DEPTH_BUFFER_BIT);
  if (performance.now() - t0 < seconds * 1000) return requestAnimationFrame(frame);
  c.remove();
  done([frames / ((performance.now() - t0) / 1000)]);
}
requestAnimationFrame(frame);"""


def measured(driver, script, seconds):
    """The script's figures, then the GPU process's and the renderer's CPU ms per frame."""
    driver.set_script_timeout(seconds + 30)
    before = cpu_ms(driver.service.process.pid)
    figures = driver.execute_async_script(script, seconds)
    after = cpu_ms(driver.service.process.pid)
    frames = max(1, figures[0] * seconds)
    return figures + [(after.get(k, 0) - before.get(k, 0)) / frames for k in ('gpu-process', 'renderer')]


def main(argv):
    flags = [a for a in argv[1:] if a == '--software-compositing']
    args = [a for a in argv[1:] if a not in flags]
    if len(args) not in (2, 3):
        print(__doc__.strip().splitlines()[-1], file=sys.stderr)
        return 2
    vomark, plugins = args[0], args[1]
    try:
        seconds = float(args[2]) if len(args) == 3 else 5.0
    except ValueError:
        print('view_scrub.py: SECONDS: not a number: %s' % args[2], file=sys.stderr)
        return 2
    work = tempfile.mkdtemp(prefix='vomark-view-scrub-')
    driver = browser(os.path.join(work, 'profile'), ['--disable-gpu-compositing'] if flags else [])
    try:
        print('| vertices | frames a second | frames with a newer frame wanted a second | evaluations a second '
              '| updates drawn a second | ms an evaluation | GPU process, ms a frame | renderer, ms a frame |')
        print('|---|---|---|---|---|---|---|---|')
        for n, side in enumerate(SIZES):
            path = os.path.join(work, 'sheet-%d.json' % side)
            s = scene(side)
            s['nodes'][0]['modifiers'][1]['params']['cache_file'] = os.path.join(work, 'sheet-%d.sel' % side)
            with open(path, 'w') as f:
                json.dump(s, f)
            subprocess.run([vomark, 'record', path, '--plugins', plugins], check=True, capture_output=True)
            server = subprocess.Popen([vomark, 'view', path, '--plugins', plugins, '--port', '0'],
                                      stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
            try:
                driver.get(server.stdout.readline().strip())
                end = time.monotonic() + 60
                while not driver.execute_script('return window.vomarkView && window.vomarkView.ready'):
                    if time.monotonic() > end:
                        raise RuntimeError('the page did not load')
                    time.sleep(0.1)
                if n == 0:
                    ceiling = measured(driver, CEILING, seconds)
                    print('| (a cleared canvas) | %.1f | | | | | %.1f | %.1f |' % tuple(ceiling))
                print('| {:,} | {:.1f} | {:.1f} | {:.1f} | {:.1f} | {:.1f} | {:.1f} | {:.1f} |'.format(
                    side * side, *measured(driver, DRAG, seconds)))
            finally:
                server.terminate()
                server.wait(timeout=30)
                server.stdout.close()
    finally:
        driver.quit()
        shutil.rmtree(work, ignore_errors=True)
    print('load average %.1f' % os.getloadavg()[0])
    return 0


if __name__ == '__main__':
    sys.exit(main(sys.argv))
