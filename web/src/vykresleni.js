// A render shown: its problems, the voice summary, what it took, its files
// to download, its audio and its piano roll.
import { titleIn } from './jazyk.js';
import { state, ui } from './stav.js';
import { sheetOf, showMusic } from './noty.js';
import { showRoll } from './valec.js';
import { formatTime } from './cas.js';
import { showAudio } from './zvuk.js';
import { problemsOf, showProblems } from './znacky.js';

function baseName() {
  const file = state.name.split('/').pop();
  const dot = file.lastIndexOf('.');
  return dot > 0 ? file.slice(0, dot) : file;
}

function setLink(a, href, name) { a.href = href; a.download = name; }

// r: the server's render of text, whose bytes' characters map gives;
// times: when its edit was typed, sent and answered. The audio comes
// first: the rest (problems, summary, voices, links, then the piano roll
// and the sheet music) is shown once it has taken over, so that none of it
// holds the new sound back; a render overtaken meanwhile shows none of it.
let shown = 0;
export function showRender(r, text, map, times) {
  const mine = ++shown;
  if (!r.ok) {
    showRest(r, text, map);
    return;
  }
  showAudio(r, times, () => {
    if (mine !== shown) return;
    showRest(r, text, map);
    sheetOf(r);
    fetch(r.svg).then((x) => (x.ok ? x.text() : null)).then((svg) => {
      if (svg && state.render && state.render.id === r.id) showRoll(svg);
    }).catch(() => {});
  });
}

function showRest(r, text, map) {
  showProblems(problemsOf(r, text, map));
  document.title = `${titleIn(text) || state.name} · skladba`;
  ui.summary.textContent = r.summary.join('\n');
  if (!r.ok) {
    ui.info.textContent = 'the last render failed: the audio and the piano roll are those of the last good one';
    return;
  }
  const seconds = r.samples / r.rate;
  ui.info.textContent = `${formatTime(seconds)}, ${r.notes} note${r.notes === 1 ? '' : 's'}, rendered in ${Math.round(r.ms)} ms`;
  // The notes by their start, for finding those that sound at a moment.
  const order = r.noteList.map((n, i) => i).sort((a, b) => r.noteList[a][0] - r.noteList[b][0]);
  const longest = r.noteList.reduce((m, n) => Math.max(m, n[1]), 1);
  state.render = { notes: r.noteList, order, longest, rate: r.rate, map, seconds, id: r.id, bars: r.bars };
  showMusic(r);
  const base = baseName();
  setLink(ui.dlWav, r.wav, base + '.wav');
  setLink(ui.dlMidi, r.midi, base + '.mid');
  setLink(ui.dlMusicxml, r.musicxml, base + '.musicxml');
  setLink(ui.dlSvg, r.svg, base + '.svg');
  // The compressed formats are made only when one is downloaded.
  for (const f of state.formats) setLink(f.link, r.wav.replace(/\.wav$/, '.' + f.ext), base + '.' + f.ext);
}
