// Saving and the file on disk: every edit is sent to the server, which
// saves and renders it, at most once per 200 ms of typing; what the page
// shows of the save; the score loaded, changes made by other programs, and
// a server that stopped answering.
import { ENCODING_NAMES, decode, detect, encode, placeOf } from './kodovani.js';
import * as editor from './editor.js';
import { setParams } from './hlasy.js';
import { banner, dropBanner, setStatus, downloadBytes } from './stranka.js';
import { state, ui } from './stav.js';
import { showRender } from './vykresleni.js';
import { showProblems } from './znacky.js';

const THROTTLE_MS = 200;

export function unsaved() { return state.saved !== null && editor.text() !== state.saved; }

// The score as the file would hold it, to keep by hand when it cannot be saved.
export function downloadScore() {
  downloadBytes(encode(editor.text(), state.enc).bytes, state.name.split('/').pop() || 'score.txt');
}

export function showSaveState() {
  if (state.offline) {
    setStatus('server not answering: not saved', true);
  } else if (state.conflict) {
    setStatus('not saved: the file changed on disk', true);
  } else if (state.localProblem) {
    setStatus('not saved: ' + state.localProblem, true);
  } else if (state.saveError) {
    setStatus('not saved: ' + state.saveError, true);
  } else if (unsaved() || state.inFlight || state.timer) {
    setStatus('saving…');
  } else {
    setStatus('saved');
  }
}

// The render's options as the server takes them.
export function options() {
  const p = new URLSearchParams();
  // A fade in the range --release takes (shorter ones click).
  const [shortest, longest] = state.releaseRange;
  const fade = Math.min(longest, Math.max(shortest, Math.round(+ui.release.value || 60)));
  p.set('release', ui.releaseOn.checked ? String(fade) : '0');
  p.set('warnings', ui.warnings.checked ? '1' : '0');
  if (ui.master.checked) p.set('master', '1');
  setParams(p);
  return p;
}

export function schedule() {
  if (state.inFlight) { state.pending = true; return; }
  if (state.timer) return;
  const wait = state.lastSend + THROTTLE_MS - performance.now();
  if (wait <= 0) send();
  else state.timer = setTimeout(() => { state.timer = null; send(); }, wait);
}

// Sends at once (Ctrl-S).
export function saveNow() {
  clearTimeout(state.timer);
  state.timer = null;
  state.lastSend = -1e9;
  schedule();
}

function localProblem(problem) {
  state.localProblem = problem ? problem.text : null;
  showProblems(problem ? [problem] : null);
  showSaveState();
}

async function send() {
  const text = editor.text();
  const enc = encode(text, state.enc);
  if (enc.bad) {
    const p = placeOf(text, enc.bad.index);
    localProblem({ kind: 'error', line: p.line, col: p.col, from: enc.bad.index, to: enc.bad.index + enc.bad.char.length,
      text: `"${enc.bad.char}" cannot be stored in this ${ENCODING_NAMES[state.enc.kind]} file, so the score is neither saved nor played until it is gone (write > or < for a sharp or flat)` });
    return;
  }
  if (enc.bytes.length > state.limit) {
    localProblem({ kind: 'error', text: `the score has grown to ${enc.bytes.length} bytes, more than the 1 MB the editor takes: it is neither saved nor played until it is shorter` });
    return;
  }
  state.localProblem = null;
  const seq = ++state.seq;
  const inputAt = state.firstInput;
  state.firstInput = null;
  state.inFlight = true;
  state.lastSend = performance.now();
  const params = options();
  const save = !state.conflict;
  params.set('save', save ? '1' : '0');
  params.set('base', state.base);
  // The changed sums come in the same answer, after its JSON, each as its
  // difference from the one before, in as few bytes each as hold them.
  params.set('sums', '3');
  if (state.notes) params.set('notes', state.notes.id);
  showSaveState();
  const sentAt = performance.now();
  let answer = null;
  try {
    const reply = await ask('/api/edit?' + params, enc.bytes);
    if (reply.offline) throw new TypeError('the server is not answering');
    if (reply.error) throw new Error(reply.error);
    answer = noteList(reply.answer, reply.data);
    setOffline(false);
  } catch (e) {
    state.inFlight = false;
    if (e instanceof TypeError) {
      setOffline(true);
      state.pending = false;
      setTimeout(() => { if (state.offline) schedule(); }, 2000);
    } else {
      state.saveError = e.message;
    }
    state.firstInput = state.firstInput ?? inputAt;
    showSaveState();
    return;
  }
  state.inFlight = false;
  const answeredAt = performance.now();
  if (answer.save) {
    const s = answer.save;
    state.saveError = s.error || null;
    if (s.saved) {
      state.base = s.version;
      state.saved = text;
    } else if (s.conflict) {
      state.disk = s.version;
      external();
    }
  }
  if (answer.render && seq > state.shown && !answer.render.superseded) {
    state.shown = seq;
    showRender(answer.render, text, enc.unit, { inputAt, sentAt, answeredAt });
  }
  checkDisk();
  if (state.pending || (editor.text() !== text && !state.conflict)) {
    state.pending = false;
    schedule();
  }
  showSaveState();
}

// The messenger (posel.js) sends an edit and reads its answer in a thread
// of its own; ask() resolves with what it answers.
let messenger = null;
const asked = new Map();
let lastAsked = 0;

