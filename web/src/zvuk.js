// The render's audio: a new render's element takes over from the one
// playing at the same moment of the piece, and the notes sounding are lit
// in the text and the piano roll, from the audio's own clock.
import { range } from './kodovani.js';
import * as editor from './editor.js';
import { lightSheet } from './noty.js';
import { state } from './stav.js';
import { followRoll, lightRoll } from './valec.js';

// The new audio is loaded beside the one playing and takes its place at
// the same moment of the piece, playing if it was playing; then() once it
// has (or once it failed).
export function showAudio(r, times, then) {
  if (state.nextAudio) { state.nextAudio.removeAttribute('src'); state.nextAudio.load(); }
  const next = document.createElement('audio');
  state.nextAudio = next;
  next.controls = true;
  // Only what it needs to start (Chromium is ready about twice as soon);
  // the rest is fetched once it has taken over.
  next.preload = 'metadata';
  next.dataset.render = r.id;
  next.dataset.seconds = r.samples / r.rate;
  let positioned = false;
  const created = performance.now();
  next.addEventListener('loadedmetadata', () => {
    const at = Math.min(state.audio.currentTime || 0, next.duration || 0);
    if (at > 0) next.currentTime = at;   // no seek to wait for at the start
    positioned = true;
  });
  next.addEventListener('error', then);
  next.addEventListener('canplay', () => {
    if (!positioned || state.nextAudio !== next) return;
    state.nextAudio = null;
    const old = state.audio;
    const playing = !old.paused && !old.ended;
    next.volume = old.volume;
    next.muted = old.muted;
    next.playbackRate = old.playbackRate;
    if (playing) {
      next.currentTime = Math.min(old.currentTime, next.duration);
      next.play().catch(() => {});
    }
    old.pause();
    next.id = 'audio';
    next.preload = 'auto';
    old.replaceWith(next);
    state.audio = next;
    old.removeAttribute('src');
    old.load();
    if (times.inputAt !== null) {
      state.stats.push({ input: times.inputAt, sent: times.sentAt, answered: times.answeredAt, created,
        audio: performance.now(), serverMs: r.ms, seconds: r.samples / r.rate, id: r.id });
    }
    then();
  });
  next.src = r.wav;
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
