#include "engine/beh.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <memory>
#include <new>
#include <string>

#include "base/chyba.h"
#include "base/stav.h"
#include "engine/kontext.h"
#include "engine/zaznam.h"
#include "engine/prehled.h"
#include "engine/prikazy.h"
#include "engine/ton.h"
#include "platform/system.h"
#include "score/ctenar.h"
#include "score/kontrola.h"
#include "synth/mix.h"
#include "synth/rejstrik.h"

namespace skladba {

namespace {

// Warnings kept of each kind (the lexical ones, the engine's, the music's);
// a score full of one mistake says it a hundred times and counts the rest.
constexpr size_t nejvicvarovani = 100;
// Notes, rests and dots of the music a render keeps for its warnings alone
// (some 6 MiB).
constexpr size_t nejvicudalosti = size_t{1} << 15;

// The observer of a run: keeps the sounding notes for the MIDI file and the
// piano roll, with whether they were all placed at one tempo, passes every
// command read to whoever follows them, and everything else on to the
// overview and to the sheet music when there are.
class Sber : public Pozorovatel {
public:
    Pozorovatel* dalsi = nullptr;
    Prehled* prehled = nullptr;
    Zaznam* zaznam = nullptr;
    bool sbirat = false;
    std::function<void(int64_t, int64_t)> sledovaniprikazu;
    std::vector<Nota> noty;
    // The whole-note length every note and rest was placed at; -1 before the
    // first, 0 once there were two or a tempo curve.
    int64_t celatempa = -1;

    void prikaz(int64_t pozice, int64_t po) override {
        if (sledovaniprikazu) sledovaniprikazu(pozice, po);
        if (dalsi) dalsi->prikaz(pozice, po);
    }
    void nota(const UlozenaNota& u) override {
        if (dalsi) dalsi->nota(u);
        if (prehled) prehled->nota(u);
        if (zaznam) zaznam->nota(u);
        if (u.krivka || (celatempa >= 0 && celatempa != u.celatempa)) {
            celatempa = 0;
        } else if (celatempa < 0) {
            celatempa = u.celatempa;
        }
    }
    void hotova(const Nota& n) override {
        if (dalsi) dalsi->hotova(n);
        if (prehled) prehled->hotova(n);
        if (zaznam) zaznam->hotova(n);
        if (sbirat && n.segment > 0) noty.push_back(n);
    }
    void zpet(double hodnot, int64_t hodnota, int64_t kurzor, int64_t pozice) override {
        if (dalsi) dalsi->zpet(hodnot, hodnota, kurzor, pozice);
        if (prehled) prehled->zpet(hodnot, hodnota, kurzor, pozice);
        if (zaznam) zaznam->zpet(hodnot, hodnota, kurzor, pozice);
    }
    void tempo(int64_t pozice, bool krivka) override {
        if (dalsi) dalsi->tempo(pozice, krivka);
        if (prehled) prehled->tempo(pozice, krivka);
    }
    void takt(int64_t pozice) override {
        if (dalsi) dalsi->takt(pozice);
        if (zaznam) zaznam->takt(pozice);
    }
};

// One run: its context, the settings it follows and what it finds.
class Beh {
public:
    Beh(const Nastaveni& n, Zapisovac* z)
        : n_(n), z_(z), kontext_(std::make_unique<Kontext>(n.meze)), k_(*kontext_) {}
    ~Beh() { smazpostup(); }

    Vysledek spust();

private:
    void spustsekvenci();
    void prikazovasmycka();
    void docteni();
    void dokoncihudbu();
    void dokonceni();
    void ohlasnesouhlasy();
    std::vector<std::string> naformatujvarovani(std::vector<Hlaseni>& umistena);
    std::vector<std::string> naformatujsouhrn();
    std::string umistenachyba(const ChybaPartitury& e, Hlaseni& misto);
    void moznapostup();
    void smazpostup();
    std::string bajtypartitury(int64_t od, int64_t po);

