// The sheet music of each render, drawn beside the text from the render's
// MusicXML by OpenSheetMusicDisplay (loaded only when the page shows sheet
// music). The score is drawn as a column of stretches of a few measures,
// each engraved on its own, so that an edit engraves again only the
// stretches it changed, however long the piece. Every drawn note that
// starts a sound is matched to the note of the score it comes from, by its
// written start and its pitch, so that a click on it finds the note in the
// text, the notes playing are lit as they are in the text, and each note
// takes its voice's colour.
import { voiceColour } from './hlasy.js';
import { cut } from './useky.js';

let library = null;   // the engraver's module, once asked for: a promise

function loadLibrary() {
  if (!library) {
    library = import('./rytec.js').catch((e) => {
      library = null;
      throw e;
    });
  }
  return library;
}

// Written starts compare to a millionth of a whole note: the render's
// numbers carry twelve digits, the engraver's are its own fractions.
const key = (wholeNotes, pitch) => `${Math.round(wholeNotes * 1e6)}:${pitch}`;

export class SheetMusic {
  // host: the element the stretches go into. onNote(i): a drawn note of
  // the render's noteList[i] was clicked. idle(): whether the page can give
  // the engraver its thread now (keys typed and a new audio must not wait
  // for it).
  constructor(host, onNote, idle = () => true) {
    this.host = host;
    this.onNote = onNote;
    this.idle = idle;
    this.shown = null;      // the render drawn: { id, elements: noteList index -> its elements, index: element -> indices }
    this.lit = [];
    this.wanted = null;     // the newest render asked for while one is being drawn
    this.busy = false;
    this.slots = [];        // the stretches drawn, in order: { box, engraver, xml, start, notes }
    this.ties = [];         // the halves of the ties drawn from one stretch into the next
    this.lib = null;        // the engraver's module, once loaded
    this.stats = [];        // { id, drawn, ms, engraved: stretch indices } of every render drawn, for the benchmark
    host.addEventListener('click', (e) => {
      const g = e.target.closest && e.target.closest('g.vf-stavenote');
      if (!g || !this.shown) return;
      const notes = this.shown.index.get(g);
      if (notes) this.onNote(notes[0]);
    });
  }

  // Draws a render's MusicXML (its text) with its notes; a render asked for
  // while another is being drawn waits, and only the newest is drawn.
  async show(render, xml) {
    this.wanted = { render, xml };
    if (this.busy) return;
    this.busy = true;
    try {
      while (this.wanted) {
        const { render: r, xml: x } = this.wanted;
        this.wanted = null;
        const lib = this.lib = await loadLibrary();
        const done = await this.draw(lib, r, x);
        if (done) this.stats.push({ id: r.id, drawn: performance.now(), ...done });
      }
    } finally {
      this.busy = false;
    }
  }

  // The engravers of the stretches, in order (for the tests).
  engravers() { return this.slots.map((s) => s.engraver); }

  // Engraves the stretches whose text changed, the first ones first, each
  // when the page is idle; gives up (null) when a newer render is wanted,
  // keeping the stretches already drawn. Returns the indices engraved and
  // the time the work took (ms), waits for the page left out.
  async draw(lib, render, xml) {
    let t0 = performance.now();
    const stretches = cut(xml) || [{ xml, first: 0, count: 0, start: 0 }];
    while (this.slots.length > stretches.length) this.slots.pop().box.remove();
    const engraved = [];
    let spent = 0, ms = 0;
    for (let i = 0; i < stretches.length; i++) {
      const st = stretches[i];
      let slot = this.slots[i];
      if (!slot) {
        const box = document.createElement('div');
        box.className = 'stretch';
        this.host.appendChild(box);
        slot = this.slots[i] = { box, engraver: lib.createEngraver(box, i === 0), xml: null, start: 0, notes: [] };
      }
      slot.start = st.start;
      if (slot.xml === st.xml) continue;
      // Give the thread back now and then: to keys typed, a new audio, and
      // a newer render, which replaces this one.
      if (spent > 40 || !this.idle()) {
        ms += performance.now() - t0;
        await new Promise((ok) => setTimeout(ok, 0));
        while (!this.idle()) await new Promise((ok) => setTimeout(ok, 50));
        spent = 0;
        t0 = performance.now();
        if (this.wanted) return null;
      }
      const t1 = performance.now();
      const scroll = this.host.scrollTop;
      slot.xml = null;
      await slot.engraver.load(st.xml);
      slot.engraver.render();
      slot.xml = st.xml;
      slot.notes = [...lib.drawnNotes(slot.engraver)];
      this.host.scrollTop = scroll;
      engraved.push(i);
      spent += performance.now() - t1;
    }
    this.match(render);
    return { engraved, ms: ms + performance.now() - t0 };
  }

