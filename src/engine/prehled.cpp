#include "engine/prehled.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "base/format.h"
#include "base/stav.h"

namespace skladba {

namespace {

// Whole-note positions are sums of 1/N; equal ones may differ in the last bits.
constexpr double presnost = 1e-9;

// A length in whole notes as a fraction a musician reads: "3/4", "1", "5/8".
std::string zlomek(double x) {
    for (int d = 1; d <= 1024; ++d) {
        const double n = std::round(x * d);
        if (std::fabs(x * d - n) < 1e-6 * d) {
            return d == 1 ? std::to_string(static_cast<int64_t>(n))
                          : std::to_string(static_cast<int64_t>(n)) + "/" + std::to_string(d);
        }
    }
    return vcelych(x);
}

}  // namespace

std::string vcelych(double celych) { return desetinne(celych, 3); }

void Prehled::varuj(int64_t pozice, const std::string& text) {
    if (varovani.size() < nejvic_) {
        varovani.push_back({pozice, text});
    } else {
        ++dalsichvarovani;
    }
}

void Prehled::varujjednou(Opakovane& o, int64_t pozice, const std::string& text) {
    if (o.receno) {
        ++o.dalsich;
        return;
    }
    o.receno = true;
    if (varovani.size() < nejvic_) o.index = varovani.size();
    varuj(pozice, text);
}

void Prehled::nota(const UlozenaNota& u) {
    if (u.pismeno && u.nota.segment == 0) {
        varuj(u.nota.pozice, "this note falls on segment 0, the register's silence, and plays nothing (ov c, or a "
                             "note transposed down to it): the lowest note that sounds is ov >c");
    }
    if (u.ticho) {
        varujjednou(tiche_[static_cast<unsigned char>(u.nota.reg) << 8 | u.nota.segment], u.nota.pozice,
                    "this note plays " + jmenotonu(u.nota.segment) + ", which " + jmenorejstriku(u.nota.reg) +
                        " holds as silence (its samples there are all zero), so it sounds nothing: play it in "
                        "another octave or from another register");
    }
    manoty_ = true;
    if (u.nota.tecka) {
        // A dot after the top note of a chord stacked with plain step backs
        // lengthens that note alone.
        const Posledni& p = posledni_;
        if (p.tecek == 0 && p.naakordu && p.pismeno && p.podpismeno && p.podtecek == 0 &&
            p.podhodnota == p.hodnota) {
            varuj(u.nota.pozice, "this dot lengthens only the last note of the chord before it: the notes stacked "
                                 "under it with - keep their plain value (with --release and in MIDI they end "
                                 "sooner); to dot the whole chord, dot each note and step back a value and a "
                                 "half between them: c. -. e. -. g.");
        }
        ++posledni_.tecek;
    } else {
        zacatekposledni_ = celych_;
        const Posledni pod = posledni_;
        posledni_ = Posledni{};
        posledni_.hodnota = u.hodnota;
        posledni_.pismeno = u.pismeno;
        posledni_.naakordu = akordkrok_;
        posledni_.podhodnota = pod.hodnota;
        posledni_.podtecek = pod.tecek;
        posledni_.podpismeno = pod.pismeno;
    }
    akordkrok_ = false;
    if (u.hodnota > 0) celych_ += 1.0 / static_cast<double>(u.hodnota);
}

void Prehled::hotova(const Nota& n) {
    if (n.start + n.zni > konec) konec = n.start + n.zni;
    if (n.segment > 0) {
        ++noty;
        if (nejnizsi < 0 || n.segment < nejnizsi) nejnizsi = n.segment;
        if (n.segment > nejvyssi) nejvyssi = n.segment;
        // What the register really sounds of the note: its segment's sound
        // (a register whose keys were released early ends sooner than its
        // four seconds), or its whole value through a sustain loop.
        const int64_t zvuk = n.zvuk > 0 ? n.zvuk : delkatonu;
        if (!n.tecka && n.delka > zvuk) {
            char sekund[32], zni[32];
            std::snprintf(sekund, sizeof sekund, "%.2f", static_cast<double>(n.delka) / zaklad);
            std::snprintf(zni, sizeof zni, "%.2f", static_cast<double>(zvuk) / zaklad);
            const bool cely = zvuk + zaklad / 20 >= delkatonu;
            varujjednou(dlouhe_, n.pozice,
                        std::string("this note lasts ") + sekund + " s by its value, but " +
                            (cely ? "its recording holds " + std::to_string(delkatonu / zaklad) +
                                        " s: it falls silent after " + std::to_string(delkatonu / zaklad) + " s"
                                  : jmenorejstriku(n.reg) + " sounds " + jmenotonu(n.segment) + " for only " + zni +
                                        " s: it falls silent after " + zni + " s") +
                            "; --release holds a note for its value where its register has sustain loops "
                            "(skladba-registers writes them beside the register); or repeat the note");
        }
    }
}

void Prehled::zpet(double hodnot, int64_t hodnota, int64_t kurzor, int64_t pozice) {
    double celych = hodnota > 0 ? celych_ - hodnot / static_cast<double>(hodnota) : celych_;
    if (celych < -presnost) {
        if (celych_ < presnost) {
            varuj(pozice, "a step back at the start of the piece goes nowhere: the cursor stops at the start; "
                          "to turn on the start jitter without stepping back, write -0");
        } else {
            const double pocet = celych_ * static_cast<double>(hodnota);
            const bool cele = std::fabs(pocet - std::round(pocet)) < 1e-6 && std::round(pocet) >= 1;
            const std::string kolik = -celych < 4 ? zlomek(-celych) + " of a whole note" : vcelych(-celych) + " whole notes";
            varuj(pozice, "this step back goes " + kolik + " before the start of the piece, where the cursor stops: "
                          "what follows starts later than its values say; " +
                              (cele ? "to step back to the start, write -" + vcelych(std::round(pocet))
                                    : std::string("step back no further than the start")));
        }
    } else if (zmenatempa_ >= 0 && celych < zmenatempa_ - presnost && zmenatempa_ <= celych_ + presnost) {
        varuj(pozice, zmenakrivky_
                          ? "this step back crosses an r that changed the tempo curve: a step back unwinds the "
                            "curve as it runs now, so what follows does not land where the notes it steps over "
                            "began; write the voices phrase by phrase, stepping back no further than the last r"
                          : "this step back crosses a t that changed the tempo: it steps back at the new tempo, so "
                            "what follows does not land where the notes it steps over began; write the voices "
                            "phrase by phrase, stepping back no further than the last t");
    }
    if (kurzor == 0 || celych < 0) celych = 0;   // the cursor stops at the start of the piece
    // A plain step back after a dotted note goes back one value, to the
    // middle of the note, not to its start.
    if (manoty_ && posledni_.tecek == 1 && hodnot == 1.0 && hodnota == posledni_.hodnota &&
        celych > zacatekposledni_ + presnost && celych < celych_ - presnost) {
        varuj(pozice, "this step back of one value lands inside the dotted note before it, not at its start: "
                      "to stack a chord on a dotted note, step back a value and a half, -.");
    }
    akordkrok_ = false;
    if (manoty_ && celych < zacatekposledni_ - presnost) {
        manoty_ = false;   // another voice begins
    } else if (manoty_ && celych < zacatekposledni_ + presnost) {
        akordkrok_ = true;
    }
    celych_ = celych;
}

void Prehled::tempo(int64_t, bool krivka) {
    zmenatempa_ = celych_;
    zmenakrivky_ = krivka;
}

void Prehled::dokonci() {
    auto pripis = [&](const Opakovane& o, const char* co) {
        if (o.index == SIZE_MAX || o.dalsich == 0) return;
        varovani[o.index].text += " (and " + std::to_string(o.dalsich) + " more " + co +
                                  (o.dalsich == 1 ? "" : "s") + " like it)";
    };
    pripis(dlouhe_, "note");
    for (const auto& t : tiche_) pripis(t.second, "note");
}

}  // namespace skladba
