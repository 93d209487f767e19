// The notes sheet music writes: the music as written (base/hudba.h) on a
// grid of ticks, every note spelled in the key in force, with its part, the
// measures with their metre and key, and the tempo marks.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "base/hudba.h"
#include "base/nota.h"

namespace skladba {

// One note or rest as the score wrote it.
struct ZapsanyTon {
    int64_t zacatek = 0;     // ticks from the start of the piece
    int64_t delka = 0;       // ticks, the dots written after it included; 0: takes no time
    int64_t hodnota = 0;     // the value's divisor as written (4: a quarter), for its tuplet
    int32_t hlas = 0;        // the voice, numbered from 0
    char reg = '1';          // register character
    bool pauza = true;       // a rest (also a note on the silent segment 0)
    char krok = 'C';         // the letter: C D E F G A B
    int8_t alter = 0;        // semitones, -2 to 2
    int8_t oktava = 4;       // the octave of the letter (C4 is middle C)
    uint8_t klavesa = 0;     // MIDI key, segment + 36
    uint8_t sila = 100;      // volume in percent
    int32_t cast = -1;       // the part a directive named (Zapis::casti), -1: by register
};

// A tempo mark: a metronome mark of a "t", a curve's "rit." or "accel."
// with the tempo it reaches, "a tempo" where it ends.
struct ZnackaTempa {
    enum class Druh : uint8_t { metronom, ritardando, accelerando, atempo, plynule };   // plynule: playback only, no mark
    int64_t tik = 0;
    Druh druh = Druh::metronom;
    int metronom = 0;        // quarter notes a minute, a whole number
    double tempo = 0;        // what it plays: quarter notes a minute from here
};

// A measure: where it starts and how long it is, its metre (its beats in
// units of 1/jmenovatel, a compound metre's dotted) and the key in force.
struct TaktZapisu {
    int64_t zacatek = 0, delka = 0;
    int citatel = 4, jmenovatel = 4;
    std::vector<int> doby;
    bool slozene = false;
    int kvinty = 0;
};

struct Zapis {
    int64_t celanota = 4;                 // ticks per whole note, a multiple of 4
    // The measures, from the start (a pickup first); empty: bars of metrum.
    std::vector<TaktZapisu> takty;
    std::string nazev, autor;             // the title and composer directives (empty: none)
    std::vector<std::string> casti;       // the parts the directives name
    std::vector<ZapsanyTon> tony;         // in the order of the score
    std::vector<ZnackaTempa> tempa;       // in the order of time
    // The time signature the bar lines show (4/4 when they show none).
    Metrumtaktu metrum;
    int kvinty = 0;                       // the key signature: sharps (+) or flats (-)
};

// Limits that keep the file of an enormous score within reason.
struct MezeNotopisu {
    int64_t bunek = 4'000'000;            // measures times parts
    size_t bajtu = size_t{256} << 20;     // bytes of the file
};

// The notes of the music as written, for sheet music; false, with why,
// when it holds more than sheet music can.
bool zapiszhudby(const Hudba& hudba, const MezeNotopisu& meze, Zapis& zapis, std::string& chyba);
// The key signature (fifths, -7 to 7) whose major scale holds the most of
// these MIDI keys; the fewest accidentals among equals.
int odhadnitoninu(const std::vector<int>& klavesy);
// The alteration the key signature of kvinty fifths gives a letter (C to B).
int alterklice(int kvinty, char krok);

}  // namespace skladba
