// The run sequence above the engine: one render of a score and what it
// makes, written as files beside each other (the command line) or kept in
// memory (the editor's server). The engine (engine/beh.h) reads the score
// and mixes; this writes the WAV, the MIDI file, the piano roll and sheet
// music from what it hands over, so that the command line and the server
// make their outputs the one way.
#pragma once

#include <cstdint>
#include <string>

#include "engine/beh.h"

namespace skladba {

// Renders n.cesty's score and writes the outputs n.cesty names: the WAV
// (vystup, "-" for standard output), and beside it the MIDI file, the piano
// roll and sheet music when named. Each is written as NAME.part and put in
// place with the WAV only when all of them are complete; a failed or
// interrupted run keeps the previous files. A check (n.kontrola) writes
// nothing but reports what a render would refuse before rendering.
// Prints the progress line (n.postup, on a terminal) and the report of a
// mix file that did not read back as written.
Vysledek vyrob(const Nastaveni& n);

// What a render made, in memory.
struct Vyrobek {
    Vysledek vysledek;
    std::string wav;        // the WAV file's bytes, when the render succeeded
    std::string midi;       // with n.cesty.midi not empty
    std::string obraz;      // the piano roll (SVG), with n.cesty.obraz not empty
    std::string musicxml;   // sheet music, with n.cesty.musicxml not empty
};

// The same render with every output kept in memory and no file written but
// the mix file: n.cesty's output names only say which outputs to make.
// Prints nothing.
Vyrobek vyrobvpameti(const Nastaveni& n);

// A render's mix held in memory as its sums (output/prirustek.h), with the
// peak that scales them.
struct Sumy {
    const int32_t* sumy = nullptr;
    int64_t pocet = 0;
    double maximum = 0;
};
// One of the files vyrobvpameti makes, made when it is asked for from such
// a render (r, with its music as written): druh "wav", "mid", "musicxml" or
// "svg" (the piano roll, its waveform from the sums). The same bytes.
std::string vyrobzesum(const Nastaveni& n, const Vysledek& r, const Sumy& s, const std::string& druh);

}  // namespace skladba
