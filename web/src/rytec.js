// The engraver of the sheet music: OpenSheetMusicDisplay (on VexFlow). A
// chunk of its own, loaded the first time the page shows sheet music.
import { OpenSheetMusicDisplay } from 'opensheetmusicdisplay';

export function createEngraver(host) {
  return new OpenSheetMusicDisplay(host, {
    autoResize: false, backend: 'svg', drawTitle: false, drawSubtitle: false, drawComposer: false,
    drawLyricist: false, drawCredits: false, drawPartNames: true, drawMeasureNumbers: true,
    followCursor: false, disableCursor: true,
  });
}

// Every drawn note: its element, its written start in whole notes, its
// MIDI key, and the note it is drawn for (the first of a tied one, which
// is the note that sounds).
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
            yield { element: gn.getSVGGElement(), start: n.getAbsoluteTimestamp().RealValue, key: n.halfTone + 12,
              note: n, first };
          }
        }
      }
    }
  }
}
