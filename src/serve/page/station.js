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
const tiles = new Map(); // slot -> the tile's elements
const serials = new Map(); // slot -> the serial its next board gets
const lastSerials = new Map(); // slot -> the serial sent with its last board
const records = new Map(); // record id -> row, the newest MAX_RECORDS
let state = null; // the station's last state
let sent = {}; // the round this page started last, and its slots
let running = false;
let stopped = null; // why no round may start, or null
let recordsTrouble = false; // the records do not reach the database as they should
let busy = false; // a start or abort is on its way
let feed = null; // the AbortController of the stream being read
let pollTimer = null;
let reconnectTimer = null;

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

// What the status line tells, most pressing first: the connection, a stopped station, the
// answer to the operator's last action, the records' database. Each is the present: a part
// is cleared as soon as it no longer holds.
const status = { link: null, station: null, notice: null, records: null, live: null };

function showStatus() {
  const now = status.link || status.station || status.notice || status.records || status.live ||
      { text: 'Connecting…', kind: '' };
  $('status').textContent = now.text;
  $('status').className = now.kind;
}

function setStatus(part, text, kind = '') {
  status[part] = text ? { text, kind } : null;
  showStatus();
}

const percent = (y) => (typeof y === 'number' ? `${Math.round(y * 1000) / 10} %` : '–');

function localTime(iso, timeOnly = false) {
  const d = new Date(iso);
  if (!iso || Number.isNaN(d.getTime())) return String(iso ?? '');
  const p = (n) => String(n).padStart(2, '0');
  const time = `${p(d.getHours())}:${p(d.getMinutes())}:${p(d.getSeconds())}`;
  return timeOnly ? time : `${d.getFullYear()}-${p(d.getMonth() + 1)}-${p(d.getDate())} ${time}`;
}

// A slot's name: its label, or the port as given on the command line (a service without labels).
const slotOf = (p) => p.slot || p.port;

// The board on a slot now, in one shape: the service's `board`, or one made of the port's
// state and its last result (a service that does not report boards).
function boardOf(p) {
  if (p.board !== undefined) return p.board;
  if (p.state === 'running' || p.state === 'waiting') return { running: true };
  const last = p.last;
  if (!last) return null;
  return {
    running: false, result: last.completed ? 'completed' : last.result, completed: !!last.completed,
    reason: last.reason, scriptLine: last.scriptLine, expected: last.expected, received: last.received,
    partlyProgrammed: last.partlyProgrammed, records: last.records, durationMs: last.durationMs,
    nextStep: last.nextStep,
  };
}

const completedBoard = (b) => b && !b.running && (b.result === 'completed' || b.completed === true);
const failedBoard = (b) => b && !b.running && !completedBoard(b);

// A board's verdict: the headline, its colour and the lines beneath (what happened, where,
// and what the operator does next).
function verdict(p, b) {
  if (!b) return { head: 'No board yet', colour: 'idle', lines: [] };
  if (b.running) {
    if (p.state === 'waiting' || !(p.recordsTotal > 0)) return { head: 'Waiting for the board', colour: 'run', lines: [] };
    return { head: `Programming: ${Math.floor((100 * p.recordsDone) / p.recordsTotal)} %`, colour: 'run', lines: [] };
  }
  const lines = [];
  if (completedBoard(b)) {
    const secs = typeof b.durationMs === 'number' ? ` in ${(b.durationMs / 1000).toFixed(1)} s` : '';
    if (typeof b.records === 'number') lines.push(`${b.records} records${secs}`);
    else if (b.text) lines.push(b.text.replace(/^DONE: /, ''));
    // Done on the device, but not done until its record is kept.
    if (b.record === 'lost') return { head: 'Completed; record lost', colour: 'bad', lines: [...lines, 'Its record was not written.'] };
    // A record on its way to a healthy database is a moment's business, not a warning.
    if (b.record === 'pending' && recordsTrouble) {
      return { head: 'Completed; record pending', colour: 'warn', lines: [...lines, 'Its record is not in the database yet.'] };
    }
    return { head: 'Completed', colour: 'ok', lines };
  }
  const head = b.reason === 'interrupted' ? 'Aborted' : `Failed: ${REASONS[b.reason] || b.reason || b.result}`;
  if (b.scriptLine) {
    const bytes = b.expected ? `: expected ${b.expected}, received ${b.received ?? 'nothing'}` : '';
    lines.push(`At script line ${b.scriptLine}${bytes}`);
  } else if (b.text) {
    lines.push(b.text); // the command line's account: what the handshake or the port did
  }
  // The next step as the command line gives it; a partly programmed device is powered off first.
  let next = b.nextStep || '';
  if (b.partlyProgrammed) next = `cycle its power (it is partly programmed)${next ? `. ${next}` : '.'}`;
  else if (next.startsWith('Then ')) next = next.charAt(5).toUpperCase() + next.slice(6);
  if (next) lines.push(`Next: ${next}`);
  if (b.record === 'lost') lines.push('Its record was not written.');
  else if (b.record === 'pending' && recordsTrouble) lines.push('Its record is not in the database yet.');
  return { head, colour: 'bad', lines };
}

