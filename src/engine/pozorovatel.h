// What the commands tell an observer as they carry out the score: every
// command read, every note and rest placed and then how long it sounds,
// every step back and every bar line. The renderer itself needs none of it;
// the run sequence sets an observer when the score is checked or a MIDI file,
// a piano roll or sheet music is asked for, and nothing is kept otherwise.
#pragma once

#include <cstdint>
#include <functional>

#include "base/nota.h"

namespace skladba {

// A note, rest or dot as the note command placed it.
struct UlozenaNota {
    Nota nota;               // segment 0 for a rest or a dot; how long it sounds is not known yet
    int64_t kurzor = 0;      // the cursor before it: its start without jitter
    int64_t hodnota = 0;     // the value's divisor as placed (a dot's: twice the value)
    int64_t celatempa = 0;   // whole-note length in samples at the time (under a curve, its base)
    bool krivka = false;     // placed under a tempo curve
    bool pismeno = false;    // a note letter (not a rest), whatever segment it reached
    bool prodlouzila = false; // a dot that lengthened the note or rest before it (the dot rule's choice)
    // As written, for notation: the letter ("p" for a rest or a dot), the
    // sharps (+) or flats (-) before it, the transposition in force, and the
    // tempo curve's percentage (0: none).
    char znak = 'p';
    bool oktava = false;     // its octave written with o, so the relative rule left it alone
    int posuvky = 0;
    int transpozice = 0;
    double ritard = 0.0;
    // A note letter on a segment that the register loaded holds as silence
    // (all its samples zero); known only where registers are loaded.
    bool ticho = false;
};

// A note or rest as it is placed, for tools that replay or analyse a score
// (the benchmark's and the fuzz target's in-memory references); the
// renderer never needs it.
struct SledovanaNota {
    int64_t start = 0;
    int64_t segment = 0;
    int sila = 0;
    char reg = 0;
    const int16_t* vzorky = nullptr;   // the segment's samples as the wavetable holds them now
};
using SledovaniNoty = std::function<void(const SledovanaNota&)>;

class Pozorovatel {
public:
    virtual ~Pozorovatel() = default;
    // A command character at byte pozice whose argument ends before po.
    virtual void prikaz(int64_t pozice, int64_t po) { (void)pozice, (void)po; }
    // Placed: in the order of the score, as each note, rest or dot is read.
    virtual void nota(const UlozenaNota&) {}
    // Complete: a note, rest or dot once its dots are read and it is known
    // how long it sounds (a dot at once, a note or rest when the next note
    // or rest, a register change or the end of the score comes).
    virtual void hotova(const Nota&) {}
    // A step back of hodnot note values (1, N, or 1.5 for "-.") of the value
    // 1/hodnota; kurzor is where the time cursor stands after it.
    virtual void zpet(double hodnot, int64_t hodnota, int64_t kurzor, int64_t pozice) {
        (void)hodnot, (void)hodnota, (void)kurzor, (void)pozice;
    }
    // A "t" or "r" that changed the tempo or the tempo curve, and so what a
    // step back over the notes before it unwinds.
    virtual void tempo(int64_t pozice, bool krivka) { (void)pozice, (void)krivka; }
    // A bar line "|" outside a comment.
    virtual void takt(int64_t pozice) { (void)pozice; }
};

}  // namespace skladba
