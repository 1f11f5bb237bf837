// SPDX-License-Identifier: Apache-2.0
// The station page: draws /api/state as one tile per port, keeps the last records, and sends
// the operator's start and abort. Live through the event stream /api/events, read with
// fetch() so that it carries the token in its Authorization header like every other request
// (an EventSource cannot, and a token in a URL ends up in logs); while the stream is down it
// polls /api/state every 2 s and tries the stream again. A station with a token asks for it
// once; the page keeps it for the tab (sessionStorage). Every text from the service goes in
// through textContent: a port, a reason or a tag may hold any characters.
'use strict';

const MAX_RECORDS = 50;
const POLL_MS = 2000;
const RECONNECT_MS = 5000;

const $ = (id) => document.getElementById(id);
const tiles = new Map(); // port -> the tile's elements
const records = new Map(); // record id -> row, the newest MAX_RECORDS
let nextSerial = '';
let running = false;
let busy = false; // a start or abort is on its way
let feed = null; // the AbortController of the stream being read
let pollTimer = null;
let reconnectTimer = null;
let pollNoted = false; // the status says the page is polling

// Each reason a download can end with, in words (docs/line-controllers.md has the list).
const REASONS = {
  'no-reply': 'no reply to the handshake',
  'bad-handshake': 'wrong reply to the handshake',
  'echo': 'the handshake came back as sent',
  'handshake-limit': 'the device never let the handshake end',
  'wrong-byte': 'wrong byte',
  'read-timeout': 'no answer in time',
  'write-failed': 'a write to the port failed',
  'drain-timeout': 'the bytes did not drain',
  'device-lost': 'the device went away',
  'script-changed': 'the script changed on disk',
  'script-malformed': 'a script record could not be played',
  'internal-error': 'internal error',
  'script-unreadable': 'the script cannot be read',
  'script-refused': 'the script was refused',
  'script-mismatch': 'not the expected script',
  'port-open-failed': 'the port could not be opened',
  'output-unwritable': 'the log cannot be written',
  'usage': 'usage error',
  'log-failed': 'the record could not be written',
};

function el(tag, className, text) {
  const e = document.createElement(tag);
  if (className) e.className = className;
  if (text !== undefined) e.textContent = String(text);
  return e;
}

function setStatus(text, kind = '') {
  $('status').textContent = text;
  $('status').className = kind;
}

const percent = (y) => (typeof y === 'number' ? `${Math.round(y * 1000) / 10} %` : '–');

function localTime(iso) {
  const d = new Date(iso);
  if (!iso || Number.isNaN(d.getTime())) return String(iso ?? '');
  const p = (n) => String(n).padStart(2, '0');
  return `${d.getFullYear()}-${p(d.getMonth() + 1)}-${p(d.getDate())} ` +
      `${p(d.getHours())}:${p(d.getMinutes())}:${p(d.getSeconds())}`;
}

// A port's last result (the `flash --json` result object) in words, and its colour.
function verdict(last) {
  if (!last) return ['No board yet', 'idle'];
  if (last.completed) {
    const secs = typeof last.durationMs === 'number' ? ` in ${(last.durationMs / 1000).toFixed(1)} s` : '';
    return [`Completed: ${last.records} records${secs}`, 'ok'];
  }
  let text = last.reason === 'interrupted' ? 'Aborted' : `Failed: ${REASONS[last.reason] || last.reason}`;
  if (last.scriptLine) text += ` at script line ${last.scriptLine}`;
  if (last.expected) text += ` (expected ${last.expected}, got ${last.received})`;
  if (last.partlyProgrammed) text += '; partly programmed: cycle its power';
  return [text, 'bad'];
}

function tileFor(port) {
  let t = tiles.get(port);
  if (t) return t;
  t = {
    root: el('section', 'tile'),
    name: el('span', 'name', port),
    state: el('span', 'state'),
    identity: el('div', 'identity'),
    progress: el('progress', 'progress'),
    count: el('div', 'count'),
    verdict: el('div', 'verdict idle'),
    boards: el('span', 'boards'),
    yield: el('span', 'yield'),
  };
  t.root.dataset.port = port;
  const head = el('div', 'head');
  head.append(t.name, t.state);
  const stats = el('div', 'stats');
  stats.append(t.boards, t.yield);
  t.root.append(head, t.identity, t.progress, t.count, t.verdict, stats);
  $('tiles').append(t.root);
  tiles.set(port, t);
  return t;
}

