#include "engine/notace.h"

#include <cmath>
#include <numeric>
#include <string>

#include "base/chyba.h"
#include "base/format.h"

namespace skladba {

namespace {

constexpr int64_t nejjemnejsi = int64_t{1} << 22;   // ticks a whole note at most

// The letters C D E F G A B by the score's c d e f g a h, and their
// semitones above C.
int indexpismene(char z) {
    switch (z) {
        case 'c': return 0;
        case 'd': return 1;
        case 'e': return 2;
        case 'f': return 3;
        case 'g': return 4;
        case 'a': return 5;
        case 'h': return 6;
        default: return -1;
    }
}
constexpr int pultony[] = {0, 2, 4, 5, 7, 9, 11};
constexpr char kroky[] = "CDEFGAB";

int modulo(int64_t a, int64_t b) { return static_cast<int>(((a % b) + b) % b); }

// The note as spelled: the written letter and its sharps and flats, moved
// by the interval the transposition names most often (a major second for
// 2, a fifth for 7); a spelling that would need more than a double sharp or
// flat is replaced by the plainest one of that key.
void hlaskuj(const UlozenaNota& u, ZapsanyTon& t) {
    static const int krokyintervalu[] = {0, 1, 1, 2, 2, 3, 3, 4, 5, 5, 6, 6};
    const int klavesa = u.nota.segment + 36;
    int pismeno = indexpismene(u.znak);
    if (pismeno < 0) pismeno = 0;
    const int64_t tr = u.transpozice;
    const int64_t oktav = (tr - modulo(tr, 12)) / 12;
    pismeno = modulo(pismeno + 7 * oktav + krokyintervalu[modulo(tr, 12)], 7);
    int alter = modulo(klavesa - pultony[pismeno] + 6, 12) - 6;
    if (alter < -2 || alter > 2) {
        static const int kridla[] = {0, 0, 1, 1, 2, 3, 3, 4, 4, 5, 5, 6};   // C C# D D# E F F# G G# A A# B
        static const int becka[] = {0, 1, 1, 2, 2, 3, 4, 4, 5, 5, 6, 6};    // C Db D Eb E F Gb G Ab A Bb B
        const int pc = klavesa % 12;
        pismeno = (int64_t{u.posuvky} + u.transpozice >= 0 ? kridla : becka)[pc];
        alter = modulo(klavesa - pultony[pismeno] + 6, 12) - 6;
    }
    t.krok = kroky[pismeno];
    t.alter = static_cast<int8_t>(alter);
    t.oktava = static_cast<int8_t>((klavesa - alter - pultony[pismeno]) / 12 - 1);
    t.klavesa = static_cast<uint8_t>(klavesa);
}

// Quarter notes per minute for a whole note of celatempa samples.
double ctvrtekzaminutu(int64_t celatempa) { return 4.0 * zaklad * 60 / static_cast<double>(celatempa); }

// The number of the "t" that gives this whole note, as written.
int cislometronomu(int64_t celatempa) {
    const double x = ctvrtekzaminutu(celatempa);
    const int64_t odhad = std::llround(x);
    for (int64_t n = std::max<int64_t>(1, odhad - 2); n <= odhad + 2; ++n) {
        if ((zaklad * 60 / n) * 4 == celatempa) return static_cast<int>(n);
    }
    return static_cast<int>(std::min<int64_t>(odhad, 1'000'000'000));
}

}  // namespace

void Notace::hlidejpocet() const {
    if (zapis_.tony.size() >= nejvic) {
        chybapartitury("too many notes for sheet music (--musicxml): it holds at most " + std::to_string(nejvic) +
                       " notes and rests");
    }
}

void Notace::zjemni(int64_t delitel) {
    const int64_t d = zapis_.celanota;
    if (!presne_ || d % delitel == 0) return;
    const int64_t nasobek = delitel / std::gcd(d, delitel);
    if (delitel > nejjemnejsi || nasobek > nejjemnejsi / d) {
        presne_ = false;
        return;
    }
    zapis_.celanota = d * nasobek;
    for (ZapsanyTon& t : zapis_.tony) {
        t.zacatek *= nasobek;
        t.delka *= nasobek;
    }
    kurzor_ *= nasobek;
    zacatekposledni_ *= nasobek;
}

int64_t Notace::tiku(int64_t hodnota, int64_t pocet, bool pul) {
    if (hodnota <= 0 || (pocet <= 0 && !pul)) return 0;
    zjemni(pul ? 2 * hodnota : hodnota);
    const int64_t d = zapis_.celanota;
    if (presne_) return pocet * (d / hodnota) + (pul ? d / (2 * hodnota) : 0);
    const double presne = (static_cast<double>(pocet) + (pul ? 0.5 : 0.0)) * static_cast<double>(d) /
                          static_cast<double>(hodnota) + zaokrouhleni_;
    const double tiku = std::floor(presne + 0.5);
    zaokrouhleni_ = presne - tiku;
    return static_cast<int64_t>(tiku);
}

void Notace::nota(const UlozenaNota& u) {
    hlidejpocet();
    const int64_t delka = tiku(u.hodnota, 1, false);
    if (u.nota.tecka) {
        // A dot right after a chord or rest lengthens it.
        bool prodlouzen = false;
        for (uint32_t i : skupina_) {
            ZapsanyTon& t = zapis_.tony[i];
            if (t.zacatek + t.delka == kurzor_) {
                t.delka += delka;
                prodlouzen = true;
            }
        }
        if (prodlouzen) {
            kurzor_ += delka;
            hlasmanoty_ = true;
            return;
        }
    }
    ZapsanyTon t;
    t.zacatek = kurzor_;
    t.delka = delka;
    t.hodnota = u.hodnota;
    t.hlas = hlas_;
    t.reg = u.nota.reg;
    t.pauza = u.nota.segment == 0;
    t.sila = u.nota.sila;
    if (!t.pauza) hlaskuj(u, t);

    // What the tempo does from here: a mark where "t" or "r" changed it, and
    // under a curve the tempo this note is played at.
    if (u.celatempa > 0) {
        const double zakladtempa = ctvrtekzaminutu(u.celatempa);
        double mistni = zakladtempa;
        if (u.nota.krok > 0 && u.hodnota > 0) {
            mistni = 4.0 * zaklad * 60 / (static_cast<double>(u.hodnota) * static_cast<double>(u.nota.krok));
        }
        using T = ZapsanyTon::Tempo;
        const bool zmena = celatempa_ < 0 || u.ritard != ritard_ || u.celatempa != celatempa_;
        if (zmena && u.ritard == 0.0) {
            t.zmenatempa = celatempa_ >= 0 && ritard_ != 0.0 ? T::atempo : T::metronom;
            t.tempo = zakladtempa;
            t.metronom = cislometronomu(u.celatempa);
        } else if (zmena) {
            t.zmenatempa = u.ritard > 0 ? T::ritardando : T::accelerando;
            t.tempo = mistni;
        } else if (u.krivka) {
            t.zmenatempa = T::plynule;
            t.tempo = mistni;
        }
        if (!(t.tempo > 0.01 && t.tempo < 1e7)) t.zmenatempa = T::nic;
        celatempa_ = u.celatempa;
        ritard_ = u.ritard;
    }

    const auto i = static_cast<uint32_t>(zapis_.tony.size());
    if (!u.nota.tecka && !skupina_.empty() && zapis_.tony[skupina_.front()].zacatek == kurzor_) {
        skupina_.push_back(i);
    } else {
        skupina_.assign(1, i);
    }
    zapis_.tony.push_back(t);
    if (!u.nota.tecka) zacatekposledni_ = kurzor_;
    hlasmanoty_ = true;
    kurzor_ += delka;
}

void Notace::zpet(double hodnot, int64_t hodnota, int64_t kurzor, int64_t) {
    const double cele = std::floor(hodnot);
    const int64_t pocet = cele > 4e18 ? int64_t{4'000'000'000'000'000'000} : static_cast<int64_t>(cele);
    const int64_t zpatky = tiku(hodnota, pocet, hodnot - cele >= 0.5);
    int64_t nove = kurzor_ - zpatky;
    if (kurzor == 0 || nove < 0) nove = 0;   // the cursor stops at the start of the piece
    if (hlasmanoty_ && nove < zacatekposledni_) {
        ++hlas_;
        hlasmanoty_ = false;
        skupina_.clear();
    }
    kurzor_ = nove;
}


}  // namespace skladba
