#include "engine/beh.h"

#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>

#include "base/chyba.h"
#include "base/stav.h"
#include "engine/prehled.h"
#include "engine/prikazy.h"
#include "engine/ton.h"
#include "output/midi.h"
#include "output/obalka.h"
#include "output/obraz.h"
#include "output/rozpracovany.h"
#include "output/wav.h"
#include "platform/system.h"
#include "score/ctenar.h"
#include "score/kontrola.h"
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

// Warnings kept of each kind (the lexical ones, the engine's); a score full
// of one mistake says it a hundred times and counts the rest.
constexpr size_t nejvicvarovani = 100;

// The observer of a run: keeps the sounding notes for the MIDI file and the
// piano roll, with whether they were all placed at one tempo, and passes
// everything on to the overview when there is one.
class Sber : public Pozorovatel {
public:
    Prehled* prehled = nullptr;
    bool sbirat = false;
    std::vector<Nota> noty;
    // When asked, the same notes with their places in the score.
    bool smisty = false;
    std::vector<NotaVPartiture> mista;
    // The whole-note length every note and rest was placed at; -1 before the
    // first, 0 once there were two or a tempo curve.
    int64_t celatempa = -1;

    void nota(const UlozenaNota& u) override {
        if (prehled) prehled->nota(u);
        if (!sbirat) return;
        if (u.krivka || (celatempa >= 0 && celatempa != u.celatempa)) {
            celatempa = 0;
        } else if (celatempa < 0) {
            celatempa = u.celatempa;
        }
        // A dot right after a note lengthens the sound of the note, as the
        // renderer does with a release.
        if (u.tecka && !noty.empty() && u.kurzor == konecposledni_) {
            noty.back().zni += u.nota.krok;
            if (smisty) mista.back().po = u.pozice + 1;
            konecposledni_ += u.nota.krok;
        } else if (u.nota.segment > 0) {
            noty.push_back(u.nota);
            if (smisty) mista.push_back({u.nota, u.pozice, u.pozice + 1});
            konecposledni_ = u.kurzor + u.nota.krok;
        } else {
            konecposledni_ = -1;
        }
    }
    void zpet(double hodnot, int64_t hodnota, int64_t kurzor, int64_t pozice) override {
        if (prehled) prehled->zpet(hodnot, hodnota, kurzor, pozice);
    }
    void takt(int64_t pozice) override {
        if (prehled) prehled->takt(pozice);
    }

private:
    int64_t konecposledni_ = -1;   // where the cursor stood after the last note kept and its dots
};

// What the run found in the score besides errors.
struct Nalezy {
    std::vector<Varovani> pismo;     // from the lexical check
    int64_t dalsichpismo = 0;
    std::unique_ptr<Prehled> prehled;
    Sber sber;
};

Nalezy nalezy;
// The waveform under the piano roll.
Obalka obalka;

void spustsekvenci() {
    const Cesty& cesty = nastaveni->cesty;
    stav.tempo = (zaklad * 60 / stav.tempo) * 4;
    stav.puvodnitempo = stav.tempo;
    if (!isoubor.otevri(cesty.partitura, cesty.jmenopartitury)) {
        chybasouboruerrno("cannot open the score", cesty.jmenopartitury);
    }
    if (nastaveni->varovani || nastaveni->kontrola) {
        nalezy.pismo = zkontrolujpismo(nejvicvarovani, nalezy.dalsichpismo);
    }
    if (!nastaveni->kontrola) {
        otevrimix(cesty.mix);
        pripravvystup(cesty.vystup);
        if (!cesty.midi.empty()) pripravvystup(cesty.midi);
        if (!cesty.obraz.empty()) pripravvystup(cesty.obraz);
    }
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
    const Cesty& c = nastaveni->cesty;
    std::unique_ptr<Rozpracovany> midi, obraz;
    Souputnici souputnici;
    if (!c.midi.empty() || !c.obraz.empty()) {
        souputnici = [&] {
            const Sber& sber = nalezy.sber;
            std::vector<Rozpracovany*> hotove;
            if (!c.midi.empty()) {
                midi = std::make_unique<Rozpracovany>(c.midi, platform::Docasny::midi);
                midi->pis(bajtymidi(sber.noty, std::max<int64_t>(0, sber.celatempa), c.jmenopartitury, '1'));
                midi->dokonci();
                hotove.push_back(midi.get());
            }
            if (!c.obraz.empty()) {
                obraz = std::make_unique<Rozpracovany>(c.obraz, platform::Docasny::obraz);
                kresliobraz(*obraz, sber.noty, obalka, PopisObrazu{c.jmenopartitury, mixbajtu / 4, stav.dozvuk});
                obraz->dokonci();
                hotove.push_back(obraz.get());
            }
            return hotove;
        };
    }
    zapiswav(mixbajtu, c.vystup, nastaveni->uspechjekonecny, souputnici);
    smazmix();
}

