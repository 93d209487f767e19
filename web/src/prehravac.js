// The render's audio held in the page, in Web Audio. A render made from the
// last one sends only the sums of the samples its edit changed (in 2 to 4
// bytes each) and the peak that scales every sum: the buffer holds the
// sums, a gain node scales them, so a patch rewrites only its stretch and a
// new peak changes only the gain. While playing, the patched buffer takes
// over from the one playing at one instant of the audio clock, at the same
// moment of the piece: no gap, no seek. A render that comes whole (or that
// the page cannot patch) is decoded from its WAV.
//
// <skladba-audio id="audio"> offers what the page uses of an audio
// element: play(), pause(), currentTime, duration, paused, ended, src (the
// WAV of the render it now holds), with a play button and a position bar.

import { formatTime } from './cas.js';
import { samples } from './vzorky.js';

const MAXSIGNAL = 32752;     // the WAV's loudest sample, where the peak lands
// Seconds ahead the patched buffer takes over: a few of the audio
// thread's 128-frame quanta, so that the instant is still to come when the
// thread next reads the schedule, and the new source starts on it exactly.
const HANDOVER = 0.012;

class SkladbaAudio extends HTMLElement {
  constructor() {
    super();
    this.ctx = null;
    this.gain = null;
    this.buffer = null;
    this.source = null;
    this.offset = 0;         // where a paused player stands, seconds
    this.startedAt = 0;      // the audio clock's time at the piece's start
    this.isPaused = true;
    this.isEnded = false;
    this.url = '';
    this.base = null;        // the render whose mix the buffer holds (sums), or null
    this.volume = 1;
    this.muted = false;
    this.playbackRate = 1;
    this.shown = {};         // what the button, the bar and the label show now
  }

  connectedCallback() {
    if (this.button) return;
    this.button = document.createElement('button');
    this.button.type = 'button';
    this.button.textContent = '▶';
    this.button.title = 'Play or pause';
    this.bar = document.createElement('input');
    this.bar.type = 'range';
    this.bar.min = 0;
    this.bar.step = 'any';
    this.bar.value = 0;
    this.label = document.createElement('span');
    this.append(this.button, this.bar, this.label);
    this.button.addEventListener('click', () => (this.isPaused ? this.play() : this.pause()));
    this.bar.addEventListener('input', () => { this.currentTime = +this.bar.value; });
    const tick = () => { this.show(); requestAnimationFrame(tick); };
    requestAnimationFrame(tick);
  }

  // Every frame; the page's elements are written only when what they show
  // changed, so that a frame of a page at rest costs nothing to draw.
  show() {
    const t = this.currentTime;
    const d = this.buffer ? this.buffer.duration : 0;
    const shown = this.shown;
    if (shown.d !== d) this.bar.max = shown.d = d;
    if (shown.t !== t && document.activeElement !== this.bar) this.bar.value = shown.t = t;
    const button = this.isPaused ? '▶' : '❚❚';
    if (shown.button !== button) this.button.textContent = shown.button = button;
    const text = `${formatTime(t)} / ${formatTime(d)}`;
    if (shown.text !== text) this.label.textContent = shown.text = text;
  }

  context() {
    if (!this.ctx) {
      this.ctx = new AudioContext();
      this.gain = this.ctx.createGain();
      this.gain.connect(this.ctx.destination);
    }
    return this.ctx;
  }

  get src() { return this.url; }
  get duration() { return this.buffer ? this.buffer.duration : NaN; }
  get paused() { return this.isPaused; }
  get ended() { return this.isEnded; }

  get currentTime() {
    if (!this.buffer) return 0;
    if (this.isPaused) return this.offset;
    return Math.max(0, Math.min(this.buffer.duration, this.ctx.currentTime - this.startedAt));
  }

  set currentTime(t) {
    this.offset = Math.max(0, Math.min(+t || 0, this.buffer ? this.buffer.duration : 0));
    this.isEnded = false;
    if (!this.isPaused) this.startAt(this.offset, this.ctx.currentTime);
  }

  play() {
    const ctx = this.context();
    const resumed = ctx.resume();
    if (!this.buffer || !this.isPaused) return resumed;
    if (this.isEnded || this.offset >= this.buffer.duration) this.offset = 0;
    this.isPaused = false;
    this.isEnded = false;
    this.startAt(this.offset, ctx.currentTime);
    return resumed;
  }

