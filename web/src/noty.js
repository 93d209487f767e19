// The music of each render beside the text: its sheet music (when the page
// shows it), its voices in the panel and in the text's gutter, and the
// voices' colours on the piano roll.
import * as editor from './editor.js';
import { colourRoll, showVoices, voiceLegend, voicesByLine } from './hlasy.js';
import { range } from './kodovani.js';
import { SheetMusic } from './notace.js';
import { state, ui } from './stav.js';

const REMEMBER = 'skladba-sheet-music';
let sheet = null;       // the sheet music, once the page has shown it
let latest = null;      // the last good render as the server sent it
let voicesChanged = () => {};   // a voice muted or soloed: render again

// Note i of the render shown found in the text, and the audio moved to it.
function findNote(i) {
  const r = state.render;
  const note = r && r.notes[i];
  if (!note) return;
  const [from, to] = range(r.map, note[3], note[4]);
  editor.jumpTo(from, to);
  state.audio.currentTime = note[0] / r.rate;
}

function findByte(at) {
  const r = state.render;
  if (!r || at < 0) return;
  const [from, to] = range(r.map, at, at + 1);
  editor.jumpTo(from, to);
}

// The engraver takes the page's thread for a while: not while keys are
// being typed, an edit waits to be sent or answered, or a new audio loads.
function idle() {
  return !state.inFlight && !state.pending && !state.timer && !state.nextAudio &&
    performance.now() - state.lastKey > 150;
}

function drawSheet(r) {
  fetch(r.musicxml).then((x) => (x.ok ? x.text() : null)).then((xml) => {
    if (xml && latest === r && ui.showSheet.checked) return sheet.show(r, xml);
    return null;
  }).catch((e) => {
    ui.sheet.dataset.error = 'the sheet music cannot be drawn: ' + e.message;
  });
}

function showSheet(on) {
  ui.main.classList.toggle('with-sheet', on);
  ui.sheet.hidden = !on;
  try { localStorage.setItem(REMEMBER, on ? '1' : '0'); } catch (e) { /* private window */ }
  if (!on) return;
  if (!sheet) sheet = new SheetMusic(ui.notation, findNote, idle);
  if (latest) drawSheet(latest);
}

// changed(): a voice was muted or soloed.
export function startMusic(changed) {
  voicesChanged = changed;
  let on = false;
  try { on = localStorage.getItem(REMEMBER) === '1'; } catch (e) { /* private window */ }
  ui.showSheet.checked = on;
  ui.showSheet.addEventListener('change', () => showSheet(ui.showSheet.checked));
  if (on) showSheet(true);
}

// A good render: its voices (its sheet music is sheetOf's).
export function showMusic(r) {
  latest = r;
  state.render.silent = r.silent || [];
  showVoices(ui.voices, r, voicesChanged, findByte);
  const map = state.render.map;
  editor.showVoiceLines(voicesByLine(r.noteList, (at) => editor.lineOf(range(map, at, at + 1)[0])));
}

// Its sheet music, when shown and still the latest render.
export function sheetOf(r) {
  if (latest === r && ui.showSheet.checked && sheet) drawSheet(r);
}

// The roll of the render shown: each note in its voice's colour, and a
// legend of the voices.
export function colourRollNotes(svg, rects) {
  if (!state.render) return;
  colourRoll(rects, state.render.notes, state.render.silent);
  if (latest) voiceLegend(svg, latest.voices || []);
}

// The notes sounding, lit in the sheet music too.
export function lightSheet(sounding, playing) {
  if (sheet && ui.showSheet.checked && sheet.shown && state.render && sheet.shown.id === state.render.id) {
    sheet.light(sounding, playing);
  }
}

// For the tests and the benchmark.
export function sheetMusic() { return sheet; }
