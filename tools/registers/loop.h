// Sustain loops for the registers the tool writes (the loop file format is
// the renderer's, synth/smycka.h).
//
// A held note sounds its segment's recording for as long as it lasts, then
// repeats a loop cut from the recording's end, so what a listener hears
// past four seconds continues what came before. How it continues depends
// on the kind of sound:
//
// - a sustaining register (an organ, strings, a flute) repeats its loop at
//   the level the sound had where the loop starts;
// - a decaying one (a piano, a guitar) goes on dying away at the rate its
//   recording fell over its last 1.5 s before the loop's end (3.9 s), in dB
//   a second, written beside the loop.
//
// The kind is the register's: decaying when the middle octave (segments 24
// to 35) falls, by the median of its segments, at least kDecayingDbPerSecond
// from 1 to 3.9 s; or as given by hand.
//
// A register leveled alike across its keys is leveled by each segment's
// first second. An instrument whose onset is louder against its sustain on
// some keys than on others (an ensemble's samples) then holds some keys
// louder than others. So, for a sustaining one, each loop carries the gain
// that brings a held note's sound (its loudness from 1 to 3.9 s) to the
// middle octave's (the median of its segments'), where they differ by more
// than kHeldLevelDb; a note that fits its segment is played as recorded.
//
// How a loop is chosen, segment by segment: it ends at 3.9 s (before the
// segment's end fade). Its start is the earliest from 0.5 s on for which
// the loop's level (a decaying sound's measured as if it did not fall)
// lies within 1 dB of the level of its first and of its last half second:
// the seam then joins sound of the same level. Its start is then moved by
// up to a few periods of the segment's pitch to where the sound just
// before the end best matches (by normalised cross-correlation) the sound
// just before the start, so that the seam joins in phase; a crossfade of up
// to 50 ms blends the two. For the synthesised timbres the loop is instead
// an exact whole number of periods (the count whose length comes nearest a
// whole number of samples).
//
// A register played from a SoundFont brings its samples' own loops
// (SampleLoop, from soundfont_samples.h): once every sample of the note is
// inside its loop, the rendered sound repeats at the loop's length, moved
// to the segment's speed. Such a loop is placed as late as it fits; its
// length is matched within 0.2 % (the synthesiser plays a cent or two off
// the pitch asked) and its start within a period, whichever seam matches
// best. Where the seam cannot join in phase because the length falls
// between two samples (a high note's period is a few samples), the fewest
// repeats of the loop, up to 8, that join are taken instead. It is taken
// when its seam matches (a correlation of at least 0.98), no step at its
// seam is larger than the largest inside the segment, and a note held on it
// for 8 s keeps its level (or its fall) within 1 dB or as well as one held
// on the loop found would; otherwise the loop found is used, and the tool
// says why. Where layered samples (an ensemble's two sides) loop at
// different lengths, the loop is the length that comes nearest a whole
// number of every layer's loops (SampleLoop::layered): every layer then goes
// on from about where the synthesiser would play it, so the note keeps the
// ensemble's ebb and flow, where a loop of another length would replay
// another part of it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "synth/smycka.h"

namespace skladba::registers {

// The loop a segment's samples bring with them, in samples of the segment.
struct SampleLoop {
    double length = 0.0;  // 0: none
    int earliest = 0;     // from here on every sample of the note is inside its loop (or has ended)
    int latest = delkatonu;  // the loop ends by here (where the key is released)
    std::string none;     // why there is none, as "its sample has no loop"
    // Where layered samples loop at different lengths: the length, a whole
    // number of one layer's loops, that comes nearest a whole number of each
    // other's, when one fits after `earliest` (else 0).
    double layered = 0.0;
};

// Whether a register's held notes hold their level or die away.
enum class Sound { guess, sustaining, decaying };
inline constexpr double kDecayingDbPerSecond = 2.0;
inline constexpr double kHeldLevelDb = 1.0;

const char* soundName(Sound sound);  // "sustaining", "decaying"

struct LoopChoice {
    bool exactPeriods = false;        // the synthesised timbres
    std::vector<SampleLoop> samples;  // by segment, for a register played from a SoundFont
    Sound sound = Sound::guess;       // given by hand, or found
    // A sustaining register whose segments were leveled alike: its held
    // notes are leveled alike too (LoopReport).
    bool evenHeld = false;
};

// Where a segment's loop came from.
struct LoopSource {
    enum Kind { none, sample, layered, found, periods, given } kind = none;
    std::string why;  // for a loop found although the segment had a SampleLoop entry: why it was not taken
};

// How fast segment x falls, in dB a second (negative when it rises), by a
// least-squares line through the levels of its 50 ms frames from `from` to
// `to` seconds.
double decline(const int16_t* x, double from, double to);

// The loop of segment k (delkatonu samples at x) for a note that falls by
// `dbPerSecond` once it repeats (0: it holds); no loop for silence.
Smycka findLoop(const int16_t* x, int k, const LoopChoice& choice, double dbPerSecond = 0.0,
                LoopSource* source = nullptr);

// What writeLoopFile found: the register's kind of sound, the middle
// octave's median fall from 1 to 3.9 s, and where each segment's loop came
// from.
struct LoopReport {
    Sound sound = Sound::sustaining;
    bool given = false;  // the kind was given by hand
    double middleDecline = 0.0;
    std::vector<LoopSource> sources;
};

// Writes the loop file beside the register at registerPath for the
// register's samples, a loop for every sounding segment (or the loops
// given: loops[k].je()). Errors read "cannot write PATH: why".
bool writeLoopFile(const std::string& registerPath, const std::vector<int16_t>& samples, const LoopChoice& choice,
                   std::string& error, const std::vector<Smycka>& given = {}, LoopReport* report = nullptr);

}  // namespace skladba::registers