  // The render's notes found among the drawn ones of every stretch.
  match(render) {
    // The score's notes by written start and pitch, in the order written
    // (two voices in unison at one time are told apart by that order).
    const byKey = new Map();
    render.noteList.forEach((n, i) => {
      const k = key(n[6], n[2] + 36);
      if (!byKey.has(k)) byKey.set(k, []);
      byKey.get(k).push(i);
    });
    for (const list of byKey.values()) list.sort((a, b) => render.noteList[a][3] - render.noteList[b][3]);
    // A chord is one drawn element: its notes share it (and one voice). A
    // tied note is drawn as several, all of them lit while it sounds; one
    // tied over into the next stretch is found by where the note before it
    // ends there, at the same pitch.
    const elements = render.noteList.map(() => []);
    const index = new Map();
    let ends = new Map();
    let drawn = 0;
    const across = [];   // [the note tied, its continuation in the next stretch]
    for (const slot of this.slots) {
      const bySource = new Map();
      const tied = [];
      const ending = new Map();
      const end = (d, i) => ending.set(key(slot.start + d.start + d.length, d.key), { i, d });
      for (const d of slot.notes) {
        if (!d.element) continue;
        if (d.first !== d.note) {
          tied.push(d);
          continue;
        }
        const list = byKey.get(key(slot.start + d.start, d.key));
        let i = list && list.length ? list.shift() : undefined;
        if (i === undefined) {
          const before = ends.get(key(slot.start + d.start, d.key));
          if (before) {
            i = before.i;
            across.push([before.d, d]);
          } else {
            drawn++;
          }
        } else {
          drawn++;
        }
        if (i === undefined) continue;
        bySource.set(d.note, i);
        this.take(render, elements, index, d.element, i);
        end(d, i);
      }
      for (const d of tied) {
        const i = bySource.get(d.first);
        if (i === undefined) continue;
        this.take(render, elements, index, d.element, i);
        end(d, i);
      }
      ends = ending;
    }
    this.shown = { id: render.id, elements, index, drawn };
    this.lit = [];
    // Each stretch drew the ties it holds whole; those from one stretch
    // into the next are drawn here, half in each.
    for (const t of this.ties) t.remove();
    this.ties = across.flatMap(([from, to]) => this.lib.tieAcross(from, to));
  }

  // The element drawn for note i of the render: in its voice's colour,
  // and found by a click.
  take(render, elements, index, element, i) {
    if (!elements[i].includes(element)) elements[i].push(element);
    if (!index.has(element)) index.set(element, []);
    if (!index.get(element).includes(i)) index.get(element).push(i);
    element.style.setProperty('--voice', voiceColour(render.noteList[i][5]));
    element.dataset.voice = render.noteList[i][5];
  }

  // How many notes the sheet music draws (each once, a tied one once), and
  // how many of them are the render's notes.
  counts() {
    if (!this.shown) return null;
    return { drawn: this.shown.drawn, matched: this.shown.elements.filter((e) => e.length).length, id: this.shown.id };
  }

  // Lights the notes sounding (indices into the noteList of the render
  // drawn), and keeps the first in view while it plays.
  light(indices, follow) {
    if (!this.shown) return;
    for (const el of this.lit) el.classList.remove('playing');
    this.lit = [];
    for (const i of indices) {
      for (const el of this.shown.elements[i] || []) {
        if (this.lit.includes(el)) continue;
        el.classList.add('playing');
        this.lit.push(el);
      }
    }
    if (follow && this.lit.length) {
      const box = this.lit[0].getBoundingClientRect();
      const view = this.host.getBoundingClientRect();
      if (box.top < view.top + 20 || box.bottom > view.bottom - 20) {
        this.host.scrollTop += box.top - view.top - view.height / 3;
      }
    }
  }
}
