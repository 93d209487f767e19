// The editor: CodeMirror with line numbers, the score language's colours,
// the warnings and the error as its diagnostics (with their text, and the
// fix it offers, on hover), and marks for the notes sounding and a note
// found. The rest of the page reaches the text only through these
// functions.
import { defaultKeymap, history, historyKeymap } from '@codemirror/commands';
import { syntaxHighlighting } from '@codemirror/language';
import { lintGutter, setDiagnostics } from '@codemirror/lint';
import { Annotation, Compartment, EditorSelection, EditorState, StateEffect, StateField } from '@codemirror/state';
import {
  Decoration, EditorView, drawSelection, highlightActiveLine, highlightActiveLineGutter, highlightSpecialChars,
  keymap, lineNumbers,
} from '@codemirror/view';
import { colours, scoreLanguage } from './jazyk.js';
import { showVoiceMarks, voiceGutter } from './okraj.js';
import { state, ui } from './stav.js';

// Marks of a kind (the notes sounding, a note found), replaced as a whole.
function markField(cls) {
  const set = StateEffect.define();
  const mark = Decoration.mark({ class: cls });
  const field = StateField.define({
    create: () => Decoration.none,
    update(marks, tr) {
      marks = marks.map(tr.changes);
      for (const e of tr.effects) {
        if (e.is(set)) {
          const len = tr.state.doc.length;
          marks = Decoration.set(e.value.filter((r) => r.from < len)
            .map((r) => mark.range(r.from, Math.min(Math.max(r.to, r.from + 1), len)))
            .filter((r) => r.from < r.to), true);
        }
      }
      return marks;
    },
    provide: (f) => EditorView.decorations.from(f),
  });
  return { set, field };
}

const playing = markField('cm-playing');
const found = markField('cm-found');
const language = new Compartment();
// A change that puts the file's text in, which is no edit.
const fromFile = Annotation.define();
let view = null;
// The text an edit leaves, while the editor has yet to take it in, and
// the changes to the editor asked for meanwhile, made once it has.
let edited = null;
let later = null;

function once(change) {
  if (later) later.push(change);
  else change();
}

export function text() { return edited ? edited.toString() : view ? view.state.doc.toString() : ''; }

// The caret, and the selection as [from, to).
export function cursor() { return view.state.selection.main.head; }
export function selection() { const r = view.state.selection.main; return [r.from, r.to]; }

// Selects a range of the text, marks it as found and scrolls it into the
// middle of the view.
export function jumpTo(from, to) {
  const len = view.state.doc.length;
  from = Math.min(from, len);
  to = Math.min(Math.max(to, from), len);
  view.dispatch({
    selection: EditorSelection.range(from, to),
    effects: [EditorView.scrollIntoView(from, { y: 'center', x: 'center' }),
      found.set.of([{ from, to: Math.max(to, from + 1) }])],
  });
  view.focus();
}

// Selects a range without scrolling or marking it (the test hook).
export function select(from, to) {
  view.dispatch({ selection: EditorSelection.range(from, to) });
  view.focus();
}

// A problem's text on hover, with the fix it suggests ("(write X
// instead)", ": write ...", ": leave it out") on a line of its own.
function problemMessage(text) {
  const box = document.createElement('div');
  const m = /^(.*?)(?:\s*\((write .*)\)|: ((?:write|leave) .*))$/.exec(text);
  box.textContent = m ? m[1] : text;
  if (m) {
    const fix = document.createElement('div');
    fix.className = 'sk-fix';
    fix.textContent = 'fix: ' + (m[2] || m[3]);
    box.appendChild(fix);
  }
  return box;
}

// The problems of the last render (state.problemMarks) as the editor's
// diagnostics.
export function showProblemMarks() { once(problemMarks); }

function problemMarks() {
  const len = view.state.doc.length;
  const list = state.problemMarks.filter((m) => m.from <= len).map((m) => ({
    from: m.from, to: Math.min(m.to, len), severity: m.cls === 'error' ? 'error' : 'warning', message: m.text,
    renderMessage: () => problemMessage(m.text),
  }));
  view.dispatch(setDiagnostics(view.state, list));
}

