#!/usr/bin/env python3
# SPDX-License-Identifier: Apache-2.0
# station_page_test.py REBURN3 REBURN3-SIM SCRIPT: the station page in chromium against `reburn3 serve`
# and a gang of three simulated devices that answer 10 ms late (a download: ~6 s), the third a wrong
# byte at its 200th answer: an aborted round, a round with a serial scanned per slot, a retry of the
# failed slot, then (root only: tmpfs) the database's disk full, records pending, and the journal's
# full too: the station stopped. Screenshots
# during and after the round, at 1920x1080 and 390x844, into $REBURN3_PAGE_SCREENSHOTS.
import json, os, re, shutil, subprocess, sys, tempfile, time, urllib.request
# One line per case (tests/support/cases.py): a failed check fails its case, the next runs.
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', 'support'))
from cases import case, check, failed, finish  # noqa: E402
try:
    from selenium import common, webdriver
except ImportError:  # a python3 of its own (pyenv, a venv) does not see Debian's selenium
    if sys.executable != '/usr/bin/python3' and os.path.exists('/usr/bin/python3'):
        os.execv('/usr/bin/python3', ['/usr/bin/python3'] + sys.argv)
    sys.exit(print('SKIPPED: python3-selenium is not installed') or 77)

TOKEN = 'line7-6f1c2a9e44d0'
HTML_SERIAL = '<img src=x onerror="window.__xss=1">'  # run as HTML, it would set __xss
TILES_JS = """return Object.fromEntries([...document.querySelectorAll('section.tile')].map(t => {
  const q = (s) => t.querySelector(s), text = (s) => q(s).textContent, r = t.getBoundingClientRect();
  return [t.dataset.slot, {port: t.dataset.port, name: text('.name'), state: text('.state'),
    value: q('.progress').value, max: q('.progress').max, verdict: text('.verdict'),
    colour: q('.verdict').className, lines: [...t.querySelectorAll('.lines .line')].map(l => l.textContent),
    serial: text('.board-serial'), next: q('.next-serial').value, boards: text('.boards'), yield: text('.yield'),
    left: r.left, right: r.right, pathLines: Math.round(q('.path').getBoundingClientRect().height /
      parseFloat(getComputedStyle(q('.path')).lineHeight)), verdictPx: parseFloat(getComputedStyle(q('.verdict')).fontSize)}]; }));"""
