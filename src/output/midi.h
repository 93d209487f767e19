// The Standard MIDI File (format 1) of a render: a tempo track, then one
// track per register used, each on a channel of its own, with every
// sounding note in the order of time.
//
// Time. A tick is a fixed number of samples (or a fixed fraction of one)
// only when the tempo in microseconds per quarter is exact, which it is for
// the two choices made here:
//   - under one tempo and no curve, the file's tempo is the engine's
//     quarter note (a quarter of the whole-note length in samples,
//     rounded to the microsecond) and a quarter is 960 ticks, so notation
//     programs read the values as written: 960 divides into halves down to
//     64ths, triplets and quintuplets;
//   - otherwise (several tempos, a curve) the file runs at 120 quarters per
//     minute with 11025 ticks a quarter: one tick is one sample, exactly.
// Every start and end is converted from its sample through the file's own
// tempo and division and rounded to the nearest tick.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "base/nota.h"

namespace skladba {

struct CasMidi {
    int32_t deleni = 0;     // ticks per quarter note
    int32_t tempo = 0;      // microseconds per quarter note
};

// The time base for a piece: celatempa is the one whole-note length in
// samples its notes were all placed at, or 0 when there was none.
CasMidi casmidi(int64_t celatempa);
// The tick nearest to a sample.
int64_t tikmidi(const CasMidi& cas, int64_t vzorek);
// Velocity 1 to 127 for a volume of 1 to 100 percent: 127 times the square
// root of the factor, so that a synthesizer following the General MIDI
// curve (40 log10 of velocity / 127 dB) plays the balance as skladba does.
int rychlostmidi(int sila);

// The bytes of the file: nazev names the piece in the tempo track;
// vychozireg is the register of a piece with no notes, whose one track stays
// empty. noty in the order they were placed.
std::string bajtymidi(const std::vector<Nota>& noty, int64_t celatempa, const std::string& nazev,
                       char vychozireg);

}  // namespace skladba
