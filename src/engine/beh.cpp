#include "engine/beh.h"

#include <cstdio>
#include <string>

#include "base/chyba.h"
#include "base/stav.h"
#include "engine/prikazy.h"
#include "engine/ton.h"
#include "output/wav.h"
#include "platform/system.h"
#include "score/ctenar.h"
#include "synth/mix.h"
#include "synth/rejstrik.h"

namespace skladba {

namespace {

const Nastaveni* nastaveni = nullptr;

// A sum that did not read back as written: one line on standard output (on
// standard error when the WAV itself goes to standard output), and on a
// terminal a wait for a key so that the line can be read.
void hlasnesouhlas(int32_t zapsano, int32_t precteno, int64_t vzorek) {
    std::FILE* kam = nastaveni->cesty.vystup == "-" ? stderr : stdout;
    std::fprintf(kam, "\n problem %d %d %lld", zapsano, precteno, static_cast<long long>(vzorek));
    std::fflush(kam);
    if (platform::vstupjeterminal()) platform::cekejnaklavesu();
}

// The progress line of a long render: shown from half a second on, at most
// ten times a second, on standard error when it is a terminal.
struct Postup {
    bool zapnuty = false;
    bool ukazany = false;
    double zacatek = 0;
    double posledni = 0;

    void mozna() {
        const double t = platform::ted();
        if (t - zacatek < 0.5 || t - posledni < 0.1) return;
        posledni = t;
        ukazany = true;
        const int64_t celkem = isoubor.velikost();
        const int procent = celkem > 0 ? static_cast<int>(100 * isoubor.pozice() / celkem) : 0;
        const int64_t sekund = stav.konecmixu / zaklad;
        std::fprintf(stderr, "\r%s: %3d%% of the score, %lld notes, %lld:%02lld so far\033[K",
                     nastaveni->cesty.jmenopartitury.c_str(), procent, static_cast<long long>(stav.pocetnot),
                     static_cast<long long>(sekund / 60), static_cast<long long>(sekund % 60));
        std::fflush(stderr);
    }
    void smaz() {
        if (!ukazany) return;
        std::fputs("\r\033[K", stderr);
        std::fflush(stderr);
        ukazany = false;
    }
};

Postup postup;

void spustsekvenci() {
    const Cesty& cesty = nastaveni->cesty;
    stav.tempo = (zaklad * 60 / stav.tempo) * 4;
    stav.puvodnitempo = stav.tempo;
    if (!isoubor.otevri(cesty.partitura, cesty.jmenopartitury)) {
        chybasouboruerrno("cannot open the score", cesty.jmenopartitury);
    }
    otevrimix(cesty.mix);
    pripravvystup(cesty.vystup);
    nastavslozkurejstriku(cesty.rejstriky);
    if (!nactirejstrik(stav.reg)) chybasouboruerrno("cannot load the register", rejstrjmeno(stav.reg));
    nactihlavicku(cesty.rejstriky + "/" + sablonahlavicky);
}

void prikazovasmycka() {
    uint32_t kroky = 0;
    do {
        stav.znak = dejznak();
        stav.pozicepovelu = isoubor.pozice() - 1;
        if (Prikaz prikaz = prikazpro(stav.znak)) prikaz();
        if (postup.zapnuty && (++kroky & 255) == 0) postup.mozna();
    } while (!isoubor.konec());
}

void dokonceni() {
    doznej();
    dopismix();
    const int64_t mixbajtu = delkamixu();
    isoubor.zavri();
    postup.smaz();
    zapiswav(mixbajtu, nastaveni->cesty.vystup, nastaveni->uspechjekonecny);
    smazmix();
}

std::string umistenachyba(const ChybaPartitury& e) {
    int64_t radek = 0;
    int64_t sloupec = 0;
    isoubor.umisteni(stav.pozicepovelu, radek, sloupec);
    return nastaveni->cesty.jmenopartitury + ":" + std::to_string(radek) + ":" + std::to_string(sloupec) +
           ": " + e.what();
}

// Whatever way the run ends, the mix file goes, the score is closed and the
// progress line is erased.
struct Uklid {
    ~Uklid() {
        postup.smaz();
        smazmix();
        isoubor.zavri();
        hlaseninesouhlasu = nullptr;
    }
};

}  // namespace

Vysledek spust(const Nastaveni& n) {
    nastaveni = &n;
    vynulujstav();
    stav.dozvuk = int64_t{n.dozvukms} * zaklad / 1000;
    vynulujrejstrik();
    vynulujmix();
    hlaseninesouhlasu = hlasnesouhlas;
    postup = Postup{};
    postup.zapnuty = n.postup && platform::chybjeterminal();
    postup.zacatek = platform::ted();
    Uklid uklid;
    Vysledek r;
    try {
        spustsekvenci();
        prikazovasmycka();
        dokonceni();
        r.vzorku = stav.konecmixu;
    } catch (const ChybaPartitury& e) {
        return {1, umistenachyba(e)};
    } catch (const ChybaSouboru& e) {
        return {1, e.what()};
    }
    r.noty = stav.pocetnot;
    if (stav.nesouhlasy > 0) {
        const std::string wav = n.cesty.vystup == "-" ? "the WAV on standard output" : n.cesty.vystup;
        r.status = 1;
        r.zprava = "the mix file did not read back as written (" + std::to_string(stav.nesouhlasy) +
                   " sums differed); " + wav + " was made from what the file held";
    }
    return r;
}

}  // namespace skladba