  pause() {
    if (this.isPaused) return;
    this.offset = this.currentTime;
    this.isPaused = true;
    if (this.source) this.source.stop();
    this.source = null;
  }

  // The buffer plays from offset (seconds of the piece) at the audio
  // clock's time at; the source playing before stops at that instant.
  startAt(offset, at) {
    const s = this.ctx.createBufferSource();
    s.buffer = this.buffer;
    s.connect(this.gain);
    s.start(at, Math.min(offset, this.buffer.duration));
    if (this.source) this.source.stop(at);
    this.source = s;
    this.startedAt = at - offset;
    s.onended = () => {
      if (this.source !== s) return;
      this.source = null;
      this.isPaused = true;
      this.isEnded = true;
      this.offset = this.buffer.duration;
      this.dispatchEvent(new Event('ended'));
    };
  }

  // The new buffer (and its gain) in place: playing on from the same moment.
  // Returns when it is heard, in the page's clock (performance.now()).
  takeOver(buffer, gain, url, base) {
    const ctx = this.context();
    const at = ctx.currentTime + (this.isPaused ? 0 : HANDOVER);
    const offset = this.isPaused ? this.offset : at - this.startedAt;
    this.gain.gain.setValueAtTime(this.muted ? 0 : gain * this.volume, at);
    this.buffer = buffer;
    this.url = url;
    this.base = base;
    if (this.isPaused) this.offset = Math.min(this.offset, buffer.duration);
    else if (offset < buffer.duration) this.startAt(offset, at);
    else { this.pause(); this.offset = buffer.duration; }
    return performance.now() + Math.max(0, at - ctx.currentTime) * 1000;
  }

  // Render r's audio: patched into the buffer when r was made from the mix
  // the buffer holds, else loaded whole from its WAV (16 bits a sample,
  // half the bytes of the sums). The buffer holds the sums (as the WAV's
  // samples give them back where nothing was patched yet), the gain the
  // scale. Resolves once it has taken over, with when it is heard
  // (performance.now()).
  async load(r) {
    const ctx = this.context();
    const p = r.patch;
    const length = Math.max(1, r.samples);
    if (p && !p.whole && this.buffer && this.base === p.base) {
      // Sent with the edit's answer (as samples), else fetched.
      let data = p.samples;
      if (!data) {
        const response = await fetch(p.sums);
        if (!response.ok) throw new Error('the render is no longer kept');
        data = samples(new Uint8Array(await response.arrayBuffer()), 4);
      }
      let buffer = this.buffer;
      if (buffer.length !== length) {
        const grown = ctx.createBuffer(1, length, r.rate);
        grown.copyToChannel(buffer.getChannelData(0).subarray(0, Math.min(buffer.length, length)), 0, 0);
        buffer = grown;
      }
      buffer.copyToChannel(data, 0, p.from);
      return this.takeOver(buffer, p.peak > 0 ? MAXSIGNAL / p.peak : 0, r.wav, r.id);
    }
    const response = await fetch(r.wav);
    if (!response.ok) throw new Error('the render is no longer kept');
    const bytes = await response.arrayBuffer();
    const head = new DataView(bytes, 0, Math.min(44, bytes.byteLength));
    if (head.byteLength < 36 || head.getUint16(22, true) !== 1 || head.getUint16(34, true) !== 16) {
      // Not the 16-bit mono of a plain render (the 24-bit stereo of
      // --master): decoded as its header says, at its own level.
      return this.takeOver(await ctx.decodeAudioData(bytes), 1, r.wav, null);
    }
    const wav = new Int16Array(bytes.slice(44));
    const buffer = ctx.createBuffer(1, length, r.rate);
    const unscale = p && p.peak > 0 ? p.peak / MAXSIGNAL : 1;
    const data = new Float32Array(wav.length);
    for (let i = 0; i < wav.length; i++) data[i] = wav[i] * unscale / 32768;
    buffer.copyToChannel(data, 0, 0);
    return this.takeOver(buffer, p && p.peak > 0 ? MAXSIGNAL / p.peak : 1, r.wav, p ? r.id : null);
  }
}

customElements.define('skladba-audio', SkladbaAudio);