    const Nastaveni& n_;
    Zapisovac* z_;
    Zapisovac::Potreby potreby_;
    std::unique_ptr<Kontext> kontext_;   // large: the mix cache and the wavetable
    Kontext& k_;
    // What the run found in the score besides errors.
    std::vector<Varovani> pismo_;     // from the lexical check
    int64_t dalsichpismo_ = 0;
    std::unique_ptr<Prehled> prehled_;
    std::unique_ptr<Zaznam> zaznam_;   // the music as written, when anything reads it
    Hudba hudba_;
    std::vector<Varovani> hudbavarovani_;   // what the check of the music found
    int64_t dalsichhudba_ = 0;
    bool hudbahotova_ = false;
    Sber sber_;
    // Where the first comment stands in the score, [od, po): the title of a
    // compressed output.
    int64_t komentarod_ = -1, komentarpo_ = -1;
    // The progress of a long render: reported from half a second on, at
    // most ten times a second.
    bool postup_ = false;
    bool postupukazany_ = false;
    double zacatek_ = 0;
    double posledni_ = 0;
};

void Beh::moznapostup() {
    const double t = platform::ted();
    if (t - zacatek_ < 0.5 || t - posledni_ < 0.1) return;
    posledni_ = t;
    postupukazany_ = true;
    const int64_t celkem = k_.isoubor.velikost();
    Postup p;
    p.procent = celkem > 0 ? static_cast<int>(100 * k_.isoubor.pozice() / celkem) : 0;
    p.noty = k_.pocty.pocetnot;
    p.vzorku = k_.mix.vysledek().konecmixu;
    n_.sledovanipostupu(p);
}

void Beh::smazpostup() {
    if (!postupukazany_) return;
    Postup p;
    p.hotovo = true;
    n_.sledovanipostupu(p);
    postupukazany_ = false;
}

// Sums that did not read back as written go to whoever reports them.
void Beh::ohlasnesouhlasy() {
    std::vector<Nesouhlas>& nesouhlasy = k_.mix.nesouhlasy();
    if (nesouhlasy.empty()) return;
    if (n_.hlasenesouhlasy) n_.hlasenesouhlasy(nesouhlasy);
    nesouhlasy.clear();
}

void Beh::spustsekvenci() {
    const Cesty& cesty = n_.cesty;
    Stav& s = k_.stav;
    s.tempo = (zaklad * 60 / s.tempo) * 4;
    s.puvodnitempo = s.tempo;
    if (n_.text) {
        k_.isoubor.otevritext(*n_.text, cesty.jmenopartitury);
    } else if (!k_.isoubor.otevri(cesty.partitura, cesty.jmenopartitury)) {
        chybasouboruerrno("cannot open the score", cesty.jmenopartitury);
    }
    if (n_.varovani || n_.kontrola) {
        pismo_ = zkontrolujpismo(k_.isoubor, syntaxe(), nejvicvarovani, dalsichpismo_);
    }
    if (!n_.kontrola) k_.mix.otevri(cesty.mix);
    // The default register is loaded when the first note or rest needs it.
    // A check renders nothing: it loads the registers only where they are
    // (to report one that is missing).
    k_.rejstriky.nastavslozku(cesty.rejstriky);
    k_.cekajicirejstriky.push_back({s.reg, -1});
    if (z_) z_->priprav();
}

void Beh::prikazovasmycka() {
    uint32_t kroky = 0;
    Partitura& p = k_.isoubor;
    Stav& s = k_.stav;
    do {
        s.znak = dejznak(p);
        s.pozicepovelu = p.pozice() - 1;
        const Polozka& polozka = polozkapro(s.znak);
        if (polozka.prikaz) {
            Parametr a = ctiparametr(p, polozka.argument, s.neprekladej);
            a.prikaz = s.znak;
            if (k_.pozorovatel) k_.pozorovatel->prikaz(s.pozicepovelu, a.po);
            polozka.prikaz(k_, a);
            if (s.znak == '(' && komentarod_ < 0) komentarod_ = s.pozicepovelu, komentarpo_ = a.po;
            ohlasnesouhlasy();
        }
        if (postup_ && (++kroky & 255) == 0) moznapostup();
    } while (!p.konec());
    doznej(k_);
}

// After an error a check reads on to the end of the score, making no sound
// and reporting only the first error, so that the warnings of the music
// cover all of it as those of the lexical check do. A register that cannot
// be loaded is not asked for again; a score that fails at every command
// stops being read after a thousand errors.
void Beh::docteni() {
    Partitura& p = k_.isoubor;
    for (int chyb = 0; !p.konec() && chyb < 1000; ++chyb) {
        try {
            prikazovasmycka();
            return;
        } catch (const ChybaPartitury&) {
            k_.cekajicirejstriky.clear();
            k_.odlozena.je = false;
        }
    }
}

// The music as written, once the score is read, and what its check finds.
void Beh::dokoncihudbu() {
    if (hudbahotova_) return;
    hudbahotova_ = true;
    if (prehled_) prehled_->dokonci();
    if (!zaznam_) return;
    hudba_ = zaznam_->dokonci(k_.mix.vysledek().konecmixu);
    if (n_.varovani || n_.kontrola) hudbavarovani_ = zkontrolujhudbu(hudba_, nejvicvarovani, dalsichhudba_);
}

// The bytes of the score from od to po as they stand, zero bytes included.
std::string Beh::bajtypartitury(int64_t od, int64_t po) {
    Partitura& p = k_.isoubor;
    p.vrat(Partitura::Znacka{od, false, 0});
    std::string b;
    for (int64_t i = od; i < po && i - od < 4096; ++i) {
        const int c = p.cti();
        if (c < 0) break;
        b += static_cast<char>(c);
    }
    return b;
}

void Beh::dokonceni() {
    k_.mix.dopismix();
    ohlasnesouhlasy();
    const int64_t mixbajtu = k_.mix.delkamixu();
    std::string komentar;
    if (n_.kodovani.format != Format::wav && n_.kodovani.nazev.empty() && komentarod_ >= 0) {
        komentar = bajtypartitury(komentarod_, komentarpo_);
    }
    k_.isoubor.zavri();
    smazpostup();
    if (z_) {
        const Metrumtaktu metrum = zaznam_ ? hudba_.metrum : Metrumtaktu{};
        const double maximum = n_.pevnemaximum > 0 ? n_.pevnemaximum : k_.mix.vysledek().maximum;
        z_->zapis(Hotovo{k_.mix, mixbajtu, maximum, sber_.noty, std::max<int64_t>(0, sber_.celatempa), metrum,
                         zaznam_ ? &hudba_ : nullptr, komentar});
    }
    k_.mix.smazmix();
}

// The warnings of both checks in the order of the score, each with its
// line and column; the score must still be open.
std::vector<std::string> Beh::naformatujvarovani(std::vector<Hlaseni>& umistena) {
    std::vector<Varovani> vse = pismo_;
    int64_t dalsich = dalsichpismo_;
    if (prehled_) {
        vse.insert(vse.end(), prehled_->varovani.begin(), prehled_->varovani.end());
        dalsich += prehled_->dalsichvarovani;
    }
    vse.insert(vse.end(), hudbavarovani_.begin(), hudbavarovani_.end());
    dalsich += dalsichhudba_;
    std::stable_sort(vse.begin(), vse.end(), [](const Varovani& a, const Varovani& b) { return a.pozice < b.pozice; });
    std::vector<int64_t> pozice;
    for (const Varovani& v : vse) pozice.push_back(v.pozice);
    const std::vector<Partitura::Misto> mista = k_.isoubor.umisteni(pozice);
    std::vector<std::string> radky;
    const std::string& jmeno = n_.cesty.jmenopartitury;
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
std::vector<std::string> Beh::naformatujsouhrn() {
    const Prehled& p = *prehled_;
    std::vector<std::string> radky;
    std::string o = n_.cesty.jmenopartitury + ": " + popiscasu(static_cast<double>(p.konec) / zaklad) + ", ";
    if (p.noty == 0) {
        o += "no notes";
    } else {
        o += std::to_string(p.noty) + (p.noty == 1 ? " note" : " notes") + ", range " + jmenotonu(p.nejnizsi) +
             " to " + jmenotonu(p.nejvyssi);
    }
    // The voices as the music has them: by continuation, not by the order
    // of writing.
    struct Hlas {
        int64_t prvni = INT64_MAX;
        Zlomek zacatek, konec;
        int64_t zacatekvzorku = INT64_MAX, konecvzorku = 0;
        bool je = false;
        int nejnizsi = -1, nejvyssi = -1;   // segments
        std::string rejstriky;              // in the order they come
    };
    std::vector<Hlas> hlasy(static_cast<size_t>(std::max(0, hudba_.hlasu)));
    for (const Udalost& e : hudba_.udalosti) {
        if (e.hlas < 0) continue;
        Hlas& h = hlasy[static_cast<size_t>(e.hlas)];
        if (!h.je || e.zacatek < h.zacatek) h.zacatek = e.zacatek;
        if (!h.je || e.konec() > h.konec) h.konec = e.konec();
        h.je = true;
        h.prvni = std::min(h.prvni, e.pozice);
        h.zacatekvzorku = std::min(h.zacatekvzorku, e.kurzor);
        h.konecvzorku = std::max(h.konecvzorku, e.kurzor + e.krok);
        if (!e.hraje()) continue;
        if (h.nejnizsi < 0 || e.segment < h.nejnizsi) h.nejnizsi = e.segment;
        h.nejvyssi = std::max<int>(h.nejvyssi, e.segment);
        if (h.rejstriky.find(e.reg) == std::string::npos) h.rejstriky += e.reg;
    }
    const size_t hlasu = hlasy.size();
    radky.push_back(o + ", " + std::to_string(hlasu) + (hlasu == 1 ? " voice" : " voices"));
    int64_t konechlasu = 0;
    for (const Hlas& h : hlasy) konechlasu = std::max(konechlasu, h.konecvzorku);
    if (konechlasu > p.konec) {
        // A note longer than its recording falls silent before its voice
        // ends; the WAV is as long as what sounds.
        radky.push_back("  the sound ends at " + popiscasu(static_cast<double>(p.konec) / zaklad, 2) +
                        " (the WAV's length), before the last voice, which ends at " +
                        popiscasu(static_cast<double>(konechlasu) / zaklad, 2) + ": no note sounds longer than "
                        "its " + std::to_string(delkatonu / zaklad) + "-second recording");
    }
    const size_t ukazanych = std::min<size_t>(hlasy.size(), 1000);
    std::vector<int64_t> pozice;
    for (size_t i = 0; i < ukazanych; ++i) pozice.push_back(hlasy[i].prvni);
    const std::vector<Partitura::Misto> mista = k_.isoubor.umisteni(pozice);
    for (size_t i = 0; i < ukazanych; ++i) {
        const Hlas& h = hlasy[i];
        std::string popis;
        for (char reg : h.rejstriky) popis += (popis.empty() ? "" : " and ") + jmenorejstriku(reg);
        popis += (popis.empty() ? "" : ", ") +
                 (h.nejnizsi < 0 ? std::string("no notes") : jmenotonu(h.nejnizsi) + " to " + jmenotonu(h.nejvyssi));
        radky.push_back("  voice " + std::to_string(i + 1) + " (" + popis + "), line " + std::to_string(mista[i].radek) +
                        ": whole notes " + vcelych(h.zacatek.cislo()) + " to " + vcelych(h.konec.cislo()) + ", " +
                        popiscasu(static_cast<double>(h.zacatekvzorku) / zaklad, 2) + " to " +
                        popiscasu(static_cast<double>(h.konecvzorku) / zaklad, 2));
    }
    if (hlasy.size() > ukazanych) radky.push_back("  and " + std::to_string(hlasy.size() - ukazanych) + " more voices");
    return radky;
}

std::string Beh::umistenachyba(const ChybaPartitury& e, Hlaseni& misto) {
    int64_t radek = 0;
    int64_t sloupec = 0;
    k_.isoubor.umisteni(k_.stav.pozicepovelu, radek, sloupec);
    misto = {k_.stav.pozicepovelu, radek, sloupec, e.what()};
    return n_.cesty.jmenopartitury + ":" + std::to_string(radek) + ":" + std::to_string(sloupec) + ": " + e.what();
}

Vysledek Beh::spust() {
    k_.dozvuk = int64_t{n_.dozvukms} * zaklad / 1000;
    k_.sledovaninoty = n_.sledovaninoty;
    k_.mixovat = !n_.kontrola;
    k_.mix.nastavzaznam(n_.zaznammixu);
    k_.vynechat = n_.vynechat;
    std::sort(k_.vynechat.begin(), k_.vynechat.end());
    postup_ = n_.sledovanipostupu && !n_.kontrola;
    if (z_) potreby_ = z_->potreby();
    zacatek_ = platform::ted();
    Vysledek r;
    // The music as written also gives a MIDI file and sheet music their time signature.
    const bool hudba = n_.kontrola || n_.souhrn || n_.hudba || n_.seznamnot || potreby_.hudba;
    if (n_.varovani || hudba) prehled_ = std::make_unique<Prehled>(nejvicvarovani);
    // The music as written: in full for whoever reads it; for the warnings
    // of a render alone, up to a size that keeps its memory small (a
    // check looks at any piece in full).
    if (hudba || potreby_.metrum) {
        zaznam_ = std::make_unique<Zaznam>();
    } else if (n_.varovani) {
        zaznam_ = std::make_unique<Zaznam>(nejvicudalosti);
    }
    sber_.prehled = prehled_.get();
    sber_.zaznam = zaznam_.get();
    sber_.sbirat = !n_.kontrola && (potreby_.noty || n_.seznamnot);
    sber_.sledovaniprikazu = n_.sledovaniprikazu;
    sber_.dalsi = n_.pozorovatel;
    if (prehled_ || zaznam_ || sber_.sbirat || sber_.sledovaniprikazu || sber_.dalsi) k_.pozorovatel = &sber_;
    // Warnings are placed while the score is still open, also when the run
    // stops at an error.
    auto varovani = [&] {
        if ((n_.varovani || n_.kontrola) && k_.isoubor.jeotevrena()) r.varovani = naformatujvarovani(r.mistavarovani);
    };
    auto konec = [&](int status, std::string zprava) {
        r.status = status;
        r.zprava = std::move(zprava);
        r.noty = k_.pocty.pocetnot;
        r.stav = k_.stav;
        r.pocty = k_.pocty;
        r.mix = k_.mix.vysledek();
        return r;
    };
    try {
        spustsekvenci();
        if (n_.kontrola) {
            try {
                prikazovasmycka();
            } catch (const ChybaPartitury& e) {
                const std::string zprava = umistenachyba(e, r.mistochyby);
                docteni();
                dokoncihudbu();
                varovani();
                return konec(1, zprava);
            }
        } else {
            prikazovasmycka();
        }
        dokoncihudbu();
        varovani();
        if (n_.kontrola || n_.souhrn) r.souhrn = naformatujsouhrn();
        if (n_.kontrola) {
            if (n_.hudba) r.hudba = std::move(hudba_);
            return konec(0, "");
        }
        dokonceni();
        r.vzorku = k_.mix.vysledek().konecmixu;
        if (n_.seznamnot) {
            r.seznamnot = std::move(sber_.noty);
            // Each note's voice, from the music as written.
            std::vector<std::pair<int64_t, int32_t>> hlasy;
            for (const Udalost& e : hudba_.udalosti) {
                if (e.hraje()) hlasy.push_back({e.pozice, e.hlas});
            }
            std::sort(hlasy.begin(), hlasy.end());
            for (Nota& nota : r.seznamnot) {
                auto it = std::lower_bound(hlasy.begin(), hlasy.end(), std::make_pair(nota.pozice, INT32_MIN));
                if (it != hlasy.end() && it->first == nota.pozice) nota.hlas = it->second;
            }
        }
        if (n_.hudba) r.hudba = std::move(hudba_);
    } catch (const ChybaPartitury& e) {
        const std::string zprava = umistenachyba(e, r.mistochyby);
        dokoncihudbu();
        varovani();
        return konec(1, zprava);
    } catch (const ChybaSouboru& e) {
        varovani();
        return konec(1, e.what());
    } catch (const std::bad_alloc&) {
        // The temporary files of the output went as it unwound, the mix file
        // goes with the run; placing the warnings would need memory again.
        return konec(1, "out of memory");
    }
    if (k_.mix.vysledek().nesouhlasy > 0) {
        // The outputs were still made, from what the file held; the run
        // sequence says which.
        return konec(1, "the mix file did not read back as written (" + std::to_string(k_.mix.vysledek().nesouhlasy) +
                            " sums differed)");
    }
    return konec(0, "");
}

}  // namespace

Vysledek spust(const Nastaveni& n, Zapisovac* z) { return Beh(n, z).spust(); }

}  // namespace skladba
