// The engine state: the variables of the score's language (tempo, octave,
// note value, register, volume, the time cursor and the rest) through which
// the commands and the note renderer talk to each other, and what the
// reading counts against the run's limits (Pocty). What the mix counts (its peak,
// its end, the mix file's errors and traffic) is the mix's own
// (Vysledekmixu, synth/mix.h). A run holds one in its context (engine/kontext.h), so each
// run starts from a fresh one and two runs never share it.
#pragma once

#include <cstdint>

#include "base/format.h"

namespace skladba {

constexpr int synchrotempo = zaklad * 2;       // scale of the start jitter

struct Stav {
    int tempo = 120;             // whole-note length in samples once converted
    int puvodnitempo = 120;      // whole-note length set by the last "t"
    int oktava = 24;             // octave base of the next note, in semitones
    char minton = 'g';           // letter of the last note rendered
    int64_t hodnota = 4;         // note value divisor; 64-bit so a dot can double any value
    double rittempo = 1.0;       // current per-sample step of the tempo curve
    char reg = '1';              // current register character
    int synchropom = 50;         // jitter setting of the last "S"
    int sila = 100;              // volume in percent
    int64_t momcas = 0;          // time cursor: start sample of the next note
    int zmenaoktavy = 0;         // 1 when the next note's octave was set explicitly
    int posuvky = 0;             // accidental of the next note, in semitones
    double ritard = 0.0;         // tempo curve percentage; 0 means constant tempo
    double delta = 0.0;          // per-sample ratio of the tempo curve
    int transpose = 0;           // transposition in semitones
    int synchro = 0;             // active jitter divisor; 0 or less means none
    int64_t neprekladej = 0;     // comment nesting depth
    char znak = 0;               // the current character

    uint32_t nahoda = 1;         // state of the start-jitter generator
    int64_t pozicepovelu = 0;    // byte offset of the command being carried out
};

// What a run counts against its limits (Meze) as it reads the score.
struct Pocty {
    uint64_t krokykrivky = 0;    // tempo-curve steps computed so far
    int64_t pocetnot = 0;        // notes mixed so far (rests and dots not counted)
    uint64_t vzorkunot = 0;      // samples of notes mixed so far (also counted by a check)
};

// Limits a caller may tighten (the fuzz target does, to keep each input fast).
struct Meze {
    // Tempo-curve steps one run may compute. A curve costs one step per
    // nominal sample, and an accelerando or a long step back can ask for very
    // many from a short score; past this budget the score is refused instead
    // of keeping the machine busy. At about 0.3 billion steps a second this
    // is some 15 seconds; the longest piece the mix holds, written as four
    // voices entirely under a curve, needs about 3.8 billion.
    uint64_t krokykrivky = uint64_t{1} << 32;
    // Samples a piece may reach: the mix file's limit. A caller may lower it
    // so that the longest piece is quick to write and convert.
    int64_t skladba = nejdelsiskladba;
    // Bytes the notes may move between the mix cache and the mix file. An
    // ordinary piece moves about 13 times its mix file, a six-hour one some
    // 24 GiB; a short score whose voices jump back and forth beyond the cache
    // can ask for terabytes, at about 13 GiB a second. This stops it within
    // some 20 seconds and leaves every piece the mix can hold well inside.
    uint64_t prenosmixu = uint64_t{1} << 38;
    // Samples of notes a run may add into the mix: every note adds its four
    // seconds (88,200 samples; with a release, what it sounds), wherever it
    // lies, so a megabyte of stacked or very short notes asks for a minute or
    // more of adding. This is some 780,000 notes of four seconds, as many as
    // the longest piece the mix holds (6 h 45 min) at 30 notes a second, and
    // some 20 seconds of adding; a megabyte of stacked notes is refused
    // within that. The six-hour benchmark piece adds less than a quarter.
    uint64_t vzorkunot = uint64_t{1} << 36;
    // Bytes of mix held in memory before it moves to the mix file: 256 MiB
    // holds 67 million sums, some 50 minutes of mix. 0: the mix file from
    // the start.
    uint64_t pametmixu = uint64_t{256} << 20;
};

// Integer from a score number: truncated toward zero and saturated to the
// 32-bit range, so an enormous number means "as large as possible", not a
// wrapped negative one. Not-a-number reads as 0.
int nacele(double x);

}  // namespace skladba
