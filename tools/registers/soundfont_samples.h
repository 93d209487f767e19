// Which samples of a SoundFont a preset plays for one key and velocity, and
// how their own loops land in the segment the synthesiser renders from them.
//
// The zones are read from the SoundFont's own tables (after checkSoundFont):
// a preset's zones whose key and velocity ranges hold the note, each naming
// an instrument, whose zones that hold the note name the samples. Each
// sample is taken with the generators its zones set (an instrument's own
// zone over its global zone over the default; the preset's tuning added):
// sample mode, loop and address offsets, overriding root key, fixed key,
// coarse and fine tune and scale tuning.
#pragma once

#include <string>
#include <vector>

#include "registers/loop.h"
#include "registers/soundfont_check.h"

namespace skladba::registers {

struct PlayedSample {
    std::string name;
    // Sample points from the start of the sample data, offsets applied.
    double start = 0, end = 0, loopStart = 0, loopEnd = 0;
    double rate = 0;        // points a second
    int rootKey = 60;       // the key it sounds at its own speed
    double correction = 0;  // cents the sample is raised by (its pitch correction)
    double tune = 0;        // coarse and fine tune together, in cents
    double scale = 100;     // cents a key
    int fixedKey = -1;      // a key its pitch follows whatever key is struck
    int mode = 0;           // 0 plays once, 1 loops, 3 loops while the key is held
    bool looped() const { return mode == 1 || mode == 3; }
};

// The samples preset BANK:PROGRAM plays for `key` at `velocity`, in the
// order of its zones; none for a preset that is not there.
std::vector<PlayedSample> samplesPlayed(const SoundFontTables& tables, int bank, int program, int key, int velocity);

// How the samples of one note loop in its segment: struck on `key`, moved
// by `tableCents` through the key's tuning and by `bendCents` through the
// pitch wheel, the key released after `hold` samples of the segment. The
// loop is the looped samples' own, in samples of the segment, from where
// each looped sample is inside its loop and every unlooped one has ended;
// none (with the reason) when no sample loops, when layered samples loop
// at different lengths, or when a sample that plays once sounds on through
// the segment.
SampleLoop sampleLoop(const std::vector<PlayedSample>& samples, int key, double tableCents, double bendCents,
                      int hold);

}  // namespace skladba::registers
