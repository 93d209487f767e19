// The voices of the music as the renderer found them: one colour each, the
// same in the text's gutter, the piano roll and the sheet music; the voices
// panel with each voice's registers and range, and mute and solo per voice.
// Voices are numbered from 1 as the render's summary numbers them; 0 is a
// note without a voice.

// Eight colours that colour-blind eyes tell apart, then hues spread by the
// golden angle for pieces of many voices.
const PALETTE = ['#0072b2', '#d55e00', '#009e73', '#cc79a7', '#e69f00', '#56b4e9', '#8c6d1f', '#595959'];

export function voiceColour(voice) {
  if (!(voice >= 1)) return '#888888';
  if (voice <= PALETTE.length) return PALETTE[voice - 1];
  const hue = Math.round(((voice - PALETTE.length) * 137.508) % 360);
  return `hsl(${hue}, 65%, 40%)`;
}

// Which voices the WAV leaves out, as the page asks for them: muted ones,
// and, when any is soloed, all but the soloed ones.
export const choice = { mute: new Set(), solo: new Set() };

export function setParams(params) {
  if (choice.mute.size) params.set('mute', [...choice.mute].sort((a, b) => a - b).join(','));
  if (choice.solo.size) params.set('solo', [...choice.solo].sort((a, b) => a - b).join(','));
}

// A voice that is no longer in the piece (the score was edited) is neither
// muted nor soloed any more.
function forgetGone(count) {
  for (const set of [choice.mute, choice.solo]) for (const v of [...set]) if (v > count) set.delete(v);
}

function button(label, title, on, action) {
  const b = document.createElement('button');
  b.type = 'button';
  b.textContent = label;
  b.title = title;
  b.className = 'voice-toggle' + (on ? ' on' : '');
  b.setAttribute('aria-pressed', on ? 'true' : 'false');
  b.addEventListener('click', action);
  return b;
}

// The voices panel: a row per voice of the render with its colour, its
// registers, its range and its number of notes, and its M(ute) and S(olo)
// buttons. changed() is called when the choice changes, to render again.
// jump(at) is called with the byte of a voice's first note.
export function showVoices(list, render, changed, jump) {
  const voices = render.voices || [];
  forgetGone(voices.length);
  const silent = new Set(render.silent || []);
  list.textContent = '';
  if (!voices.length) {
    const li = document.createElement('li');
    li.className = 'none';
    li.textContent = 'no voices';
    list.appendChild(li);
    return;
  }
  for (const v of voices) {
    const li = document.createElement('li');
    li.className = 'voice' + (silent.has(v.voice) ? ' silent' : '');
    li.dataset.voice = v.voice;
    li.style.setProperty('--voice', voiceColour(v.voice));
    const swatch = document.createElement('span');
    swatch.className = 'swatch';
    li.appendChild(swatch);
    const name = document.createElement('a');
    name.className = 'voice-name';
    name.textContent = `voice ${v.voice}`;
    name.href = '#';
    name.title = 'Find its first note in the score';
    name.addEventListener('click', (e) => { e.preventDefault(); jump(v.at); });
    li.appendChild(name);
    const about = document.createElement('span');
    about.className = 'voice-about';
    const range = v.notes ? `${v.low} to ${v.high}` : 'rests only';
    about.textContent = ` ${v.registers.join(', ')}, ${range}, ${v.notes} note${v.notes === 1 ? '' : 's'}`;
    li.appendChild(about);
    const toggle = (set, other) => () => {
      if (set.has(v.voice)) set.delete(v.voice); else { set.add(v.voice); other.delete(v.voice); }
      changed();
    };
    li.appendChild(button('M', `Mute voice ${v.voice}`, choice.mute.has(v.voice), toggle(choice.mute, choice.solo)));
    li.appendChild(button('S', `Solo voice ${v.voice}: only the soloed voices sound`, choice.solo.has(v.voice),
      toggle(choice.solo, choice.mute)));
    list.appendChild(li);
  }
}

// ---- The piano roll: notes coloured by voice. ---------------------------

// rects[i] draws notes[i] (the render's noteList: voice at index 5).
export function colourRoll(rects, notes, silent) {
  const off = new Set(silent || []);
  for (let i = 0; i < rects.length && i < notes.length; i++) {
    const voice = notes[i][5];
    rects[i].style.fill = voiceColour(voice);
    rects[i].classList.toggle('silent', off.has(voice));
  }
}

export const ROLL_STYLE = ' #notes rect.silent{fill-opacity:.15}';

// ---- The text: the voices of each line, for the gutter. ----------------

// For each line of the text (from 1), the voices of the notes written on
// it, in order; lineOf(at) gives the line of a byte of the score.
export function voicesByLine(notes, lineOf) {
  const lines = new Map();
  for (const n of notes) {
    if (!(n[5] >= 1)) continue;
    const line = lineOf(n[3]);
    let set = lines.get(line);
    if (!set) lines.set(line, (set = new Set()));
    set.add(n[5]);
  }
  const out = new Map();
  for (const [line, set] of lines) out.set(line, [...set].sort((a, b) => a - b));
  return out;
}