// The warnings of both checks in the order of the score, each with its
// line and column; the score must still be open.
std::vector<std::string> naformatujvarovani(std::vector<Hlaseni>& umistena) {
    std::vector<Varovani> vse = nalezy.pismo;
    int64_t dalsich = nalezy.dalsichpismo;
    if (nalezy.prehled) {
        vse.insert(vse.end(), nalezy.prehled->varovani.begin(), nalezy.prehled->varovani.end());
        dalsich += nalezy.prehled->dalsichvarovani;
    }
    std::stable_sort(vse.begin(), vse.end(), [](const Varovani& a, const Varovani& b) { return a.pozice < b.pozice; });
    std::vector<int64_t> pozice;
    for (const Varovani& v : vse) pozice.push_back(v.pozice);
    const std::vector<Partitura::Misto> mista = isoubor.umisteni(pozice);
    std::vector<std::string> radky;
    const std::string& jmeno = nastaveni->cesty.jmenopartitury;
    for (size_t i = 0; i < vse.size(); ++i) {
        umistena.push_back({vse[i].pozice, mista[i].radek, mista[i].sloupec, vse[i].text});
        radky.push_back(jmeno + ":" + std::to_string(mista[i].radek) + ":" + std::to_string(mista[i].sloupec) +
                        ": warning: " + vse[i].text);
    }
    if (dalsich > 0) {
        radky.push_back(jmeno + ": and " + std::to_string(dalsich) + " more warning" + (dalsich == 1 ? "" : "s"));
    }
    return radky;
}

// The check's summary: the piece, then one line per voice.
std::vector<std::string> naformatujsouhrn() {
    const Prehled& p = *nalezy.prehled;
    std::vector<std::string> radky;
    std::string o = nastaveni->cesty.jmenopartitury + ": " + popiscasu(static_cast<double>(p.konec) / zaklad) + ", ";
    if (p.noty == 0) {
        o += "no notes";
    } else {
        o += std::to_string(p.noty) + (p.noty == 1 ? " note" : " notes") + ", range " + jmenotonu(p.nejnizsi) +
             " to " + jmenotonu(p.nejvyssi);
    }
    const size_t hlasu = p.hlasy.size() + static_cast<size_t>(p.dalsichhlasu);
    radky.push_back(o + ", " + std::to_string(hlasu) + (hlasu == 1 ? " voice" : " voices"));
    std::vector<int64_t> pozice;
    for (const Prehled::Hlas& h : p.hlasy) pozice.push_back(h.prvni);
    const std::vector<Partitura::Misto> mista = isoubor.umisteni(pozice);
    for (size_t i = 0; i < p.hlasy.size(); ++i) {
        const Prehled::Hlas& h = p.hlasy[i];
        radky.push_back("  voice " + std::to_string(i + 1) + ", line " + std::to_string(mista[i].radek) +
                        ": whole notes " + vcelych(h.zacatek) + " to " + vcelych(h.konec) + ", " +
                        popiscasu(static_cast<double>(h.zacatekvzorku) / zaklad, 2) + " to " +
                        popiscasu(static_cast<double>(h.konecvzorku) / zaklad, 2));
    }
    if (p.dalsichhlasu > 0) radky.push_back("  and " + std::to_string(p.dalsichhlasu) + " more voices");
    return radky;
}

std::string umistenachyba(const ChybaPartitury& e, Hlaseni& misto) {
    int64_t radek = 0;
    int64_t sloupec = 0;
    isoubor.umisteni(stav.pozicepovelu, radek, sloupec);
    misto = {stav.pozicepovelu, radek, sloupec, e.what()};
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
        pozorovatel = nullptr;
        obalkawav = nullptr;
        mixovat = true;
        nalezy.pismo.clear();
        nalezy.dalsichpismo = 0;
        nalezy.prehled.reset();
        nalezy.sber = Sber{};
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
    postup.zapnuty = n.postup && platform::chybjeterminal() && !n.kontrola;
    postup.zacatek = platform::ted();
    Uklid uklid;
    Vysledek r;
    if (n.varovani || n.kontrola || n.souhrn) {
        nalezy.prehled = std::make_unique<Prehled>(n.kontrola || n.souhrn, nejvicvarovani);
    }
    nalezy.sber.prehled = nalezy.prehled.get();
    nalezy.sber.sbirat = !n.kontrola && (!n.cesty.midi.empty() || !n.cesty.obraz.empty() || n.seznamnot);
    nalezy.sber.smisty = n.seznamnot;
    if (nalezy.prehled || nalezy.sber.sbirat) pozorovatel = &nalezy.sber;
    if (!n.cesty.obraz.empty()) obalkawav = &obalka;
    mixovat = !n.kontrola;
    // Warnings are placed while the score is still open, also when the run
    // stops at an error.
    auto varovani = [&] {
        if ((n.varovani || n.kontrola) && isoubor.jeotevrena()) r.varovani = naformatujvarovani(r.mistavarovani);
    };
    try {
        spustsekvenci();
        prikazovasmycka();
        if (nalezy.prehled) nalezy.prehled->dokonci();
        varovani();
        if (n.kontrola || n.souhrn) r.souhrn = naformatujsouhrn();
        if (n.kontrola) {
            r.noty = stav.pocetnot;
            return r;
        }
        dokonceni();
        r.vzorku = stav.konecmixu;
        if (n.seznamnot) {
            // Each note as the run finished it: a dot after it lengthens its sound.
            r.seznamnot = std::move(nalezy.sber.mista);
            for (size_t i = 0; i < r.seznamnot.size(); ++i) r.seznamnot[i].nota = nalezy.sber.noty[i];
        }
    } catch (const ChybaPartitury& e) {
        varovani();
        r.status = 1;
        r.zprava = umistenachyba(e, r.mistochyby);
        return r;
    } catch (const ChybaSouboru& e) {
        varovani();
        r.status = 1;
        r.zprava = e.what();
        return r;
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
