// The page's one state: every field the modules share lives here, and the
// elements of the page they draw into.

const $ = (id) => document.getElementById(id);

// The page's elements, found once. audio is replaced by each new render's
// element (see zvuk.js), so it is looked up through the state.
export const ui = {
  name: $('name'), encoding: $('encoding'), status: $('status'), banners: $('banners'),
  register: $('register'), releaseOn: $('release-on'), release: $('release'), warnings: $('warnings'), master: $('master'),
  editor: $('editor'), main: $('main'),
  showSheet: $('show-notation'), sheet: $('sheet'), notation: $('notation'), voices: $('voices'),
  info: $('render-info'), problems: $('problems'), summary: $('summary'), roll: $('roll'),
  playCursor: $('play-cursor'), playBar: $('play-bar'), loopButton: $('loop-button'), loop: $('loop'), keys: $('keys'),
  dlMore: $('dl-more'),
  dlWav: $('dl-wav'), dlMidi: $('dl-midi'), dlMusicxml: $('dl-musicxml'), dlSvg: $('dl-svg'),
};

export const state = {
  name: '', limit: 1 << 20,
  releaseRange: null,    // [shortest, longest]: the fades --release takes, as the server tells
  enc: { kind: 'windows-1250', bom: false, crlf: false, lines: null, ends: null },
  base: 'none',          // the file's version the page's text was made from
  disk: 'none',          // the file's version as the server last told
  saved: null,           // the text the file holds, as far as the page knows
  conflict: false,       // the file was changed by another program: edits are not saved until the user says
  offline: false,
  localProblem: null,    // why the text cannot be sent (a character the file cannot hold, its size)
  saveError: null,       // the server's reason the last save failed
  inFlight: false, pending: false, timer: null, lastSend: -1e9,
  seq: 0, shown: 0,
  firstInput: null, lastKey: 0,
  render: null,          // the last good render: notes, rate, map of the score it was made from
  notes: null,           // { id, list }: the note list of the last good render answered, which the server does not send again
  problemMarks: [], playingMarks: [], foundMarks: [],
  roll: null,            // { svg, cursor, rects, x0, pxps }
  playingKey: '',
  audio: $('audio'),     // the element playing the render shown
  nextAudio: null,       // the next render's element, while it loads
  language: null,        // the score language's table, as the server sends it
  loop: null,            // { from, to } in seconds: the bars played again and again
  formats: [],           // the compressed formats the server can make of a render: { ext, name, link }
  stats: [],             // keystroke to audio, one entry a render (for the benchmark)
};
