// The command line: options as GNU tools take them (before or after the
// score, "--" ends them, "--name=value" or "--name value", "-o value" or
// "-ovalue"), and the files of the run that follow from them.
#pragma once

#include <string>
#include <vector>

#include "engine/beh.h"

namespace skladba {

struct Volby {
    std::vector<std::string> partitury;   // the score (at most one is allowed)
    std::string vystup;                   // -o, --output; empty: the default
    std::string rejstriky;                // --registers
    bool hlidat = false;                  // --watch
    std::string dozvuk;                   // --release MS, as written
    bool sdozvukem = false;               // --release was given
    bool kontrola = false;                // --check
    bool tichy = false;                   // -q, --quiet
    std::string midi;                     // --midi
    bool midimrizka = false;              // --midi-grid
    std::string obraz;                    // --piano-roll
    std::string musicxml;                 // --musicxml
    std::string format;                   // --format NAME, as written
    std::string kvalita;                  // --quality 0-10, as written
    std::string nazev;                    // --title
    std::string autor;                    // --artist
    bool hrat = false;                    // skladba play
    std::string od;                       // --from (play), as written
    bool napoveda = false;                // --help
    bool verze = false;                   // --version
    std::string pametmixu;                // --mix-memory MIB, as written
    bool master = false;                  // --master
    std::string prostor;                  // --room 0-100, as written
    std::string panorama;                 // --pan on|off, as written
    std::string hlasitost;                // --loudness LUFS, as written
};

// Reads the arguments; false with a message for a usage error. After
// "play" (argv[1]) they are those of skladba play.
bool rozeberargumenty(int argc, char** argv, Volby& volby, std::string& chyba);

extern const char napoveda[];
extern const char napovedahrani[];

// What the sound of the run is written as: --format, else the extension of
// the output. False with a message (a usage error, exit status 2, before
// anything is rendered) for an extension of a format skladba does not
// write, a format this build cannot write, or --quality for a lossless one.
bool urcikodovani(const Volby& volby, const Cesty& cesty, Kodovani& kodovani, std::string& chyba);

// --master and its settings (--room, --pan, --loudness). False with a
// message (a usage error) for a setting without --master, or --master in a
// build without what it needs.
bool urcimaster(const Volby& volby, Master& master, std::string& chyba);

// What --master will do, one line a step, for --check.
std::vector<std::string> popismasteru(const Master& master);

// The folder part of a path, with its slash ("" for a bare name).
std::string slozkacesty(const std::string& cesta);

// A folder of the installation, given relative to the folder of the
// installed programs ("../share/skladba/rejstriky"), seen from the running
// program: climbing out of its folder by name, so that messages show a
// plain path.
std::string slozkainstalace(const std::string& program, const std::string& relativni);

// The files of the run the options ask for: the score and how messages name
// it, the WAV, the mix file beside it and the register folder. A ChybaSouboru
// (exit status 1) for a choice that cannot work: an output that would replace
// the score, a folder that is missing or cannot be written, no registers.
Cesty urcicesty(const Volby& volby);

}  // namespace skladba