function tileFor(p) {
  const key = slotOf(p);
  let t = tiles.get(key);
  if (t) return t;
  t = {
    root: el('section', 'tile'),
    name: el('span', 'name', key),
    state: el('span', 'state'),
    path: el('div', 'path'),
    board: el('div', 'board-serial'),
    progress: el('progress', 'progress'),
    count: el('div', 'count'),
    verdict: el('div', 'verdict idle'),
    lines: el('div', 'lines'),
    next: el('input', 'next-serial'),
    clear: el('button', 'clear', 'Clear'),
    boards: el('span', 'boards'),
    yield: el('span', 'yield'),
  };
  t.root.dataset.slot = key;
  const head = el('div', 'head');
  head.append(t.name, t.state);
  // The serial the slot's next board gets: filled by a scan, editable and clearable here.
  const next = el('div', 'next');
  const label = el('label', '', 'Next serial');
  t.next.type = 'text';
  t.next.spellcheck = false;
  t.next.placeholder = 'scan or type';
  t.next.id = `next-${tiles.size + 1}`;
  label.htmlFor = t.next.id;
  t.clear.type = 'button';
  t.next.addEventListener('input', () => setSerial(key, t.next.value.trim(), false));
  t.next.addEventListener('keydown', (ev) => {
    if (ev.key !== 'Enter') return;
    ev.preventDefault();
    $('serial').focus();
  });
  t.clear.addEventListener('click', () => {
    setSerial(key, '');
    $('serial').focus();
  });
  next.append(label, t.next, t.clear);
  const stats = el('div', 'stats');
  stats.append(t.boards, t.yield);
  t.root.append(head, t.path, t.board, t.progress, t.count, t.verdict, t.lines, next, stats);
  $('tiles').append(t.root);
  tiles.set(key, t);
  return t;
}

function renderPort(p) {
  const t = tileFor(p);
  const b = boardOf(p);
  t.root.dataset.port = p.port;
  t.root.dataset.state = b && b.running ? 'running' : completedBoard(b) ? 'completed' : b ? 'failed' : 'idle';
  t.state.textContent = p.reason && (p.state === 'running' || p.state === 'waiting') ? `${p.state}: ${p.reason}` : p.state;
  // The device path small beneath the label; the identity says which adapter it is.
  const where = p.slot && p.slot !== p.port ? p.port : '';
  t.path.textContent = [where, p.identity || 'no USB identity'].filter(Boolean).join(' · ');
  t.path.title = [p.port, p.device, p.identity].filter(Boolean).join('\n');
  // The board's serial; a service that does not report it: the one this page sent with it.
  const serial = b && (b.serial !== undefined ? b.serial : sent.slots && sent.slots.includes(slotOf(p)) && lastSerials.get(slotOf(p)));
  t.board.textContent = serial ? `Serial ${serial}` : '';
  t.progress.max = Math.max(p.recordsTotal, 1);
  t.progress.value = Math.min(p.recordsDone, t.progress.max);
  t.count.textContent = `${p.recordsDone} of ${p.recordsTotal} records`;
  const v = verdict(p, b);
  t.verdict.textContent = v.head;
  t.verdict.className = `verdict ${v.colour}`;
  t.lines.replaceChildren(...v.lines.map((line) => el('div', 'line', line)));
  if (document.activeElement !== t.next) t.next.value = serials.get(slotOf(p)) || '';
  t.clear.disabled = !serials.get(slotOf(p));
  t.boards.textContent = `Boards: ${p.boards} (${p.completed} completed)`;
  t.yield.textContent = `Yield ${percent(p.yield)}`;
}

