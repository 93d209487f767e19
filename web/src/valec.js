// The piano roll drawn by the renderer, in a shadow root of its own so that
// its styles stay in it, with a cursor line laid over it that follows the
// audio. A click on a note finds it in the score and moves the audio there.
import { range } from './kodovani.js';
import * as editor from './editor.js';
import { ROLL_STYLE } from './hlasy.js';
import { colourRollNotes } from './noty.js';
import { state, ui } from './stav.js';

const SVGNS = 'http://www.w3.org/2000/svg';

export function showRoll(svgText) {
  const root = ui.roll.shadowRoot || ui.roll.attachShadow({ mode: 'open' });
  const left = ui.roll.scrollLeft;
  root.innerHTML = '<style>svg{display:block} .cursor{stroke:#e8112d;stroke-width:2;pointer-events:none}'
    + ' #notes rect{cursor:pointer} #notes rect.playing{stroke:#000;stroke-width:1}' + ROLL_STYLE + '</style>' + svgText;
  const svg = root.querySelector('svg');
  if (!svg) return;
  const cursor = document.createElementNS(SVGNS, 'line');
  cursor.setAttribute('class', 'cursor');
  cursor.setAttribute('y1', '0');
  cursor.setAttribute('y2', svg.getAttribute('height'));
  svg.appendChild(cursor);
  const group = root.getElementById('notes');
  const rects = group ? Array.from(group.children).filter((e) => e.tagName === 'rect') : [];
  colourRollNotes(svg, rects);
  if (group) {
    group.addEventListener('click', (e) => {
      const rect = e.target.closest('rect');
      const i = rects.indexOf(rect);
      const note = state.render && state.render.notes[i];
      if (!note) return;
      const [from, to] = range(state.render.map, note[3], note[4]);
      editor.jumpTo(from, to);
      state.audio.currentTime = note[0] / state.render.rate;
    });
  }
  state.roll = { svg, cursor, rects, x0: +svg.getAttribute('data-x0') || 0, pxps: +svg.getAttribute('data-px-per-s') || 40 };
  state.playingKey = '';
  ui.roll.scrollLeft = left;
  // At once where the audio is, not at the start until the next frame.
  followRoll(state.audio.currentTime || 0, false);
}

// The cursor at time t; while playing, the view keeps it in sight.
export function followRoll(t, playing) {
  const roll = state.roll;
  if (!roll) return;
  const x = roll.x0 + t * roll.pxps;
  // Written only when it moved: every frame calls this.
  if (roll.x !== x) {
    roll.x = x;
    roll.cursor.setAttribute('x1', x);
    roll.cursor.setAttribute('x2', x);
  }
  if (playing) {
    const view = ui.roll;
    if (x < view.scrollLeft + 40 || x > view.scrollLeft + view.clientWidth - 60) {
      view.scrollLeft = Math.max(0, x - view.clientWidth / 3);
    }
  }
}

// The notes sounding (their indices) outlined.
export function lightRoll(sounding) {
  if (!state.roll) return;
  for (const rect of state.roll.svg.querySelectorAll('#notes rect.playing')) rect.classList.remove('playing');
  for (const i of sounding) if (state.roll.rects[i]) state.roll.rects[i].classList.add('playing');
}