function renderPort(p) {
  const t = tileFor(p.port);
  t.root.dataset.state = p.state;
  const busyState = p.state === 'running' || p.state === 'waiting';
  t.state.textContent = busyState && p.reason ? `${p.state}: ${p.reason}` : p.state;
  t.identity.textContent = p.identity || 'no USB identity';
  t.identity.title = p.device || '';
  t.progress.max = Math.max(p.recordsTotal, 1);
  t.progress.value = Math.min(p.recordsDone, t.progress.max);
  t.count.textContent = `${p.recordsDone} of ${p.recordsTotal} records`;
  const [text, colour] = verdict(p.last);
  t.verdict.textContent = text;
  t.verdict.className = `verdict ${colour}`;
  t.boards.textContent = `Boards: ${p.boards} (${p.completed} completed)`;
  t.yield.textContent = `Yield ${percent(p.yield)}`;
}

function render(s) {
  $('station').textContent = s.station || '';
  document.title = `reburn3 ${s.station || 'station'}`;
  $('script-name').textContent = s.script.name;
  $('script-sha').textContent = s.script.sha256.slice(0, 16);
  $('script-sha').title = s.script.sha256;
  $('script-records').textContent = `(${s.script.records} records)`;
  running = s.round.running;
  $('round').textContent = s.round.number ? `Round ${s.round.number}${running ? ', running' : ''}` : 'No round yet';
  const c = s.counts;
  $('counts').textContent =
      `${c.boards} boards, ${c.completed} completed, ${c.failed} failed, yield ${percent(c.yield)}`;
  $('token-box').hidden = !s.tokenRequired;
  // A board's record the database did not take stops the station: say so until it is fixed.
  if (s.ok === false) setStatus(`Station stopped: ${s.error || 'a record was not written'}`, 'error');
  const ports = new Set(s.ports.map((p) => p.port));
  for (const [port, t] of tiles) {
    if (!ports.has(port)) {
      t.root.remove();
      tiles.delete(port);
    }
  }
  s.ports.forEach(renderPort);
  updateButtons();
}

function updateButtons() {
  $('start').disabled = busy || running;
  $('abort').disabled = busy || !running;
}

function recordRow(r) {
  const tr = el('tr', r.outcome === 'completed' ? 'ok' : 'bad');
  tr.dataset.id = r.id;
  const cells = [
    [r.round, 'num'], [r.port], [r.outcome, 'outcome'], [r.reason],
    [`${r.records} / ${r.recordsTotal}`, 'num'], [Number(r.seconds).toFixed(1), 'num'],
    [(r.tags && r.tags.serial) || '', 'tag'], [localTime(r.endedAt)],
  ];
  for (const [text, className] of cells) tr.append(el('td', className, text ?? ''));
  return tr;
}

// Rows come from the event stream and from /api/records, in any order and maybe twice.
function addRecords(rows) {
  for (const r of rows) {
    if (r && Number.isInteger(r.id)) records.set(r.id, r);
  }
  const ids = [...records.keys()].sort((a, b) => b - a);
  ids.slice(MAX_RECORDS).forEach((id) => records.delete(id));
  $('records').replaceChildren(...ids.slice(0, MAX_RECORDS).map((id) => recordRow(records.get(id))));
}

// The station wants its token: the box is shown and focused.
class TokenError extends Error {}

function authHeaders() {
  const token = sessionStorage.getItem('reburn3-token') || '';
  return token ? { Authorization: `Bearer ${token}` } : {};
}

function askToken() {
  $('token-box').hidden = false;
  if (document.activeElement !== $('token')) $('token').focus();
  return new TokenError('the station asks for its token');
}

async function api(method, path, body) {
  const headers = authHeaders();
  if (body !== undefined) headers['Content-Type'] = 'application/json';
  const res = await fetch(path, {
    method, headers, cache: 'no-store', body: body === undefined ? undefined : JSON.stringify(body),
  });
  let data = null;
  try {
    data = await res.json();
  } catch {
    // not JSON: the status says enough
  }
  if (!res.ok) {
    if (res.status === 401) throw askToken();
    throw new Error(data && typeof data.error === 'string' ? data.error : `HTTP ${res.status}`);
  }
  return data;
}

