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
#include "engine/prikazy.h"
#include "engine/ton.h"
#include "platform/system.h"
#include "score/ctenar.h"
#include "score/kontrola.h"
#include "score/kontrolahudby.h"
#include "score/smernice.h"
#include "synth/mix.h"
#include "synth/rejstrik.h"

namespace skladba {

namespace {

// Warnings kept of each kind (the lexical ones, the engine's, the music's);
// a score full of one mistake says it a hundred times and counts the rest.
constexpr size_t nejvicvarovani = 100;
// Notes, rests and dots of the music a render keeps for its warnings alone
// (some 48 MiB: more than an hour of four voices); past them the render
// says that its warnings stopped there.
constexpr size_t nejvicudalosti = size_t{1} << 18;

// What the directives of a score said, for the check's summary: "title
// Elegy, composer X, time 6/8 with a pickup of 1/8, key E minor, parts
// Violin I, Viola".
std::string popissmernic(const Hudba& h) {
    std::string t;
    auto pridej = [&](const std::string& x) { t += (t.empty() ? "" : ", ") + x; };
    if (!h.nazev.empty()) pridej("title " + h.nazev);
    if (!h.autor.empty()) pridej("composer " + h.autor);
    for (const ZmenaMetra& m : h.metra) {
        const bool prvni = &m == &h.metra.front();
        pridej("time " + textmetra(m.citatel, m.jmenovatel, m.skupiny) +
               (prvni ? (h.predtakt > Zlomek{} ? " with a pickup of " + h.predtakt.text() : std::string{})
                      : " at whole note " + m.kde.text()));
    }
    for (const ZmenaToniny& k : h.toniny) {
        pridej("key " + texttoniny(k.kvinty, k.moll) + (k.kde == Zlomek{} ? std::string{} : " at whole note " + k.kde.text()));
    }
    if (!h.casti.empty()) {
        std::string c;
        for (const Cast& x : h.casti) c += (c.empty() ? "" : ", ") + x.jmeno;
        pridej((h.casti.size() == 1 ? "part " : "parts ") + c);
    }
    return t;
}

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
    std::unique_ptr<Kontext> kontext_;   // large: the mix cache and the wavetable
    Kontext& k_;
    // What the run found in the score besides errors.
    std::vector<Varovani> pismo_;     // from the lexical check
    int64_t dalsichpismo_ = 0;
    std::unique_ptr<Zaznam> zaznam_;   // the run's observer: the music as written, when anything reads it
    Hudba hudba_;
    std::vector<Varovani> hudbavarovani_;   // what the check of the music found
    int64_t dalsichhudba_ = 0;
    bool hudbahotova_ = false;
    // Where the first comment that is no directive stands in the score,
    // [od, po), and what the title: and composer: directives say: the tags
    // of a compressed output.
    int64_t komentarod_ = -1, komentarpo_ = -1;
    std::string nazev_, autor_;
    void zapamatujkomentar(int64_t pozice, const Parametr& a) {
        Smernice x;
        if (!ctismernici(a.text, x)) {
            if (komentarod_ < 0) komentarod_ = pozice, komentarpo_ = a.po;
        } else if (x.chyba.empty() && x.druh == DruhSmernice::nazev && nazev_.empty()) {
            nazev_ = x.text;
        } else if (x.chyba.empty() && x.druh == DruhSmernice::autor && autor_.empty()) {
            autor_ = x.text;
        }
    }
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
    for (Mix* m : {&k_.mix, k_.pravy.get()}) {
        if (!m) continue;
        std::vector<Nesouhlas>& nesouhlasy = m->nesouhlasy();
        if (nesouhlasy.empty()) continue;
        if (n_.hlasenesouhlasy) n_.hlasenesouhlasy(nesouhlasy);
        nesouhlasy.clear();
    }
}

// The right channel's mix file beside the left one's: kanon.wav.mix gives
// kanon.wav.r.mix, _.tmp gives _.tmp.r.mix.
std::string mixpraveho(const std::string& mix) {
    const std::string pripona = ".mix";
    const bool smix = mix.size() > pripona.size() && mix.compare(mix.size() - pripona.size(), pripona.size(), pripona) == 0;
    return (smix ? mix.substr(0, mix.size() - pripona.size()) : mix) + ".r" + pripona;
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
    // The mix of a WAV on standard output is named after the process, so no
    // other run shares it: its file is made only if the mix leaves memory,
    // and a folder that takes no file fails only a piece that needs one.
    if (!n_.kontrola) k_.mix.otevri(cesty.mix, cesty.vystup == "-");
    if (!n_.kontrola && n_.kodovani.master.zapnuto) {
        // The right channel holds a budget of its own, the size of the left's.
        k_.pravy = std::make_unique<Mix>(k_.meze);
        k_.pravy->otevri(mixpraveho(cesty.mix));
        k_.polohy = n_.polohy;
    }
    // The default register is loaded when the first note or rest needs it.
    // A check renders nothing: it loads the registers only where they are
    // (to report one that is missing).
    k_.rejstriky.nastavslozku(cesty.rejstriky);
    k_.rejstriky.nastavpamet(n_.pamatrejstriku);
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
            if (s.znak == '(') zapamatujkomentar(s.pozicepovelu, a);
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
    if (!zaznam_) return;
    hudba_ = zaznam_->dokonci(k_.mix.vysledek().konecmixu);
    if (n_.varovani || n_.kontrola) hudbavarovani_ = zkontrolujhudbu(hudba_, nejvicvarovani, dalsichhudba_);
    if (n_.varovani && zaznam_->preplneny()) {
        hudbavarovani_.push_back({0, "the piece has more than " + std::to_string(nejvicudalosti) +
                                         " notes, rests and dots: a render checks no more of its music than that "
                                         "(skladba --check checks all of it)"});
    }
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
    if (k_.pravy) k_.pravy->dopismix();
    ohlasnesouhlasy();
    const int64_t mixbajtu = k_.mix.delkamixu();
    std::string komentar;
    if (n_.kodovani.format != Format::wav && n_.kodovani.nazev.empty() && komentarod_ >= 0) {
        komentar = bajtypartitury(komentarod_, komentarpo_);
    }
    k_.isoubor.zavri();
    smazpostup();
    if (z_) {
        double maximum = n_.pevnemaximum > 0 ? n_.pevnemaximum : k_.mix.vysledek().maximum;
        if (k_.pravy && n_.pevnemaximum <= 0) maximum = std::max(maximum, k_.pravy->vysledek().maximum);
        z_->zapis(Hotovo{k_.mix, mixbajtu, maximum, n_.hudba ? &hudba_ : nullptr, komentar, nazev_, autor_, k_.pravy.get()});
    }
    k_.mix.smazmix();
    if (k_.pravy) k_.pravy->smazmix();
}

// The warnings of both checks in the order of the score, each with its
// line and column; the score must still be open.
std::vector<std::string> Beh::naformatujvarovani(std::vector<Hlaseni>& umistena) {
    std::vector<Varovani> vse = pismo_;
    int64_t dalsich = dalsichpismo_;
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
    int64_t konec = 0, noty = 0;   // the end of the segment that ends last (the WAV's length), notes that sound
    int nejnizsi = -1, nejvyssi = -1;
    for (const Udalost& e : hudba_.udalosti) {
        konec = std::max(konec, e.start + e.zni);
        if (!e.hraje()) continue;
        ++noty;
        if (nejnizsi < 0 || e.segment < nejnizsi) nejnizsi = e.segment;
        nejvyssi = std::max<int>(nejvyssi, e.segment);
    }
    auto celych = [](const Zlomek& z) { return desetinne(z.cislo(), 3); };
    std::vector<std::string> radky;
    std::string o = n_.cesty.jmenopartitury + ": " + popiscasu(static_cast<double>(konec) / zaklad) + ", ";
    if (noty == 0) {
        o += "no notes";
    } else {
        o += std::to_string(noty) + (noty == 1 ? " note" : " notes") + ", range " + jmenotonu(nejnizsi) + " to " +
             jmenotonu(nejvyssi);
    }
    // The voices as the music has them: by continuation, not by the order
    // of writing.
    const std::vector<SouhrnHlasu> hlasy = souhrnhlasu(hudba_);
    const size_t hlasu = hlasy.size();
    radky.push_back(o + ", " + std::to_string(hlasu) + (hlasu == 1 ? " voice" : " voices"));
    const std::string smernice = popissmernic(hudba_);
    if (!smernice.empty()) radky.push_back("  " + smernice);
    int64_t konechlasu = 0;
    for (const SouhrnHlasu& h : hlasy) konechlasu = std::max(konechlasu, h.konecvzorku);
    if (konechlasu > konec) {
        // A note longer than its recording falls silent before its voice
        // ends; the WAV is as long as what sounds.
        radky.push_back("  the sound ends at " + popiscasu(static_cast<double>(konec) / zaklad, 2) +
                        " (the WAV's length), before the last voice, which ends at " +
                        popiscasu(static_cast<double>(konechlasu) / zaklad, 2) + ": no note sounds longer than "
                        "its " + std::to_string(delkatonu / zaklad) + "-second recording");
    }
    const size_t ukazanych = std::min<size_t>(hlasy.size(), 1000);
    std::vector<int64_t> pozice;
    for (size_t i = 0; i < ukazanych; ++i) pozice.push_back(hlasy[i].prvni);
    const std::vector<Partitura::Misto> mista = k_.isoubor.umisteni(pozice);
    // The part a part: directive put each voice in (of its first note).
    std::vector<int32_t> casti(ukazanych, -1);
    for (const Udalost& e : hudba_.udalosti) {
        if (e.hlas >= 0 && static_cast<size_t>(e.hlas) < ukazanych && casti[static_cast<size_t>(e.hlas)] < 0) {
            casti[static_cast<size_t>(e.hlas)] = e.cast;
        }
    }
    for (size_t i = 0; i < ukazanych; ++i) {
        const SouhrnHlasu& h = hlasy[i];
        std::string popis;
        const int32_t c = casti[i];
        if (c >= 0 && static_cast<size_t>(c) < hudba_.casti.size()) popis = hudba_.casti[static_cast<size_t>(c)].jmeno + ": ";
        const size_t pred = popis.size();
        for (char reg : h.rejstriky) popis += (popis.size() == pred ? "" : " and ") + jmenorejstriku(reg);
        popis += (popis.size() == pred ? "" : ", ") +
                 (h.nejnizsi < 0 ? std::string("no notes") : jmenotonu(h.nejnizsi) + " to " + jmenotonu(h.nejvyssi));
        radky.push_back("  voice " + std::to_string(i + 1) + " (" + popis + "), line " + std::to_string(mista[i].radek) +
                        ": whole notes " + celych(h.zacatek) + " to " + celych(h.konec) + ", " +
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
    k_.krivky = n_.krivky;
    k_.vynechat = n_.vynechat;
    postup_ = n_.sledovanipostupu && !n_.kontrola;
    zacatek_ = platform::ted();
    Vysledek r;
    // The music as written: in full for whoever reads it; for the warnings
    // of a render alone, up to a size that keeps its memory small (a
    // check looks at any piece in full); nothing kept when only followers
    // of the run's commands and notes watch.
    if (n_.kontrola || n_.souhrn || n_.hudba) {
        zaznam_ = std::make_unique<Zaznam>();
    } else if (n_.varovani) {
        zaznam_ = std::make_unique<Zaznam>(nejvicudalosti);
    } else if (n_.sledovaniprikazu || n_.pozorovatel) {
        zaznam_ = std::make_unique<Zaznam>(0);
    }
    if (zaznam_) {
        zaznam_->sledovaniprikazu = n_.sledovaniprikazu;
        zaznam_->dalsi = n_.pozorovatel;
        k_.pozorovatel = zaznam_.get();
    }
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
        if (k_.pravy) r.mix.nesouhlasy += k_.pravy->vysledek().nesouhlasy;
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
                // The music read so far, for an editor that shows it beside the error.
                if (n_.hudba) r.hudba = std::move(hudba_);
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
    const int nesouhlasu = k_.mix.vysledek().nesouhlasy + (k_.pravy ? k_.pravy->vysledek().nesouhlasy : 0);
    if (nesouhlasu > 0) {
        // The outputs were still made, from what the file held; the run
        // sequence says which.
        return konec(1, "the mix file did not read back as written (" + std::to_string(nesouhlasu) +
                            " sums differed)");
    }
    return konec(0, "");
}

}  // namespace

Vysledek spust(const Nastaveni& n, Zapisovac* z) { return Beh(n, z).spust(); }

}  // namespace skladba
