// The piano roll: an SVG picture of a render that a browser opens. Time in
// seconds runs across, pitch up, labelled with the score's octave names; one
// bar per note from its start for its value, a faint tail for the rest of
// its four seconds, a colour per register (with a legend) and opacity by
// volume; bar lines (numbered) and beats of the music as written behind
// them; under it the waveform envelope of the WAV on the same time axis.
//
// A note's bar shows its value; its tail, how much longer it sounds (the
// rest of its segment, or with a release its dots and fade).
//
// Size: 40 pixels a second up to 16000 pixels across, then the piece is
// squeezed into that width; notes share their style through classes and
// the tails of a register form one path, so an hour of music (some 25,000
// notes) stays near 2.3 MB.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "base/hudba.h"
#include "output/obalka.h"

namespace skladba {

struct PopisObrazu {
    std::string nazev;     // the score's name, as the title
    int64_t vzorku = 0;    // the WAV's length
    // Bar lines and beats in seconds (Hudba::mrizka), and the number of the
    // bar that begins at the first of those bar lines.
    std::vector<double> takty, doby;
    int prvnitakt = 2;
};

// The SVG file's text: the notes that sound of the music as written.
std::string kresliobraz(const Hudba& hudba, const Obalka& obalka, const PopisObrazu& popis);

}  // namespace skladba
