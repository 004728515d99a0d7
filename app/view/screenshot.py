#!/usr/bin/python3
"""A picture of the vomark view page, taken once the page has its scene, state and first evaluation
(Chromium's own --screenshot takes it before they arrive). Debian's chromium, chromium-driver and
python3-selenium.

usage: screenshot.py URL OUT.png [WIDTHxHEIGHT]
"""
import shutil
import sys
import tempfile
import time

from selenium import webdriver
from selenium.webdriver.chrome.service import Service


def main(argv):
    if len(argv) not in (3, 4) or (len(argv) == 4 and 'x' not in argv[3]):
        print('usage: screenshot.py URL OUT.png [WIDTHxHEIGHT]', file=sys.stderr)
        return 2
    url, out = argv[1], argv[2]
    size = argv[3] if len(argv) == 4 else '1280x800'
    profile = tempfile.mkdtemp(prefix='vomark-view-shot-')
    options = webdriver.ChromeOptions()
    options.binary_location = '/usr/bin/chromium'
    for arg in ['--headless=new', '--no-sandbox', '--disable-dev-shm-usage', '--window-size=' + size.replace('x', ','),
                '--use-angle=swiftshader', '--enable-unsafe-swiftshader', '--no-first-run',
                '--hide-scrollbars', '--user-data-dir=' + profile]:
        options.add_argument(arg)
    driver = webdriver.Chrome(service=Service('/usr/bin/chromedriver'), options=options)
    try:
        driver.get(url)
        end = time.monotonic() + 60
        while not driver.execute_script('return !!(window.vomarkView && (window.vomarkView.ready || '
                                        'window.vomarkView.errors.length))'):
            if time.monotonic() > end:
                print('screenshot.py: %s: the page did not finish loading in 60 s' % url, file=sys.stderr)
                return 1
            time.sleep(0.1)
        errors = driver.execute_script('return window.vomarkView.errors')
        if errors:
            print('screenshot.py: %s: the page says: %s' % (url, errors[0]), file=sys.stderr)
            return 1
        # the frame drawn after the data came
        driver.execute_async_script('requestAnimationFrame(() => requestAnimationFrame(arguments[0]))')
        if not driver.save_screenshot(out):
            print('screenshot.py: %s: cannot be written' % out, file=sys.stderr)
            return 1
        return 0
    finally:
        driver.quit()
        shutil.rmtree(profile, ignore_errors=True)


if __name__ == '__main__':
    sys.exit(main(sys.argv))
