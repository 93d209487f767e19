// The page of "skladba serve": an editor for one score that saves and
// renders every edit (at most once per 200 ms of typing), plays the render,
// draws its piano roll with a cursor that follows the audio, colours the
// score by the engine's table of the language and marks the warnings and
// the error in the text.
//
// This module wires the others: each gets the callbacks it needs from here
// (the saving's schedule for a voice muted, the loop kept every frame), so
// that imports point one way.
//
// Loaded with "test" among the address's parameters (/?token=KEY&test), the
// page hands its tests and the benchmark one object, window.skladbaTest:
// the page's state (its stats list: keystroke to audio for each render),
// the text, and a way to select in it.
import { insertNewline } from '@codemirror/commands';
import './prehravac.js';   // <skladba-audio>, before any module reads the element
import * as editor from './editor.js';
import { banner, setStatus } from './stranka.js';
import { state, ui } from './stav.js';
import { listen, loadScore, saveNow, saveOnLeaving, schedule, showSaveState, unsaved } from './ukladani.js';
import { PLAY_KEYS, keepLoop, startPlaying } from './hrani.js';
import { sheetMusic, startMusic } from './noty.js';
import { frame, onFrame } from './zvuk.js';

function edited() {
  if (state.firstInput === null) state.firstInput = performance.now() - state.lastKey < 100 ? state.lastKey : performance.now();
  schedule();
  showSaveState();
}

function pressed() {
  state.lastKey = performance.now();
}

// The page's keys in the editor.
const KEYS = [
  // A line break and nothing else: the score's spaces are its own.
  { key: 'Enter', run: insertNewline },
  // Ctrl-S saves at once instead of offering to save the page.
  { key: 'Mod-s', preventDefault: true, run: () => { saveNow(); return true; } },
  ...PLAY_KEYS.map(({ key, run }) => ({ key, run })),
];

// A link for each compressed format the server can make of a render.
function formatLinks(formats) {
  for (const f of formats) {
    const a = document.createElement('a');
    a.id = 'dl-' + f.ext;
    a.textContent = f.name;
    a.download = '';
    ui.dlMore.append(' · ', a);
    state.formats.push({ ext: f.ext, name: f.name, link: a });
  }
}

async function start() {
  const language = fetch('/api/language').then((r) => r.json());
  const info = await (await fetch('/api/info')).json();
  state.name = info.name;
  state.limit = info.limit;
  state.releaseRange = info.releaseRange;
  document.title = `${info.name} · skladba`;
  ui.name.textContent = info.name;
  for (const r of info.registers) {
    const o = document.createElement('option');
    o.value = 'R' + r;
    o.textContent = 'R' + r;
    ui.register.appendChild(o);
  }
  ui.release.min = state.releaseRange[0];
  ui.release.max = state.releaseRange[1];
  ui.releaseOn.checked = info.release > 0;
  ui.release.value = info.release || 60;
  ui.warnings.checked = info.warnings;
  if (info.open) {
    banner('open', 'This server listens beyond this computer (--host): anyone who can reach it can read and change the score.', [], true);
  }

  formatLinks(info.formats || []);
  editor.startEditor(edited, pressed, KEYS);
  startPlaying();
  startMusic(schedule);
  state.language = await language;
  ui.register.addEventListener('change', () => {
    if (ui.register.value) editor.insertAtCaret(ui.register.value);
    ui.register.value = '';
  });
  for (const el of [ui.releaseOn, ui.release, ui.warnings, ui.master]) {
    el.addEventListener('change', schedule);
  }
  window.addEventListener('beforeunload', (e) => {
    if (unsaved() || state.localProblem) { e.preventDefault(); e.returnValue = ''; }
  });
  window.addEventListener('pagehide', saveOnLeaving);
  await loadScore();
  listen();
  onFrame(keepLoop);
  requestAnimationFrame(frame);
}

if (new URLSearchParams(location.search).has('test')) {
  window.skladbaTest = {
    state, stats: state.stats, text: editor.text, select: editor.select, selection: editor.selection,
    get sheet() { return sheetMusic(); },
  };
}

start().catch((e) => {
  setStatus('cannot start: ' + e.message, true);
});
