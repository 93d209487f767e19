#include "app/volby.h"

#include <cerrno>
#include <cstdio>

#include "base/chyba.h"
#include "base/jmeno.h"
#include "base/utf8.h"
#include "base/moznosti.h"
#include "output/formaty.h"
#include "output/master.h"
#include "output/vyroba.h"
#include "platform/system.h"

namespace skladba {

const char napoveda[] =
    "usage: skladba [OPTION]... [SCORE]\n"
    "       skladba play [OPTION]... SCORE      (hear SCORE through the sound server;\n"
    "                                          skladba play --help)\n"
    "       skladba serve [OPTION]... [SCORE]   (edit SCORE in a web browser and hear it as\n"
    "                                          you type; skladba serve --help)\n"
    "       skladba lsp [--registers DIR]       (a language server for editors on standard\n"
    "                                          input and output; skladba lsp --help)\n"
    "\n"
    "Renders SCORE, a text of one-character commands, to a 16-bit mono PCM WAV\n"
    "(22050 Hz) with the same name and the extension .wav (songs/kanon.txt gives\n"
    "songs/kanon.wav). A SCORE of - is read from standard input, and its WAV goes\n"
    "to standard output unless -o names a file. Without SCORE, renders aktualni.txt\n"
    "in the current directory to aktualni.wav. Prints nothing on success, except\n"
    "warnings about likely misreadings of SCORE on standard error.\n"
    "\n"
    "  -o, --output FILE     write the WAV to FILE (- for standard output); a FILE\n"
    "                        ending in .flac, .ogg, .mp3 or .opus is written in\n"
    "                        that format instead\n"
    "      --format NAME     wav, flac, ogg (Vorbis), mp3 or opus, whatever the\n"
    "                        name of the output (for -o -, or SCORE alone)\n"
    "      --quality N       0 (smallest) to 10 (best) for ogg, mp3 and opus\n"
    "                        (default 5)\n"
    "      --title TEXT      the title tag of a compressed output (default: the\n"
    "                        score's first comment)\n"
    "      --artist TEXT     its artist tag\n"
    "      --registers DIR   take the registers and the header template from DIR\n"
    "      --watch           render again every time SCORE is saved, until Ctrl-C;\n"
    "                        a SCORE emptied after a render with notes keeps its WAV\n"
    "      --release MS      let each note sound for its value, then fade out over\n"
    "                        MS milliseconds (5 to 10000) instead of ringing for\n"
    "                        the four seconds of its recording (longer only\n"
    "                        through the sustain loops beside its register)\n"
    "      --check           read SCORE without rendering: print its warnings and a\n"
    "                        summary (duration, notes, range, where each voice ends)\n"
    "  -q, --quiet           print no warnings about the score while rendering\n"
    "      --midi FILE       also write the notes as a Standard MIDI File, with the\n"
    "                        time signature of the bar lines and a General MIDI\n"
    "                        program per register\n"
    "      --midi-grid       start the MIDI file's notes on the written grid,\n"
    "                        without the start jitter (for notation programs)\n"
    "      --piano-roll FILE also draw the render as an SVG piano roll\n"
    "      --musicxml FILE   also write the score as sheet music (MusicXML 4.0)\n"
    "      --master          a render to share: 48 kHz stereo (a 24-bit WAV, or the\n"
    "                        format of -o), the voices spread from the lowest on\n"
    "                        the left to the highest on the right, a room,\n"
    "                        loudness -14 LUFS with true peaks at most -1 dBTP\n"
    "                        (--check says what each step does)\n"
    "      --room N          the room of --master: 0 (none) to 100 (a large hall),\n"
    "                        default 30 (a reverberation time of 1.1 s)\n"
    "      --pan off         --master with every voice in the centre\n"
    "      --loudness LUFS   the integrated loudness of --master, -40 to -6\n"
    "                        (default -14)\n"
    "      --mix-memory MIB  hold the mix, and the register segments read, in up to\n"
    "                        MIB mebibytes of memory (default 256, some 50 minutes of\n"
    "                        music); a longer piece moves to the mix file beside the\n"
    "                        WAV. 0: the file from the start, nothing kept\n"
    "  -h, --help            show this help and exit\n"
    "      --version         show the version and exit\n"
    "\n"
    "Registers (rejstrN.nes) are taken from the first folder that exists of:\n"
    "--registers DIR; rejstriky/ beside SCORE (the current directory without SCORE\n"
    "or for standard input); the folder named by SKLADBA_REJSTRIKY; the installed\n"
    "share/skladba/rejstriky.\n"
    "\n"
    "The registers a build makes: R1 organ, R2 flute, R3 plucked string, R4 piano\n"
    "(synthesised); R5 grand piano, R6 church organ, R7 strings, R8 flute, R9 nylon\n"
    "guitar (General MIDI instruments played from a SoundFont, made when FluidSynth\n"
    "and a SoundFont were found). skladba-registers(1) makes others, such as\n"
    "rejstr0.nes for R0.\n"
    "\n"
    "Exit status: 0 the WAV was written (with --check: the score would render);\n"
    "1 an error in the score or with a file;\n"
    "2 wrong arguments; 128 + N interrupted by signal N (130 for Ctrl-C).\n"
    "The score language is described in the README and in skladba(1).\n";

const char napovedahrani[] =
    "usage: skladba play [OPTION]... SCORE\n"
    "\n"
    "Renders SCORE and plays it through the sound server (PulseAudio, or PipeWire's\n"
    "PulseAudio service), with one status line on a terminal: the position and the\n"
    "length, the bar and beat (from the bar lines |) and the keys:\n"
    "  space pause and go on, Left / Right back / ahead 5 s, Home from the start,\n"
    "  q quit.\n"
    "Without a terminal it plays to the end with no status line.\n"
    "\n"
    "      --from TIME       start at TIME: 80, 1:20, 1:20.5 or bar:17\n"
    "      --watch           render again every time SCORE is saved and go on from\n"
    "                        the same place; an error keeps the last audio playing\n"
    "                        and shows on the status line\n"
    "      --registers DIR, --release MS, -q, --midi FILE, --midi-grid,\n"
    "      --piano-roll FILE, --musicxml FILE, --master, --room N, --pan off,\n"
    "      --loudness LUFS\n"
    "                        as for a render (skladba --help)\n"
    "  -h, --help            show this help and exit\n";

namespace {

// One line per option.
const Moznost<Volby> moznosti[] = {
    {"output", 'o', true, [](Volby& v, const std::string& h) { v.vystup = h; }},
    {"registers", 0, true, [](Volby& v, const std::string& h) { v.rejstriky = h; }},
    {"watch", 0, false, [](Volby& v, const std::string&) { v.hlidat = true; }},
    {"release", 0, true, [](Volby& v, const std::string& h) { v.dozvuk = h; v.sdozvukem = true; }},
    {"check", 0, false, [](Volby& v, const std::string&) { v.kontrola = true; }},
    {"quiet", 'q', false, [](Volby& v, const std::string&) { v.tichy = true; }},
    {"midi", 0, true, [](Volby& v, const std::string& h) { v.midi = h; }},
    {"midi-grid", 0, false, [](Volby& v, const std::string&) { v.midimrizka = true; }},
    {"piano-roll", 0, true, [](Volby& v, const std::string& h) { v.obraz = h; }},
    {"musicxml", 0, true, [](Volby& v, const std::string& h) { v.musicxml = h; }},
    {"mix-memory", 0, true, [](Volby& v, const std::string& h) { v.pametmixu = h; }},
    {"format", 0, true, [](Volby& v, const std::string& h) { v.format = h; }},
    {"quality", 0, true, [](Volby& v, const std::string& h) { v.kvalita = h; }},
    {"title", 0, true, [](Volby& v, const std::string& h) { v.nazev = h; }},
    {"artist", 0, true, [](Volby& v, const std::string& h) { v.autor = h; }},
    {"from", 0, true, [](Volby& v, const std::string& h) { v.od = h; }},
    {"master", 0, false, [](Volby& v, const std::string&) { v.master = true; }},
    {"room", 0, true, [](Volby& v, const std::string& h) { v.prostor = h; }},
    {"pan", 0, true, [](Volby& v, const std::string& h) { v.panorama = h; }},
    {"loudness", 0, true, [](Volby& v, const std::string& h) { v.hlasitost = h; }},
    {"help", 'h', false, [](Volby& v, const std::string&) { v.napoveda = true; }},
    {"version", 0, false, [](Volby& v, const std::string&) { v.verze = true; }},
};

}  // namespace

bool rozeberargumenty(int argc, char** argv, Volby& v, std::string& chyba) {
    if (argc > 1 && std::string(argv[1]) == "play") {
        v.hrat = true;
        --argc;
        ++argv;
    }
    if (!rozebermoznosti(argc, argv, moznosti, v, v.partitury, chyba)) return false;
    if (!v.od.empty() && !v.hrat) {
        chyba = "--from is for skladba play";
        return false;
    }
    if (v.hrat) {
        for (const auto& [dano, volba] : {std::pair<bool, const char*>{!v.vystup.empty(), "-o"},
                                          {!v.format.empty(), "--format"}, {!v.kvalita.empty(), "--quality"},
                                          {!v.nazev.empty(), "--title"}, {!v.autor.empty(), "--artist"},
                                          {v.kontrola, "--check"}}) {
            if (dano) {
                chyba = std::string("skladba play writes no sound file: leave out ") + volba +
                        " (skladba SCORE -o FILE writes one)";
                return false;
            }
        }
    }
    // Tags are UTF-8: other bytes are refused rather than guessed at.
    for (const auto& [text, volba] : {std::pair<const std::string&, const char*>{v.nazev, "--title"}, {v.autor, "--artist"}}) {
        if (!jeutf8(text)) {
            chyba = std::string(volba) + " needs UTF-8 text: the one given has bytes that are not UTF-8";
            return false;
        }
    }
    Format f;
    if (!v.format.empty() && !formatzejmena(v.format, f)) {
        chyba = "--format takes wav, flac, ogg, mp3 or opus, not '" + v.format + "'";
        return false;
    }
    int cislo = 0;
    if (!v.kvalita.empty() && !celecislo(v.kvalita, 0, 10, cislo)) {
        chyba = "--quality needs a whole number from 0 (smallest) to 10 (best), not '" + v.kvalita + "'";
        return false;
    }
    // Whole milliseconds from 5 (shorter fades click) to ten seconds.
    if (v.sdozvukem && !dozvukms(v.dozvuk, cislo)) {
        chyba = "--release needs " + popisdozvuku() + ", not '" + v.dozvuk + "'";
        return false;
    }
    if (!v.pametmixu.empty() && !celecislo(v.pametmixu, 0, 999999, cislo)) {
        chyba = "--mix-memory needs a whole number of mebibytes from 0 to 999999, not '" + v.pametmixu + "'";
        return false;
    }
    if (v.partitury.size() > 1) {
        chyba = "more than one score given ('" + v.partitury[0] + "', '" + v.partitury[1] +
                "'); render them one at a time";
        return false;
    }
    return true;
}

bool urcimaster(const Volby& v, Master& m, std::string& chyba) {
    m = Master{};
    if (!v.master) {
        for (const auto& [dano, volba] : {std::pair<bool, const char*>{!v.prostor.empty(), "--room"},
                                          {!v.panorama.empty(), "--pan"}, {!v.hlasitost.empty(), "--loudness"}}) {
            if (dano) {
                chyba = std::string(volba) + " is a setting of --master: add --master";
                return false;
            }
        }
        return true;
    }
    if (!v.prostor.empty() && !celecislo(v.prostor, 0, 100, m.prostor)) {
        chyba = "--room needs a whole number from 0 (no room) to 100 (a large hall), not '" + v.prostor + "'";
        return false;
    }
    if (!v.panorama.empty()) {
        if (v.panorama != "on" && v.panorama != "off") {
            chyba = "--pan takes on or off, not '" + v.panorama + "'";
            return false;
        }
        m.panorama = v.panorama == "on";
    }
    if (!v.hlasitost.empty()) {
        const std::string& l = v.hlasitost;
        double x = 0;
        int n = 0;
        const bool cislo = l.size() <= 8 && l.find_first_not_of("-+.0123456789") == std::string::npos &&
                           std::sscanf(l.c_str(), "%lf%n", &x, &n) == 1 && n == static_cast<int>(l.size());
        if (!cislo || x < -40 || x > -6) {
            chyba = "--loudness needs a loudness in LUFS from -40 to -6 (such as -14 or -16.5), not '" + l + "'";
            return false;
        }
        m.hlasitost = x;
    }
    const std::string chybi = chybejicipromaster();
    if (!chybi.empty()) {
        chyba = "--master needs " + chybi + ", which this build of skladba was made without; build it again with "
                "them installed";
        return false;
    }
    m.zapnuto = true;
    return true;
}

std::vector<std::string> popismasteru(const Master& m) {
    char radek[160];
    std::vector<std::string> p = {"master: each voice mixed into a left and a right channel at 22050 Hz"};
    p.push_back(m.panorama ? "master: voices placed by their mean pitch, the lowest left, the highest right "
                             "(constant power; one voice stays in the centre)"
                           : "master: every voice in the centre (--pan off)");
    if (m.prostor > 0) {
        std::snprintf(radek, sizeof radek,
                      "master: room %d: a network of 8 delay lines at 11025 Hz after 4 all-passes, reverberation time "
                      "%.1f s, rendered on for %.1f s after the last note",
                      m.prostor, dozvukmistnosti(m.prostor), dozvukmistnosti(m.prostor) * 70.0 / 60.0);
        p.push_back(radek);
    } else {
        p.push_back("master: no room (--room 0)");
    }
    std::snprintf(radek, sizeof radek,
                  "master: integrated loudness measured (EBU R128) and brought to %.1f LUFS by one gain", m.hlasitost);
    p.push_back(radek);
    p.push_back("master: where that gain takes a peak between the samples above -1 dBTP, a 3 ms look-ahead limiter "
                "holds it to -1.5 dBTP and the gain is corrected once");
    p.push_back("master: resampled to 48 kHz (libsoxr, one fixed recipe) and written in 24 bits, stereo");
    return p;
}

std::string slozkacesty(const std::string& cesta) {
    const size_t lomitko = cesta.rfind('/');
    return lomitko == std::string::npos ? "" : cesta.substr(0, lomitko + 1);
}

std::string slozkainstalace(const std::string& program, const std::string& relativni) {
    std::string slozka = slozkacesty(program);
    std::string zbytek = relativni;
    while (zbytek.compare(0, 3, "../") == 0 && slozka.size() > 1) {
        slozka.pop_back();
        slozka = slozkacesty(slozka);
        zbytek.erase(0, 3);
    }
    return slozka + zbytek;
}

namespace {

std::string jmenocesty(const std::string& cesta) {
    const size_t lomitko = cesta.rfind('/');
    return lomitko == std::string::npos ? cesta : cesta.substr(lomitko + 1);
}

// kanon.txt gives kanon.wav; a name without an extension gets .wav appended.
std::string wavpro(const std::string& partitura) { return partitura.substr(0, zacatekpripony(partitura)) + ".wav"; }

// The mix file lives beside the WAV, on the same file system, and its name
// follows from the WAV's, so that two runs writing one WAV lock each other
// out. For aktualni.wav it is _.tmp, as in a run without arguments.
std::string mixpro(const std::string& vystup) {
    if (vystup == "-") return "skladba-" + std::to_string(platform::cisloprocesu()) + ".mix";
    if (jmenocesty(vystup) == "aktualni.wav") return slozkacesty(vystup) + "_.tmp";
    return vystup + ".mix";
}

void overslozkuvystupu(const std::string& vystup) {
    if (vystup == "-") return;
    std::string slozka = slozkacesty(vystup);
    if (slozka.size() > 1) slozka.pop_back();   // "songs/" names the folder songs
    if (slozka.empty()) slozka = ".";
    if (platform::lzezapsatdo(slozka.c_str())) return;
    const int err = errno;
    if (err == ENOENT) chybasouboru("cannot write " + vystup + ": there is no folder " + slozka);
    chybasouboru("cannot write " + vystup + ": " + popischyby(err) + " (in the folder " + slozka + ")");
}

// Two names of one file: the same text, one existing file, or, for files
// still to be written, the same name in the same folder reached by another
// path (./a.wav beside a.wav, a folder through a link to it).
bool totez(const std::string& a, const std::string& b) {
    return a != "-" && b != "-" &&
           (a == b || platform::tentyz(a.c_str(), b.c_str()) ||
            platform::vyresenacesta(a) == platform::vyresenacesta(b));
}

// The file the score is read from: a regular file on standard input counts
// as much as one named.
platform::Totoznost souborpartitury(const Cesty& c) {
    if (c.partitura != "-") return platform::totoznost(c.partitura.c_str());
    return platform::jeobycejny(0) ? platform::totoznost(0) : platform::Totoznost{};
}

// Whether the run would write path (- for standard output) over its score.
bool jepartitura(const std::string& cesta, const Cesty& c) {
    if (cesta == "-") return platform::jeobycejny(1) && platform::tentyz(platform::totoznost(1), souborpartitury(c));
    if (c.partitura != "-") return totez(cesta, c.partitura);
    return platform::tentyz(platform::totoznost(cesta.c_str()), souborpartitury(c));
}

// ", NAME, by another path" when the other file was named differently, so
// that a message shows both paths.
std::string jinymjmenem(const std::string& jmeno, const std::string& jine) {
    return jmeno == jine ? "" : ", " + jine + ", by another path";
}

bool konci(const std::string& s, const std::string& pripona) {
    return s.size() >= pripona.size() && s.compare(s.size() - pripona.size(), pripona.size(), pripona) == 0;
}

// A file the run writes (the WAV, the MIDI file, the piano roll), checked
// before anything is rendered: never the score itself, never a name of the
// kind skladba gives its own temporary files (another run's could stand
// there), short enough to take the ".part" of its temporary name, in a
// folder that exists and can be written, and with no folder standing under
// that temporary name.
void overzapisovany(const std::string& cesta, const Cesty& c) {
    if (jepartitura(cesta, c)) {
        const std::string co = cesta == "-" ? "the WAV to standard output" : cesta;
        const std::string rada = cesta == c.vystup ? "name another output with -o" : "";
        chybasouboru("refusing to write " + co + ": it is the score itself" +
                     (c.partitura == "-" ? " (read from standard input" + (rada.empty() ? "" : "; " + rada) + ")"
                                         : jinymjmenem(cesta, c.partitura) + (rada.empty() ? "" : " (" + rada + ")")));
    }
    if (cesta == "-") return;
    if (konci(cesta, ".part") || konci(cesta, ".mix") || jmenocesty(cesta) == "_.tmp") {
        chybasouboru("refusing to write " + cesta + ": names ending in .part or .mix, and _.tmp, are "
                     "skladba's own temporary files");
    }
    const std::string pripona = ".part";
    const std::string docasny = cesta + pripona;
    const size_t delka = jmenocesty(cesta).size();
    if (delka > platform::nejdelsijmeno) chybasouboru("cannot write", cesta, ENAMETOOLONG);
    if (delka + pripona.size() > platform::nejdelsijmeno) {
        chybasouboru("cannot write " + cesta + ": its name, " + std::to_string(delka) +
                     " characters long, leaves no room for the \".part\" of the temporary file it is written as "
                     "first (at most " + std::to_string(platform::nejdelsijmeno - pripona.size()) + " characters)");
    }
    overslozkuvystupu(cesta);
    if (platform::druh(docasny.c_str()) == platform::Druh::slozka) {
        chybasouboru("cannot write " + cesta + ": a folder stands at " + docasny +
                     ", the name it is written as first; move the folder away");
    }
}

// The files of the run: the outputs as above, the MIDI file, the piano roll
// and the sheet music neither the WAV nor each other, and the score none of
// the run's temporary files, which the run empties and removes.
void overcesty(const Cesty& c) {
    std::vector<std::string> vystupy = {c.vystup};
    for (const Vystup& v : skladba::vystupy) vystupy.push_back(c.*v.cesta);
    for (const std::string& v : vystupy) {
        if (!v.empty()) overzapisovany(v, c);
    }
    for (const Vystup& v : skladba::vystupy) {
        const std::string& cesta = c.*v.cesta;
        if (cesta == "-") {
            chybasouboru(std::string("cannot write -: ") + v.volba + " needs a file name, not standard output");
        }
        if (!cesta.empty() && totez(cesta, c.vystup)) {
            chybasouboru("refusing to write " + cesta + ": it is the WAV itself" + jinymjmenem(cesta, c.vystup));
        }
        for (const Vystup* w = &v + 1; w != std::end(skladba::vystupy); ++w) {
            const std::string& b = c.*w->cesta;
            if (!cesta.empty() && totez(cesta, b)) {
                chybasouboru("refusing to write " + cesta + " twice" + (cesta == b ? "" : ", as " + b + " too") +
                             ": name one file for " + v.volba + " and another for " + w->volba);
            }
        }
    }
    std::vector<std::string> docasne = {c.mix};
    for (const std::string& v : vystupy) {
        if (!v.empty() && v != "-") docasne.push_back(v + ".part");
    }
    for (const std::string& d : docasne) {
        if (jepartitura(d, c)) {
            chybasouboru("refusing to render " + c.jmenopartitury + ": the run would use its name, " + d +
                         ", for a temporary file; rename the score or choose another output");
        }
    }
    if (jmenocesty(c.mix).size() > platform::nejdelsijmeno) chybasouboru("cannot write", c.vystup, ENAMETOOLONG);
}

#ifndef SKLADBA_REGISTERS_FROM_BIN
#define SKLADBA_REGISTERS_FROM_BIN "../share/skladba/rejstriky"
#endif

std::string slozkarejstrikuinstalace(const std::string& program) {
    return slozkainstalace(program, SKLADBA_REGISTERS_FROM_BIN);
}

// The register folder: the first that exists of --registers, rejstriky/
// beside the score, $SKLADBA_REJSTRIKY and the installed one.
std::string slozkarejstriku(const Volby& v, const std::string& vedle, bool spartiturou) {
    if (!v.rejstriky.empty()) {
        if (!platform::jeslozka(v.rejstriky.c_str())) {
            const bool existuje = platform::druh(v.rejstriky.c_str()) != platform::Druh::zadny;
            chybasouboru("cannot use the registers in", v.rejstriky, existuje ? ENOTDIR : ENOENT);
        }
        return v.rejstriky;
    }
    std::vector<std::string> zkousene;
    const std::string uskladby = vedle + "rejstriky";
    zkousene.push_back(uskladby);
    if (platform::jeslozka(uskladby.c_str())) return uskladby;
    const std::string zprostredi = platform::promenna("SKLADBA_REJSTRIKY");
    if (!zprostredi.empty()) {
        zkousene.push_back(zprostredi + " (SKLADBA_REJSTRIKY)");
        if (platform::jeslozka(zprostredi.c_str())) return zprostredi;
    }
    const std::string program = platform::cestaprogramu();
    if (!program.empty()) {
        const std::string nainstalovane = slozkarejstrikuinstalace(program);
        zkousene.push_back(nainstalovane);
        if (platform::jeslozka(nainstalovane.c_str())) return nainstalovane;
    }
    // A check renders nothing and needs no registers: without them it reads
    // the score all the same.
    if (v.kontrola) return "";
    // Without a score the run goes on and reports the missing register
    // under its usual path, as it always has.
    if (!spartiturou) return uskladby;
    std::string seznam;
    for (const std::string& z : zkousene) seznam += (seznam.empty() ? "" : ", ") + z;
    chybasouboru("cannot find the registers: none of these is a folder: " + seznam +
                 " (name one with --registers DIR)");
}

}  // namespace

Cesty urcicesty(const Volby& v) {
    Cesty c;
    const bool spartiturou = !v.partitury.empty();
    if (spartiturou) {
        c.partitura = v.partitury[0];
        const bool stdin = c.partitura == "-";
        c.jmenopartitury = stdin ? "<stdin>" : ukazjmeno(c.partitura);
        // A score that is not a regular file (a pipe), or is one only through
        // a device's name (/dev/stdin, /dev/fd/0, /proc/self/fd/0), names no
        // WAV beside itself: -o names it, as for standard input.
        const bool zarizeni = c.partitura.rfind("/dev/", 0) == 0 || c.partitura.rfind("/proc/", 0) == 0;
        if (!stdin && v.vystup.empty() && !v.kontrola && platform::otisk(c.partitura.c_str()).existuje &&
            (zarizeni || !platform::jeobycejnysoubor(c.partitura.c_str()))) {
            chybasouboru("cannot name the WAV after " + c.partitura +
                         ": it is not a regular file; name the WAV with -o FILE (-o - for standard output)");
        }
        c.vystup = !v.vystup.empty() ? v.vystup : stdin ? "-" : wavpro(c.partitura);
        Format f;
        if (v.vystup.empty() && !stdin && formatzejmena(v.format, f)) {
            c.vystup = c.vystup.substr(0, c.vystup.size() - 4) + priponaformatu(f);
        }
        c.mix = mixpro(c.vystup);
        c.rejstriky = slozkarejstriku(v, stdin ? "" : slozkacesty(c.partitura), true);
    } else {
        if (!v.vystup.empty()) {
            c.vystup = v.vystup;
            c.mix = mixpro(c.vystup);
        }
        c.rejstriky = slozkarejstriku(v, "", false);
    }
    c.midi = v.midi;
    c.obraz = v.obraz;
    c.musicxml = v.musicxml;
    // A check writes nothing; a run without a score or -o writes as it always has.
    if (!v.kontrola && (spartiturou || !v.vystup.empty() || !c.midi.empty() || !c.obraz.empty() ||
                        !c.musicxml.empty())) {
        overcesty(c);
    }
    return c;
}

bool urcikodovani(const Volby& v, const Cesty& c, Kodovani& k, std::string& chyba) {
    k = Kodovani{};
    std::string cizi;
    if (!v.format.empty()) {
        formatzejmena(v.format, k.format);
    } else if (c.vystup != "-" && !formatpripony(c.vystup, k.format, cizi)) {
        chyba = "cannot write " + c.vystup + ": skladba writes WAV, FLAC, Ogg Vorbis, MP3 and Opus, not " + cizi +
                " (name the file .wav, .flac, .ogg, .mp3 or .opus, or choose with --format)";
        return false;
    }
    const std::string chybi = chybejicipro(k.format);
    if (!chybi.empty()) {
        chyba = std::string("cannot write ") + (c.vystup == "-" ? "standard output" : c.vystup) + ": " +
                jmenoformatu(k.format) + " needs " + chybi + ", which this build of skladba was made without; "
                "build it again with that installed, or write a WAV (-o " +
                (c.vystup == "-" ? std::string("-") : c.vystup.substr(0, c.vystup.rfind('.')) + ".wav") + ")";
        return false;
    }
    if (!v.kvalita.empty()) {
        if (!ztratovy(k.format)) {
            chyba = std::string("--quality is for ogg, mp3 and opus: ") + jmenoformatu(k.format) +
                    (k.format == Format::wav ? " is" : " is lossless and") + " written from the samples as they are";
            return false;
        }
        k.kvalita = std::stoi(v.kvalita);
    }
    if (k.format == Format::wav && (!v.nazev.empty() || !v.autor.empty())) {
        chyba = "--title and --artist tag FLAC, Ogg Vorbis, MP3 and Opus files: skladba's WAV carries no tags";
        return false;
    }
    k.nazev = v.nazev;
    k.autor = v.autor;
    return true;
}

}  // namespace skladba
