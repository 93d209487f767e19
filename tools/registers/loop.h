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
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "synth/smycka.h"

namespace skladba::registers {

struct LoopChoice {
    bool exactPeriods = false;   // the synthesised timbres
};

// The loop of segment k (delkatonu samples at x); no loop for silence.
Smycka findLoop(const int16_t* x, int k, const LoopChoice& choice);

// Writes the loop file beside the register at registerPath for the
// register's samples, a loop for every sounding segment (or the loops
// given: loops[k].je()). Errors read "cannot write PATH: why".
bool writeLoopFile(const std::string& registerPath, const std::vector<int16_t>& samples, const LoopChoice& choice,
                   std::string& error, const std::vector<Smycka>& given = {});

}  // namespace skladba::registers
