// The engine's run: start-up, the command loop over the whole score, and the
// finish that hands the complete mix and the music as written to a writer
// the caller chooses. The engine writes no file of its own: the
// run sequence above it (output/vyroba.h) writes the WAV, the MIDI file, the
// piano roll and sheet music, or keeps them in memory.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "base/kodovani.h"
#include "base/nota.h"
#include "base/hudba.h"
#include "base/stav.h"
#include "engine/pozorovatel.h"
#include "synth/mix.h"

namespace skladba {

struct Pamatkrivky;
struct Pamatrejstriku;

// The files of one run, chosen by the command line. The defaults are those of
// a run without arguments, in the current directory. The engine reads the
// score and the registers and mixes in the mix file; the outputs are the
// run sequence's (output/vyroba.h).
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

// What the engine reports while it reads a long score, for a progress line.
struct Postup {
    int procent = 0;         // of the score read
    int64_t noty = 0;        // notes mixed so far
    int64_t vzorku = 0;      // the end of the mix so far
    bool hotovo = false;     // the score is read: the line can go
};

struct Nastaveni {
    Cesty cesty;
    // The score's bytes in memory, read instead of cesty.partitura (which
    // then only names it); they must outlive the run.
    const std::string* text = nullptr;
    // A progress line on standard error while a long render runs (only when
    // it is a terminal): printed by the run sequence from sledovanipostupu.
    bool postup = false;
    std::function<void(const Postup&)> sledovanipostupu;
    // Sums of the mix file that did not read back as written, as they are
    // found (after each command and after the final flush).
    std::function<void(const std::vector<Nesouhlas>&)> hlasenesouhlasy;
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
    // What the sound is written as (-o piece.flac, --quality, --title).
    Kodovani kodovani;
    // Another observer that sees every command, note, step back and bar line
    // the run's own sees (the player's bar lines); null: none.
    Pozorovatel* pozorovatel = nullptr;
    // A render also gives the check's summary (Vysledek::souhrn).
    bool souhrn = false;
    // The music as written (Vysledek::hudba): every note in written time
    // with its voice, the tempo map and the bar lines.
    bool hudba = false;
    // Notes left out of the mix, by their index in the music as written
    // (true at Hudba::udalosti's index of each; the same score places its
    // notes in the same order): a voice muted, or all but the soloed ones.
    // They are placed, timed and reported as ever, and the piece keeps its
    // length; they only add nothing to the sums.
    std::vector<bool> vynechat;
    // The peak the WAV is scaled by instead of the mix's own (0: its own):
    // the full score's, so that the voices left sounding keep the level
    // they have in the full render. A sum beyond it is clipped.
    double pevnemaximum = 0.0;
    // With --master (kodovani.master): where each voice's notes stand in the
    // stereo field, by their index in the music as written (Hudba::udalosti;
    // the same score places its events in the same order), -1 left to 1
    // right; notes past the end stand in the centre.
    std::vector<double> polohy;
    // Records what the mix takes and makes only the stretch of samples it
    // asks for (synth/zaznammixu.h), for a render that remakes part of the
    // last one's mix; null: the whole mix, unrecorded.
    Zaznammixu* zaznammixu = nullptr;
    // Tempo curve stretches kept across runs of the same score
    // (engine/pamatkrivky.h); null: none.
    Pamatkrivky* krivky = nullptr;
    // Register segments read by earlier runs of the same score
    // (synth/rejstrik.h); null: each run reads its own.
    Pamatrejstriku* pamatrejstriku = nullptr;
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
    // With Nastaveni::hudba (which the run sequence sets for a MIDI file,
    // sheet music or a piano roll): the music as written.
    Hudba hudba;
    // The engine state as the run left it, for tools and tests.
    Stav stav;
    Pocty pocty;
    // What the mix counted: the peak, the end of the mix, the mix file's
    // repeated writes, mismatches and traffic.
    Vysledekmixu mix;
};

// What a complete render hands to its writer: the mix (its length in bytes
// and the largest absolute sum it held), and what the writer asked for.
struct Hotovo {
    Mix& mix;                        // with --master: the left channel
    int64_t mixbajtu = 0;
    double maximum = 0.0;
    const Hudba* hudba = nullptr;    // the music as written, with Nastaveni::hudba
    // The score's first comment that is no directive, as its bytes stand,
    // for the title of a compressed output (Nastaveni::kodovani not a WAV).
    std::string komentar;
    // What the title: and composer: directives say (UTF-8; empty: none).
    std::string nazev, autor;
    Mix* pravy = nullptr;            // with --master: the right channel, as long as mix
};

// Who writes what a render made. The engine calls priprav once the score is
// open and the mix file made, before the first command, and zapis once the
// mix is complete; a ChybaSouboru from either fails the run with its message.
class Zapisovac {
public:
    virtual ~Zapisovac() = default;
    // Nothing is rendered yet: refuse an output that cannot be written, and
    // read what writing will need. Also called by a check of the score, so
    // that it reports what the render would.
    virtual void priprav() {}
    virtual void zapis(const Hotovo& hotovo) = 0;
};

// Runs one score in a context of its own and hands the result to zapisovac
// (none: nothing is written). Never exits the process and never leaves the
// mix file behind. Runs one after another in one process share nothing.
Vysledek spust(const Nastaveni& nastaveni, Zapisovac* zapisovac = nullptr);

}  // namespace skladba