// The line (from 1) of a place in the text.
export function lineOf(pos) { return view.state.doc.lineAt(Math.min(Math.max(pos, 0), view.state.doc.length)).number; }

// The voices of each line (line -> voices) beside it.
export function showVoiceLines(byLine) { showVoiceMarks(view, byLine); }

// The notes sounding now (state.playingMarks).
export function showPlayingMarks() {
  view.dispatch({ effects: playing.set.of(state.playingMarks) });
}

// Replaces the whole text, as when the file is loaded.
export function setText(value) {
  state.problemMarks = [];
  state.foundMarks = [];
  view.dispatch({ changes: { from: 0, to: view.state.doc.length, insert: value },
    effects: [found.set.of([]), playing.set.of([])], annotations: fromFile.of(true) });
  view.dispatch(setDiagnostics(view.state, []));
}

// Puts s at the caret (or over the selection) as a word of its own.
export function insertAtCaret(s) {
  const { from, to } = view.state.selection.main;
  const doc = view.state.doc;
  const before = from > 0 && !/\s/.test(doc.sliceString(from - 1, from)) ? ' ' : '';
  const after = to < doc.length && !/\s/.test(doc.sliceString(to, to + 1)) ? ' ' : '';
  const insert = before + s + after;
  view.dispatch({ changes: { from, to, insert }, selection: EditorSelection.cursor(from + insert.length), userEvent: 'input' });
  view.focus();
}

// The colours of the score language, from the table the server sent, for
// a file of encoding kind.
export function setLanguage(table, kind) {
  view.dispatch({ effects: language.reconfigure(scoreLanguage(table, kind)) });
}

// A character typed goes into the text at once, as a change of the
// editor's own, instead of the browser editing the page first and the
// editor reading the change back: the browser's editing lays the whole page
// out before it inserts (5-10 ms with the sheet music shown), and the edit
// could only be sent after it. Composing (an input method, a dead key) and
// every other kind of input stay the browser's.
function typed(e, v) {
  if (e.inputType !== 'insertText' || e.isComposing || v.composing || typeof e.data !== 'string' || !e.data) return false;
  e.preventDefault();
  v.dispatch(v.state.replaceSelection(e.data), { userEvent: 'input.type', scrollIntoView: true });
  return true;
}

// onEdit after every change of the text; onKey(event) for every key
// pressed in it; keys: the page's own key bindings. onEdit runs before the
// editor takes the change in (its colours, marks, gutters and drawing), so
// that an edit is sent at once: text() already gives the new text.
export function startEditor(onEdit, onKey, keys) {
  view = new EditorView({
    parent: ui.editor,
    dispatchTransactions(trs, v) {
      const changes = [];
      // setText's change is the file's, not an edit.
      if (trs.some((tr) => tr.docChanged && !tr.annotation(fromFile))) {
        state.foundMarks = [];
        edited = trs[trs.length - 1].newDoc;
        later = changes;
        try {
          onEdit();
        } catch (e) {
          // Reported, and the edit still taken in.
          queueMicrotask(() => { throw e; });
        }
        edited = null;
        later = null;
      }
      v.update(trs);
      for (const change of changes) change();
    },
    state: EditorState.create({
      doc: '',
      extensions: [
        // Only LF breaks lines: a lone CR stays a character of its line,
        // so that the file keeps it.
        EditorState.lineSeparator.of('\n'),
        EditorState.tabSize.of(8),
        voiceGutter, lineNumbers(), highlightActiveLineGutter(), lintGutter(), highlightSpecialChars(), history(),
        drawSelection(), highlightActiveLine(),
        language.of([]), syntaxHighlighting(colours),
        playing.field, found.field,
        keymap.of([...keys, ...defaultKeymap, ...historyKeymap]),
        EditorView.domEventHandlers({ keydown: (e) => { onKey(e); return false; }, beforeinput: typed }),
        EditorView.contentAttributes.of({ 'aria-label': 'The score', spellcheck: 'false', autocapitalize: 'off' }),
      ],
    }),
  });
}