// "2 boards: 1 completed, 1 failed by the device", the rest named only where there are any.
function tally(c) {
  const failed = c.deviceFailed ?? c.failed ?? 0;
  const parts = [`${c.completed} completed`, `${failed} failed${c.deviceFailed !== undefined ? ' by the device' : ''}`];
  if (c.aborted) parts.push(`${c.aborted} aborted`);
  if (c.notOpened) parts.push(`${c.notOpened} ${c.notOpened === 1 ? 'port' : 'ports'} not opened`);
  if (c.otherFailed) parts.push(`${c.otherFailed} failed otherwise`);
  return `${c.boards} ${c.boards === 1 ? 'board' : 'boards'}: ${parts.join(', ')}`;
}

// The round running or last run: its slots and how far it is.
function renderBanner(s) {
  const r = s.round;
  const banner = $('banner');
  if (!r.number) {
    banner.hidden = true;
    return;
  }
  banner.hidden = false;
  // A service that does not list a round's slots: those this page started it with.
  const slots = r.slots || (sent.round === r.number ? sent.slots : null);
  const inRound = s.ports.filter((p) => !slots || slots.includes(slotOf(p)));
  if (r.running) {
    const done = inRound.filter((p) => !(boardOf(p) || {}).running).length;
    banner.textContent = `Round ${r.number} running: ${done} of ${inRound.length} ${inRound.length === 1 ? 'board' : 'boards'} done`;
    banner.className = 'run';
    return;
  }
  const when = r.endedAt ? ` at ${localTime(r.endedAt, true)}` : '';
  let result = r.result;
  if (!result) { // a service without the round's tally: its slots' boards tell it
    const boards = inRound.map(boardOf).filter(Boolean);
    const completed = boards.filter(completedBoard).length;
    result = { boards: boards.length, completed, failed: boards.length - completed };
  }
  banner.textContent = `Round ${r.number} ended${when}: ${tally(result)}`;
  banner.className = result.completed === result.boards ? 'ok' : 'bad';
}

function stoppedReason(s) {
  const journal = s.records && s.records.journal;
  if (s.stopped || s.ok === false) return s.error || (journal !== 'ok' && journal) || 'a record was not written';
  if (journal && journal !== 'ok') return journal;
  return null;
}

function render(s) {
  state = s;
  const name = s.station || '';
  $('station').textContent = name;
  document.title = name ? `reburn3 ${name}` : 'reburn3 station';
  $('script-name').textContent = s.script.name;
  $('script-sha').textContent = s.script.sha256 ? `SHA-256 ${s.script.sha256}` : '';
  $('script-records').textContent = s.script.records > 0 ? `(${s.script.records} records)` : '';
  running = s.round.running;
  stopped = stoppedReason(s);
  recordsTrouble = !!stopped || (s.records && (s.records.database !== 'up' || s.records.overdue));
  const c = s.counts;
  $('round').textContent = s.round.number ? `Round ${s.round.number}${running ? ' running' : ''}` : 'No round yet';
  $('yield').textContent = c.boards ? ` · yield ${percent(c.yield)}` : '';
  const failed = c.deviceFailed ?? c.failed ?? 0;
  $('failures').textContent = c.boards ? ` · ${failed} failed` : '';
  $('failures').className = failed ? 'bad' : '';
  $('counts').textContent = (c.boards ? tally(c) : 'No boards yet') + (c.note ? ` (${c.note})` : '');
  $('token-box').hidden = !s.tokenRequired;
  // A station that cannot keep its records starts no round: say why until it is fixed.
  setStatus('station', stopped ? `Station stopped: ${stopped}` : '', 'error');
  const db = s.records || {};
  setStatus('records', db.database === 'down'
    ? `Records pending: the database is down (${db.databaseError || 'not connected'}); ${db.pending} kept in the journal`
    : '', 'warn');
  const slots = new Set(s.ports.map(slotOf));
  for (const [key, t] of tiles) {
    if (!slots.has(key)) {
      t.root.remove();
      tiles.delete(key);
      serials.delete(key);
    }
  }
  s.ports.forEach(renderPort);
  renderBanner(s);
  updateButtons();
}

// The slots a new round needs a serial for and has none.
function missingSerials() {
  if (!state || !state.serialRequired) return [];
  return state.ports.map(slotOf).filter((slot) => !serials.get(slot));
}

function failedSlots() {
  return state ? state.ports.filter((p) => failedBoard(boardOf(p))) : [];
}

function updateButtons() {
  const missing = missingSerials();
  const blocked = busy || running || !!stopped || !state;
  $('start').disabled = blocked || missing.length > 0;
  $('retry').disabled = blocked || failedSlots().length === 0;
  $('abort').disabled = busy || !running;
  let hint = '';
  if (stopped) hint = 'No round can start while the station is stopped.';
  else if (!running && missing.length) hint = `Scan a serial for ${missing.join(', ')} to start the round.`;
  $('start-hint').textContent = hint;
  // The next boards' serials may be scanned and corrected while a round runs.
  for (const t of tiles.values()) t.clear.disabled = !t.next.value;
}

