#!/usr/bin/env python3
# SPDX-License-Identifier: Apache-2.0
# station_page_test.py REBURN3 REBURN3-SIM SCRIPT: the station page in chromium against `reburn3 serve`
# and two simulated devices that answer 10 ms late (a download: ~6 s), the second a wrong byte at its
# 200th answer. Two rounds, then both viewports, with screenshots into $REBURN3_PAGE_SCREENSHOTS.
import json, os, shutil, subprocess, sys, tempfile, time, urllib.request
try:
    from selenium import common, webdriver
except ImportError:  # a python3 of its own (pyenv, a venv) does not see Debian's selenium
    if sys.executable != '/usr/bin/python3' and os.path.exists('/usr/bin/python3'):
        os.execv('/usr/bin/python3', ['/usr/bin/python3'] + sys.argv)
    sys.exit(print('SKIPPED: python3-selenium is not installed') or 77)

TOKEN = 'line7-6f1c2a9e44d0'
HTML_SERIAL = '<img src=x onerror="window.__xss=1">'  # run as HTML, it would set __xss
TILES_JS = """return Object.fromEntries([...document.querySelectorAll('section.tile')].map(t => {
  const q = (s) => t.querySelector(s), text = (s) => q(s).textContent;
  return [t.dataset.port, {name: text('.name'), state: text('.state'), value: q('.progress').value,
    max: q('.progress').max, verdict: text('.verdict'), colour: q('.verdict').className,
    boards: text('.boards'), yield: text('.yield'), left: t.getBoundingClientRect().left}]; }));"""
ROWS_JS = "return [...document.querySelectorAll('#records tr')].map(tr => [...tr.cells].map(c => c.textContent));"

def wait_for(what, fn, timeout=20):
    end = time.monotonic() + timeout
    while not (value := fn()):
        assert time.monotonic() < end, f'timed out waiting for {what}'
        time.sleep(0.05)
    return value

def first_line(path, proc, prefix=''):
    def line():
        assert proc.poll() is None, f'{proc.args[:2]} ended early: {open(path).read()}'
        return next((l.strip() for l in open(path) if l.startswith(prefix)), None)
    return wait_for(f'"{prefix}" from {proc.args[:2]}', line)

def start_browser():
    options, driver = webdriver.ChromeOptions(), shutil.which('chromedriver')
    options.binary_location = shutil.which('chromium') or ''
    for a in ['--headless=new', '--disable-gpu', '--disable-dev-shm-usage'] + ['--no-sandbox'] * (os.geteuid() == 0):
        options.add_argument(a)
    try:
        assert driver and options.binary_location, 'chromium or chromium-driver is not installed'
        return webdriver.Chrome(service=webdriver.chrome.service.Service(driver), options=options)
    except (AssertionError, common.WebDriverException) as e:
        sys.exit(print(f'SKIPPED: the browser cannot start: {getattr(e, "msg", e)}') or 77)

