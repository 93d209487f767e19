// The page of "skladba serve": an editor for one score that saves and renders
// every edit (at most once per 200 ms of typing), plays the render, draws its
// piano roll with a cursor that follows the audio, and marks the warnings
// and the error in the text.
'use strict';

(() => {
  const $ = (id) => document.getElementById(id);
  const ui = {
    name: $('name'), encoding: $('encoding'), status: $('status'), banners: $('banners'),
    register: $('register'), releaseOn: $('release-on'), release: $('release'), warnings: $('warnings'),
    gutter: $('gutter'), backdrop: $('backdrop'), score: $('score'),
    audio: $('audio'), info: $('render-info'), problems: $('problems'), summary: $('summary'), roll: $('roll'),
    dlWav: $('dl-wav'), dlMidi: $('dl-midi'), dlMusicxml: $('dl-musicxml'), dlSvg: $('dl-svg'),
  };
  const THROTTLE_MS = 200;
  const SVGNS = 'http://www.w3.org/2000/svg';

  const state = {
    name: '', limit: 1 << 20,
    enc: { kind: 'windows-1250', bom: false, crlf: false },
    base: 'none',          // the file's version the page's text was made from
    disk: 'none',          // the file's version as the server last told
    saved: null,           // the text the file holds, as far as the page knows
    conflict: false,       // the file was changed by another program: edits are not saved until the user says
    offline: false,
    inFlight: false, pending: false, timer: null, lastSend: -1e9,
    seq: 0, shown: 0,
    firstInput: null, lastKey: 0,
    render: null,          // the last good render: notes, rate, map of the score it was made from
    problemMarks: [], playingMarks: [], foundMarks: [],
    roll: null,            // { svg, cursor, rects, x0, pxps }
    playingKey: '',
    lineCount: 0,
    nextAudio: null,
    stats: [],
  };
  window.skladbaStats = state.stats;   // for the benchmark: keystroke to audio

  // ---- Encodings: the file's bytes are kept as they are stored. ----------

  const cp1250 = (() => {
    const dec = new TextDecoder('windows-1250');
    const toChar = [];
    const toByte = new Map();
    for (let b = 0; b < 256; b++) {
      const c = dec.decode(new Uint8Array([b]));
      toChar.push(c);
      if (!toByte.has(c)) toByte.set(c, b);
    }
    return { toChar, toByte };
  })();

  // UTF-16LE by the engine's rule: a byte-order mark, or a zero as the
  // second byte after a first that is not; UTF-8 when the file is valid
  // UTF-8 with letters beyond ASCII; Windows-1250 (ASCII included) otherwise.
  function detect(bytes) {
    if (bytes.length >= 2 && bytes[0] === 0xFF && bytes[1] === 0xFE) return { kind: 'utf-16le', bom: true };
    if (bytes.length >= 3 && bytes[0] === 0xEF && bytes[1] === 0xBB && bytes[2] === 0xBF) return { kind: 'utf-8', bom: true };
    if (bytes.length >= 2 && bytes[0] > 0 && bytes[1] === 0) return { kind: 'utf-16le', bom: false };
    if (bytes.some((b) => b >= 0x80)) {
      try {
        new TextDecoder('utf-8', { fatal: true }).decode(bytes);
        return { kind: 'utf-8', bom: false };
      } catch (e) { /* not UTF-8 */ }
    }
    return { kind: 'windows-1250', bom: false };
  }

  function decode(bytes, enc) {
    let text;
    if (enc.kind === 'utf-16le') text = new TextDecoder('utf-16le').decode(bytes.subarray(enc.bom ? 2 : 0));
    else if (enc.kind === 'utf-8') text = new TextDecoder('utf-8', { ignoreBOM: true }).decode(bytes.subarray(enc.bom ? 3 : 0));
    else text = Array.from(bytes, (b) => cp1250.toChar[b]).join('');
    // Each line keeps its own ending; a new line gets the file's most
    // common one.
    const ends = text.match(/\r?\n/g) || [];
    const crlf = ends.filter((e) => e === '\r\n').length;
    enc.crlf = crlf > ends.length - crlf;
    const plain = text.replace(/\r\n/g, '\n');
    enc.lines = plain.split('\n');
    enc.ends = ends;
    return plain;
  }

  // The ending after every line of text: a line that stands where it stood
  // in the text last read or written (in the unchanged lines before and
  // after an edit) keeps the ending it had; lines in between get the most
  // common one. The text becomes the new reference.
  function lineEndings(text, enc) {
    const lines = text.split('\n');
    const base = enc.lines || [''];
    const was = enc.ends || [];
    const n = lines.length - 1;
    const m = base.length - 1;
    const out = new Array(n).fill(enc.crlf ? '\r\n' : '\n');
    let p = 0;
    while (p < n && p < m && lines[p] === base[p]) { out[p] = was[p]; p++; }
    let s = 0;
    while (n - s > p && m - s > p && lines[n - s] === base[m - s]) {
      out[n - s - 1] = was[m - s - 1];
      s++;
    }
    enc.lines = lines;
    enc.ends = out;
    return out;
  }

  // The bytes of the text in the file's encoding, and for every byte the
  // index of the character it belongs to, so that the renderer's byte
  // offsets can be found in the text. bad: the first character the encoding
  // cannot hold.
  function encode(text, enc) {
    const out = [];
    const unit = [];
    let bad = null;
    const put = (b, i) => { out.push(b); unit.push(i); };
    if (enc.kind === 'utf-16le' && enc.bom) { put(0xFF, 0); put(0xFE, 0); }
    if (enc.kind === 'utf-8' && enc.bom) { put(0xEF, 0); put(0xBB, 0); put(0xBF, 0); }
    const utf8 = new TextEncoder();
    const ends = lineEndings(text, enc);
    let line = 0;
    for (let i = 0; i < text.length; i++) {
      const c = text[i];
      if (c === '\n' && ends[line++] === '\r\n') {
        if (enc.kind === 'utf-16le') { put(13, i); put(0, i); put(10, i); put(0, i); } else { put(13, i); put(10, i); }
        continue;
      }
      if (enc.kind === 'utf-16le') {
        const u = text.charCodeAt(i);
        put(u & 0xFF, i); put(u >> 8, i);
      } else if (enc.kind === 'utf-8') {
        const cp = text.codePointAt(i);
        const s = cp > 0xFFFF ? text.slice(i, i + 2) : c;
        for (const b of utf8.encode(s)) put(b, i);
        if (cp > 0xFFFF) i++;
      } else {
        const b = cp1250.toByte.get(c);
        if (b === undefined) {
          if (!bad) bad = { index: i, char: text.codePointAt(i) > 0xFFFF ? text.slice(i, i + 2) : c };
          put(0x3F, i);
        } else {
          put(b, i);
        }
      }
    }
    unit.push(text.length);
    return { bytes: new Uint8Array(out), unit, bad };
  }

  const ENCODING_NAMES = { 'windows-1250': 'Windows-1250', 'utf-16le': 'UTF-16LE', 'utf-8': 'UTF-8' };

  // A byte range of the rendered score as a range of the text.
  function range(map, from, to) {
    const last = map.length - 1;
    const f = map[Math.min(Math.max(from, 0), last)];
    const t = to > from ? map[Math.min(to - 1, last)] + 1 : f + 1;
    return [f, Math.max(t, f + 1)];
  }

  // ---- The editor: a textarea over a backdrop that carries the marks. -----

  function escapeHtml(s) {
    return s.replace(/[&<>]/g, (c) => (c === '&' ? '&amp;' : c === '<' ? '&lt;' : '&gt;'));
  }

  function drawBackdrop() {
    const text = ui.score.value;
    const marks = [...state.problemMarks, ...state.foundMarks, ...state.playingMarks]
      .filter((m) => m.from < text.length)
      .sort((a, b) => a.from - b.from || a.rank - b.rank);
    let html = '';
    let at = 0;
    for (const m of marks) {
      const from = Math.max(m.from, at);
      const to = Math.min(m.to, text.length);
      if (to <= from) continue;
      html += escapeHtml(text.slice(at, from)) + `<mark class="${m.cls}">` + escapeHtml(text.slice(from, to)) + '</mark>';
      at = to;
    }
    // A last line for the caret after a final line break.
    ui.backdrop.innerHTML = html + escapeHtml(text.slice(at)) + '\n ';
    syncScroll();
  }

  function drawGutter() {
    const text = ui.score.value;
    let lines = 1;
    for (let i = text.indexOf('\n'); i >= 0; i = text.indexOf('\n', i + 1)) lines++;
    const marked = new Map();
    for (const m of state.problemMarks) {
      if (m.line && (!marked.has(m.line) || m.cls === 'error')) marked.set(m.line, m.cls);
    }
    let html = '';
    for (let n = 1; n <= lines; n++) html += marked.has(n) ? `<span class="${marked.get(n)}">${n}</span>\n` : `${n}\n`;
    ui.gutter.innerHTML = html + ' \n';
    state.lineCount = lines;
    syncScroll();
  }

  function syncScroll() {
    ui.backdrop.scrollTop = ui.score.scrollTop;
    ui.backdrop.scrollLeft = ui.score.scrollLeft;
    ui.gutter.scrollTop = ui.score.scrollTop;
  }

  const metrics = (() => {
    let width = 0;
    return {
      line: () => parseFloat(getComputedStyle(ui.score).lineHeight) || 20,
      char: () => {
        if (!width) {
          const probe = document.createElement('span');
          probe.textContent = 'x'.repeat(100);
          ui.backdrop.appendChild(probe);
          width = probe.getBoundingClientRect().width / 100 || 8;
          probe.remove();
        }
        return width;
      },
    };
  })();

  // Selects a range of the text and scrolls it into the middle of the view.
  function jumpTo(from, to) {
    const text = ui.score.value;
    from = Math.min(from, text.length);
    to = Math.min(Math.max(to, from), text.length);
    ui.score.focus({ preventScroll: true });
    ui.score.setSelectionRange(from, to);
    const before = text.slice(0, from);
    const line = before.split('\n').length - 1;
    const col = from - (before.lastIndexOf('\n') + 1);
    ui.score.scrollTop = Math.max(0, line * metrics.line() - ui.score.clientHeight / 2);
    const x = col * metrics.char();
    if (x < ui.score.scrollLeft || x > ui.score.scrollLeft + ui.score.clientWidth - 40) {
      ui.score.scrollLeft = Math.max(0, x - ui.score.clientWidth / 3);
    }
    state.foundMarks = [{ from, to: Math.max(to, from + 1), cls: 'found', rank: 1 }];
    drawBackdrop();
    syncScroll();
  }

  function placeOf(text, index) {
    const before = text.slice(0, index);
    return { line: before.split('\n').length, col: index - before.lastIndexOf('\n') };
  }

  // ---- Status and banners. ------------------------------------------------

  function setStatus(text, bad) {
    ui.status.textContent = text;
    ui.status.classList.toggle('bad', !!bad);
  }

  function unsaved() { return state.saved !== null && ui.score.value !== state.saved; }

  function banner(id, text, buttons, danger) {
    let b = document.getElementById(id);
    if (!b) {
      b = document.createElement('div');
      b.id = id;
      b.className = 'banner' + (danger ? ' danger' : '');
      ui.banners.appendChild(b);
    }
    b.textContent = '';
    const span = document.createElement('span');
    span.textContent = text;
    b.appendChild(span);
    for (const [label, action] of buttons) {
      const button = document.createElement('button');
      button.textContent = label;
      button.addEventListener('click', action);
      b.appendChild(button);
    }
  }
  function dropBanner(id) { const b = document.getElementById(id); if (b) b.remove(); }

  function baseName() {
    const file = state.name.split('/').pop();
    const dot = file.lastIndexOf('.');
    return dot > 0 ? file.slice(0, dot) : file;
  }

  // The score as the file would hold it, to keep by hand when it cannot be saved.
  function downloadScore() {
    const blob = new Blob([encode(ui.score.value, state.enc).bytes], { type: 'application/octet-stream' });
    const a = document.createElement('a');
    a.href = URL.createObjectURL(blob);
    a.download = state.name.split('/').pop() || 'score.txt';
    document.body.appendChild(a);
    a.click();
    setTimeout(() => { URL.revokeObjectURL(a.href); a.remove(); }, 1000);
  }

  function showSaveState() {
    if (state.offline) {
      setStatus('server not answering: not saved', true);
    } else if (state.conflict) {
      setStatus('not saved: the file changed on disk', true);
    } else if (state.localProblem) {
      setStatus('not saved: ' + state.localProblem, true);
    } else if (state.saveError) {
      setStatus('not saved: ' + state.saveError, true);
    } else if (unsaved() || state.inFlight || state.timer) {
      setStatus('saving…');
    } else {
      setStatus('saved');
    }
  }

  // ---- Sending edits: saved and rendered, at most once per 200 ms. --------

  function options() {
    const p = new URLSearchParams();
    // A fade from 5 ms (shorter ones click) to 10 s, as --release takes.
    const fade = Math.min(10000, Math.max(5, Math.round(+ui.release.value || 60)));
    p.set('release', ui.releaseOn.checked ? String(fade) : '0');
    p.set('warnings', ui.warnings.checked ? '1' : '0');
    return p;
  }

  function schedule() {
    if (state.inFlight) { state.pending = true; return; }
    if (state.timer) return;
    const wait = state.lastSend + THROTTLE_MS - performance.now();
    if (wait <= 0) send();
    else state.timer = setTimeout(() => { state.timer = null; send(); }, wait);
  }

  function localProblem(problem) {
    state.localProblem = problem ? problem.text : null;
    showProblems(problem ? [problem] : null);
    showSaveState();
  }

  async function send() {
    const text = ui.score.value;
    const enc = encode(text, state.enc);
    if (enc.bad) {
      const p = placeOf(text, enc.bad.index);
      localProblem({ kind: 'error', line: p.line, col: p.col, from: enc.bad.index, to: enc.bad.index + enc.bad.char.length,
        text: `"${enc.bad.char}" cannot be stored in this ${ENCODING_NAMES[state.enc.kind]} file, so the score is neither saved nor played until it is gone (write > or < for a sharp or flat)` });
      return;
    }
    if (enc.bytes.length > state.limit) {
      localProblem({ kind: 'error', text: `the score has grown to ${enc.bytes.length} bytes, more than the 1 MB the editor takes: it is neither saved nor played until it is shorter` });
      return;
    }
    state.localProblem = null;
    const seq = ++state.seq;
    const inputAt = state.firstInput;
    state.firstInput = null;
    state.inFlight = true;
    state.lastSend = performance.now();
    const params = options();
    const save = !state.conflict;
    params.set('save', save ? '1' : '0');
    params.set('base', state.base);
    showSaveState();
    const sentAt = performance.now();
    let answer = null;
    try {
      const response = await fetch('/api/edit?' + params, {
        method: 'POST', headers: { 'X-Skladba': '1', 'Content-Type': 'application/octet-stream' }, body: enc.bytes,
      });
      if (!response.ok) throw new Error((await response.text()).trim() || `HTTP ${response.status}`);
      answer = await response.json();
      setOffline(false);
    } catch (e) {
      state.inFlight = false;
      if (e instanceof TypeError) {
        setOffline(true);
        state.pending = false;
        setTimeout(() => { if (state.offline) schedule(); }, 2000);
      } else {
        state.saveError = e.message;
      }
      state.firstInput = state.firstInput ?? inputAt;
      showSaveState();
      return;
    }
    state.inFlight = false;
    const answeredAt = performance.now();
    if (answer.save) {
      const s = answer.save;
      state.saveError = s.error || null;
      if (s.saved) {
        state.base = s.version;
        state.saved = text;
      } else if (s.conflict) {
        state.disk = s.version;
        external();
      }
    }
    if (answer.render && seq > state.shown && !answer.render.superseded) {
      state.shown = seq;
      showRender(answer.render, text, enc.unit, { inputAt, sentAt, answeredAt });
    }
    checkDisk();
    if (state.pending || (ui.score.value !== text && !state.conflict)) {
      state.pending = false;
      schedule();
    }
    showSaveState();
  }

  // ---- A render: the problems, the summary, the audio and the roll. -------

  function showProblems(list) {
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
        li.addEventListener('click', () => jumpTo(p.from, p.to));
        state.problemMarks.push({ from: p.from, to: p.to, cls: p.kind, rank: 0, line: p.line });
      }
      ui.problems.appendChild(li);
    }
    drawBackdrop();
    drawGutter();
  }

  // A mark covers the word a problem starts at, so that it can be seen.
  function wordEnd(text, from, to) {
    let end = Math.max(to, from + 1);
    while (end < text.length && end - from < 24 && !/\s/.test(text[end])) end++;
    return end;
  }

  function showRender(r, text, map, times) {
    const problems = [];
    const place = (h, kind) => {
      const [from, to] = range(map, h.at, h.at + 1);
      return { kind, line: h.line, col: h.col, from, to: wordEnd(text, from, to), text: h.text };
    };
    for (const w of r.warnings) problems.push(place(w, 'warning'));
    if (r.more) problems.push({ kind: 'more', text: r.more.replace(/^.*?: /, '') });
    if (r.error) problems.push(r.error.place ? place(r.error.place, 'error') : { kind: 'error', text: r.error.message });
    showProblems(problems);
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
    state.render = { notes: r.noteList, order, longest, rate: r.rate, map, seconds, id: r.id };
    const base = baseName();
    setLink(ui.dlWav, r.wav, base + '.wav');
    setLink(ui.dlMidi, r.midi, base + '.mid');
    setLink(ui.dlMusicxml, r.musicxml, base + '.musicxml');
    setLink(ui.dlSvg, r.svg, base + '.svg');
    // The picture is fetched and drawn once the audio has taken over, so
    // that it does not hold the new audio back.
    showAudio(r, times, () => fetch(r.svg).then((x) => (x.ok ? x.text() : null)).then((text) => {
      if (text && state.render && state.render.id === r.id) showRoll(text);
    }).catch(() => {}));
  }

  function setLink(a, href, name) { a.href = href; a.download = name; }

  function formatTime(s) {
    const m = Math.floor(s / 60);
    const rest = (s - m * 60).toFixed(1).padStart(4, '0');
    return `${m}:${rest}`;
  }

  // The new audio is loaded beside the one playing and takes its place at
  // the same moment of the piece, playing if it was playing.
  function showAudio(r, times, then) {
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
      const at = Math.min(ui.audio.currentTime || 0, next.duration || 0);
      if (at > 0) next.currentTime = at;   // no seek to wait for at the start
      positioned = true;
    });
    next.addEventListener('error', then);
    next.addEventListener('canplay', () => {
      if (!positioned || state.nextAudio !== next) return;
      state.nextAudio = null;
      const old = ui.audio;
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
      ui.audio = next;
      old.removeAttribute('src');
      old.load();
      if (times.inputAt !== null) {
        state.stats.push({ input: times.inputAt, sent: times.sentAt, answered: times.answeredAt, created,
          audio: performance.now(), serverMs: r.ms, seconds: r.samples / r.rate });
      }
      then();
    });
    next.src = r.wav;
  }

  // The piano roll drawn by the renderer, in a shadow root of its own so
  // that its styles stay in it, with a cursor line laid over it.
  function showRoll(svgText) {
    const root = ui.roll.shadowRoot || ui.roll.attachShadow({ mode: 'open' });
    const left = ui.roll.scrollLeft;
    root.innerHTML = '<style>svg{display:block} .cursor{stroke:#e8112d;stroke-width:2;pointer-events:none}'
      + ' #notes rect{cursor:pointer} #notes rect.playing{stroke:#000;stroke-width:1}</style>' + svgText;
    const svg = root.querySelector('svg');
    if (!svg) return;
    const cursor = document.createElementNS(SVGNS, 'line');
    cursor.setAttribute('class', 'cursor');
    cursor.setAttribute('y1', '0');
    cursor.setAttribute('y2', svg.getAttribute('height'));
    svg.appendChild(cursor);
    const group = root.getElementById('notes');
    const rects = group ? Array.from(group.children).filter((e) => e.tagName === 'rect') : [];
    if (group) {
      group.addEventListener('click', (e) => {
        const rect = e.target.closest('rect');
        const i = rects.indexOf(rect);
        const note = state.render && state.render.notes[i];
        if (!note) return;
        const [from, to] = range(state.render.map, note[3], note[4]);
        jumpTo(from, to);
        ui.audio.currentTime = note[0] / state.render.rate;
      });
    }
    state.roll = { svg, cursor, rects, x0: +svg.getAttribute('data-x0') || 0, pxps: +svg.getAttribute('data-px-per-s') || 40 };
    state.playingKey = '';
    ui.roll.scrollLeft = left;
  }

  // ---- The playback cursor, from the audio's own clock. -------------------

  function frame() {
    const audio = ui.audio;
    const t = audio.currentTime || 0;
    const roll = state.roll;
    if (roll) {
      const x = roll.x0 + t * roll.pxps;
      roll.cursor.setAttribute('x1', x);
      roll.cursor.setAttribute('x2', x);
      if (!audio.paused) {
        const view = ui.roll;
        if (x < view.scrollLeft + 40 || x > view.scrollLeft + view.clientWidth - 60) {
          view.scrollLeft = Math.max(0, x - view.clientWidth / 3);
        }
      }
    }
    showPlaying(audio.paused && t === 0 ? -1 : t);
    requestAnimationFrame(frame);
  }

  // The notes sounding at time t, marked in the text and in the roll.
  function showPlaying(t) {
    const r = state.render;
    const sounding = [];
    if (r && t >= 0) {
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
      sounding.sort((a, b) => a - b);
    }
    const key = sounding.join(',');
    if (key === state.playingKey) return;
    state.playingKey = key;
    state.playingMarks = sounding.map((i) => {
      const [from, to] = range(r.map, r.notes[i][3], r.notes[i][4]);
      return { from, to, cls: 'playing', rank: 2 };
    });
    if (state.roll) {
      for (const rect of state.roll.svg.querySelectorAll('#notes rect.playing')) rect.classList.remove('playing');
      for (const i of sounding) if (state.roll.rects[i]) state.roll.rects[i].classList.add('playing');
    }
    drawBackdrop();
  }

  // ---- The file on disk: changes made by other programs. ------------------

  // The event of a change may overtake the answer of the page's own save:
  // before it is taken for another program's change, the server is asked
  // how the file stands now.
  async function checkDisk() {
    if (state.inFlight || state.conflict || state.disk === state.base) return;
    try {
      state.disk = (await (await fetch('/api/info')).json()).version;
    } catch (e) {
      return;
    }
    if (!state.inFlight && !state.conflict && state.disk !== state.base) external();
  }

  function external() {
    state.conflict = true;
    const gone = state.disk === 'none';
    banner('changed', gone
      ? `${state.name} was removed by another program. The page keeps your text; nothing is saved until you choose.`
      : `${state.name} was changed by another program. The page keeps your text; nothing is saved until you choose.`,
    [[gone ? 'Save the page\'s text again' : 'Keep the page\'s text (overwrite the file)', keepMine],
      [gone ? 'Start from an empty score' : 'Load the file (replace the page\'s text)', loadFile],
      ['Download the page\'s text', downloadScore]], true);
    showSaveState();
  }

  function keepMine() {
    state.base = state.disk;
    state.conflict = false;
    dropBanner('changed');
    schedule();
  }

  async function loadFile() {
    const previous = ui.score.value;
    await loadScore();
    dropBanner('changed');
    if (previous !== ui.score.value) {
      banner('replaced', 'The page\'s text was replaced by the file\'s.', [
        ['Put the page\'s text back (and save it)', () => { setText(previous); dropBanner('replaced'); schedule(); }],
        ['Dismiss', () => dropBanner('replaced')]]);
    }
  }

  function setOffline(off) {
    if (off === state.offline) return;
    state.offline = off;
    if (off) {
      banner('offline', `The server is not answering (it may have been stopped). Your edits stay in this page and are saved when it answers again on ${location.host}.`,
        [['Download the score', downloadScore]], true);
    } else {
      dropBanner('offline');
    }
    showSaveState();
  }

  function listen() {
    const events = new EventSource('/api/events');
    events.addEventListener('version', (e) => {
      state.disk = e.data;
      if (state.conflict && state.disk === state.base) {
        // The file is back to what the page's text was made from.
        state.conflict = false;
        dropBanner('changed');
        schedule();
      }
      checkDisk();
    });
    events.addEventListener('open', () => {
      if (state.offline) schedule();
    });
    events.addEventListener('error', () => {
      if (events.readyState === EventSource.CLOSED) setTimeout(listen, 3000);
    });
  }

  // ---- Start-up. -----------------------------------------------------------

  function setText(text) {
    ui.score.value = text;
    state.problemMarks = [];
    state.foundMarks = [];
    drawGutter();
    drawBackdrop();
  }

  async function loadScore() {
    const response = await fetch('/api/score');
    const bytes = new Uint8Array(await response.arrayBuffer());
    state.enc = detect(bytes);
    const text = decode(bytes, state.enc);
    state.base = state.disk = response.headers.get('X-Skladba-Version') || 'none';
    state.saved = text;
    state.conflict = false;
    ui.encoding.textContent = ENCODING_NAMES[state.enc.kind] + (state.enc.crlf ? ', CR LF' : '') +
      (state.base === 'none' ? ', new file' : '');
    setText(text);
    schedule();
  }

  function insertAtCaret(s) {
    const ta = ui.score;
    ta.focus();
    const { selectionStart: a, selectionEnd: b, value } = ta;
    const before = a > 0 && !/\s/.test(value[a - 1]) ? ' ' : '';
    const after = b < value.length && !/\s/.test(value[b]) ? ' ' : '';
    ta.setRangeText(before + s + after, a, b, 'end');
    edited();
  }

  function edited() {
    if (state.firstInput === null) state.firstInput = performance.now() - state.lastKey < 100 ? state.lastKey : performance.now();
    state.foundMarks = [];
    drawGutter();
    drawBackdrop();
    schedule();
    showSaveState();
  }

  async function start() {
    const info = await (await fetch('/api/info')).json();
    state.name = info.name;
    state.limit = info.limit;
    document.title = `${info.name} · skladba`;
    ui.name.textContent = info.name;
    for (const r of info.registers) {
      const o = document.createElement('option');
      o.value = 'R' + r;
      o.textContent = 'R' + r;
      ui.register.appendChild(o);
    }
    ui.releaseOn.checked = info.release > 0;
    ui.release.value = info.release || 60;
    ui.warnings.checked = info.warnings;
    if (info.open) {
      banner('open', 'This server listens beyond this computer (--host): anyone who can reach it can read and change the score.', [], true);
    }

    ui.score.addEventListener('keydown', (e) => {
      state.lastKey = performance.now();
      // Ctrl-S saves at once instead of offering to save the page.
      if ((e.ctrlKey || e.metaKey) && e.key === 's') {
        e.preventDefault();
        clearTimeout(state.timer);
        state.timer = null;
        state.lastSend = -1e9;
        schedule();
      }
    });
    ui.score.addEventListener('input', edited);
    ui.score.addEventListener('scroll', syncScroll);
    ui.register.addEventListener('change', () => {
      if (ui.register.value) insertAtCaret(ui.register.value);
      ui.register.value = '';
    });
    for (const el of [ui.releaseOn, ui.release, ui.warnings]) {
      el.addEventListener('change', schedule);
    }
    window.addEventListener('beforeunload', (e) => {
      if (unsaved() || state.localProblem) { e.preventDefault(); e.returnValue = ''; }
    });
    // A page closed within the 200 ms after a keystroke still saves it.
    window.addEventListener('pagehide', () => {
      if (!unsaved() || state.conflict || state.localProblem) return;
      const p = options();
      p.set('save', '1');
      p.set('render', '0');
      p.set('base', state.base);
      fetch('/api/edit?' + p, { method: 'POST', keepalive: true, headers: { 'X-Skladba': '1' },
        body: encode(ui.score.value, state.enc).bytes }).catch(() => {});
    });
    await loadScore();
    listen();
    requestAnimationFrame(frame);
  }

  start().catch((e) => {
    setStatus('cannot start: ' + e.message, true);
  });
})();
