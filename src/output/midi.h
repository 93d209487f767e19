// The Standard MIDI File (format 1) of a render: a tempo track with the
// time signature, then one track per register used, each on a channel of its
// own with the General MIDI program nearest to the register, with every
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

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "base/hudba.h"
#include "base/nota.h"

namespace skladba {

// Velocity 1 to 127 for a volume of 1 to 100 percent: 127 times the square
// root of the factor, so that a synthesizer following the General MIDI
// curve (40 log10 of velocity / 127 dB) plays the balance as skladba does.
int rychlostmidi(int sila);

// The General MIDI program (0 to 127) nearest to a register of the build,
// or -1 for a register of some other character.
int programmidi(char reg);
// The channel (0 to 15) of the n-th register's track, counted from 0:
// channels in order, leaving out channel 10 (index 9), which General MIDI
// keeps for percussion; after the fifteenth they repeat.
int kanalmidi(size_t n);

// What the file holds besides the notes, and how it places them.
struct PopisMidi {
    std::string nazev;            // names the piece in the tempo track
    char vychozireg = '1';        // the one, empty track of a piece with no notes
    Metrumtaktu metrum;           // the time signature, from the bar lines
    // Notes start where the time cursor put them, without the start jitter,
    // so that notation programs read them on the written grid.
    bool mrizka = false;
};

// The bytes of the file: a tempo track with the piece's name, the time
// signature and the tempo map, then one track per voice and register, named
// after both, on the register's channel with its General MIDI program.
std::string bajtymidi(const Hudba& hudba, const PopisMidi& popis);

}  // namespace skladba
