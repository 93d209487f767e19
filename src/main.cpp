// skladba: renders a score to a WAV.
#include <cerrno>
#include <cstdio>
#include <exception>
#include <limits>
#include <new>
#include <string>
#include <vector>

#include "app/volby.h"
#include "output/master.h"
#include "base/chyba.h"
#include "base/format.h"
#include "base/nota.h"
#include "app/hrani.h"
#include "output/formaty.h"
#include "platform/klavesy.h"
#include "output/vyroba.h"
#include "platform/system.h"
#ifdef SKLADBA_HAVE_LSP
#include "lsp/lsp.h"
#endif

#ifndef SKLADBA_VERSION
#define SKLADBA_VERSION "unknown"
#endif

namespace {

using namespace skladba;

constexpr int stavchyba = 1;
constexpr int stavpouziti = 2;

int chybapouziti(const std::string& zprava) {
    std::fprintf(stderr, "skladba: %s\n\n%s", zprava.c_str(), napoveda);
    return stavpouziti;
}

// Warnings first, then the check's summary or the error. A check prints
// what it was asked for on standard output; a render keeps standard output
// for the WAV and puts its warnings on standard error.
void ohlas(const Vysledek& r, bool kontrola) {
    std::FILE* kam = kontrola ? stdout : stderr;
    for (const std::string& v : r.varovani) std::fprintf(kam, "%s\n", v.c_str());
    for (const std::string& s : r.souhrn) std::fprintf(kam, "%s\n", s.c_str());
    std::fflush(kam);
    if (r.status != 0) std::fprintf(stderr, "skladba: %s\n", r.zprava.c_str());
}

// Waits until the score changes from posledni and then holds still for a
// moment (editors may write in several steps), and returns it as it stands.
// Says once that the score is gone while it is.
platform::Otisk cekejnazmenu(const Cesty& c, platform::Hlidac& hlidac) {
    bool hlasenochybeni = false;
    for (;;) {
        platform::spi(100);
        if (!hlidac.zmena(50, std::numeric_limits<int>::max())) continue;
        if (hlidac.posledni().existuje) return hlidac.posledni();
        if (!hlasenochybeni) {
            std::fprintf(stderr, "skladba: %s is gone; waiting for it to come back\n", c.jmenopartitury.c_str());
            hlasenochybeni = true;
        }
    }
}

// An editor that saves by emptying the file and then writing it leaves it
// empty for a moment, often longer than it takes to hold still. How long an
// empty score that followed one with notes is given to fill again before it
// is taken as meant.
constexpr double cekaninaprazdnou = 1.0;

// Renders, then again every time the score is saved (also when an editor
// replaces it by renaming), until interrupted. A render that fails keeps the
// previous WAV; each render reports one line. A score that is emptied after
// a render with notes is not rendered: its WAV would be silence a moment
// before the editor writes the score back. It is waited for, and if it stays
// empty the WAV is kept and that is said.
[[noreturn]] void hlidej(Nastaveni nastaveni) {
    nastaveni.uspechjekonecny = false;
    const Cesty& c = nastaveni.cesty;
    platform::Hlidac hlidac(c.partitura);
    hlidac.prijmi();
    bool mamnoty = false;   // the WAV in place holds notes
    for (;;) {
        const double zacatek = platform::ted();
        const Vysledek r = vyrob(nastaveni);
        ohlas(r, nastaveni.kontrola);
        if (!nastaveni.kontrola && r.status == 0) {
            mamnoty = r.noty > 0;
            std::fprintf(stderr, "%s: %s, %lld note%s, rendered in %.2f s\n", c.vystup.c_str(),
                         popiscasu(static_cast<double>(r.vzorku) / zaklad).c_str(), static_cast<long long>(r.noty), r.noty == 1 ? "" : "s",
                         platform::ted() - zacatek);
        }
        std::fflush(stderr);
        for (;;) {
            const platform::Otisk ted = cekejnazmenu(c, hlidac);
            if (ted.velikost > 0 || !mamnoty) break;
            const double od = platform::ted();
            bool zmena = false;
            while (!zmena && platform::ted() - od < cekaninaprazdnou) {
                platform::spi(50);
                zmena = platform::otisk(c.partitura.c_str()) != ted;
            }
            if (zmena) continue;
            std::fprintf(stderr, "skladba: %s is empty: %s keeps the last render until the score has notes again\n",
                         c.jmenopartitury.c_str(), c.vystup.c_str());
            std::fflush(stderr);
        }
    }
}

// "skladba serve ...": the editor in the browser is a program of its own,
// skladba-serve beside this one, since it needs an HTTP library that the
// renderer does without.
int predejserveru(int argc, char** argv) {
    const std::string program = platform::cestaprogramu();
    const std::string server = slozkacesty(program) + "skladba-serve";
    if (program.empty() || !platform::lzespustit(server.c_str())) {
        std::fputs("skladba: serve is not part of this build: it needs cpp-httplib (libcpp-httplib-dev)\n", stderr);
        return stavchyba;
    }
    std::vector<std::string> argumenty = {server};
    for (int i = 2; i < argc; ++i) argumenty.push_back(argv[i]);
    platform::nahradproces(server, argumenty);
    std::fprintf(stderr, "skladba: cannot start %s: %s\n", server.c_str(), popischyby(errno).c_str());
    return stavchyba;
}

// Closed standard streams are refused: a run must be able to say why it
// failed, and a WAV meant for standard output would otherwise go into
// whatever file took its number. With standard error closed nothing can be
// said, and the status alone tells.
int overstandardni() {
    const int zavrene = platform::obsadstandardni();
    if (zavrene & 4) return stavchyba;
    if (zavrene & 2) {
        std::fputs("skladba: standard output is closed: give it a file, a pipe or /dev/null (>/dev/null)\n", stderr);
        return stavchyba;
    }
    if (zavrene & 1) {
        std::fputs("skladba: standard input is closed: give it a file, a pipe or /dev/null (</dev/null)\n", stderr);
        return stavchyba;
    }
    return 0;
}

// "skladba lsp": the language server, built where nlohmann-json was found.
int spustlsp(int argc, char** argv) {
#ifdef SKLADBA_HAVE_LSP
    return lsp::spustlsp(argc, argv);
#else
    (void)argc;
    (void)argv;
    std::fputs("skladba: lsp is not part of this build: it needs nlohmann-json (nlohmann-json3-dev)\n", stderr);
    return stavchyba;
#endif
}

int program(int argc, char** argv) {
    if (argc > 1 && std::string(argv[1]) == "serve") return predejserveru(argc, argv);
    if (argc > 1 && std::string(argv[1]) == "lsp") return spustlsp(argc, argv);
    Volby volby;
    std::string chyba;
    if (!rozeberargumenty(argc, argv, volby, chyba)) return chybapouziti(chyba);
    if (volby.napoveda) {
        std::fputs(volby.hrat ? napovedahrani : napoveda, stdout);
        return 0;
    }
    if (volby.verze) {
        std::puts("skladba " SKLADBA_VERSION);
        return 0;
    }
    const bool spartiturou = !volby.partitury.empty();
    if (volby.hrat && !spartiturou) return chybapouziti("skladba play needs a score to play");
    if (volby.hrat && volby.partitury[0] == "-" && volby.hlidat) {
        return chybapouziti("--watch cannot watch standard input");
    }
    if (volby.kontrola && (!volby.midi.empty() || !volby.obraz.empty() || !volby.musicxml.empty())) {
        return chybapouziti("--check renders nothing: leave out --midi, --piano-roll and --musicxml");
    }
    if (volby.midimrizka && volby.midi.empty()) {
        return chybapouziti("--midi-grid places the notes of a MIDI file: name one with --midi FILE");
    }
    if (volby.hlidat && !volby.hrat) {
        if (!spartiturou) return chybapouziti("--watch needs a score file to watch");
        if (volby.partitury[0] == "-") return chybapouziti("--watch cannot watch standard input");
        if (volby.vystup == "-") return chybapouziti("--watch cannot write to standard output");
    }

    platform::nastavpreruseni();
    // skladba play renders into a folder of its own, which it removes.
    struct Slozka {
        std::string cesta;
        int slot = -1;
        ~Slozka() {
            platform::odznacdocasny(slot);
            platform::odstranslozku(cesta);
        }
    } hrani;
    if (volby.hrat) {
        platform::zadrzpreruseni();
        hrani.cesta = platform::novaslozka("skladba-play");
        if (!hrani.cesta.empty()) hrani.slot = platform::oznacdocasny(hrani.cesta);
        platform::pustpreruseni();
        if (hrani.cesta.empty()) {
            std::fprintf(stderr, "skladba: cannot make a scratch folder for playing: %s\n", popischyby(errno).c_str());
            return stavchyba;
        }
        volby.vystup = hrani.cesta + "/play.wav";
    }
    Nastaveni nastaveni;
    try {
        nastaveni.cesty = urcicesty(volby);
    } catch (const ChybaSouboru& e) {
        std::fprintf(stderr, "skladba: %s\n", e.what());
        return stavchyba;
    }
    if (!volby.kontrola && !volby.hrat) {
        std::string proc;
        if (!urcikodovani(volby, nastaveni.cesty, nastaveni.kodovani, proc)) {
            std::fprintf(stderr, "skladba: %s\n", proc.c_str());
            return stavpouziti;
        }
    }
    {
        std::string proc;
        if (!urcimaster(volby, nastaveni.kodovani.master, proc)) return chybapouziti(proc);
    }
    nastaveni.kontrola = volby.kontrola;
    nastaveni.midimrizka = volby.midimrizka;
    // Warnings only where a score was named: a run without arguments prints
    // nothing, as it always has.
    nastaveni.varovani = spartiturou && !volby.tichy;
    if (nastaveni.cesty.vystup == "-" && platform::vystupjeterminal() && !volby.kontrola) {
        return chybapouziti(std::string("refusing to write ") +
                            (nastaveni.kodovani.format == Format::wav ? "a WAV" : jmenoformatu(nastaveni.kodovani.format)) +
                            " to the terminal: redirect standard output, or name a file with -o");
    }
    // A progress line only where a score was named: a run without arguments
    // prints nothing, as it always has.
    nastaveni.postup = spartiturou;
    if (volby.sdozvukem) nastaveni.dozvukms = std::stoi(volby.dozvuk);
    if (!volby.pametmixu.empty()) nastaveni.meze.pametmixu = std::stoull(volby.pametmixu) << 20;
    if (volby.hrat) return hraj(volby, nastaveni);
    if (volby.hlidat) hlidej(nastaveni);

    const Vysledek r = vyrob(nastaveni);
    ohlas(r, nastaveni.kontrola);
    if (nastaveni.kontrola && r.status == 0 && nastaveni.kodovani.master.zapnuto) {
        for (const std::string& s : popismasteru(nastaveni.kodovani.master)) std::printf("%s\n", s.c_str());
    }
    return r.status;
}

}  // namespace

int main(int argc, char** argv) {
    if (const int odmitnuti = overstandardni()) return odmitnuti;
    skladba::ustalprevzorkovani();
    // Unwinding, not an abort: every scratch file is removed on the way out.
    try {
        return program(argc, argv);
    } catch (const std::bad_alloc&) {
        std::fputs("skladba: out of memory\n", stderr);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "skladba: %s\n", e.what());
    }
    return stavchyba;
}
