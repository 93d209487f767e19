// Registers played from a SoundFont by FluidSynth.
//
// Segment k is MIDI key k + 36 (segment 33, key 69, is A 440), struck at the
// chosen velocity, held, released, and left to die away; the segment starts
// with a 2 ms fade-in and ends with a 30 ms fade-out, and segment 0 is
// silent. Each note is played on a freshly reset synthesizer, so no tail of
// one note (or its reverb) reaches the next.
//
// SoundFonts are often tuned a few cents off, and their ensembles spread
// around the pitch; a register must be in tune with the others it plays
// with. So each note is measured (refinePitch, its fundamental from 0.1 s
// on) and, when more than half a cent off, played again on a key retuned by
// the difference.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "registers/level.h"
#include "registers/loop.h"

namespace skladba::registers {

struct Preset {
    int bank = 0;
    int program = 0;
    std::string name;
};

// Keys are held for the whole segment by default, so that its sound is the
// held note's and can be looped; a --hold below 4 s releases them sooner.
inline constexpr double kDefaultHoldSeconds = 4.0;

struct SoundFontOptions {
    std::string soundfont;   // path of the .sf2 file
    std::string preset;      // "BANK:PROGRAM" or a part of a preset name
    int velocity = 100;      // 1..127
    bool reverb = false;
    bool chorus = false;
    double holdSeconds = kDefaultHoldSeconds;  // key down this long, then released
    bool tune = true;  // retune each key to its segment's pitch
};

// The presets of `soundfont`, by bank and program. Errors read "FILE: why".
bool listPresets(const std::string& soundfont, std::vector<Preset>& presets, std::string& error);

// Picks the preset named by `preset`: "BANK:PROGRAM", or a case-insensitive
// part of one preset's name (a name equal to the whole of one preset's name
// wins over names that merely contain it). An unknown or ambiguous name
// fails with `error` naming the candidates.
bool choosePreset(const std::vector<Preset>& presets, std::string_view preset, Preset& chosen, std::string& error);

struct SoundFontReport {
    Preset preset;              // the preset played
    std::vector<int> borrowed;  // segments whose keys the preset makes no sound for
    std::vector<int> silent;    // those of them that stay silent all the same
    // By segment, the loop of the samples the note played (soundfont_samples.h).
    std::vector<SampleLoop> loops;
};

// Plays every segment, and says for each the loop its samples bring. A segment whose key the preset makes no sound for
// is played from the nearest key it does sound (the higher of two equally
// near), pitched to the segment and retuned like the others.
bool renderSoundFont(const SoundFontOptions& options, Segments& segments, SoundFontReport& report,
                     std::string& error);

std::string fluidSynthVersion();

}  // namespace skladba::registers
