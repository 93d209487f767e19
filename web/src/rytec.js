// The engraver of the sheet music: OpenSheetMusicDisplay (on VexFlow). A
// chunk of its own, loaded the first time the page shows sheet music.
import { OpenSheetMusicDisplay } from 'opensheetmusicdisplay';

// An engraver for one stretch of the score, drawing into box. The stretches
// stand one under the other as the systems of one page: the first names
// the parts; every stretch fills the width, keeps the measure numbers it is
// given, and leaves little margin above and below.
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
  rules.PageBottomMargin = 0.5;
  return osmd;
}

// Every drawn note: its element, its written start in whole notes from the
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
              key: n.halfTone + 12, note: n, first };
          }
        }
      }
    }
  }
}
