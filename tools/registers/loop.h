// Sustain loops for the registers the tool writes (the loop file format is
// the renderer's, synth/smycka.h).
//
// How a loop is chosen, segment by segment, from the samples as written:
// its first second's RMS is the level the note should keep. The loop is the
// longest stretch from 0.1 s to 3.9 s whose every 50 ms frame lies within
// 1 dB of that level: nearly the whole segment for a held sound (an organ,
// strings, a flute held for its four seconds), a short stretch near where a
// decaying sound (piano, guitar) passes through it. Its end is then moved
// by up to a period of the segment's pitch to where the sound just before
// the end best matches (by normalised cross-correlation) the sound just
// before the start, so that the seam joins in phase; a crossfade of up to
// 50 ms blends the two. For the synthesised timbres the loop is instead an
// exact whole number of periods (the count whose length comes nearest a
// whole number of samples).
//
// A register played from a SoundFont brings its samples' own loops
// (SampleLoop, from soundfont_samples.h): once every sample of the note is
// inside its loop, the rendered sound repeats at the loop's length, moved
// to the segment's speed. Such a loop is placed where the search above
// would start its own (but not before the samples are inside their loops);
// its length is matched within 0.2 % (the synthesiser plays a cent or two
// off the pitch asked) and its start within a period, whichever seam
// matches best. Where the seam cannot join in phase because the length
// falls between two samples (a high note's period is a few samples), the
// fewest repeats of the loop, up to 8, that join are taken instead. It is
// taken when its seam matches (a correlation of at least 0.98), no step at
// its seam is larger than the largest inside the segment, and a note held
// on it for 8 s keeps its level within 1 dB or as well as one held on the
// loop found would; otherwise the loop found is used, and the tool says why.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "synth/smycka.h"

namespace skladba::registers {

// The loop a segment's samples bring with them, in samples of the segment.
struct SampleLoop {
    double length = 0.0;  // 0: none
    int earliest = 0;     // from here on every sample of the note is inside its loop (or has ended)
    int latest = delkatonu;  // the loop ends by here (where the key is released)
    std::string none;     // why there is none, as "its sample has no loop"
};

struct LoopChoice {
    bool exactPeriods = false;        // the synthesised timbres
    std::vector<SampleLoop> samples;  // by segment, for a register played from a SoundFont
};

// Where a segment's loop came from.
struct LoopSource {
    enum Kind { none, sample, found, periods, given } kind = none;
    std::string why;  // for a loop found although the segment had a SampleLoop entry: why it was not taken
};

// The loop of segment k (delkatonu samples at x); no loop for silence.
Smycka findLoop(const int16_t* x, int k, const LoopChoice& choice, LoopSource* source = nullptr);

// Writes the loop file beside the register at registerPath for the
// register's samples, a loop for every sounding segment (or the loops
// given: loops[k].je()), and says in `sources` where each came from.
// Errors read "cannot write PATH: why".
bool writeLoopFile(const std::string& registerPath, const std::vector<int16_t>& samples, const LoopChoice& choice,
                   std::string& error, const std::vector<Smycka>& given = {},
                   std::vector<LoopSource>* sources = nullptr);

}  // namespace skladba::registers
