// The Standard MIDI File (format 1) of a render, from the music as written
// (base/hudba.h): a tempo track with the time signature and the tempo map,
// then one track per voice and register, named after both, on the
// register's channel with the General MIDI program nearest to it.
//
// Time. A quarter is always 960 ticks, and every note starts on the tick of
// its written position (moved by its start jitter as the WAV plays it,
// unless --midi-grid asks for the grid alone), so notation programs read the
// values as written: 960 divides into halves down to 64ths, triplets and
// quintuplets. The tempo map follows the time cursor of the WAV: a tempo
// event at every "t" and every change of a curve, and wherever else the
// file's clock would drift more than 0.2 ms from where the WAV plays a note,
// as under a curve.
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
