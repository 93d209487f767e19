// The score's text and its bytes: the file is kept in the encoding, the
// byte-order mark and the line endings it was stored with, and the
// renderer's byte offsets are found in the text.

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

export const ENCODING_NAMES = { 'windows-1250': 'Windows-1250', 'utf-16le': 'UTF-16LE', 'utf-8': 'UTF-8' };

// The character a command byte of the language stands for in a file of
// encoding kind, or null where it stands for none: ASCII everywhere; a byte
// above 0x7F a letter of Windows-1250 in such a file; a command that takes
// the next byte raw, the UTF-16LE letter of the byte followed by 0x01.
export function charOfCommand(byte, argument, kind) {
  if (argument === 'raw') return kind === 'utf-16le' ? String.fromCharCode(0x100 | byte) : null;
  if (byte < 0x80) return String.fromCharCode(byte);
  return kind === 'windows-1250' ? cp1250.toChar[byte] : null;
}

// UTF-16LE by the engine's rule: a byte-order mark, or a zero as the
// second byte after a first that is not; UTF-8 when the file is valid
// UTF-8 with letters beyond ASCII; Windows-1250 (ASCII included) otherwise.
export function detect(bytes) {
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

// The text of the file's bytes, with LF line breaks; enc learns the ending
// of every line.
export function decode(bytes, enc) {
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
export function encode(text, enc) {
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

// A byte range of the rendered score as a range of the text, through the
// map encode made.
export function range(map, from, to) {
  const last = map.length - 1;
  const f = map[Math.min(Math.max(from, 0), last)];
  const t = to > from ? map[Math.min(to - 1, last)] + 1 : f + 1;
  return [f, Math.max(t, f + 1)];
}

// Line and column (from 1) of a character of the text.
export function placeOf(text, index) {
  const before = text.slice(0, index);
  return { line: before.split('\n').length, col: index - before.lastIndexOf('\n') };
}
