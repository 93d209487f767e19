#include "engine/beh.h"

#include <cstdio>
#include <string>

#include "base/chyba.h"
#include "base/stav.h"
#include "engine/prikazy.h"
#include "output/wav.h"
#include "platform/system.h"
#include "score/ctenar.h"
#include "synth/mix.h"
#include "synth/rejstrik.h"

namespace skladba {

namespace {

constexpr const char* slozkarejstriku = "rejstriky";

// A sum that did not read back as written: one line on standard output, and
// on a terminal a wait for a key so that the line can be read.
void hlasnesouhlas(int32_t zapsano, int32_t precteno, int64_t vzorek) {
    std::printf("\n problem %d %d %lld", zapsano, precteno, static_cast<long long>(vzorek));
    std::fflush(stdout);
    if (platform::vstupjeterminal()) platform::cekejnaklavesu();
}

void spustsekvenci() {
    stav.tempo = (zaklad * 60 / stav.tempo) * 4;
    stav.puvodnitempo = stav.tempo;
    if (!isoubor.otevri(vychozipartitura)) chybasouboruerrno("cannot open the score", vychozipartitura);
    otevrimix();
    nastavslozkurejstriku(slozkarejstriku);
    if (!nactirejstrik(stav.reg)) chybasouboruerrno("cannot load the register", rejstrjmeno(stav.reg));
    nactihlavicku(std::string(slozkarejstriku) + "/" + sablonahlavicky);
}

void prikazovasmycka() {
    do {
        stav.znak = dejznak();
        stav.pozicepovelu = isoubor.pozice() - 1;
        if (Prikaz prikaz = prikazpro(stav.znak)) prikaz();
    } while (!isoubor.konec());
}

void dokonceni() {
    dopismix();
    const int64_t mixbajtu = delkamixu();
    isoubor.zavri();
    zapiswav(mixbajtu);
    smazmix();
}

std::string umistenachyba(const ChybaPartitury& e) {
    int64_t radek = 0;
    int64_t sloupec = 0;
    isoubor.umisteni(stav.pozicepovelu, radek, sloupec);
    return std::string(vychozipartitura) + ":" + std::to_string(radek) + ":" + std::to_string(sloupec) +
           ": " + e.what();
}

// Whatever way the run ends, the mix file goes and the score is closed.
struct Uklid {
    ~Uklid() {
        smazmix();
        isoubor.zavri();
        hlaseninesouhlasu = nullptr;
    }
};

}  // namespace

Vysledek spust() {
    vynulujstav();
    vynulujrejstrik();
    vynulujmix();
    hlaseninesouhlasu = hlasnesouhlas;
    Uklid uklid;
    try {
        spustsekvenci();
        prikazovasmycka();
        dokonceni();
    } catch (const ChybaPartitury& e) {
        return {1, umistenachyba(e)};
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
