// The score as sheet music needs it: every note and rest as it was written,
// in ticks of a grid fine enough for every value the score used. The engine
// collects it (engine/notace.h); the MusicXML writer reads it.
#pragma once

#include <cstdint>
#include <vector>

#include "base/nota.h"

namespace skladba {

// One note or rest as the score wrote it.
struct ZapsanyTon {
    // What the tempo does from this note on.
    enum class Tempo : uint8_t {
        nic,          // nothing new
        metronom,     // a tempo from "t": a metronome mark
        ritardando,   // a curve that slows down starts here: "rit."
        accelerando,  // one that speeds up: "accel."
        atempo,       // the curve ended: "a tempo" with a metronome mark
        plynule,      // under a curve: the tempo for playback only, no mark
    };

    int64_t zacatek = 0;     // ticks from the start of the piece
    int64_t delka = 0;       // ticks, the dots written after it included; 0: takes no time
    int64_t hodnota = 0;     // the value's divisor as written (4: a quarter), for its tuplet
    int32_t hlas = 0;        // the score's voice, numbered from 0 in order of appearance
    char reg = '1';          // register character
    bool pauza = true;       // a rest (also a note on the silent segment 0)
    char krok = 'C';         // the letter: C D E F G A B
    int8_t alter = 0;        // semitones, -2 to 2
    int8_t oktava = 4;       // the octave of the letter (C4 is middle C)
    uint8_t klavesa = 0;     // MIDI key, segment + 36
    uint8_t sila = 100;      // volume in percent
    Tempo zmenatempa = Tempo::nic;
    double tempo = 0;        // quarter notes per minute from here, with zmenatempa
    int metronom = 0;        // the number of a metronome mark
};

struct Zapis {
    int64_t celanota = 4;                 // ticks per whole note, a multiple of 4
    std::vector<ZapsanyTon> tony;         // in the order of the score
    // The time signature the bar lines show, as the engine's overview found
    // it (4/4 when they show none); set by the run before writing.
    Metrumtaktu metrum;
};

}  // namespace skladba
