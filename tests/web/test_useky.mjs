// The page's cutting of sheet music into stretches, on scores of the
// shapes the server writes and on text that is not one: run by node alone.
import assert from 'node:assert/strict';
import { test } from 'node:test';
import { cut } from '../../web/src/useky.js';

const attributes = (clef, fifths = 0, time = '<time><beats>4</beats><beat-type>4</beat-type></time>') =>
  `<attributes><divisions>4</divisions><key><fifths>${fifths}</fifths></key>${time}` +
  `<clef><sign>${clef}</sign><line>2</line></clef></attributes>`;
const note = (duration = 16, extra = '') =>
  `<note><pitch><step>C</step><octave>4</octave></pitch><duration>${duration}</duration>${extra}</note>`;
const measure = (n, body, implicit = false) =>
  `<measure number="${n}"${implicit ? ' implicit="yes"' : ''}>\n${body}</measure>`;
const score = (...parts) =>
  '<?xml version="1.0"?>\n<score-partwise version="4.0">\n<part-list>' +
  parts.map((_, i) => `<score-part id="P${i + 1}"><part-name>V${i + 1}</part-name></score-part>`).join('') +
  '</part-list>\n' + parts.map((ms, i) => `  <part id="P${i + 1}">\n${ms.join('\n')}\n  </part>\n`).join('') +
  '</score-partwise>\n';
const bars = (n, first = attributes('G')) =>
  Array.from({ length: n }, (_, i) => measure(i + 1, (i ? '' : first) + note()));

test('a score of up to four measures is one stretch, a fifth begins the next', () => {
  for (const n of [1, 3, 4]) {
    const s = cut(score(bars(n)));
    assert.equal(s.length, 1, `${n} measures`);
    assert.equal(s[0].count, n);
  }
  const s = cut(score(bars(9)));
  assert.deepEqual(s.map((x) => [x.first, x.count, x.start, x.number]), [[0, 4, 0, '1'], [4, 4, 4, '5'], [8, 1, 8, '9']]);
});

test('a pickup goes with the first stretch, and a pickup alone is a stretch', () => {
  const pickup = measure(0, attributes('G') + note(4), true);
  const s = cut(score([pickup, ...bars(5, '')]));
  assert.deepEqual(s.map((x) => [x.first, x.count, x.start, x.number]), [[0, 5, 0, '0'], [5, 1, 4.25, '5']]);
  assert.deepEqual(cut(score([pickup])).map((x) => x.count), [1]);
});

test('each part opens each stretch with its own attributes in force, changed mid-stretch or not', () => {
  const alto = bars(6, attributes('C'));
  alto[2] = measure(3, attributes('F', 3, '') + note());
  const s = cut(score(bars(6), alto));
  const [treble, second] = s[1].xml.split('<part id="P2">');
  assert.match(treble, /<sign>G<\/sign>/);
  assert.match(treble, /<fifths>0<\/fifths>/);
  assert.match(second, /<sign>F<\/sign>/);
  assert.match(second, /<fifths>3<\/fifths>/);
  assert.doesNotMatch(second, /<sign>C<\/sign>/);
  // The metre is in force but shown only where it changes.
  assert.match(second, /<time print-object="no">/);
});

test('a tie or slur across a stretch boundary leaves both stretches whole', () => {
  const ms = bars(5);
  ms[3] = measure(4, note(16, '<tie type="start"/><notations><slur type="start"/></notations>'));
  ms[4] = measure(5, note(16, '<tie type="stop"/><notations><slur type="stop"/></notations>'));
  const s = cut(score(ms));
  assert.equal(s.length, 2);
  assert.match(s[0].xml, /<tie type="start"\/>[\s\S]*<\/score-partwise>\n$/);
  assert.match(s[1].xml, /<tie type="stop"\/>/);
});

test('text that is not a whole score is refused, never hangs or throws', () => {
  const whole = score(bars(5));
  assert.equal(cut(score([])), null, 'no measures');
  assert.equal(cut(score(bars(5), bars(4))), null, 'parts of different lengths');
  assert.equal(cut('<score-partwise></score-partwise><part id="P1">'), null, 'a part after the end');
  assert.equal(cut(whole.replace(/<\/measure>(?![\s\S]*<\/measure>)/, '')), null, 'a measure not closed');
  assert.equal(cut(whole.slice(0, whole.length / 2)), null, 'cut short');
  const styled = whole.replace('<attributes>', '<attributes><measure-style><slash type="start"/></measure-style>');
  assert.equal(cut(styled).length, 2, 'a measure style is not a measure');
});
