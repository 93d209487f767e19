// The note command: one note or rest of the score, from its letter to the
// segment it plays, its start sample, how long it sounds and the step of the
// time cursor.
#pragma once

#include <cstdint>

#include "base/stav.h"
#include "engine/kontext.h"
#include "score/jazyk.h"

namespace skladba {

// Renders the note or rest its command character names ("a", "c".."h", or
// "p"): applies the
// relative octave rule, works out the segment index, picks the start sample
// (jittered once polyphony has been used), mixes the segment there at the
// current volume (with a release, once the next note, a register change or
// the end shows how long it sounds), then moves the time cursor on by one
// note value.
void ulozton(Kontext& k, const Parametr& a);
// The dot ("."): a rest of half the current value; it also lengthens the
// note or rest right before it.
void prikaztecka(Kontext& k, const Parametr& a);
// Completes the note or rest that waits for the dots after it, if any:
// called where it can no longer be lengthened (a register change, the end
// of the score).
void doznej(Kontext& k);

// How long a note sounds, given its length (its value and the dots right
// after it): its whole segment, or with a release (dozvuk samples of fade)
// its length and the fade, within the segment. The one place this is worked
// out; the mix, the check, the MIDI file and the piano roll take it from the
// note.
struct Zneni {
    int64_t utlum = 0;   // where the fade begins
    int64_t zni = 0;     // where the sound ends
};
// With a sustain loop (smycka), a note whose length and fade pass the end
// of its segment sounds them whole, repeating the loop; shorter notes are
// as without one.
Zneni zneni(int64_t delka, int64_t dozvuk, bool smycka = false);

void zvysoktavu(Stav& s);   // octave up, at most to 60
void snizoktavu(Stav& s);   // octave down, at least to 0

// The start-jitter generator: a fixed linear congruential sequence from
// state 1, so every run on every machine draws the same numbers (0..32767).
int nahodne(Stav& s);

}  // namespace skladba
