// The run sequence: start-up, the command loop over the whole score, and the
// finish that turns the mix into the WAV.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "base/hudba.h"
#include "base/stav.h"
#include "engine/pozorovatel.h"

namespace skladba {

// The files of one run, chosen by the command line. The defaults are those of
// a run without arguments, in the current directory.
struct Cesty {
    std::string partitura = "aktualni.txt";        // "-": standard input
    std::string jmenopartitury = "aktualni.txt";   // how messages name the score
    std::string vystup = "aktualni.wav";           // "-": standard output
    std::string mix = "_.tmp";
    std::string rejstriky = "rejstriky";           // registers and the header template
    std::string midi;                              // the MIDI file, if one is wanted
    std::string obraz;                             // the piano roll (SVG), if one is wanted
    std::string musicxml;                          // sheet music (MusicXML), if it is wanted
};

struct Nastaveni {
    Cesty cesty;
    // A progress line on standard error while a long render runs (only when
    // it is a terminal).
    bool postup = false;
    // Once the WAV is in place an interruption no longer fails the run. Watch
    // mode, which renders again and again until interrupted, turns this off.
    bool uspechjekonecny = true;
    // The files written are put on disk before they replace the previous
    // ones. The editor in the browser, whose renders are scratch files it
    // serves at once and never keeps, turns this off.
    bool nadisk = true;
    // --release: each note sounds for its value, then fades out over this
    // many milliseconds (at least 5). 0: notes ring for their whole segment.
    int dozvukms = 0;
    // --midi-grid: the MIDI file's notes start where the time cursor put
    // them, on the written grid, without the start jitter.
    bool midimrizka = false;
    // Look for likely misreadings of the score (Vysledek::varovani).
    bool varovani = false;
    // Read the score without rendering: no mix file and no WAV. The
    // registers are loaded when their folder is known (Cesty::rejstriky not
    // empty), so that a missing one is the usual error; without it the check
    // needs none. The warnings and a summary come back in Vysledek.
    bool kontrola = false;
    // Limits of the run (a caller may tighten them, as the fuzz target does).
    Meze meze;
    // For tools that follow every note as it is placed.
    SledovaniNoty sledovaninoty;
    // Called for every command read, with where it stands and where its
    // argument ends: for the test that holds the engine and the check of a
    // score to one reading of the language.
    std::function<void(int64_t pozice, int64_t po)> sledovaniprikazu;
    // A render also gives the check's summary (Vysledek::souhrn).
    bool souhrn = false;
    // Keep every sounding note, with its place in the score
    // (Vysledek::seznamnot).
    bool seznamnot = false;
    // The music as written (Vysledek::hudba): every note in written time
    // with its voice, the tempo map and the bar lines.
    bool hudba = false;
};

// A warning or an error in the score, for a program that marks it in the
// text: the byte offset of its place, the line and column that messages
// give for it, and what it says without the score's name and the place.
struct Hlaseni {
    int64_t pozice = -1;   // -1: the failure is not in the score
    int64_t radek = 0;
    int64_t sloupec = 0;
    std::string text;
};

struct Vysledek {
    int status = 0;        // the process exit status: 0 success, 1 failure
    std::string zprava;    // what went wrong, without the program name
    int64_t vzorku = 0;    // samples of the WAV written
    int64_t noty = 0;      // notes mixed (rests and dots not counted)
    // "SCORE:LINE:COLUMN: warning: ..." lines, in the order of the score,
    // also when the run failed.
    std::vector<std::string> varovani;
    // The same warnings with their places (without the line that counts
    // the rest).
    std::vector<Hlaseni> mistavarovani;
    // An error of the score with its place; pozice -1 for other failures.
    Hlaseni mistochyby;
    // The check's summary (with --check, or Nastaveni::souhrn): duration,
    // notes, range, one line per voice.
    std::vector<std::string> souhrn;
    // With Nastaveni::seznamnot, after a render that wrote its WAV: the
    // sounding notes in the order they were completed, as the piano roll
    // draws them, each with the bytes of the score it comes from
    // (Nota::pozice and Nota::po).
    std::vector<Nota> seznamnot;
    // With Nastaveni::hudba (and whenever the run wrote a MIDI file, sheet
    // music or a piano roll, or checked the score): the music as written.
    Hudba hudba;
    // The engine state as the run left it (the peak, the end of the mix, the
    // counters), for tools and tests.
    Stav stav;
};

// Runs one score in a context of its own. Never exits the process and never
// leaves the mix file behind; the WAV is replaced only on success (or after
// a verification mismatch, which still reports failure). Runs one after
// another in one process share nothing.
Vysledek spust(const Nastaveni& nastaveni = Nastaveni{});

}  // namespace skladba
