#include "output/vyroba.h"

#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "base/chyba.h"
#include "base/jmeno.h"
#include "base/format.h"
#include "output/midi.h"
#include "output/musicxml.h"
#include "output/obalka.h"
#include "output/obraz.h"
#include "output/rozpracovany.h"
#include "output/wav.h"
#include "platform/system.h"
#include "synth/mix.h"

namespace skladba {

namespace {

std::string midivystup(const Hudba& hudba, const Nastaveni& n, int64_t, const Obalka*) {
    PopisMidi popis;
    popis.nazev = n.cesty.jmenopartitury;
    popis.metrum = hudba.metrum;
    popis.mrizka = n.midimrizka;
    return bajtymidi(hudba, popis);
}

std::string obrazvystup(const Hudba& hudba, const Nastaveni& n, int64_t vzorku, const Obalka* obalka) {
    PopisObrazu popis{n.cesty.jmenopartitury, vzorku, {}, {}, 2};
    hudba.mrizka(popis.takty, popis.doby);
    popis.prvnitakt = hudba.predtakt > Zlomek{} ? 1 : 2;
    return kresliobraz(hudba, *obalka, popis);
}

std::string notyvystup(const Hudba& hudba, const Nastaveni& n, int64_t, const Obalka*) {
    std::string bajty, proc;
    if (!bajtymusicxml(hudba, jmenobezpripony(n.cesty.jmenopartitury), "skladba", bajty, proc)) {
        chybasouboru("cannot write " + n.cesty.musicxml + ": " + proc);
    }
    return bajty;
}

// The progress line of a long render, on standard error when it is a
// terminal.
void ukazpostup(const std::string& jmeno, const Postup& p) {
    if (p.hotovo) {
        std::fputs("\r\033[K", stderr);
    } else {
        const int64_t sekund = p.vzorku / zaklad;
        std::fprintf(stderr, "\r%s: %3d%% of the score, %lld notes, %lld:%02lld so far\033[K", jmeno.c_str(),
                     p.procent, static_cast<long long>(p.noty), static_cast<long long>(sekund / 60),
                     static_cast<long long>(sekund % 60));
    }
    std::fflush(stderr);
}

// Sums that did not read back as written: one line each on standard output
// (on standard error when the WAV itself goes to standard output), and on a
// terminal a wait for a key so that the line can be read.
void ukaznesouhlasy(const std::vector<Nesouhlas>& nesouhlasy, bool wavnavystup) {
    std::FILE* kam = wavnavystup ? stderr : stdout;
    for (const Nesouhlas& x : nesouhlasy) {
        std::fprintf(kam, "\n problem %d %d %lld", x.zapsano, x.precteno, static_cast<long long>(x.vzorek));
        std::fflush(kam);
        if (platform::vstupjeterminal()) platform::cekejnaklavesu();
    }
}

// A mix file that did not read back still made the outputs: which, is said.
void dopovezneshody(Vysledek& r, const std::string& vystup) {
    if (r.mix.nesouhlasy == 0) return;
    const std::string wav = vystup == "-" ? "the WAV on standard output" : vystup;
    r.zprava += "; " + wav + " was made from what the file held";
}

}  // namespace

const Vystup vystupy[pocetvystupu] = {
    {"--midi", "midi", "mid", "audio/midi", &Cesty::midi, false, midivystup},
    {"--piano-roll", "svg", "svg", "image/svg+xml; charset=utf-8", &Cesty::obraz, true, obrazvystup},
    {"--musicxml", "musicxml", "musicxml", "application/vnd.recordare.musicxml+xml", &Cesty::musicxml, false,
     notyvystup},
};

namespace {

// Writes what a render made, from the names in the settings: as files put
// in place together, or kept in memory.
class Vystupy : public Zapisovac {
public:
    Vystupy(const Nastaveni& n, Vyrobek* pamet) : n_(n), c_(n.cesty), pamet_(pamet) {}

    // Outputs that cannot be written are refused before anything is
    // rendered, and the header template is read now, so that a missing one
    // costs no render. A check reads it too where the registers are known,
    // and so fails where the render would.
    void priprav() override {
        if (n_.kontrola) {
            if (!c_.rejstriky.empty()) nactihlavicku(c_.rejstriky + "/" + sablonahlavicky);
            return;
        }
        if (!pamet_) {
            pripravvystup(c_.vystup);
            for (const Vystup& v : vystupy) {
                if (!(c_.*v.cesta).empty()) pripravvystup(c_.*v.cesta);
            }
        }
        hlavicka_ = nactihlavicku(c_.rejstriky + "/" + sablonahlavicky);
    }

