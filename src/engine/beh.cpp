#include "engine/beh.h"

#include <cerrno>

#include "engine/chyba.h"
#include "engine/prikazy.h"
#include "engine/stav.h"
#include "output/wav.h"
#include "score/ctenar.h"
#include "synth/mix.h"
#include "synth/rejstrik.h"

namespace skladba {

namespace {

void spustsekvenci() {
    stav.tempo = (zaklad * 60 / stav.tempo) * 4;
    stav.puvodnitempo = stav.tempo;
    if (!isoubor.otevri(kPartitura)) chybaSouboruErrno("cannot open the score", kPartitura);
    otevrimix();
    if (!nactirejstrik()) chybaSouboruErrno("cannot load the register", stav.rejstrjmeno);
    nactihlavicku();
}

void prikazovasmycka() {
    do {
        stav.znak = dejznak();
        stav.pozicepovelu = isoubor.pozice() - 1;
        if (Prikaz prikaz = prikazPro(stav.znak)) prikaz();
    } while (!isoubor.konec());
}

void dokonceni() {
    const int64_t mixBytes = delkamixu();
    isoubor.zavri();
    zapiswav(mixBytes);
    smazmix();
}

std::string umistenaChyba(const ChybaPartitury& e) {
    int64_t radek = 0;
    int64_t sloupec = 0;
    isoubor.umisteni(stav.pozicepovelu, radek, sloupec);
    return std::string(kPartitura) + ":" + std::to_string(radek) + ":" + std::to_string(sloupec) +
           ": " + e.what();
}

// Whatever way the run ends, the mix file goes and the score is closed.
struct Uklid {
    ~Uklid() {
        smazmix();
        isoubor.zavri();
    }
};

}  // namespace

Vysledek spust() {
    resetEngineState();
    Uklid uklid;
    try {
        spustsekvenci();
        prikazovasmycka();
        dokonceni();
    } catch (const ChybaPartitury& e) {
        return {1, umistenaChyba(e)};
    } catch (const ChybaSouboru& e) {
        return {1, e.what()};
    }
    if (stav.nesouhlasy > 0) {
        return {1, "the mix file did not read back as written (" + std::to_string(stav.nesouhlasy) +
                       " sums differed); aktualni.wav was made from what the file held"};
    }
    return {};
}

}  // namespace skladba