function ask(url, bytes) {
  if (!messenger) {
    const m = new Worker('/js/posel.js', { type: 'module' });
    m.onmessage = (e) => {
      const resolve = asked.get(e.data.id);
      asked.delete(e.data.id);
      if (resolve) resolve(e.data);
    };
    // A messenger that cannot start (its script missing from the page's
    // files) says so for every edit waiting, and the next edit tries again.
    m.onerror = () => {
      for (const resolve of asked.values()) resolve({ error: 'the page could not start its messenger (js/posel.js)' });
      asked.clear();
      m.terminate();
      if (messenger === m) messenger = null;
    };
    messenger = m;
  }
  const id = ++lastAsked;
  return new Promise((resolve) => {
    asked.set(id, resolve);
    const body = bytes.buffer.slice(bytes.byteOffset, bytes.byteOffset + bytes.byteLength);
    messenger.postMessage({ id, url, body }, [body]);
  });
}

// An edit's answer, with the samples of its patch (data, or null). Where
// the page holds the note list the server last sent, only the notes that
// changed come (noteEdit): those between the first head and the last tail
// of the list held.
function noteList(answer, data) {
  const r = answer.render;
  const p = r && r.patch;
  if (p && data) p.samples = data;
  if (r && r.noteEdit) {
    const e = r.noteEdit;
    const held = state.notes && state.notes.id === e.of ? state.notes.list : null;
    if (!held || e.head + e.tail > held.length) throw new Error('the note list the server patched is not held');
    r.noteList = held.slice(0, e.head).concat(e.notes, held.slice(held.length - e.tail));
    delete r.noteEdit;
  }
  if (r && r.noteList) state.notes = { id: r.id, list: r.noteList };
  return answer;
}

// A page closed within the 200 ms after a keystroke still saves it.
export function saveOnLeaving() {
  if (!unsaved() || state.conflict || state.localProblem) return;
  const p = options();
  p.set('save', '1');
  p.set('render', '0');
  p.set('base', state.base);
  fetch('/api/edit?' + p, { method: 'POST', keepalive: true, headers: { 'X-Skladba': '1' },
    body: encode(editor.text(), state.enc).bytes }).catch(() => {});
}

// The event of a change may overtake the answer of the page's own save:
// before it is taken for another program's change, the server is asked
// how the file stands now.
export async function checkDisk() {
  if (state.inFlight || state.conflict || state.disk === state.base) return;
  try {
    state.disk = (await (await fetch('/api/info')).json()).version;
  } catch (e) {
    return;
  }
  if (!state.inFlight && !state.conflict && state.disk !== state.base) external();
}

export function external() {
  state.conflict = true;
  const gone = state.disk === 'none';
  banner('changed', gone
    ? `${state.name} was removed by another program. The page keeps your text; nothing is saved until you choose.`
    : `${state.name} was changed by another program. The page keeps your text; nothing is saved until you choose.`,
  [[gone ? 'Save the page\'s text again' : 'Keep the page\'s text (overwrite the file)', keepMine],
    [gone ? 'Start from an empty score' : 'Load the file (replace the page\'s text)', loadFile],
    ['Download the page\'s text', downloadScore]], true);
  showSaveState();
}

function keepMine() {
  state.base = state.disk;
  state.conflict = false;
  dropBanner('changed');
  schedule();
}

async function loadFile() {
  const previous = editor.text();
  await loadScore();
  dropBanner('changed');
  if (previous !== editor.text()) {
    banner('replaced', 'The page\'s text was replaced by the file\'s.', [
      ['Put the page\'s text back (and save it)', () => { editor.setText(previous); dropBanner('replaced'); schedule(); }],
      ['Dismiss', () => dropBanner('replaced')]]);
  }
}

export function setOffline(off) {
  if (off === state.offline) return;
  state.offline = off;
  if (off) {
    banner('offline', `The server is not answering (it may have been stopped). Your edits stay in this page and are saved when it answers again on ${location.host}.`,
      [['Download the score', downloadScore]], true);
  } else {
    dropBanner('offline');
  }
  showSaveState();
}

// The score's versions as the server tells them, at every change.
export function listen() {
  const events = new EventSource('/api/events');
  events.addEventListener('version', (e) => {
    state.disk = e.data;
    if (state.conflict && state.disk === state.base) {
      // The file is back to what the page's text was made from.
      state.conflict = false;
      dropBanner('changed');
      schedule();
    }
    checkDisk();
  });
  events.addEventListener('open', () => {
    if (state.offline) schedule();
  });
  events.addEventListener('error', () => {
    if (events.readyState === EventSource.CLOSED) setTimeout(listen, 3000);
  });
}

// The file as it stands, in the page, and rendered.
export async function loadScore() {
  const response = await fetch('/api/score');
  const bytes = new Uint8Array(await response.arrayBuffer());
  state.enc = detect(bytes);
  const text = decode(bytes, state.enc);
  state.base = state.disk = response.headers.get('X-Skladba-Version') || 'none';
  state.saved = text;
  state.conflict = false;
  ui.encoding.textContent = ENCODING_NAMES[state.enc.kind] + (state.enc.crlf ? ', CR LF' : '') +
    (state.base === 'none' ? ', new file' : '');
  editor.setText(text);
  if (state.language) editor.setLanguage(state.language, state.enc.kind);
  schedule();
}