def test(b, reburn3, sim, script, work, procs, shots):
    ports = []
    for n, faults in enumerate([[], ['--wrong-byte-at', '200']]):
        procs.append(subprocess.Popen([sim, script, '--stay', '--late', '10', '--lifetime', '300', *faults],
                                      stdout=open(f'{work}/sim{n}.out', 'w'), stderr=subprocess.DEVNULL))
        ports.append(first_line(f'{work}/sim{n}.out', procs[-1]))
    good, bad = ports
    def serve(listen, *more):  # the page's address
        log, db = f'{work}/serve{len(procs)}.err', f'sqlite:{work}/records.db'
        procs.append(subprocess.Popen([reburn3, 'serve', '--listen', listen, '--port', good, '--port', bad, *more,
                                       script, '--db', db], stdout=subprocess.DEVNULL, stderr=open(log, 'w')))
        return first_line(log, procs[-1], 'reburn3: serving on ').split()[3]
    base = serve('127.0.0.1:0')
    tiles = lambda: b.execute_script(TILES_JS)
    every_tile = lambda f: all(f(t) for t in tiles().values())
    serials = lambda: [r[6] for r in b.execute_script(ROWS_JS)]  # newest first
    text = lambda id: b.find_element('id', id).text
    off = lambda id: b.find_element('id', id).get_attribute('disabled')
    auth = urllib.request.Request(base + 'api/records', headers={'Authorization': f'Bearer {TOKEN}'})
    api = lambda serial: [r for r in json.load(urllib.request.urlopen(auth))['records']
                          if r['tags'].get('serial') == serial]
    def start_round(serial):
        b.find_element('id', 'serial').send_keys(serial + webdriver.Keys.ENTER)
        assert b.find_element('id', 'serial').get_attribute('value') == '' and text('next-serial') == serial, \
            f'Enter moves {serial[:20]!r} from #serial to #next-serial'
        b.find_element('id', 'start').click()
    b.get(base)
    now = wait_for('a tile per port', lambda: len(tiles()) == 2 and tiles())
    assert all(now[p]['name'] == p and now[p]['colour'] == 'verdict idle' for p in ports) and off('abort'), now
    # Round 1: an HTML serial, aborted while both boards play; it stays text.
    start_round(HTML_SERIAL)
    wait_for('both boards playing', lambda: every_tile(lambda t: t['state'].startswith('running') and t['value'] > 0))
    b.find_element('id', 'abort').click()
    wait_for('red aborted verdicts', lambda: every_tile(lambda t: t['verdict'].startswith('Aborted')
                                                        and t['colour'] == 'verdict bad'))
    wait_for('the HTML serial as text', lambda: serials() == [HTML_SERIAL] * 2)
    assert b.execute_script('return !document.querySelector("img") && window.__xss === undefined'), 'HTML ran'
    # The feed blocked and the service restarted on its address, now with a token: the page polls
    # and asks for the token; once given (and kept for the tab), the page is live again.
    b.execute_cdp_cmd('Network.enable', {})
    b.execute_cdp_cmd('Network.setBlockedURLs', {'urls': ['*/api/events*']})
    procs[-1].terminate(), procs[-1].wait(10)
    open(f'{work}/token', 'w').write(TOKEN + '\n')
    assert serve(base.split('//')[1].rstrip('/'), '--token-file', f'{work}/token') == base, 'the service is back'
    wait_for('the page to ask for the token', lambda: text('status') == "Enter the station's token"
             and b.find_element('id', 'token').is_displayed())
    b.execute_cdp_cmd('Network.setBlockedURLs', {'urls': []})
    b.find_element('id', 'token').send_keys(TOKEN + webdriver.Keys.ENTER)
    wait_for('the live feed back', lambda: text('status') == 'Live', 15)
    assert b.execute_script('return sessionStorage.getItem("reburn3-token")') == TOKEN, 'kept for the tab'
    # Round 2: one board completes, the other fails; both bars move forward.
    start_round('SN-4711')
    seen = {p: [] for p in ports}
    def ended():  # the tiles at the end; the progress each showed on the way
        now = tiles()
        [seen[p].append((now[p]['value'], now[p]['max'])) for p in ports]
        return off('abort') and not any(t['state'].startswith(('running', 'waiting')) for t in now.values()) and now
    wait_for('round 2 to start', lambda: any(t['state'].startswith('running') for t in tiles().values()))
    end = wait_for('round 2 to end', ended, 40)
    for p in ports:
        mid = [v for v, m in seen[p] if 0 < v < m]
        assert len(set(mid)) >= 2 and mid == sorted(mid), f'the bar of {p} moved forward: {mid[:9]}'
    assert end[good]['verdict'].startswith('Completed') and end[good]['colour'] == 'verdict ok', end[good]
    assert 'wrong byte' in end[bad]['verdict'] and end[bad]['colour'] == 'verdict bad', end[bad]
    assert '1 completed' in end[good]['boards'] and end[bad]['yield'] == 'Yield 0 %', end
    wait_for('the round-2 rows', lambda: serials() == ['SN-4711'] * 2 + [HTML_SERIAL] * 2)
    assert sorted(r['outcome'] for r in api('SN-4711')) == ['completed', 'device-failed'], api('SN-4711')
    # The restarted service numbers its rounds on from its records.
    assert {r['round'] for r in api('SN-4711')} == {2}, api('SN-4711')
    # Side by side on the line monitor, stacked on a phone; only the table scrolls sideways.
    for name, w, h, phone in [('serve_page.png', 1366, 768, False), ('serve_page_phone.png', 390, 844, True)]:
        b.execute_cdp_cmd('Emulation.setDeviceMetricsOverride',
                          {'width': w, 'height': h, 'deviceScaleFactor': 1 + phone, 'mobile': phone})
        t = wait_for('the layout', lambda: b.execute_script('return window.innerWidth') == w and tiles())
        assert (t[good]['left'] == t[bad]['left']) == phone, f'{w}x{h}: {t}'
        assert b.execute_script('return document.documentElement.scrollWidth <= innerWidth'), f'{w}x{h} too wide'
        b.save_screenshot(os.path.join(shots, name))

def main():
    work, procs, browser = tempfile.mkdtemp(prefix='reburn3-page-'), [], start_browser()
    os.makedirs(shots := os.environ.get('REBURN3_PAGE_SCREENSHOTS') or work, exist_ok=True)
    try:
        test(browser, *sys.argv[1:4], work, procs, shots)
        return print(f'PASSED; screenshots in {shots}') or 0
    except AssertionError as e:
        browser.save_screenshot(f'{work}/failure.png')
        return print(f'FAILED: {e}\n(the page at the failure and the service logs: {work})') or 1
    finally:
        browser.quit()
        [(p.terminate(), p.wait(10)) for p in procs]
sys.exit(main())
