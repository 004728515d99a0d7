#!/usr/bin/python3
"""Scrubbing the vomark view page in headless Chromium (software WebGL): a drag across the timeline
over the example's sheet playing its recorded cache, at 3,721 and 40,401 vertices; prints a table.

usage: view_scrub.py VOMARK PLUGIN_DIR [SECONDS]
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


def browser(profile):
    options = webdriver.ChromeOptions()
    options.binary_location = '/usr/bin/chromium'
    for arg in ['--headless=new', '--no-sandbox', '--disable-dev-shm-usage', '--window-size=1280,800',
                '--use-angle=swiftshader', '--enable-unsafe-swiftshader', '--no-first-run',
                '--user-data-dir=' + profile]:
        options.add_argument(arg)
    return webdriver.Chrome(service=Service('/usr/bin/chromedriver'), options=options)


# Pointer events at the track every 8 ms, end to end in 0.4 s and back (a frame of the sheet's 48 every
# 8 ms), for `seconds`; the animation frames, evaluations and updates drawn a second, and the time
# from request to drawn frame. Updates drawn are frames that showed newer weights than the frame
# before (a page without that counter: the lesser of its evaluations and its frames).
DRAG = """const [seconds, done] = arguments; const v = window.vomarkView;
const track = document.getElementById('track'), box = track.getBoundingClientRect(), y = (box.top + box.bottom) / 2;
const send = (type, x) => track.dispatchEvent(new PointerEvent(type, { pointerId: 1, clientX: x, clientY: y,
  bubbles: true, isPrimary: true, pointerType: 'mouse', buttons: 1 }));
try { send('pointerdown', box.left + 2); } catch (e) { /* no pointer to capture: the drag goes on */ }
const e0 = v.evals, m0 = v.totalMs, d0 = v.drawn, t0 = performance.now();
let frames = 0;
const timer = setInterval(() => {
  const t = (performance.now() - t0) % 800 / 400;
  send('pointermove', box.left + 2 + (box.width - 4) * (t < 1 ? t : 2 - t));
}, 8);
function frame() {
  frames++;
  if (performance.now() - t0 < seconds * 1000) return requestAnimationFrame(frame);
  clearInterval(timer);
  send('pointerup', box.left + 2);
  const s = (performance.now() - t0) / 1000, evals = v.evals - e0;
  const drawn = d0 === undefined ? Math.min(evals, frames) : v.drawn - d0;
  done([frames / s, evals / s, drawn / s, (v.totalMs - m0) / Math.max(1, evals)]);
}
requestAnimationFrame(frame);"""


def drag(driver, seconds):
    driver.set_script_timeout(seconds + 30)
    return driver.execute_async_script(DRAG, seconds)


def main(argv):
    if len(argv) not in (3, 4):
        print(__doc__.strip().splitlines()[-1], file=sys.stderr)
        return 2
    vomark, plugins = argv[1], argv[2]
    seconds = float(argv[3]) if len(argv) == 4 else 5.0
    work = tempfile.mkdtemp(prefix='vomark-view-scrub-')
    driver = browser(os.path.join(work, 'profile'))
    try:
        print('| vertices | frames a second | evaluations a second | updates drawn a second | ms an evaluation |')
        print('|---|---|---|---|---|')
        for side in SIZES:
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
                print('| %d | %.1f | %.1f | %.1f | %.1f |' % (side * side, *drag(driver, seconds)))
            finally:
                server.terminate()
                server.wait(timeout=30)
                server.stdout.close()
    finally:
        driver.quit()
        shutil.rmtree(work, ignore_errors=True)
    return 0


if __name__ == '__main__':
    sys.exit(main(sys.argv))
