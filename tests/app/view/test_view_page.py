#!/usr/bin/python3
"""The vomark view page in headless Chromium, driven with Selenium as a person would use it.

usage: test_view_page.py VOMARK PLUGIN_DIR DATA_DIR
"""
import json
import os
import select
import shutil
import signal
import socket
import struct
import subprocess
import sys
import tempfile
import threading
import time
import unittest
import urllib.request

from selenium import webdriver
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.action_chains import ActionChains
from selenium.webdriver.common.by import By
from selenium.webdriver.common.keys import Keys

VOMARK, PLUGINS, DATA = sys.argv[1:4]


def keys_scene(cache_file):
    with open(os.path.join(DATA, 'keys.json')) as f:
        scene = json.load(f)
    scene['nodes'][0]['modifiers'][1]['params']['cache_file'] = cache_file
    return scene


def slow_recording_scene(cache_file, frames):
    """Ten samples a frame of a moving soft selection."""
    return {
        'animationRange': [0, frames],
        'nodes': [{
            'name': 'Grid',
            'mesh': {'grid': {'width': 10, 'length': 10, 'rows': 8, 'cols': 8}},
            'modifiers': [
                {'class': 'SoftSelect', 'radius': 1.0, 'falloff': 2.0,
                 'center': [{'frame': 0, 'at': [-5, 0, 0]}, {'frame': frames, 'at': [5, 0, 0]}]},
                {'class': 'Tessarin', 'params': {'cache_file': cache_file, 'end_time': float(frames), 'samples': 10}},
            ],
        }],
    }


# Installed before the page's own scripts: while window.holdEvents is a list, each answer of
# /api/events waits in it (as a function that lets it go), so a test orders events and answers itself.
HOLD_EVENTS = """
window.holdEvents = null;
const realFetch = window.fetch.bind(window);
window.fetch = async (...args) => {
  const response = await realFetch(...args);
  if (String(args[0]).startsWith('/api/events') && window.holdEvents)
    await new Promise((release) => window.holdEvents.push(release));
  return response;
};
"""


def wait_until(what, timeout=30.0, step=0.05):
    end = time.monotonic() + timeout
    while time.monotonic() < end:
        value = what()
        if value:
            return value
        time.sleep(step)
    raise AssertionError('timed out waiting')


class ViewPageTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.profile = tempfile.mkdtemp(prefix='vomark-view-chromium-')
        options = webdriver.ChromeOptions()
        options.binary_location = '/usr/bin/chromium'
        for arg in ['--headless=new', '--no-sandbox', '--disable-dev-shm-usage', '--window-size=1280,800',
                    '--use-angle=swiftshader', '--enable-unsafe-swiftshader', '--no-first-run',
                    '--disable-background-networking', '--disable-component-update', '--disable-sync',
                    '--disable-quic', '--user-data-dir=' + cls.profile]:
            options.add_argument(arg)
        options.set_capability('goog:loggingPrefs', {'browser': 'ALL'})
        cls.driver = webdriver.Chrome(service=Service('/usr/bin/chromedriver'), options=options)

    @classmethod
    def tearDownClass(cls):
        cls.driver.quit()
        shutil.rmtree(cls.profile, ignore_errors=True)

    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix='vomark-view-page-')
        self.server = None

    def tearDown(self):
        if self.server:
            self.server.send_signal(signal.SIGINT)
            self.server.wait(timeout=30)
            self.server.stdout.close()
            self.log.close()
        shutil.rmtree(self.dir, ignore_errors=True)

    def path(self, name):
        return os.path.join(self.dir, name)

    def write_scene(self, scene):
        path = self.path('scene.json')
        with open(path, 'w') as f:
            json.dump(scene, f)
        return path

    def open_page(self, scene_path, *options):
        self.log = open(self.path('server.log'), 'w')
        self.server = subprocess.Popen([VOMARK, 'view', scene_path, '--plugins', PLUGINS, '--port', '0', *options],
                                       stdout=subprocess.PIPE, stderr=self.log, text=True)
        url = self.server.stdout.readline().strip()
        self.assertTrue(url.startswith('http://127.0.0.1:'), url)
        self.url = url
        self.driver.get_log('browser')  # forget what earlier pages said
        self.driver.get(url)
        wait_until(lambda: self.js('return window.vomarkView && window.vomarkView.ready'))

    def api(self, path):
        """GET an /api path as the page does; the JSON answer."""
        base, token = self.url.split('/?token=')
        request = urllib.request.Request(base + path, headers={'X-Vomark-Token': token})
        with urllib.request.urlopen(request) as r:
            return json.load(r)

    def js(self, script, *args):
        return self.driver.execute_script(script, *args)

    def last_eval(self):
        return self.js('const e = window.vomarkView.lastEval; return e && {tick: e.tick, '
                       'weights: Array.from(e.weights), selected: Array.from(e.selected), '
                       'hasWeights: e.hasWeights}')

    def idle(self):
        return self.js('return document.getElementById("busy").hidden')

    def console_errors(self):
        return [e for e in self.driver.get_log('browser') if e['level'] == 'SEVERE']

    # reads through script: the page re-renders its panel and stack, so found elements go stale
    def text_of(self, css):
        return self.js('const e = document.querySelector(arguments[0]); return e && e.textContent', css)

    def checked(self, css):
        return self.js('const e = document.querySelector(arguments[0]); return e && e.checked', css)

    def element(self, css):
        return self.driver.find_element(By.CSS_SELECTOR, css)

    def canvas_png(self):
        return self.element('#gl').screenshot_as_png

    def run_vomark(self, *args):
        return subprocess.run([VOMARK, *args, '--plugins', PLUGINS], check=True, capture_output=True,
                              text=True).stdout

    def test_page_loads_without_console_errors(self):
        self.open_page(self.write_scene(keys_scene(self.path('keys.sel'))))
        self.assertEqual(self.element('#ctl-1003').text, 'Record')
        self.assertEqual(self.element('#ctl-1010').text, 'keys.sel')
        self.assertFalse(self.element('#ctl-1005').is_displayed())  # hidden by the panel procedure
        self.assertFalse(self.element('#ctl-1494').is_displayed())
        names = [e.text for e in self.driver.find_elements(By.CSS_SELECTOR, '#stackList li span')]
        self.assertEqual(names, ['Tessarin', 'SelectKeys'])
        self.assertEqual(self.js('return window.vomarkView.errors'), [])
        self.assertEqual(self.console_errors(), [])

    def test_scrubbing_changes_the_viewport_and_matches_vomark_eval(self):
        scene = self.write_scene(keys_scene(self.path('keys.sel')))
        self.open_page(scene)
        before = self.canvas_png()
        self.assertEqual(self.last_eval()['tick'], 0)
        track = self.element('#track')
        left = -track.size['width'] // 2 + 2
        (ActionChains(self.driver).move_to_element_with_offset(track, left, 0).click_and_hold()
         .move_by_offset(track.size['width'] // 4, 0).move_by_offset(track.size['width'] // 4 - 2, 0)
         .release().perform())
        shown = wait_until(lambda: (e := self.last_eval()) and e['tick'] == 160 and self.idle() and e)
        self.assertNotEqual(self.canvas_png(), before)
        self.assertEqual(self.element('#frame').get_attribute('value'), '1')

        csv = self.run_vomark('eval', scene, '--tick', '160', '--format', 'csv').splitlines()[1:]
        for line, weight, selected in zip(csv, shown['weights'], shown['selected']):
            _, _, want_selected, want_weight, _ = line.split(',')  # the last is effective
            self.assertEqual(int(want_selected), selected)
            self.assertEqual(struct.pack('<f', float(want_weight)), struct.pack('<f', weight))
        self.assertEqual(len(csv), len(shown['weights']))

        # the host's keys: End, Home, arrows
        self.element('#track').send_keys(Keys.END)
        wait_until(lambda: self.last_eval()['tick'] == 320)
        self.element('#track').send_keys(Keys.HOME)
        wait_until(lambda: self.last_eval()['tick'] == 0)
        self.element('#track').send_keys(Keys.ARROW_RIGHT)
        wait_until(lambda: self.last_eval()['tick'] == 160)
        self.assertEqual(self.console_errors(), [])

    def test_record_through_the_page_writes_what_vomark_record_writes(self):
        scene = self.write_scene(keys_scene(None))
        self.run_vomark('record', scene, '--answer', 'save=' + self.path('by-command.sel'))
        self.open_page(scene)
        self.element('#ctl-1003').click()
        wait_until(lambda: self.element('#dialog').get_attribute('open') is not None)
        self.assertEqual(self.element('#dialogTitle').text, 'Save Selection')
        box = self.element('#dialogPath')
        box.clear()
        box.send_keys(self.path('by-page'))  # the dialog adds the default extension
        self.element('#dialogButtons button[data-answer="ok"]').click()
        wait_until(lambda: self.text_of('#ctl-1010') == 'by-page.sel' and self.idle())
        with open(self.path('by-command.sel'), 'rb') as a, open(self.path('by-page.sel'), 'rb') as b:
            self.assertEqual(a.read(), b.read())
        macro = self.text_of('#macroLines')
        self.assertIn('$.modifiers[#Tessarin].SetCache\n$.modifiers[#Tessarin].Record', macro)
        self.assertEqual(self.text_of('#notes'), 'wrote %s: 6 samples, 180 bytes' % self.path('by-page.sel'))

        # the macro saved as a script replays with vomark run into the same bytes
        self.driver.execute_cdp_cmd('Page.setDownloadBehavior', {'behavior': 'allow', 'downloadPath': self.dir})
        self.element('#saveScript').click()
        script = wait_until(lambda: os.path.exists(self.path('Tri-macro.txt')) and self.path('Tri-macro.txt'))
        wait_until(lambda: os.path.getsize(script) > 0)
        self.run_vomark('run', scene, script, '--answer', 'open=cancel', '--answer', 'save=' + self.path('replayed'))
        with open(self.path('by-command.sel'), 'rb') as a, open(self.path('replayed.sel'), 'rb') as b:
            self.assertEqual(a.read(), b.read())
        self.assertEqual(self.console_errors(), [])

    def test_disable_switches_the_modifiers_below_off(self):
        self.open_page(self.write_scene(keys_scene(self.path('keys.sel'))))
        self.element('#ctl-1008').click()
        wait_until(lambda: self.idle() and self.checked('#stackList input[data-index="1"]') is False)
        self.assertTrue(self.checked('#stackList input[data-index="0"]'))
        self.assertIn('DisableMods', self.text_of('#macroLines'))
        # nothing below and no cache file: the viewport shows no weights
        wait_until(lambda: self.last_eval()['hasWeights'] is False)
        self.element('#stackList input[data-index="1"]').click()
        wait_until(lambda: self.last_eval()['hasWeights'] is True)
        self.assertEqual(self.console_errors(), [])

    def test_layout_labels_the_last_frame_gives_unique_ids_and_fits_a_laptop_screen(self):
        self.open_page(self.write_scene(slow_recording_scene(self.path('grid.sel'), 48)))
        labels = self.js('return Array.from(document.querySelectorAll("#ticks span"), (e) => e.textContent)')
        self.assertEqual(labels[0], '0')
        self.assertEqual(labels[-1], '48')
        self.assertEqual(labels, sorted(set(labels), key=int))
        ids = self.js('return Array.from(document.querySelectorAll("[id]"), (e) => e.id)')
        self.assertEqual(len(ids), len(set(ids)), ids)
        self.assertNotIn('ctl-65535', ids)
        self.assertNotIn('ctl--1', ids)
        try:
            self.driver.set_window_size(1400, 900)
            wait_until(lambda: self.js('return window.innerHeight') < 900)
            # the whole side column, macro recorder and its button included, without scrolling
            self.assertLessEqual(self.js('const s = document.getElementById("side"); return s.scrollHeight - s.clientHeight'), 1)
            bottom = self.js('return document.getElementById("saveScript").getBoundingClientRect().bottom')
            self.assertLessEqual(bottom, self.js('return document.getElementById("side").getBoundingClientRect().bottom'))
        finally:
            self.driver.set_window_size(1280, 800)

    def test_legend_and_viewport_use_the_pictures_colours(self):
        self.open_page(self.write_scene(keys_scene(self.path('keys.sel'))))
        stops = self.api('/api/scene')['weightRamp']
        self.assertEqual(len(stops), 5)
        pixels = self.js('''const c = document.getElementById("legendRamp");
            const d = c.getContext("2d").getImageData(0, 0, c.width, 1).data;
            return [Array.from(d.slice(0, 3)), Array.from(d.slice((c.width >> 1) * 4, (c.width >> 1) * 4 + 3)),
                    Array.from(d.slice((c.width - 1) * 4, (c.width - 1) * 4 + 3))]''')
        for pixel, stop in zip(pixels, [stops[0], stops[2], stops[4]]):
            for got, want in zip(pixel, stop):
                self.assertLessEqual(abs(got - want * 255), 3, (pixels, stops))

        # a dense mesh's surface, coloured from the pixels it covers, looks as when drawn as triangles
        compare = self.js('''const v = window.vomarkView.viewport, pictures = [];
            for (const pixelsPerTriangle of [0, 1e9]) {
              v.pixelsPerTriangle = pixelsPerTriangle;
              v.surface.mvp = null;
              v.render();
              const c = document.createElement("canvas");
              c.width = v.canvas.width;
              c.height = v.canvas.height;
              c.getContext("2d").drawImage(v.canvas, 0, 0);
              pictures.push(c.getContext("2d").getImageData(0, 0, c.width, c.height).data);
            }
            const [a, b] = pictures;
            let surface = 0, off = 0;
            for (let i = 0; i < a.length; i += 4) {
              if (a[i] !== a[0] || a[i + 1] !== a[1] || a[i + 2] !== a[2]) surface++;
              for (let k = 0; k < 3; k++) if (Math.abs(a[i + k] - b[i + k]) > 1) { off++; break; }
            }
            return [v.surface.used, surface, off];''')
        self.assertEqual(compare[0], True)
        self.assertGreater(compare[1], 1000)
        self.assertEqual(compare[2], 0, compare)

    def test_status_line_shows_the_servers_state_when_events_come_after_the_answer(self):
        # the events of the recording reach the page only after the click's answer was shown
        added = self.driver.execute_cdp_cmd('Page.addScriptToEvaluateOnNewDocument', {'source': HOLD_EVENTS})
        try:
            self.open_page(self.write_scene(keys_scene(self.path('keys.sel'))))
        finally:
            self.driver.execute_cdp_cmd('Page.removeScriptToEvaluateOnNewDocument', {'identifier': added['identifier']})
        # nothing recorded yet: the first evaluation's warning reaches the page (as an event when
        # the page read the state before the evaluation ran)
        wait_until(lambda: 'Cache file not found' in self.text_of('#ctl-1006'))
        self.js('window.holdEvents = []')
        self.element('#ctl-1003').click()
        wait_until(lambda: self.idle() and self.text_of('#ctl-1010') == 'keys.sel')
        wait_until(lambda: self.js('return window.holdEvents.length') > 0)
        state = self.api('/api/state')
        self.js('const held = window.holdEvents; window.holdEvents = null; held.forEach((go) => go())')
        wait_until(lambda: self.js('return window.vomarkView.eventSeq') >= state['seq'])
        status = [c for c in state['panel']['controls'] if c['id'] == 1006][0]['text']
        self.assertEqual(status, ' ')
        self.assertEqual(self.text_of('#ctl-1006'), status)
        self.assertEqual(self.text_of('#notes'), 'wrote %s: 6 samples, 180 bytes' % self.path('keys.sel'))
        self.assertEqual(self.console_errors(), [])

    def test_notes_name_a_cache_that_cannot_play(self):
        self.open_page(self.write_scene(keys_scene(self.path('keys.sel'))))
        self.assertEqual(self.text_of('#notes'),
                         'Tessarin: cache %s: not found; press Record to make it'
                         % self.path('keys.sel'))

    def test_escape_in_the_page_stops_the_recording_and_says_what_the_file_kept(self):
        # a recording far longer than any test: only the Escape ends it
        frames = 1000000
        self.open_page(self.write_scene(slow_recording_scene(self.path('long.sel'), frames)))
        self.element('#ctl-1003').click()
        wait_until(lambda: self.element('#progress').is_displayed())
        # the bar may show before the first frame's text replaces the status line's old message
        wait_until(lambda: 'Frame' in self.text_of('#progressText'))
        ActionChains(self.driver).send_keys(Keys.ESCAPE).perform()
        wait_until(lambda: self.idle(), timeout=120)
        with open(self.path('long.sel'), 'rb') as f:
            word2 = struct.unpack('<i', f.read(12)[8:12])[0]
        self.assertGreater(word2, 0)
        self.assertLess(word2, (frames + 1) * 10)
        self.assertEqual(self.text_of('#notes'), 'recording stopped: %s keeps %d samples (every frame up to the stop)'
                         % (self.path('long.sel'), word2))
        self.assertEqual(self.text_of('#ctl-1006'), ' ')
        self.assertEqual(self.console_errors(), [])


def read_answers(sock, count, timeout=10.0):
    """Reads `count` HTTP answers with Content-Length bodies; their status codes (fewer if the
    server closed first)."""
    sock.settimeout(timeout)
    data, codes = b'', []
    while len(codes) < count:
        head_end = data.find(b'\r\n\r\n')
        if head_end >= 0:
            head = data[:head_end].decode('latin-1')
            length = 0
            for line in head.split('\r\n')[1:]:
                name, _, value = line.partition(':')
                if name.strip().lower() == 'content-length':
                    length = int(value)
            if len(data) >= head_end + 4 + length:
                codes.append(int(head.split(' ')[1]))
                data = data[head_end + 4 + length:]
                continue
        try:
            more = sock.recv(65536)
        except (ConnectionResetError, socket.timeout):
            break
        if not more:
            break
        data += more
    return codes


class HostileClientTest(unittest.TestCase):
    """The server against local programs that do not play by the rules: raw sockets, no browser."""

    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix='vomark-view-hostile-')
        with open(os.path.join(self.dir, 'scene.json'), 'w') as f:
            json.dump(keys_scene(os.path.join(self.dir, 'keys.sel')), f)
        self.server = subprocess.Popen([VOMARK, 'view', os.path.join(self.dir, 'scene.json'), '--plugins',
                                        PLUGINS, '--port', '0'], stdout=subprocess.PIPE,
                                       stderr=subprocess.DEVNULL, text=True)
        url = self.server.stdout.readline().strip()
        self.port = int(url.split(':')[2].split('/')[0])
        self.token = url.split('token=')[1]
        self.host = '127.0.0.1:%d' % self.port
        self.sockets = []

    def tearDown(self):
        for s in self.sockets:
            s.close()
        if self.server.poll() is None:
            self.server.send_signal(signal.SIGINT)
            self.server.wait(timeout=30)
        self.server.stdout.close()
        shutil.rmtree(self.dir, ignore_errors=True)

    def connect(self):
        s = socket.create_connection(('127.0.0.1', self.port))
        self.sockets.append(s)
        return s

    def request(self, method, path, headers=(), body=b''):
        lines = ['%s %s HTTP/1.1' % (method, path), 'Host: ' + self.host, *headers, '', '']
        return '\r\n'.join(lines).encode() + body

    def peak_memory_kib(self):
        with open('/proc/%d/status' % self.server.pid) as f:
            return next(int(line.split()[1]) for line in f if line.startswith('VmHWM'))

    def test_bodies_are_refused_on_their_headers_and_capped_when_chunked(self):
        before = self.peak_memory_kib()
        # no token, a foreign Host: the refusal comes before a byte of the body is sent
        s = self.connect()
        s.sendall(self.request('POST', '/api/panel', ['Transfer-Encoding: chunked']).replace(
            b'Host: ' + self.host.encode(), b'Host: evil.example'))
        self.assertEqual(read_answers(s, 1), [403])
        # with the token: read in pieces up to 1 MiB, then 413 and the connection closes
        s = self.connect()
        s.sendall(self.request('POST', '/api/panel', ['Transfer-Encoding: chunked', 'X-Vomark-Token: ' + self.token]))
        chunk = b'%x\r\n%s\r\n' % (1 << 16, b'x' * (1 << 16))
        sent = 0
        try:
            for _ in range(500):
                s.sendall(chunk)
                sent += 1
        except (BrokenPipeError, ConnectionResetError):
            pass
        self.assertLess(sent, 200, 'the server stopped reading near 1 MiB')
        self.assertIn(read_answers(s, 1), ([413], []))
        # lengths that leave the body unclear are refused
        for headers in (['Content-Length: 2', 'Content-Length: 40'], ['Content-Length: abc'],
                        ['Content-Length: 2', 'Transfer-Encoding: chunked']):
            s = self.connect()
            s.sendall(self.request('POST', '/api/escape', ['X-Vomark-Token: ' + self.token, *headers], b'{}'))
            self.assertEqual(read_answers(s, 1), [400], headers)
        self.assertLess(self.peak_memory_kib() - before, 64 * 1024)

    def test_open_hands_the_browser_a_private_file_and_no_token_on_a_command_line(self):
        bin_dir = os.path.join(self.dir, 'bin')
        os.mkdir(bin_dir)
        seen = os.path.join(self.dir, 'seen')
        with open(os.path.join(bin_dir, 'xdg-open'), 'w') as f:
            f.write('#!/bin/sh\nprintf "%%s\\n" "$*" > %s.args\nstat -c %%a "$1" > %s.mode\n'
                    'stat -c %%a "$(dirname "$1")" >> %s.mode\ncat "$1" > %s.page\n' % (seen, seen, seen, seen))
        os.chmod(os.path.join(bin_dir, 'xdg-open'), 0o755)
        env = dict(os.environ, PATH=bin_dir + os.pathsep + os.environ['PATH'])
        server = subprocess.Popen([VOMARK, 'view', os.path.join(self.dir, 'scene.json'), '--plugins', PLUGINS,
                                   '--port', '0', '--open'], stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                                  text=True, env=env)
        url = server.stdout.readline().strip()
        wait_until(lambda: os.path.exists(seen + '.page') and os.path.getsize(seen + '.page') > 0)
        with open(seen + '.args') as f:
            opened = f.read().strip()
        token = url.split('token=')[1]
        self.assertNotIn(token, opened)
        with open(seen + '.mode') as f:
            self.assertEqual(f.read().split(), ['600', '700'])
        with open(seen + '.page') as f:
            self.assertIn(url, f.read())
        server.send_signal(signal.SIGTERM)
        self.assertEqual(server.wait(timeout=10), 0)
        server.stdout.close()
        self.assertFalse(os.path.exists(opened), 'removed when the server stops')

    def test_the_listen_backlog_takes_many_clients_opening_at_once(self):
        if not shutil.which('ss'):
            self.skipTest('no ss here')
        # for a listening socket, ss shows the backlog as Send-Q
        lines = subprocess.run(['ss', '-ltnH', 'sport = :%d' % self.port], capture_output=True, text=True).stdout
        self.assertGreaterEqual(int(lines.split()[2]), 128, lines)

    def test_pipelined_requests_are_answered_in_order(self):
        s = self.connect()
        auth = ['X-Vomark-Token: ' + self.token]
        s.sendall(self.request('GET', '/api/dialog', auth) + self.request('GET', '/api/nothing', auth) +
                  self.request('GET', '/', auth) + self.request('GET', '/api/dialog', auth))
        self.assertEqual(read_answers(s, 4), [200, 404, 200, 200])

    def status_field(self, name):
        with open('/proc/%d/status' % self.server.pid) as f:
            return next(int(line.split()[1]) for line in f if line.startswith(name + ':'))

    def test_endless_lines_and_headers_are_refused_as_they_come_and_hold_no_memory(self):
        cases = [(b'GET /' + b'a' * 9000, 414),  # a request line that never ends
                 (self.request('GET', '/', ['X-Long: ' + 'b' * 70000]), 431),  # one header line
                 (self.request('GET', '/', ['X-%d: %s' % (i, 'c' * 60) for i in range(1200)]), 431)]
        for data, status in cases:
            s = self.connect()
            s.sendall(data)
            self.assertEqual(read_answers(s, 1), [status], data[:40])
        # eight clients sending endless lines and headers, reconnecting when cut off
        before = self.status_field('VmRSS')
        stop = time.monotonic() + 3.0
        block = b'x' * 65536

        def flood(kind):
            while time.monotonic() < stop:
                try:
                    with socket.create_connection(('127.0.0.1', self.port)) as s:
                        s.sendall(b'GET /' if kind % 2 else self.request('GET', '/')[:-2] + b'X-Endless: ')
                        while time.monotonic() < stop:
                            s.sendall(block)
                except OSError:
                    pass
        floods = [threading.Thread(target=flood, args=(k,)) for k in range(8)]
        for t in floods:
            t.start()
        peak = before
        while any(t.is_alive() for t in floods):
            peak = max(peak, self.status_field('VmRSS'))
            time.sleep(0.05)
        for t in floods:
            t.join()
        with open('/proc/%d/maps' % self.server.pid) as f:
            sanitized = 'libasan' in f.read()
        if sanitized:  # freed memory waits in the sanitizer's quarantine, hundreds of MiB of it
            self.skipTest('resident memory says nothing in a sanitized build')
        self.assertLess(peak - before, 20 * 1024, 'KiB more while the floods ran')
        wait_until(lambda: self.status_field('VmRSS') - before < 8 * 1024, timeout=10)

    def test_a_flood_without_the_token_leaves_the_page_every_answer(self):
        silent = [self.connect() for _ in range(256)]
        stop = threading.Event()
        reconnects = [0]

        def reconnect():  # a new silent connection whenever the server closes one
            while not stop.is_set() and reconnects[0] < 5000:
                ready, _, _ = select.select(silent, [], [], 0.05)
                for s in ready:
                    silent.remove(s)
                    s.close()
                    try:
                        silent.append(socket.create_connection(('127.0.0.1', self.port)))
                    except OSError:
                        pass
                    reconnects[0] += 1
        flooder = threading.Thread(target=reconnect)
        flooder.start()
        try:
            time.sleep(0.3)
            codes = []
            for i in range(40):  # the page's requests, each on a new connection as a browser may open
                s = self.connect()
                auth = [] if i % 4 == 0 else ['X-Vomark-Token: ' + self.token]
                s.sendall(self.request('GET', '/' if i % 4 == 0 else '/api/dialog', auth))
                codes += read_answers(s, 1, timeout=10.0) or [None]
                s.close()
                self.sockets.remove(s)
            self.assertEqual(codes, [200] * 40)
            # the flood holds no more than a small pool of threads, however many sockets it opens
            self.assertLess(self.status_field('Threads'), 100)
            self.assertGreater(reconnects[0], 0)
        finally:
            stop.set()
            flooder.join()
            for s in silent:
                s.close()

    def test_duplicate_host_long_bodies_slow_requests_and_trailers(self):
        auth = 'X-Vomark-Token: ' + self.token
        s = self.connect()  # the first Host is right; a second is never taken
        s.sendall(self.request('GET', '/api/dialog', [auth, 'Host: evil.example']))
        self.assertEqual(read_answers(s, 1), [400])
        s = self.connect()  # refused on its headers, without waiting for the body
        s.sendall(self.request('POST', '/api/escape', [auth, 'Content-Length: %d' % (2 << 20)]))
        self.assertEqual(read_answers(s, 1, timeout=1.5), [413])
        # a trailer after the last chunk is read and dropped; the next request on the connection follows
        s = self.connect()
        s.sendall(self.request('POST', '/api/escape', [auth, 'Transfer-Encoding: chunked'],
                               b'2\r\n{}\r\n0\r\nX-Checksum: 1\r\n\r\n') + self.request('GET', '/api/dialog', [auth]))
        self.assertEqual(read_answers(s, 2), [200, 200])
        # a byte at a time: cut off at the request's deadline, however often a byte comes
        s = self.connect()
        data = self.request('GET', '/api/dialog', [auth] + ['X-Pad-%d: 1' % i for i in range(100)])
        start, closed = time.monotonic(), False
        s.settimeout(0.1)
        for i in range(len(data)):
            if time.monotonic() - start > 8.0:
                break
            try:
                s.sendall(data[i:i + 1])
                if s.recv(4096):
                    closed = True
                    break
            except socket.timeout:
                continue
            except OSError:
                closed = True
                break
        self.assertTrue(closed, 'still open after %.1f s' % (time.monotonic() - start))

    def test_slow_and_silent_clients_leave_the_page_answering_and_sigterm_ends_the_server(self):
        for _ in range(50):
            self.connect()  # says nothing
        slow = [self.connect() for _ in range(8)]
        stop = threading.Event()

        def drip():  # one header line a second, never the end of the headers
            for s in slow:
                s.sendall(b'GET /api/dialog HTTP/1.1\r\n')
            while not stop.wait(1.0):
                for s in slow:
                    try:
                        s.sendall(b'X-Slow: 1\r\n')
                    except OSError:
                        pass
        dripper = threading.Thread(target=drip)
        dripper.start()
        try:
            for _ in range(8):
                s = self.connect()
                s.sendall(self.request('GET', '/api/dialog', ['X-Vomark-Token: ' + self.token]))
                self.assertEqual(read_answers(s, 1, timeout=10.0), [200])
            self.server.send_signal(signal.SIGTERM)
            self.assertEqual(self.server.wait(timeout=10), 0)
        finally:
            stop.set()
            dripper.join()


if __name__ == '__main__':
    unittest.main(argv=[sys.argv[0]], verbosity=2)
