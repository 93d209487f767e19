// Playing from the score: from the note at the text cursor, from the start
// of its bar, and a loop of the bars the selection touches. Times come from
// the last good render: its notes with the characters they were written
// with, and its bar lines.
import { range } from './kodovani.js';
import * as editor from './editor.js';
import { formatTime } from './cas.js';
import { state, ui } from './stav.js';

// The notes as [start s, end s, from, to] in the text.
function notesInText() {
  const r = state.render;
  if (!r) return [];
  return r.notes.map((n) => {
    const [from, to] = range(r.map, n[3], n[4]);
    return [n[0] / r.rate, (n[0] + Math.max(n[1], 1)) / r.rate, from, to];
  });
}

// The start of the note at the character at, or of the first written after
// it (the note before it at the end of the score); null without notes.
function timeAt(at) {
  const notes = notesInText();
  let best = null;
  for (const n of notes) if (n[2] <= at && at < n[3] && (best === null || n[0] < best[0])) best = n;
  if (!best) for (const n of notes) if (n[2] >= at && (best === null || n[2] < best[2] || (n[2] === best[2] && n[0] < best[0]))) best = n;
  if (!best) for (const n of notes) if (best === null || n[3] > best[3]) best = n;
  return best ? best[0] : null;
}

// The bar lines, from 0, and the end of the piece.
function bars() {
  const r = state.render;
  return r && r.bars && r.bars.length ? r.bars : [0];
}
function barStart(t) {
  let s = 0;
  for (const b of bars()) if (b <= t + 1e-6) s = b;
  return s;
}
function barEnd(t) {
  for (const b of bars()) if (b > t + 1e-6) return b;
  return state.render ? state.render.seconds : t;
}

function playAt(t) {
  state.audio.currentTime = t;
  state.audio.play().catch(() => {});
}

export function playFromCursor() {
  const t = timeAt(editor.cursor());
  if (t === null) return false;
  playAt(t);
  return true;
}

export function playFromBar() {
  const t = timeAt(editor.cursor());
  if (t === null) return false;
  playAt(barStart(t));
  return true;
}

// Loops the bars of the notes the selection touches (the bar at the cursor
// without one); again, the loop ends.
export function loopSelection() {
  if (state.loop) {
    stopLoop();
    return true;
  }
  const [from, to] = editor.selection();
  const notes = notesInText().filter((n) => (from === to ? n[2] <= from && from < n[3] : n[2] < to && n[3] > from));
  const first = notes.length ? Math.min(...notes.map((n) => n[0])) : timeAt(from);
  if (first === null) return false;
  const last = notes.length ? Math.max(...notes.map((n) => n[0])) : first;
  state.loop = { from: barStart(first), to: barEnd(last) };
  ui.loop.textContent = `loop ${formatTime(state.loop.from)}–${formatTime(state.loop.to)} (again to end it)`;
  ui.loopButton.classList.add('on');
  playAt(state.loop.from);
  return true;
}

export function stopLoop() {
  state.loop = null;
  ui.loop.textContent = '';
  ui.loopButton.classList.remove('on');
}

// Stops playing and ends the loop; false when nothing played.
export function stop() {
  const was = !state.audio.paused || state.loop;
  state.audio.pause();
  stopLoop();
  return !!was;
}

// Every frame: a loop goes back to its start at its end.
export function keepLoop() {
  const loop = state.loop;
  const audio = state.audio;
  if (loop && !audio.paused && (audio.currentTime >= loop.to || audio.ended)) {
    audio.currentTime = loop.from;
    if (audio.paused) audio.play().catch(() => {});
  }
}

// The keys of playing, in the editor, as the page lists them.
export const PLAY_KEYS = [
  { key: 'Mod-Enter', run: playFromCursor, label: 'Ctrl-Enter', what: 'play from the note at the cursor' },
  { key: 'Alt-Enter', run: playFromBar, label: 'Alt-Enter', what: 'play from the start of its bar' },
  { key: 'Shift-Mod-Enter', run: loopSelection, label: 'Ctrl-Shift-Enter', what: 'loop the bars of the selection (again: end the loop)' },
  { key: 'Escape', run: stop, label: 'Esc', what: 'stop' },
];

export function startPlaying() {
  ui.playCursor.addEventListener('click', playFromCursor);
  ui.playBar.addEventListener('click', playFromBar);
  ui.loopButton.addEventListener('click', loopSelection);
  ui.keys.textContent = PLAY_KEYS.map((k) => `${k.label}: ${k.what}`).join(' · ');
}