async function loadRecords() {
  const newest = Math.max(0, ...records.keys());
  const since = newest ? `since=${newest}&` : '';
  const data = await api('GET', `/api/records?${since}limit=${MAX_RECORDS}`);
  addRecords(data.records);
}

async function send(what, path, body) {
  busy = true;
  updateButtons();
  try {
    return await api('POST', path, body);
  } catch (e) {
    setStatus(`${what} refused: ${e.message}`, 'error');
    return null;
  } finally {
    busy = false;
    updateButtons();
    $('serial').focus();
  }
}

async function startRound() {
  const answer = await send('Start', '/api/rounds', nextSerial ? { tags: { serial: nextSerial } } : {});
  if (answer) {
    setStatus(`Round ${answer.round} started${nextSerial ? ` for serial ${nextSerial}` : ''}`, 'live');
    showNextSerial('');
  }
}

async function abortRound() {
  const answer = await send('Abort', '/api/abort');
  if (answer) setStatus(answer.aborted ? 'Abort sent' : 'Nothing was running');
}

function showNextSerial(serial) {
  nextSerial = serial;
  $('next-serial').textContent = serial || 'no serial';
}

async function poll() {
  try {
    render(await api('GET', '/api/state'));
    await loadRecords();
    if (!pollNoted) setStatus('Live feed lost: polling every 2 s', 'error');
    pollNoted = true;
  } catch (e) {
    setStatus(e instanceof TokenError ? 'Enter the station\'s token' : `No answer from the station: ${e.message}`,
      'error');
    pollNoted = false;
  }
}

function feedLost() {
  if (!pollTimer) {
    poll();
    pollTimer = setInterval(poll, POLL_MS);
  }
  reconnectTimer = setTimeout(connect, RECONNECT_MS);
}

// One block of the stream: "event: NAME" and "data: JSON" lines.
function dispatch(block) {
  let name = 'message';
  let data = '';
  for (const line of block.split('\n')) {
    if (line.startsWith('event: ')) name = line.slice(7);
    else if (line.startsWith('data: ')) data += line.slice(6);
  }
  if (!data) return;
  if (name === 'state') render(JSON.parse(data));
  else if (name === 'record') addRecords([JSON.parse(data)]);
}

async function connect() {
  clearTimeout(reconnectTimer);
  if (feed) feed.abort();
  const mine = new AbortController();
  feed = mine;
  try {
    const res = await fetch('/api/events', { headers: authHeaders(), cache: 'no-store', signal: mine.signal });
    if (res.status === 401) throw askToken();
    if (!res.ok || !res.body) throw new Error(`HTTP ${res.status}`);
    clearInterval(pollTimer);
    pollTimer = null;
    pollNoted = false;
    setStatus('Live', 'live');
    loadRecords().catch((e) => setStatus(`Records: ${e.message}`, 'error'));
    const reader = res.body.pipeThrough(new TextDecoderStream()).getReader();
    let text = '';
    for (;;) {
      const { value, done } = await reader.read();
      if (done) break;
      text += value;
      for (let end = text.indexOf('\n\n'); end >= 0; end = text.indexOf('\n\n')) {
        dispatch(text.slice(0, end));
        text = text.slice(end + 2);
      }
    }
  } catch {
    // told below, unless a newer stream took over
  }
  if (feed === mine) feedLost();
}

function useToken() {
  sessionStorage.setItem('reburn3-token', $('token').value.trim());
  clearInterval(pollTimer);
  pollTimer = null;
  connect();
}

$('controls').addEventListener('submit', (ev) => ev.preventDefault());
$('serial').addEventListener('keydown', (ev) => {
  if (ev.key !== 'Enter') return;
  ev.preventDefault();
  showNextSerial($('serial').value.trim());
  $('serial').value = '';
});
$('start').addEventListener('click', startRound);
$('abort').addEventListener('click', abortRound);
$('token').value = sessionStorage.getItem('reburn3-token') || '';
$('token').addEventListener('change', useToken);
$('token').addEventListener('keydown', (ev) => {
  if (ev.key !== 'Enter') return;
  ev.preventDefault();
  useToken();
});
connect();
