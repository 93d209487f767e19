// The editor's voice gutter: beside each line, a mark in the colour of each
// voice whose notes are written on it, as the last good render found them.
import { gutter, GutterMarker } from '@codemirror/view';
import { RangeSet, StateEffect, StateField } from '@codemirror/state';
import { voiceColour } from './hlasy.js';

class VoiceMarker extends GutterMarker {
  constructor(voices) {
    super();
    this.voices = voices;
  }

  eq(other) { return other.voices.join(',') === this.voices.join(','); }

  toDOM() {
    const span = document.createElement('span');
    span.className = 'cm-voice-marks';
    span.title = this.voices.map((v) => `voice ${v}`).join(', ');
    for (const v of this.voices) {
      const mark = document.createElement('i');
      mark.dataset.voice = v;
      mark.style.background = voiceColour(v);
      span.appendChild(mark);
    }
    return span;
  }
}

const setVoices = StateEffect.define();

// The marks move with the text as it is edited, until the next render
// replaces them.
const voiceMarks = StateField.define({
  create: () => RangeSet.empty,
  update(marks, tr) {
    let next = marks.map(tr.changes);
    for (const e of tr.effects) if (e.is(setVoices)) next = e.value;
    return next;
  },
});

export const voiceGutter = [
  voiceMarks,
  gutter({ class: 'cm-voice-gutter', markers: (view) => view.state.field(voiceMarks) }),
];

// byLine: line number (from 1) -> the voices written on it.
export function showVoiceMarks(view, byLine) {
  const doc = view.state.doc;
  const marks = [...byLine]
    .filter(([line]) => line >= 1 && line <= doc.lines)
    .sort((a, b) => a[0] - b[0])
    .map(([line, voices]) => new VoiceMarker(voices).range(doc.line(line).from));
  view.dispatch({ effects: setVoices.of(RangeSet.of(marks)) });
}