    void zapis(const Hotovo& h) override {
        std::vector<size_t> chtene;
        for (size_t i = 0; i < pocetvystupu; ++i) {
            if (!(c_.*vystupy[i].cesta).empty()) chtene.push_back(i);
        }
        for (size_t i : chtene) {
            if (vystupy[i].obalka && !obalka_) obalka_ = std::make_unique<Obalka>();
        }
        Kodovani kodovani = n_.kodovani;
        kodovani.partitura = c_.jmenopartitury;
        kodovani.komentar = h.komentar;
        // The directives name the piece and its composer; --title and --artist win.
        if (kodovani.nazev.empty()) kodovani.nazev = h.nazev;
        if (kodovani.autor.empty()) kodovani.autor = h.autor;
        const ZdrojWav zdroj{h.mix, h.mixbajtu, h.maximum, hlavicka_, obalka_.get(), &kodovani, h.pravy};
        auto bajty = [&](size_t i) { return vystupy[i].bajty(*h.hudba, n_, h.mixbajtu / 4, obalka_.get()); };
        if (pamet_) {
            pamet_->wav = wavvpameti(zdroj);
            for (size_t i : chtene) pamet_->soubory[i] = bajty(i);
            return;
        }
        // The files beside the WAV are made once the WAV is complete (the
        // piano roll draws its waveform) and renamed right after it.
        std::vector<std::unique_ptr<Rozpracovany>> soubory;
        Souputnici souputnici;
        if (!chtene.empty()) {
            souputnici = [&] {
                std::vector<Rozpracovany*> hotove;
                for (size_t i : chtene) {
                    soubory.push_back(std::make_unique<Rozpracovany>(c_.*vystupy[i].cesta));
                    soubory.back()->pis(bajty(i));
                    soubory.back()->dokonci(n_.nadisk);
                    hotove.push_back(soubory.back().get());
                }
                return hotove;
            };
        }
        zapiswav(zdroj, c_.vystup, n_.uspechjekonecny, souputnici, n_.nadisk);
    }

private:
    const Nastaveni& n_;
    const Cesty& c_;
    Vyrobek* pamet_;
    Hlavicka hlavicka_;
    std::unique_ptr<Obalka> obalka_;   // the waveform under the piano roll
};

// The outputs beside the WAV read the music as written.
bool chcehudbu(const Cesty& c) {
    for (const Vystup& v : vystupy) {
        if (!(c.*v.cesta).empty()) return true;
    }
    return false;
}

// With --master: where each voice stands in the stereo field, from a first
// reading of the score (which renders nothing): the voices in the order of
// their mean pitch, spread evenly from the left (the lowest) to the right
// (the highest), over 60 % of the way to each side, as an ensemble sits
// rather than one instrument in each speaker. One voice stands in the centre.
// A score on standard input is read into text first, so both readings see it.
void umistihlasy(Nastaveni& n, std::string& text) {
    const Master& m = n.kodovani.master;
    if (!m.zapnuto || !m.panorama || n.kontrola || !n.polohy.empty()) return;
    if (!n.text && n.cesty.partitura == "-") {
        char blok[65536];
        for (ssize_t r; (r = platform::ctiproud(0, blok, sizeof blok)) > 0;) text.append(blok, static_cast<size_t>(r));
        n.text = &text;
    }
    Nastaveni c = n;
    c.kontrola = true;
    c.hudba = true;
    c.varovani = false;
    c.souhrn = false;
    c.postup = false;
    c.sledovanipostupu = nullptr;
    c.pozorovatel = nullptr;
    c.hlasenesouhlasy = nullptr;
    const Vysledek r = spust(c, nullptr);
    if (r.status != 0) return;   // the render says what is wrong
    const Hudba& h = r.hudba;
    std::vector<double> soucet(static_cast<size_t>(std::max(0, h.hlasu)), 0.0);
    std::vector<int64_t> pocet(soucet.size(), 0);
    for (const Udalost& e : h.udalosti) {
        if (!e.hraje() || e.hlas < 0 || e.hlas >= h.hlasu) continue;
        soucet[e.hlas] += e.segment;
        ++pocet[e.hlas];
    }
    std::vector<int32_t> poradi;
    for (int32_t v = 0; v < h.hlasu; ++v) {
        if (pocet[v] > 0) poradi.push_back(v);
    }
    const auto vyska = [&](int32_t v) { return soucet[v] / static_cast<double>(pocet[v]); };
    std::stable_sort(poradi.begin(), poradi.end(), [&](int32_t a, int32_t b) { return vyska(a) < vyska(b); });
    std::vector<double> poloha(soucet.size(), 0.0);
    for (size_t i = 0; poradi.size() > 1 && i < poradi.size(); ++i) {
        poloha[poradi[i]] = -0.6 + 1.2 * static_cast<double>(i) / static_cast<double>(poradi.size() - 1);
    }
    // A part whose pan: directive says where it sits stands there instead.
    const auto pan = [&](const Udalost& e) -> const Cast* {
        if (e.cast < 0 || static_cast<size_t>(e.cast) >= h.casti.size()) return nullptr;
        const Cast& c = h.casti[static_cast<size_t>(e.cast)];
        return c.mapan ? &c : nullptr;
    };
    const bool nektera = std::any_of(h.udalosti.begin(), h.udalosti.end(), [&](const Udalost& e) { return pan(e); });
    if (poradi.size() < 2 && !nektera) return;
    n.polohy.assign(h.udalosti.size(), 0.0);
    for (size_t i = 0; i < h.udalosti.size(); ++i) {
        const Udalost& e = h.udalosti[i];
        if (!e.hraje() || e.hlas < 0 || e.hlas >= h.hlasu) continue;
        const Cast* c = pan(e);
        n.polohy[i] = c ? std::clamp(c->pan, -1.0, 1.0) : poloha[e.hlas];
    }
}

}  // namespace

Vysledek vyrob(const Nastaveni& n) {
    Nastaveni s = n;
    s.hudba = n.hudba || chcehudbu(n.cesty);
    std::string text;
    umistihlasy(s, text);
    if (n.postup && platform::chybjeterminal()) {
        s.sledovanipostupu = [&](const Postup& p) { ukazpostup(n.cesty.jmenopartitury, p); };
    }
    const bool wavnavystup = n.cesty.vystup == "-";
    if (!s.hlasenesouhlasy) {
        s.hlasenesouhlasy = [wavnavystup](const std::vector<Nesouhlas>& x) { ukaznesouhlasy(x, wavnavystup); };
    }
    Vystupy vystupy(s, nullptr);
    Vysledek r = spust(s, &vystupy);
    dopovezneshody(r, n.cesty.vystup);
    return r;
}

std::string vyrobzesum(const Nastaveni& n, const Vysledek& r, const Sumy& s, const std::string& pripona) {
    if (pripona == "wav") return wavzesum(s.sumy, s.pocet, s.maximum, nactihlavicku(n.cesty.rejstriky + "/" + sablonahlavicky));
    for (const Vystup& v : vystupy) {
        if (pripona != v.pripona) continue;
        std::unique_ptr<Obalka> obalka;
        if (v.obalka) {
            // The waveform of the WAV these sums make.
            obalka = std::make_unique<Obalka>();
            obalka->zacni(s.pocet);
            std::vector<int16_t> blok(delkatonu);
            for (int64_t i = 0; i < s.pocet; i += delkatonu) {
                const int count = static_cast<int>(std::min<int64_t>(delkatonu, s.pocet - i));
                prevedsumy(s.sumy + i, blok.data(), count, s.maximum);
                obalka->pridej(i, blok.data(), count);
            }
        }
        return v.bajty(r.hudba, n, s.pocet, obalka.get());
    }
    return "";
}

Vyrobek vyrobvpameti(const Nastaveni& n) {
    Nastaveni s = n;
    s.hudba = n.hudba || chcehudbu(n.cesty);
    std::string text;
    umistihlasy(s, text);
    Vyrobek v;
    Vystupy vystupy(s, &v);
    v.vysledek = spust(s, &vystupy);
    dopovezneshody(v.vysledek, "the WAV");
    return v;
}

}  // namespace skladba