// A serial for a slot, from a scan or typed on its tile.
function setSerial(slot, serial, redraw = true) {
  if (serial) serials.set(slot, serial);
  else serials.delete(slot);
  const t = tiles.get(slot);
  if (t && redraw) t.next.value = serial;
  updateButtons();
}

// A scan fills the next slot without a serial, in the slots' order.
function scanned(serial) {
  if (!serial || !state) return;
  const slot = state.ports.map(slotOf).find((s) => !serials.get(s));
  if (!slot) {
    setStatus('notice', `Every slot has its serial: ${serial} was not taken (clear a slot's serial to scan it again)`, 'error');
    return;
  }
  setStatus('notice', '');
  setSerial(slot, serial);
}

function recordRow(r) {
  const tr = el('tr', r.outcome === 'completed' ? 'ok' : 'bad');
  tr.dataset.id = r.id;
  const cells = [
    [r.round, 'num'], [r.slot || r.port], [r.outcome, 'outcome'], [r.reason],
    // A row names the count done `recordsDone` (`records` in a service before it) and the total `recordsTotal`.
    [`${r.recordsDone ?? r.records} / ${r.recordsTotal ?? r.records}`, 'num'], [Number(r.seconds).toFixed(1), 'num'],
    [r.serial || (r.tags && r.tags.serial) || '', 'tag'], [localTime(r.endedAt)],
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
    const answer = await api('POST', path, body);
    setStatus('notice', '');
    return answer;
  } catch (e) {
    setStatus('notice', `${what} refused: ${e.message}`, 'error');
    return null;
  } finally {
    busy = false;
    updateButtons();
    $('serial').focus();
  }
}

// A round of `slots` (every slot when null), each board with its serial. A slot's serial is
// used once: the next board on it needs its own scan.
async function startRound(what, slots, serialOf) {
  const portTags = {};
  for (const slot of slots || state.ports.map(slotOf)) {
    if (serialOf(slot)) portTags[slot] = { serial: serialOf(slot) };
  }
  const body = Object.keys(portTags).length ? { portTags } : {};
  if (slots) body.ports = slots;
  // Known before the answer: the round's first state may come through the feed sooner.
  const before = sent;
  sent = { round: state.round.number + 1, slots: slots || state.ports.map(slotOf) };
  const answer = await send(what, '/api/rounds', body);
  if (!answer) {
    sent = before;
    return;
  }
  sent.round = answer.round;
  for (const slot of slots || state.ports.map(slotOf)) {
    const serial = portTags[slot] ? portTags[slot].serial : '';
    lastSerials.set(slot, serial);
    if (serial && serials.get(slot) === serial) setSerial(slot, '');
  }
  render(state);
}

// The failed boards again, each with the serial it had; the good ones stay off.
function retryFailed() {
  const failed = failedSlots();
  const had = new Map(failed.map((p) => [slotOf(p), (boardOf(p) || {}).serial || lastSerials.get(slotOf(p))]));
  startRound('Retry', [...had.keys()], (slot) => had.get(slot) || serials.get(slot));
}

async function abortRound() {
  const answer = await send('Abort', '/api/abort');
  if (answer) setStatus('notice', answer.aborted ? '' : 'Nothing was running');
}

async function poll() {
  try {
    render(await api('GET', '/api/state'));
    await loadRecords();
    setStatus('link', '');
    setStatus('live', 'Live feed lost: polling every 2 s', 'error');
  } catch (e) {
    setStatus('link', e instanceof TokenError ? 'Enter the station\'s token' : `No answer from the station: ${e.message}`,
      'error');
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
    setStatus('link', '');
    setStatus('live', 'Live', 'live');
    loadRecords().catch((e) => setStatus('notice', `Records: ${e.message}`, 'error'));
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
  scanned($('serial').value.trim());
  $('serial').value = '';
});
$('start').addEventListener('click', () => startRound('Start', null, (slot) => serials.get(slot)));
$('retry').addEventListener('click', retryFailed);
$('abort').addEventListener('click', abortRound);
$('token').value = sessionStorage.getItem('reburn3-token') || '';
$('token').addEventListener('change', useToken);
$('token').addEventListener('keydown', (ev) => {
  if (ev.key !== 'Enter') return;
  ev.preventDefault();
  useToken();
});
connect();
