// A render's MusicXML cut into stretches of a few measures, each a small
// score of its own that the engraver draws alone: after an edit only the
// stretches whose text changed are engraved again. Each stretch carries the
// attributes in force where it starts (divisions, key, metre, staves,
// clefs) for every part, keeps the measure numbers of the whole score, and
// knows where it starts in whole notes, so that its notes are found in the
// render's note list. The text is cut as the server writes it: measures
// are never nested, and the attributes of a measure come first in it.

// Measures in a stretch (a pickup, measure 0, is added to the first).
export const MEASURES = 4;

const FOUND = {
  divisions: /<divisions>[^<]*<\/divisions>/, staves: /<staves>[^<]*<\/staves>/,
  key: /<key\b[^>]*>[\s\S]*?<\/key>/, time: /<time\b[^>]*>[\s\S]*?<\/time>/,
};
const CLEF = /<clef\b[^>]*>[\s\S]*?<\/clef>/g;

// The measures of one part's text (not <measure-style> and the like);
// null when one of them is not closed, as in text cut short.
function measures(part) {
  const list = [];
  const open = /<measure[\s>]/g;
  for (let m = open.exec(part); m; m = open.exec(part)) {
    const end = part.indexOf('</measure>', m.index);
    if (end < 0) return null;
    list.push(part.slice(m.index, end + '</measure>'.length));
    open.lastIndex = end;
  }
  return list;
}

// A measure's attributes: the element it opens with, or null.
function attributesOf(measure) {
  const a = measure.indexOf('<attributes>');
  if (a < 0) return null;
  const b = measure.indexOf('</attributes>', a);
  return { from: a, to: b + '</attributes>'.length, text: measure.slice(a, b) };
}

// What a measure's attributes change of those in force.
function apply(inForce, text) {
  for (const [name, pattern] of Object.entries(FOUND)) {
    const m = text.match(pattern);
    if (m) inForce[name] = m[0];
  }
  for (const m of text.matchAll(CLEF)) {
    const n = m[0].match(/number="(\d+)"/);
    inForce.clefs[n ? n[1] : '1'] = m[0];
  }
}

// The attributes a stretch opens with. The metre is shown only where the
// measure itself changes it (it is in force all the same): a system starts
// with its clefs and key, not its time signature.
function opening(inForce, changesTime) {
  let time = inForce.time || '';
  if (time && !changesTime) time = time.replace('<time', '<time print-object="no"');
  const clefs = Object.keys(inForce.clefs).sort().map((k) => inForce.clefs[k]);
  return '<attributes>\n        ' + [inForce.divisions, inForce.key, time, inForce.staves, ...clefs]
    .filter(Boolean).join('\n        ') + '\n      </attributes>';
}

// The length of a measure in divisions: what its first voice fills (every
// measure's first voice fills it, up to the first step back).
function lengthOf(measure) {
  const back = measure.indexOf('<backup>');
  const body = back < 0 ? measure : measure.slice(0, back);
  let n = 0;
  for (const m of body.matchAll(/<(note|forward)>([\s\S]*?)<\/\1>/g)) {
    if (m[1] === 'note' && (m[2].includes('<chord/>') || m[2].includes('<grace'))) continue;
    const d = m[2].match(/<duration>(\d+)<\/duration>/);
    if (d) n += +d[1];
  }
  return n;
}

// The stretches of a score: { xml, first (measure index), count, start
// (in whole notes), number (the first measure's number) }; null when the
// text is not a partwise score of the shape the server writes.
export function cut(xml, perStretch = MEASURES) {
  const partAt = xml.indexOf('<part id=');
  const close = xml.lastIndexOf('</score-partwise>');
  if (partAt < 0 || close < 0) return null;
  const head = xml.slice(0, partAt);
  const parts = [];
  for (let at = partAt; at >= 0 && at < close; at = xml.indexOf('<part id=', at + 1)) {
    const end = xml.indexOf('</part>', at);
    if (end < 0) return null;
    const body = xml.slice(at, end);
    const list = measures(body);
    if (!list) return null;
    parts.push({ open: body.slice(0, body.indexOf('>') + 1), measures: list });
  }
  if (!parts.length) return null;
  const count = parts[0].measures.length;
  if (!count || parts.some((p) => p.measures.length !== count)) return null;
  // Where each measure starts, in whole notes, from the first part.
  const starts = [];
  let divisions = 1, start = 0;
  for (const m of parts[0].measures) {
    const d = m.match(/<divisions>(\d+)<\/divisions>/);
    if (d) divisions = +d[1];
    starts.push(start);
    start += lengthOf(m) / divisions / 4;
  }
  // The first stretch takes a pickup as well.
  const firsts = [0];
  const pickup = /^<measure[^>]*implicit="yes"/.test(parts[0].measures[0]) ? 1 : 0;
  for (let m = pickup + perStretch; m < count; m += perStretch) firsts.push(m);
  const inForce = parts.map(() => ({ clefs: {} }));
  const stretches = [];
  firsts.forEach((first, s) => {
    const last = s + 1 < firsts.length ? firsts[s + 1] : count;
    let text = head;
    parts.forEach((p, c) => {
      text += p.open + '\n';
      for (let m = first; m < last; m++) {
        let measure = p.measures[m];
        const own = attributesOf(measure);
        if (own) apply(inForce[c], own.text);
        if (m === first && first > 0) {
          const changesTime = !!(own && own.text.includes('<time'));
          const attributes = opening(inForce[c], changesTime);
          measure = own ? measure.slice(0, own.from) + attributes + measure.slice(own.to)
            : measure.replace(/^(<measure[^>]*>\n?)/, `$1      ${attributes}\n`);
        }
        text += '    ' + measure + '\n';
      }
      text += '  </part>\n';
    });
    text += '</score-partwise>\n';
    const number = parts[0].measures[first].match(/number="([^"]*)"/);
    stretches.push({ xml: text, first, count: last - first, start: starts[first], number: number ? number[1] : '' });
  });
  return stretches;
}
