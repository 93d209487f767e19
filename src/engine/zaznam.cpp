#include "engine/zaznam.h"

#include <algorithm>
#include <cmath>

#include "base/format.h"
#include "score/smernice.h"

namespace skladba {

namespace {

double ctvrtekzaminutu(int64_t celatempa) { return 4.0 * zaklad * 60 / static_cast<double>(celatempa); }

// The number of the "t" that gives this whole note.
int cislometronomu(int64_t celatempa) {
    const int64_t odhad = std::llround(ctvrtekzaminutu(celatempa));
    for (int64_t n = std::max<int64_t>(1, odhad - 2); n <= odhad + 2; ++n) {
        if ((zaklad * 60 / n) * 4 == celatempa) return static_cast<int>(n);
    }
    return static_cast<int>(std::clamp<int64_t>(odhad, 1, 1'000'000'000));
}

}  // namespace

void Zaznam::prikaz(int64_t pozice, int64_t po) {
    if (sledovaniprikazu) sledovaniprikazu(pozice, po);
    if (dalsi) dalsi->prikaz(pozice, po);
}

void Zaznam::nota(const UlozenaNota& u) {
    if (dalsi) dalsi->nota(u);
    if (preplneny_) return;
    if (h_.udalosti.size() >= nejvic_) {
        preplneny_ = true;
        h_ = Hudba{};
        kroky_ = {};
        return;
    }
    zapis(u);
}

void Zaznam::zapis(const UlozenaNota& u) {
    pokroku_ = false;
    Udalost e;
    e.zacatek = kurzor_;
    e.delka = u.hodnota > 0 ? Zlomek{1, u.hodnota} : Zlomek{};
    e.pozice = u.nota.pozice;
    e.po = u.nota.po;
    e.hodnota = u.hodnota;
    e.znak = u.znak;
    e.posuvky = u.posuvky;
    e.transpozice = u.transpozice;
    e.segment = u.nota.segment;
    e.sila = u.nota.sila;
    e.reg = u.nota.reg;
    e.pismeno = u.pismeno;
    e.tecka = u.nota.tecka;
    e.krivka = u.krivka;
    e.oktava = u.oktava;
    e.ticho = u.ticho;
    e.cast = cast_;
    e.kurzor = u.kurzor;
    e.start = u.nota.start;
    e.krok = u.nota.krok;
    e.trva = u.nota.delka;
    kurzor_ = kurzor_ + e.delka;
    if (!kurzor_.presny) h_.presna = false;

    // The tempo map: where the tempo or its curve changes, seen at the first
    // note after it.
    if (u.celatempa > 0 && (u.celatempa != celatempa_ || u.ritard != ritard_)) {
        ZmenaTempa z;
        z.kde = e.zacatek;
        z.ritard = u.ritard;
        z.metronom = cislometronomu(u.celatempa);
        z.ctvrtek = ctvrtekzaminutu(u.celatempa);
        if (u.ritard == 0.0) {
            z.druh = krivka_ != SIZE_MAX ? ZmenaTempa::Druh::konec : ZmenaTempa::Druh::metronom;
            krivka_ = SIZE_MAX;
        } else {
            z.druh = ZmenaTempa::Druh::krivka;
            krivka_ = h_.tempa.size();
        }
        h_.tempa.push_back(z);
        celatempa_ = u.celatempa;
        ritard_ = u.ritard;
    }
    // A curve's tempo where it starts: that of its first note.
    if (krivka_ != SIZE_MAX && u.krivka && e.krok > 0 && u.hodnota > 0) {
        ZmenaTempa& z = h_.tempa[krivka_];
        if (e.zacatek == z.kde) {
            z.ctvrtek = e.ctvrtek();
        }
    }

    // What the engine's dot rule did: a dot that lengthened the note or
    // rest before it adds its value to that one's.
    if (!e.tecka) {
        posledni_ = h_.udalosti.size();
        drzena_ = posledni_;
    } else if (u.prodlouzila && drzena_ != SIZE_MAX) {
        Udalost& d = h_.udalosti[drzena_];
        d.tecky = d.tecky + e.delka;
        d.po = e.po;
        e.prodlouzila = true;
    }
    h_.udalosti.push_back(e);
}

void Zaznam::hotova(const Nota& n) {
    if (dalsi) dalsi->hotova(n);
    if (preplneny_ || n.udalost < 0 || static_cast<size_t>(n.udalost) >= h_.udalosti.size()) return;
    Udalost& e = h_.udalosti[static_cast<size_t>(n.udalost)];
    e.trva = n.delka;
    e.zni = n.zni;
    e.nahrano = n.zvuk;
    e.po = n.po;
}

void Zaznam::zpet(double hodnot, int64_t hodnota, int64_t kurzor, int64_t pozice) {
    if (dalsi) dalsi->zpet(hodnot, hodnota, kurzor, pozice);
    if (preplneny_) return;
    pokroku_ = true;
    KrokZpet k;
    k.pred = h_.udalosti.size();
    k.odkud = kurzor_;
    k.kam = kurzor_;
    k.hodnota = hodnota;
    k.jednou = hodnot == 1.0;
    k.nastart = kurzor == 0;
    k.pozice = pozice;
    k.tempo = tempo_;
    k.zmenatempa = zmenatempa_;
    if (hodnota > 0) {
        const double cele = std::floor(hodnot);
        const int64_t pocet = cele > 4e18 ? int64_t{4'000'000'000'000'000'000} : static_cast<int64_t>(cele);
        Zlomek zpet = Zlomek{1, hodnota} * pocet;
        if (hodnot - cele >= 0.5) zpet = zpet + Zlomek{1, 2 * hodnota};
        k.kam = kurzor_ - zpet;
    }
    h_.zpet.push_back(k);
    kurzor_ = k.nastart || k.kam < Zlomek{} ? Zlomek{} : k.kam;   // the cursor stops at the start
    // Landing on the last note or rest, or inside it, stacks a chord there;
    // landing before it starts another run.
    if (posledni_ == SIZE_MAX || kurzor_ < h_.udalosti[posledni_].zacatek) kroky_.push_back(h_.udalosti.size());
}

void Zaznam::tempo(int64_t pozice, bool krivka) {
    if (dalsi) dalsi->tempo(pozice, krivka);
    tempo_ = kurzor_;
    zmenatempa_ = krivka ? 2 : 1;
}

void Zaznam::takt(int64_t pozice) {
    if (dalsi) dalsi->takt(pozice);
    if (preplneny_) return;
    CaraTaktu c;
    c.kde = kurzor_;
    c.pozice = pozice;
    // A bar line right after a step back opens the voice written next; one
    // at the end of the score after a step back belongs to none.
    const size_t u = h_.udalosti.size();
    c.hlas = pokroku_ ? static_cast<int32_t>(u) : u == 0 ? -1 : static_cast<int32_t>(u - 1);
    h_.cary.push_back(c);
}

// A directive is kept where the cursor stands; one that cannot be read is
// left to the check, which says so at its place.
void Zaznam::komentar(int64_t pozice, const std::string& text) {
    if (preplneny_) return;
    Smernice s;
    if (!ctismernici(text, s) || !s.chyba.empty()) return;
    switch (s.druh) {
        case DruhSmernice::nazev:
            if (h_.nazev.empty()) h_.nazev = s.text;
            break;
        case DruhSmernice::autor:
            if (h_.autor.empty()) h_.autor = s.text;
            break;
        case DruhSmernice::metrum: {
            ZmenaMetra m;
            m.kde = kurzor_;
            m.citatel = s.citatel;
            m.jmenovatel = s.jmenovatel;
            m.skupiny = s.skupiny;
            m.pozice = pozice;
            // A second one at the same place says it again.
            if (!h_.metra.empty() && h_.metra.back().kde == m.kde) h_.metra.pop_back();
            h_.metra.push_back(m);
            break;
        }
        case DruhSmernice::tonina:
            if (!h_.toniny.empty() && h_.toniny.back().kde == kurzor_) h_.toniny.pop_back();
            h_.toniny.push_back({kurzor_, s.kvinty, s.moll, pozice});
            break;
        case DruhSmernice::cast: {
            // A part named again goes on.
            auto it = std::find_if(h_.casti.begin(), h_.casti.end(), [&](const Cast& c) { return c.jmeno == s.text; });
            if (it == h_.casti.end()) {
                h_.casti.push_back({s.text, pozice, 0, false});
                it = h_.casti.end() - 1;
            }
            cast_ = static_cast<int32_t>(it - h_.casti.begin());
            break;
        }
        case DruhSmernice::pan:
            if (cast_ >= 0) {
                h_.casti[static_cast<size_t>(cast_)].pan = s.pan;
                h_.casti[static_cast<size_t>(cast_)].mapan = true;
            }
            break;
    }
}

Hudba Zaznam::dokonci(int64_t vzorku) {
    urcihlasy(h_, kroky_);
    urcimetrum(h_);
    std::stable_sort(h_.tempa.begin(), h_.tempa.end(),
                     [](const ZmenaTempa& a, const ZmenaTempa& b) { return a.kde < b.kde; });
    // Voices written one after another meet the same change again: the
    // first written at a time counts.
    h_.tempa.erase(std::unique(h_.tempa.begin(), h_.tempa.end(),
                               [](const ZmenaTempa& a, const ZmenaTempa& b) { return a.kde == b.kde; }),
                   h_.tempa.end());
    std::stable_sort(h_.toniny.begin(), h_.toniny.end(),
                     [](const ZmenaToniny& a, const ZmenaToniny& b) { return a.kde < b.kde; });
    h_.vzorku = vzorku;
    return std::move(h_);
}

}  // namespace skladba