ROWS_JS = "return [...document.querySelectorAll('#records tr')].map(tr => [...tr.cells].map(c => c.textContent));"
LONG_PATH = 'usb-FTDI_FT232R_USB_UART_A50285BI_line7_station_gang-if00-port0'  # a /dev/serial/by-id name

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
    # Three slots: two good boards, the third answers a wrong byte at its 200th answer. The
    # third's port is reached through a long by-id-like link, as a line's adapters are.
    ports = []
    for n, faults in enumerate([[], [], ['--wrong-byte-at', '200']]):
        link = [f'{work}/{LONG_PATH}'] if n == 2 else []
        procs.append(subprocess.Popen([sim, script, '--stay', '--late', '10', '--lifetime', '300', *faults,
                                       *(['--link', link[0]] if link else [])],
                                      stdout=open(f'{work}/sim{n}.out', 'w'), stderr=subprocess.DEVNULL))
        ports.append(link[0] if link else first_line(f'{work}/sim{n}.out', procs[-1]))
    wait_for('the link', lambda: os.path.exists(ports[2]))
    # The journal and the database each on a 1 MiB tmpfs (root only): filled at the end, the
    # database first (records pending, rounds go on), then the journal (the station stops).
    state_dir, db_dir = f'{work}/state', f'{work}/db'
    tmpfs = True
    for d in (state_dir, db_dir):
        os.makedirs(d)
        tmpfs = tmpfs and os.geteuid() == 0 and subprocess.run(
            ['mount', '-t', 'tmpfs', '-o', 'size=1m', 'tmpfs', d], capture_output=True).returncode == 0
        procs.append(lambda d=d: subprocess.run(['umount', '-l', d], capture_output=True))
    def serve(listen, *more):  # the page's address
        log, db = f'{work}/serve{len(procs)}.err', f'sqlite:{db_dir}/records.db'
        args = [a for p in ports for a in ('--port', p)]
        procs.append(subprocess.Popen([reburn3, 'serve', '--listen', listen, '--station', 'line 7 <A>', *args,
                                       '--state-dir', state_dir, *more,
                                       script, '--db', db], stdout=subprocess.DEVNULL, stderr=open(log, 'w')))
        return first_line(log, procs[-1], 'reburn3: serving on ').split()[3]
    base = serve('127.0.0.1:0')
    tiles = lambda: b.execute_script(TILES_JS)
    every_tile = lambda f: all(f(t) for t in tiles().values())
    rows = lambda: b.execute_script(ROWS_JS)  # newest first
    text = lambda id: b.find_element('id', id).text
    off = lambda id: b.find_element('id', id).get_attribute('disabled')
    def api(path):
        req = urllib.request.Request(base + path, headers={'Authorization': f'Bearer {TOKEN}'})
        return json.load(urllib.request.urlopen(req))
    def scan(serial):
        b.find_element('id', 'serial').send_keys(serial + webdriver.Keys.ENTER)
        check(b.find_element('id', 'serial').get_attribute('value') == '', 'the scan field empties')
        check(b.execute_script('return document.activeElement.id') == 'serial', 'the scan field keeps focus')
    def view(w, h, phone):
        b.execute_cdp_cmd('Emulation.setDeviceMetricsOverride',
                          {'width': w, 'height': h, 'deviceScaleFactor': 1 + phone, 'mobile': phone})
        return wait_for('the layout', lambda: b.execute_script('return window.innerWidth') == w and tiles())
    case("a tile per slot, the script and the station named")
    b.get(base)
    now = wait_for('a tile per slot', lambda: len(tiles()) == 3 and tiles())
    slots = list(now)  # in the order of --port
    slot_of = {t['port']: s for s, t in now.items()}
    good, bad = slots[:2], slots[2]
    check(all(t['colour'] == 'verdict idle' for t in now.values()) and off('abort') and off('retry'), now)
    sha = api('api/state')['script']['sha256']  # known before the first round where the service reads the script at start
    check('(0 records)' not in text('script') and text('script-sha') == (f'SHA-256 {sha}' if sha else ''), text('script'))
    check(b.title == 'reburn3 line 7 <A>' and text('station') == 'line 7 <A>', b.title)
    case("round 1: an HTML serial stays text, the round aborted")
    # Round 1: an HTML serial on the first slot, aborted while the boards play; it stays text.
    scan(HTML_SERIAL)
    check([t['next'] for t in tiles().values()] == [HTML_SERIAL, '', ''], tiles())
    b.find_element('id', 'start').click()
    wait_for('the boards playing', lambda: every_tile(lambda t: t['state'].startswith('running') and t['value'] > 0))
    check(all(t['next'] == '' for t in tiles().values()), 'a serial goes with one board only')
    b.find_element('id', 'abort').click()
    wait_for('red aborted verdicts', lambda: every_tile(lambda t: t['verdict'].startswith('Aborted')
                                                        and t['colour'] == 'verdict bad'))
    wait_for('the HTML serial as text', lambda: sorted(r[6] for r in rows()) == ['', '', HTML_SERIAL])
    check(b.execute_script('return !document.querySelector("img") && window.__xss === undefined'), 'HTML ran')
    case("the service back on its address with a token")
    # The feed blocked and the service restarted on its address, now with a token: the page polls
    # and asks for the token; once given (and kept for the tab), the page is live again.
    b.execute_cdp_cmd('Network.enable', {})
    b.execute_cdp_cmd('Network.setBlockedURLs', {'urls': ['*/api/events*']})
    procs[-1].terminate(), procs[-1].wait(10)
    open(f'{work}/token', 'w').write(TOKEN + '\n')
    check(serve(base.split('//')[1].rstrip('/'), '--token-file', f'{work}/token', '--require-serial') == base, 'the service is back')
    wait_for('the page to ask for the token', lambda: text('status') == "Enter the station's token"
             and b.find_element('id', 'token').is_displayed())
    b.execute_cdp_cmd('Network.setBlockedURLs', {'urls': []})
    b.find_element('id', 'token').send_keys(TOKEN + webdriver.Keys.ENTER)
    wait_for('the live feed back', lambda: text('status') == 'Live', 15)
    check(b.execute_script('return sessionStorage.getItem("reburn3-token")') == TOKEN, 'kept for the tab')
    case("round 2: a serial per slot, scanned in turn")
    # Round 2: a serial per slot, scanned in turn; the second corrected on its tile before Start,
    # which waits (and says for what) until every slot has one.
    wait_for('Start to want serials', lambda: off('start') and text('start-hint') ==
             f'Scan a serial for {", ".join(slots)} to start the round.')
    for serial in ['SN-1', 'SN-X', 'SN-3']:
        scan(serial)
    check([t['next'] for t in tiles().values()] == ['SN-1', 'SN-X', 'SN-3'] and not off('start'), tiles())
    tile2 = b.find_elements('css selector', 'section.tile')[1]
    tile2.find_element('css selector', 'button.clear').click()
    check(off('start') and text('start-hint') == f'Scan a serial for {slots[1]} to start the round.', text('start-hint'))
    scan('SN-2')  # the next empty slot is the cleared one
    check([t['next'] for t in tiles().values()] == ['SN-1', 'SN-2', 'SN-3'], tiles())
    scan('SN-4')
    check('SN-4 was not taken' in text('status'), text('status'))
    b.find_element('id', 'start').click()
    seen = {s: [] for s in slots}
    def sample():  # the tiles now, and the progress each showed on the way
        now = tiles()
        [seen[s].append((now[s]['value'], now[s]['max'])) for s in slots]
        return now
    def ended():
        now = sample()
        return off('abort') and not any(t['state'].startswith(('running', 'waiting')) for t in now.values()) and now
    case("round 2 while the boards download and at its end")
    # While the boards download, no tile shows round 1's verdict and the banner counts the boards.
    mid = wait_for('round 2 downloading', lambda: (now := sample()) and all(0 < t['value'] < t['max'] / 2
                                                                        for t in now.values()) and now)
    check(all(t['verdict'].startswith(('Programming', 'Waiting')) and t['colour'] == 'verdict run'
               for t in mid.values()), mid)
    check('SN-4 was not taken' not in text('status'), 'the status tells the present')
    check(text('banner').startswith('Round 2 running: ') and text('banner').endswith(' of 3 boards done'), text('banner'))
    scan('SN-5')  # the next gang's first serial, while this one runs
    check(tiles()[slots[0]]['next'] == 'SN-5' and tiles()[slots[0]]['serial'] == 'Serial SN-1', tiles())
    for name, w, h, phone in [('serve_page_running.png', 1920, 1080, False), ('serve_page_phone_running.png', 390, 844, True)]:
        view(w, h, phone)
        b.save_screenshot(os.path.join(shots, name))
    end = wait_for('round 2 to end', ended, 40)
    for s in slots:
        mid = [v for v, m in seen[s] if 0 < v < m]
        check(len(set(mid)) >= 2 and mid == sorted(mid), f'the bar of {s} moved forward: {mid[:9]}')
    for s, serial in zip(good, ['SN-1', 'SN-2']):
        check(end[s]['verdict'] == 'Completed' and end[s]['colour'] == 'verdict ok' and end[s]['serial'] == f'Serial {serial}', end[s])
    failed = end[bad]
    check(failed['verdict'] == 'Failed: wrong byte' and failed['colour'] == 'verdict bad' and failed['serial'] == 'Serial SN-3', failed)
    check(any(l.startswith('At script line ') and ': expected ' in l and ', received ' in l for l in failed['lines']), failed)
    board = next(p for p in api('api/state')['ports'] if slot_of[p['port']] == bad).get('board') or {}
    check(f'Next: cycle its power (it is partly programmed). {board.get("nextStep", "")}'.strip() in failed['lines'], failed)
    banner = text('banner')
    check(re.match(r'Round 2 ended( at \d\d:\d\d:\d\d)?: ', banner) and banner.endswith(': 3 boards: 2 completed, 1 failed' + (
        ' by the device' if 'deviceFailed' in api('api/state')['counts'] else '')), banner)
    serial_of = lambda rnd: {slot_of[r['port']]: r['tags'].get('serial') for r in api('api/records')['records']
                             if r['round'] == rnd}
    wait_for('a serial per slot in the rows', lambda: serial_of(2) == dict(zip(slots, ['SN-1', 'SN-2', 'SN-3'])))
    wait_for('the rows: records done of the total', lambda: [r[4] for r in rows()][:3] == ['12347 / 12347'] * 2 + ['8252 / 12347'])
    case("the line monitor and the phone")
    # The line monitor: the tiles side by side across the width, the verdicts large; the phone:
    # stacked, the summary on top, the long path in two lines at most; only the table scrolls.
    for name, w, h, phone in [('serve_page.png', 1920, 1080, False), ('serve_page_phone.png', 390, 844, True)]:
        t = view(w, h, phone)
        check((len({x['left'] for x in t.values()}) == 1) == phone, f'{w}x{h}: {t}')
        check(phone or (max(x['right'] for x in t.values()) > 0.9 * w and t[bad]['verdictPx'] >= 30), t)
        check(t[bad]['pathLines'] <= 2 and b.execute_script(
            'return document.getElementById("summary").getBoundingClientRect().top') < 100, t[bad])
        check(b.execute_script('return document.documentElement.scrollWidth <= innerWidth'), f'{w}x{h} too wide')
        b.save_screenshot(os.path.join(shots, name))
    view(1366, 768, False)
    case("a retry of the failed slot")
    # Retry: only the failed slot downloads again, with its serial; the good tiles keep their verdicts.
    check(not off('retry'))
    b.find_element('id', 'retry').click()
    wait_for('the retry to run', lambda: text('banner').startswith('Round 3 running: '))
    check(text('banner').endswith(' of 1 board done'), text('banner'))
    wait_for('the retry to end', lambda: text('banner').startswith('Round 3 ended'), 40)
    wait_for('the retried board\'s row', lambda: serial_of(3) == {bad: 'SN-3'})
    check(all(tiles()[s]['verdict'].startswith('Completed') for s in good), tiles())
    if not tmpfs:
        return print('SKIPPED the database down and the stopped station: mounting a tmpfs needs root')
    def run_round():  # with a serial for each slot; None when the station refused it
        [scan(f'SN-{n}') for n in range(6, 9) if not all(t['next'] for t in tiles().values())]
        number = api('api/state')['round']['number']
        b.find_element('id', 'start').click()
        try:
            return wait_for('the round to run and end', lambda: (st := api('api/state'))['round']['number'] > number
                            and not st['round']['running'] and st, 90)
        except AssertionError:
            return None
    case("the database disk full: records pending")
    # The database's disk full: the boards' records wait in the journal, rounds go on.
    fill(db_dir)
    for _ in range(3):
        if ((run_round() or {}).get('records') or {}).get('database') == 'down':
            break
    wait_for('the database warning', lambda: text('status').startswith('Records pending: the database is down (')
             and b.find_element('id', 'status').get_attribute('class') == 'warn')
    check(text('start-hint') != 'No round can start while the station is stopped.', text('start-hint'))
    wait_for('records pending on the good tiles', lambda: all(
        tiles()[s]['verdict'] == 'Completed; record pending' and tiles()[s]['colour'] == 'verdict warn' for s in good))
    case("the journal disk full too: the station stopped")
    # The journal's disk full too: the next round stops the station; Start stays off and says why.
    fill(state_dir)
    for _ in range(3):
        run_round()
        if text('status').startswith('Station stopped: '):
            break
    wait_for('Start off', lambda: off('start') and off('retry'))
    check(text('status').startswith('Station stopped: ') and 'No space left on device' in text('status'), text('status'))
    check(text('start-hint') == 'No round can start while the station is stopped.', text('start-hint'))
    shown = tiles()
    for p in api('api/state')['ports']:
        record = (p.get('board') or {}).get('record')
        if record in ('lost', 'pending'):
            t = shown[slot_of[p['port']]]
            check(t['colour'] != 'verdict ok' and any('record' in x for x in [t['verdict'], *t['lines']]), t)
    b.save_screenshot(os.path.join(work, 'stopped.png'))

def fill(folder):  # every free byte of the folder's file system
    for name, size in (('filler', 4096), ('filler2', 1)):
        with open(os.path.join(folder, name), 'wb', buffering=0) as f:
            try:
                while f.write(b'\0' * size):
                    pass
            except OSError:
                pass

def main():
    work, procs, browser = tempfile.mkdtemp(prefix='reburn3-page-'), [], start_browser()
    os.makedirs(shots := os.environ.get('REBURN3_PAGE_SCREENSHOTS') or work, exist_ok=True)
    try:
        try:
            test(browser, *sys.argv[1:4], work, procs, shots)
        except AssertionError as e:  # a wait that timed out ends the cases here
            check(False, e)
        if failed():
            browser.save_screenshot(f'{work}/failure.png')
            print(f'(the page at the end and the service logs: {work})')
        finish()
        return print(f'PASSED; screenshots in {shots}') or 0
    finally:
        browser.quit()
        [(p.terminate(), p.wait(10)) if hasattr(p, 'terminate') else p() for p in reversed(procs)]
sys.exit(main())
