#include "output/vyroba.h"

#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "base/chyba.h"
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

// The title of sheet music: the score's file name without its folder and
// extension ("songs/kanon.txt" is "kanon").
std::string nazevskladby(const std::string& jmeno) {
    std::string n = jmeno.substr(jmeno.rfind('/') == std::string::npos ? 0 : jmeno.rfind('/') + 1);
    const size_t tecka = n.rfind('.');
    if (tecka != std::string::npos && tecka > 0) n.erase(tecka);
    return n;
}

std::string midizhudby(const Nastaveni& n, const Hudba& hudba) {
    PopisMidi popis;
    popis.nazev = n.cesty.jmenopartitury;
    popis.metrum = hudba.metrum;
    popis.mrizka = n.midimrizka;
    return bajtymidi(hudba, popis);
}

std::string obrazzhudby(const Nastaveni& n, const Hudba& hudba, const Obalka& obalka, int64_t vzorku) {
    PopisObrazu popis{n.cesty.jmenopartitury, vzorku, {}, {}, 2};
    hudba.mrizka(popis.takty, popis.doby);
    popis.prvnitakt = hudba.predtakt > Zlomek{} ? 1 : 2;
    return kresliobraz(hudba, obalka, popis);
}

std::string musicxmlzhudby(const Nastaveni& n, const Hudba& hudba) {
    std::string bajty, proc;
    if (!bajtymusicxml(hudba, nazevskladby(n.cesty.jmenopartitury), "skladba", bajty, proc)) {
        chybasouboru("cannot write " + n.cesty.musicxml + ": " + proc);
    }
    return bajty;
}

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
            for (const std::string* cesta : {&c_.midi, &c_.obraz, &c_.musicxml}) {
                if (!cesta->empty()) pripravvystup(*cesta);
            }
        }
        hlavicka_ = nactihlavicku(c_.rejstriky + "/" + sablonahlavicky);
    }

    void zapis(const Hotovo& h) override {
        if (!c_.obraz.empty()) obalka_ = std::make_unique<Obalka>();
        Kodovani kodovani = n_.kodovani;
        kodovani.partitura = c_.jmenopartitury;
        kodovani.komentar = h.komentar;
        const ZdrojWav zdroj{h.mix, h.mixbajtu, h.maximum, hlavicka_, obalka_.get(), &kodovani};
        if (pamet_) {
            pamet_->wav = wavvpameti(zdroj);
            if (!c_.midi.empty()) pamet_->midi = midi(h);
            if (!c_.obraz.empty()) pamet_->obraz = obraz(h);
            if (!c_.musicxml.empty()) pamet_->musicxml = musicxml(h);
            return;
        }
        // The files beside the WAV are made once the WAV is complete (the
        // piano roll draws its waveform) and renamed right after it.
        std::vector<std::unique_ptr<Rozpracovany>> soubory;
        Souputnici souputnici;
        if (!c_.midi.empty() || !c_.obraz.empty() || !c_.musicxml.empty()) {
            souputnici = [&] {
                std::vector<Rozpracovany*> hotove;
                auto pridej = [&](const std::string& cesta, const std::string& bajty) {
                    soubory.push_back(std::make_unique<Rozpracovany>(cesta));
                    soubory.back()->pis(bajty);
                    soubory.back()->dokonci(n_.nadisk);
                    hotove.push_back(soubory.back().get());
                };
                if (!c_.midi.empty()) pridej(c_.midi, midi(h));
                if (!c_.obraz.empty()) pridej(c_.obraz, obraz(h));
                if (!c_.musicxml.empty()) pridej(c_.musicxml, musicxml(h));
                return hotove;
            };
        }
        zapiswav(zdroj, c_.vystup, n_.uspechjekonecny, souputnici, n_.nadisk);
    }

private:
    std::string midi(const Hotovo& h) const { return midizhudby(n_, *h.hudba); }
    std::string obraz(const Hotovo& h) const { return obrazzhudby(n_, *h.hudba, *obalka_, h.mixbajtu / 4); }
    std::string musicxml(const Hotovo& h) const { return musicxmlzhudby(n_, *h.hudba); }

    const Nastaveni& n_;
    const Cesty& c_;
    Vyrobek* pamet_;
    Hlavicka hlavicka_;
    std::unique_ptr<Obalka> obalka_;   // the waveform under the piano roll
};

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

// The outputs beside the WAV read the music as written.
bool chcehudbu(const Cesty& c) { return !c.midi.empty() || !c.obraz.empty() || !c.musicxml.empty(); }

}  // namespace

Vysledek vyrob(const Nastaveni& n) {
    Nastaveni s = n;
    s.hudba = n.hudba || chcehudbu(n.cesty);
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

std::string vyrobzesum(const Nastaveni& n, const Vysledek& r, const Sumy& s, const std::string& druh) {
    if (druh == "wav") return wavzesum(s.sumy, s.pocet, s.maximum, nactihlavicku(n.cesty.rejstriky + "/" + sablonahlavicky));
    if (druh == "mid") return midizhudby(n, r.hudba);
    if (druh == "musicxml") return musicxmlzhudby(n, r.hudba);
    // The piano roll draws the waveform of the WAV.
    Obalka obalka;
    obalka.zacni(s.pocet);
    std::vector<int16_t> blok(delkatonu);
    for (int64_t i = 0; i < s.pocet; i += delkatonu) {
        const int count = static_cast<int>(std::min<int64_t>(delkatonu, s.pocet - i));
        prevedsumy(s.sumy + i, blok.data(), count, s.maximum);
        obalka.pridej(i, blok.data(), count);
    }
    return obrazzhudby(n, r.hudba, obalka, s.pocet);
}

Vyrobek vyrobvpameti(const Nastaveni& n) {
    Nastaveni s = n;
    s.hudba = n.hudba || chcehudbu(n.cesty);
    Vyrobek v;
    Vystupy vystupy(s, &v);
    v.vysledek = spust(s, &vystupy);
    dopovezneshody(v.vysledek, "the WAV");
    return v;
}

}  // namespace skladba
