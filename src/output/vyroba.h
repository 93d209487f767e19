// The run sequence above the engine: one render of a score and what it
// makes, written as files beside each other (the command line) or kept in
// memory (the editor's server). The engine (engine/beh.h) reads the score
// and mixes; this writes the WAV, the MIDI file, the piano roll and sheet
// music from what it hands over, so that the command line and the server
// make their outputs the one way.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

#include "engine/beh.h"
#include "output/obalka.h"

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

// The files a render makes beside its sound (the rows of vystupy below).
constexpr size_t pocetvystupu = 3;

// What a render made, in memory.
struct Vyrobek {
    Vysledek vysledek;
    std::string wav;        // the WAV file's bytes, when the render succeeded
    // The files beside it, by their row in vystupy: those n.cesty names.
    std::array<std::string, pocetvystupu> soubory;
};

// The same render with every output kept in memory and no file written but
// the mix file: n.cesty's output names only say which outputs to make.
// Prints nothing.
Vyrobek vyrobvpameti(const Nastaveni& n);

// The files a render makes beside its sound, one row each: the option that
// names one, where the run's paths and a render in memory keep it, what it
// needs besides the music as written (which they all read), and how it
// writes its bytes. The command line, the run and the server ask this
// table; an output more is a row more.
struct Vystup {
    const char* volba;               // the command line's option: "--midi"
    const char* klic;                // the editor's name for it: "midi"
    const char* pripona;             // its files' extension: "mid"
    const char* typ;                 // its media type: "audio/midi"
    std::string Cesty::*cesta;       // its file (empty: not made)
    bool obalka;                     // it draws the WAV's waveform, so is made once the WAV is
    // Its bytes; a ChybaSouboru when it cannot be written.
    std::string (*bajty)(const Hudba& hudba, const Nastaveni& n, int64_t vzorku, const Obalka* obalka);
};
extern const Vystup vystupy[pocetvystupu];

// A render's mix held in memory as its sums (output/prirustek.h), with the
// peak that scales them.
struct Sumy {
    const int32_t* sumy = nullptr;
    int64_t pocet = 0;
    double maximum = 0;
};
// One of a render's files made when it is asked for from such a mix (r,
// with its music as written): "wav", or the extension of a row of vystupy.
// The same bytes as vyrobvpameti's; empty for any other name.
std::string vyrobzesum(const Nastaveni& n, const Vysledek& r, const Sumy& s, const std::string& pripona);

}  // namespace skladba
