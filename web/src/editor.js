// The editor: a textarea over a backdrop that carries the marks (problems,
// the notes sounding, a note found), with line numbers beside it. The rest
// of the page reaches the text only through these functions.
import { state, ui } from './stav.js';

function escapeHtml(s) {
  return s.replace(/[&<>]/g, (c) => (c === '&' ? '&amp;' : c === '<' ? '&lt;' : '&gt;'));
}

export function text() { return ui.score.value; }

function drawBackdrop() {
  const value = text();
  const marks = [...state.problemMarks, ...state.foundMarks, ...state.playingMarks]
    .filter((m) => m.from < value.length)
    .sort((a, b) => a.from - b.from || a.rank - b.rank);
  let html = '';
  let at = 0;
  for (const m of marks) {
    const from = Math.max(m.from, at);
    const to = Math.min(m.to, value.length);
    if (to <= from) continue;
    html += escapeHtml(value.slice(at, from)) + `<mark class="${m.cls}">` + escapeHtml(value.slice(from, to)) + '</mark>';
    at = to;
  }
  // A last line for the caret after a final line break.
  ui.backdrop.innerHTML = html + escapeHtml(value.slice(at)) + '\n ';
  syncScroll();
}

function drawGutter() {
  const value = text();
  let lines = 1;
  for (let i = value.indexOf('\n'); i >= 0; i = value.indexOf('\n', i + 1)) lines++;
  const marked = new Map();
  for (const m of state.problemMarks) {
    if (m.line && (!marked.has(m.line) || m.cls === 'error')) marked.set(m.line, m.cls);
  }
  let html = '';
  for (let n = 1; n <= lines; n++) html += marked.has(n) ? `<span class="${marked.get(n)}">${n}</span>\n` : `${n}\n`;
  ui.gutter.innerHTML = html + ' \n';
  state.lineCount = lines;
  syncScroll();
}

function syncScroll() {
  ui.backdrop.scrollTop = ui.score.scrollTop;
  ui.backdrop.scrollLeft = ui.score.scrollLeft;
  ui.gutter.scrollTop = ui.score.scrollTop;
}

function lineHeight() { return parseFloat(getComputedStyle(ui.score).lineHeight) || 20; }

function charWidth() {
  if (!state.charWidth) {
    const probe = document.createElement('span');
    probe.textContent = 'x'.repeat(100);
    ui.backdrop.appendChild(probe);
    state.charWidth = probe.getBoundingClientRect().width / 100 || 8;
    probe.remove();
  }
  return state.charWidth;
}

// Selects a range of the text, marks it as found and scrolls it into the
// middle of the view.
export function jumpTo(from, to) {
  const value = text();
  from = Math.min(from, value.length);
  to = Math.min(Math.max(to, from), value.length);
  ui.score.focus({ preventScroll: true });
  ui.score.setSelectionRange(from, to);
  const before = value.slice(0, from);
  const line = before.split('\n').length - 1;
  const col = from - (before.lastIndexOf('\n') + 1);
  ui.score.scrollTop = Math.max(0, line * lineHeight() - ui.score.clientHeight / 2);
  const x = col * charWidth();
  if (x < ui.score.scrollLeft || x > ui.score.scrollLeft + ui.score.clientWidth - 40) {
    ui.score.scrollLeft = Math.max(0, x - ui.score.clientWidth / 3);
  }
  state.foundMarks = [{ from, to: Math.max(to, from + 1), cls: 'found', rank: 1 }];
  drawBackdrop();
}

// Selects a range without scrolling or marking it (the test hook).
export function select(from, to) {
  ui.score.focus({ preventScroll: true });
  ui.score.setSelectionRange(from, to);
}

// The problems of the last render (state.problemMarks), in the text and on
// the line numbers.
export function showProblemMarks() {
  drawBackdrop();
  drawGutter();
}

// The notes sounding now (state.playingMarks).
export function showPlayingMarks() { drawBackdrop(); }

// Replaces the whole text, as when the file is loaded.
export function setText(value) {
  ui.score.value = value;
  state.problemMarks = [];
  state.foundMarks = [];
  drawGutter();
  drawBackdrop();
}

// Puts s at the caret (or over the selection) as a word of its own.
export function insertAtCaret(s) {
  const ta = ui.score;
  ta.focus();
  const { selectionStart: a, selectionEnd: b, value } = ta;
  const before = a > 0 && !/\s/.test(value[a - 1]) ? ' ' : '';
  const after = b < value.length && !/\s/.test(value[b]) ? ' ' : '';
  ta.setRangeText(before + s + after, a, b, 'end');
  ta.dispatchEvent(new Event('input'));
}

// onEdit after every change of the text; onKey(event) for every key
// pressed in it.
export function startEditor(onEdit, onKey) {
  ui.score.addEventListener('keydown', onKey);
  ui.score.addEventListener('input', () => {
    state.foundMarks = [];
    drawGutter();
    drawBackdrop();
    onEdit();
  });
  ui.score.addEventListener('scroll', syncScroll);
}
