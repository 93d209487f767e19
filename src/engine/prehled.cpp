#include "engine/prehled.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "base/format.h"

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

std::string vcelych(double celych) {
    char buf[48];
    std::snprintf(buf, sizeof buf, "%.3f", celych);
    std::string s = buf;
    while (s.back() == '0') s.pop_back();
    if (s.back() == '.') s.pop_back();
    return s == "-0" ? "0" : s;
}

void Prehled::varuj(int64_t pozice, const std::string& text) {
    if (varovani.size() < nejvic_) {
        varovani.push_back({pozice, text});
    } else {
        ++dalsichvarovani;
    }
}

void Prehled::nota(const UlozenaNota& u) {
    if (u.pismeno && u.nota.segment == 0) {
        varuj(u.nota.pozice, "this note falls on segment 0, the register's silence, and plays nothing (ov c, or a "
                             "note transposed down to it): the lowest note that sounds is ov >c");
    }
    if (!hlasmanoty_) {
        hlasmanoty_ = true;
        hlas_.prvni = u.nota.pozice;
    }
    if (!u.nota.tecka) zacatekposledni_ = celych_;
    if (u.hodnota > 0) celych_ += 1.0 / static_cast<double>(u.hodnota);
    kurzor_ = u.kurzor + u.nota.krok;
}

void Prehled::hotova(const Nota& n) {
    if (n.start + n.zni > konec) konec = n.start + n.zni;
    if (n.segment > 0) {
        ++noty;
        if (nejnizsi < 0 || n.segment < nejnizsi) nejnizsi = n.segment;
        if (n.segment > nejvyssi) nejvyssi = n.segment;
    }
}

void Prehled::novyhlas(double celych, int64_t kurzor) {
    hlas_.konec = celych_;
    hlas_.konecvzorku = kurzor_;
    if (souhrn_ && hlasmanoty_) {
        if (hlasy.size() < 1000) {
            hlasy.push_back(hlas_);
        } else {
            ++dalsichhlasu;
        }
    }
    hlas_ = Hlas{};
    hlas_.zacatek = celych;
    hlas_.zacatekvzorku = kurzor;
    hlasmanoty_ = false;
    taktu_ = 0;
    takt_ = celych;
}

void Prehled::zpet(double hodnot, int64_t hodnota, int64_t kurzor, int64_t) {
    double celych = hodnota > 0 ? celych_ - hodnot / static_cast<double>(hodnota) : celych_;
    if (kurzor == 0 || celych < 0) celych = 0;   // the cursor stops at the start of the piece
    if (!hlasmanoty_) {
        // Nothing written yet: the voice just starts elsewhere.
        hlas_.zacatek = celych;
        hlas_.zacatekvzorku = kurzor;
        takt_ = celych;
    } else if (celych < zacatekposledni_ - presnost) {
        novyhlas(celych, kurzor);
    }
    celych_ = celych;
    kurzor_ = kurzor;
}

void Prehled::takt(int64_t pozice) {
    const double delka = celych_ - takt_;
    if (delka < presnost) return;   // a double bar line, or one at the start of a voice
    takt_ = celych_;
    ++taktu_;
    if (taktu_ == 1) {
        prvnitakt_ = delka;
        predchozitakt_ = delka;
        return;
    }
    // The first bar may be a pickup: shorter than the next is expected.
    const bool predtaktem = taktu_ == 2 && prvnitakt_ < delka;
    if (!predtaktem && std::fabs(delka - predchozitakt_) > presnost) {
        varuj(pozice, "this bar lasts " + zlomek(delka) + " of a whole note, the bar before it in this voice " +
                          zlomek(predchozitakt_) + ": a note or a value missing or extra?");
    }
    predchozitakt_ = delka;
}

void Prehled::dokonci() { novyhlas(celych_, kurzor_); }

}  // namespace skladba
