// The warnings and the error of a render: listed beside the editor, each
// with its place, and marked in the text.
import { range } from './kodovani.js';
import * as editor from './editor.js';
import { state, ui } from './stav.js';

// A mark covers the word a problem starts at, so that it can be seen.
function wordEnd(text, from, to) {
  let end = Math.max(to, from + 1);
  while (end < text.length && end - from < 24 && !/\s/.test(text[end])) end++;
  return end;
}

// The problems of a render of text (map: its bytes' characters), each as
// { kind, line, col, from, to, text }.
export function problemsOf(r, text, map) {
  const problems = [];
  const place = (h, kind) => {
    const [from, to] = range(map, h.at, h.at + 1);
    return { kind, line: h.line, col: h.col, from, to: wordEnd(text, from, to), text: h.text };
  };
  for (const w of r.warnings) problems.push(place(w, 'warning'));
  if (r.more) problems.push({ kind: 'more', text: r.more.replace(/^.*?: /, '') });
  if (r.error) problems.push(r.error.place ? place(r.error.place, 'error') : { kind: 'error', text: r.error.message });
  return problems;
}

export function showProblems(list) {
  ui.problems.textContent = '';
  state.problemMarks = [];
  if (!list || !list.length) {
    const li = document.createElement('li');
    li.className = 'none';
    li.textContent = 'none';
    ui.problems.appendChild(li);
  }
  for (const p of list || []) {
    const li = document.createElement('li');
    li.className = p.kind;
    if (p.line) {
      const place = document.createElement('span');
      place.className = 'place';
      place.textContent = `${p.line}:${p.col}`;
      li.appendChild(place);
    }
    const kind = document.createElement('span');
    kind.className = 'kind';
    kind.textContent = p.kind === 'more' ? '' : p.kind + ': ';
    li.appendChild(kind);
    li.appendChild(document.createTextNode(p.text));
    if (p.from !== undefined) {
      li.dataset.from = p.from;
      li.dataset.to = p.to;
      li.addEventListener('click', () => editor.jumpTo(p.from, p.to));
      state.problemMarks.push({ from: p.from, to: p.to, cls: p.kind, rank: 0, line: p.line, text: p.text });
    }
    ui.problems.appendChild(li);
  }
  editor.showProblemMarks();
}
