// The note command: one note or rest of the score, from its letter to the
// segment it plays, its start sample and the step of the time cursor.
#pragma once

#include <cstdint>

namespace skladba {

// Renders the note or rest named by znak ("a", "c".."h", or "p"): applies the
// relative octave rule, works out the segment index, picks the start sample
// (jittered once polyphony has been used), mixes the segment there at the
// current volume, then moves the time cursor on by one note value.
void ulozton();
// The dot ("."): a rest of the current value, which is double the note's
// (the caller doubles it), reported as a dot; with a release it also
// lengthens the note that waits for its release.
void uloztecku();
// Mixes the note that waits for its release, if any: called where a note
// can no longer be lengthened (a register change, the end of the score).
void doznej();

void zvysoktavu();   // octave up, at most to 60
void snizoktavu();   // octave down, at least to 0

// Called, when set, for every note and rest as it is mixed: its start
// sample, segment index and volume. For tools that replay or analyse a
// score (the benchmark's in-memory reference); the renderer never needs it.
using SledovaniNoty = void (*)(int64_t start, int64_t segment, int sila);
extern SledovaniNoty sledovaninoty;

// When false, notes are placed, checked and reported but not mixed: the
// check of a score renders nothing.
extern bool mixovat;

// The start-jitter generator: a fixed linear congruential sequence from
// state 1, so every run on every machine draws the same numbers (0..32767).
int nahodne();

}  // namespace skladba
