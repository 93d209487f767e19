// The render's audio: each new render takes over from the one
// playing at the same moment of the piece, and the notes sounding are lit
// in the text and the piano roll, from the audio's own clock.
import { range } from './kodovani.js';
import * as editor from './editor.js';
import { lightSheet } from './noty.js';
import { state } from './stav.js';
import { followRoll, lightRoll } from './valec.js';

// The new render's audio takes the place of the one playing at the same
// moment of the piece, playing if it was playing (prehravac.js); then()
// once it has (or once it failed). Renders are taken in the order they
// came, each patched into what the one before left.
let loading = Promise.resolve();
export function showAudio(r, times, then) {
  const created = performance.now();
  state.nextAudio = r;
  const done = () => { if (state.nextAudio === r) state.nextAudio = null; };
  loading = loading.then(() => state.audio.load(r)).then((heard) => {
    done();
    if (times.inputAt !== null) {
      state.stats.push({ input: times.inputAt, sent: times.sentAt, answered: times.answeredAt, created,
        audio: heard, serverMs: r.ms, seconds: r.samples / r.rate, id: r.id });
    }
    then();
  }, () => { done(); then(); });
}

// The indices of the notes sounding at time t (seconds; -1: none).
function soundingAt(t) {
  const r = state.render;
  const sounding = [];
  if (!r || t < 0) return sounding;
  const sample = t * r.rate;
  let lo = 0, hi = r.order.length;   // the first note that starts after the moment
  while (lo < hi) {
    const mid = (lo + hi) >> 1;
    if (r.notes[r.order[mid]][0] <= sample) lo = mid + 1; else hi = mid;
  }
  for (let k = lo - 1; k >= 0 && r.notes[r.order[k]][0] > sample - r.longest; k--) {
    const n = r.notes[r.order[k]];
    if (sample < n[0] + Math.max(n[1], 1)) sounding.push(r.order[k]);
  }
  return sounding.sort((a, b) => a - b);
}

// The notes sounding at time t, marked in the text and in the roll.
function showPlaying(t) {
  const sounding = soundingAt(t);
  const key = sounding.join(',');
  if (key === state.playingKey) return;
  state.playingKey = key;
  const r = state.render;
  state.playingMarks = sounding.map((i) => {
    const [from, to] = range(r.map, r.notes[i][3], r.notes[i][4]);
    return { from, to, cls: 'playing', rank: 2 };
  });
  lightRoll(sounding);
  lightSheet(sounding, !state.audio.paused);
  editor.showPlayingMarks();
}

// Every frame: what the page asked to run first (a loop kept), then the
// cursor of the roll and the notes lit follow the audio.
const everyFrame = [];
export function onFrame(f) { everyFrame.push(f); }

export function frame() {
  const audio = state.audio;
  for (const f of everyFrame) f();
  const t = audio.currentTime || 0;
  followRoll(t, !audio.paused);
  showPlaying(audio.paused && t === 0 ? -1 : t);
  requestAnimationFrame(frame);
}
