// The engraver of the sheet music: OpenSheetMusicDisplay (on VexFlow). A
// chunk of its own, loaded the first time the page shows sheet music.
import { OpenSheetMusicDisplay } from 'opensheetmusicdisplay';

// An engraver for one stretch of the score, drawing into box. The stretches
// stand one under the other as the systems of one page: the first names
// the parts; every stretch fills the width, keeps the measure numbers it is
// given, and stands as far below the one above as systems on a page do.
export function createEngraver(box, first) {
  const osmd = new OpenSheetMusicDisplay(box, {
    autoResize: false, backend: 'svg', drawTitle: false, drawSubtitle: false, drawComposer: false,
    drawLyricist: false, drawCredits: false, drawPartNames: first, drawPartAbbreviations: false,
    drawMeasureNumbers: true, followCursor: false, disableCursor: true,
  });
  osmd.zoom = 0.65;
  const rules = osmd.EngravingRules;
  rules.UseXMLMeasureNumbers = true;
  rules.StretchLastSystemLine = true;
  rules.PageTopMargin = rules.PageTopMarginNarrow = first ? 2 : 0.5;
  rules.PageBottomMargin = 4;
  return osmd;
}

// Every drawn note: its element (and the engraver's own note, for its
// head's place), its written start in whole notes from the
// start of the stretch and its written length, its MIDI key, and the note
// it is drawn for (the first of a tied one, which is the note that sounds).
export function* drawnNotes(osmd) {
  for (const measures of osmd.GraphicSheet.MeasureList) {
    for (const measure of measures) {
      if (!measure) continue;
      for (const entry of measure.staffEntries) {
        for (const voiceEntry of entry.graphicalVoiceEntries) {
          for (const gn of voiceEntry.notes) {
            const n = gn.sourceNote;
            if (n.isRest()) continue;
            const first = n.NoteTie ? n.NoteTie.StartNote : n;
            yield { element: gn.getSVGGElement(), start: n.getAbsoluteTimestamp().RealValue, length: n.Length.RealValue,
              key: n.halfTone + 12, note: n, first, drawn: gn.vfnote, head: gn.vfnoteIndex };
          }
        }
      }
    }
  }
}

// The halves of a tie from a note at the end of one stretch to its
// continuation at the start of the next: an arc from the first note's head
// to the end of its staff, and one from the start of the next staff to the
// continuation's head, on the side away from the stem. Returns the arcs
// drawn (none where a note's place is not known).
export function tieAcross(from, to) {
  const arcs = [];
  const half = (d, toEnd) => {
    const [note] = d.drawn || [];
    const svg = d.element && d.element.ownerSVGElement;
    if (!note || !svg || !note.getStave) return;
    const stave = note.getStave();
    const y = note.getYs()[d.head || 0];
    const down = note.getStemDirection() === 1;
    const x0 = toEnd ? note.getNoteHeadEndX() + 2 : stave.getNoteStartX() - 4;
    const x1 = toEnd ? stave.getX() + stave.getWidth() + 4 : note.getNoteHeadBeginX() - 2;
    if (!(x1 > x0) || !Number.isFinite(y)) return;
    const side = down ? 1 : -1;
    const y0 = y + side * 4, h = side * 6, w = (x1 - x0) / 3;
    const path = document.createElementNS('http://www.w3.org/2000/svg', 'path');
    path.setAttribute('d', `M${x0} ${y0}C${x0 + w} ${y0 + h} ${x1 - w} ${y0 + h} ${x1} ${y0}` +
      `C${x1 - w} ${y0 + h + side * 1.5} ${x0 + w} ${y0 + h + side * 1.5} ${x0} ${y0}Z`);
    path.setAttribute('class', 'tie-across');
    svg.appendChild(path);
    arcs.push(path);
  };
  half(from, true);
  half(to, false);
  return arcs;
}
