#include "engine/cas.h"

#include <cfloat>
#include <algorithm>
#include <cmath>
#include <string>

#include "base/chyba.h"

namespace skladba {

double logspec(double a, double b) { return std::log(b) / std::log(a); }

double alogspec(double a, double b) { return std::exp(std::log(a) * b); }

void chybaprilisdlouha(const Meze& meze) {
    const int64_t minuty = meze.skladba / zaklad / 60;
    chybapartitury("piece too long: it would pass sample " + std::to_string(meze.skladba) +
                   " (about " + std::to_string(minuty / 60) + " h " + std::to_string(minuty % 60) +
                   " min), the most the mix file can hold");
}

namespace {

// tempo / divisor; a divisor that is not positive (never produced by a
// score, but cheap to rule out) gives notes of length 0.
int64_t diltempa(const Stav& s, int64_t divisor) { return divisor > 0 ? s.tempo / divisor : 0; }

}  // namespace

int64_t delkahodnoty(const Stav& s) { return diltempa(s, s.hodnota); }

namespace {

// Charges n steps of tempo-curve arithmetic to the run's budget.
void zauctujkroky(Kontext& k, int64_t n) {
    k.pocty.krokykrivky += static_cast<uint64_t>(n);
    if (k.pocty.krokykrivky > k.meze.krokykrivky) {
        chybapartitury("tempo curve too long to compute: the score asks for more than " +
                       std::to_string(k.meze.krokykrivky) + " curve steps");
    }
}

// Steps of the curve computed between two looks at the step's size.
constexpr int64_t krokudavky = 4096;

// A curve whose step has shrunk out of the normal range of doubles is
// refused: the step has long stopped moving the cursor by a sample, and
// arithmetic on subnormal numbers is a hundred times slower, so such a
// score would keep the machine busy for minutes. The step only ever moves
// one way within a loop, so a look after every batch of steps sees it.
void overkrok(double r) {
    if (!(r >= DBL_MIN)) {
        chybapartitury("tempo curve too steep: its step has shrunk below any length a note can have "
                       "(end the curve with r0 sooner, or make it gentler)");
    }
}

// A stretch of the curve already computed for this score: its real length
// in delka, the step moved on to where it ends. klic is the stretch's key
// for zapamatuj when it is not kept.
bool zpamati(Kontext& k, int64_t n, bool zpet, Pamatkrivky::Klic& klic, double& delka) {
    if (!k.krivky) return false;
    klic = Pamatkrivky::klic(k.stav.rittempo, k.stav.delta, n, zpet);
    const auto i = k.krivky->mapa.find(klic);
    if (i == k.krivky->mapa.end()) return false;
    k.stav.rittempo = i->second.krok;
    delka = i->second.delka;
    return true;
}

void zapamatuj(Pamatkrivky& p, const Pamatkrivky::Klic& klic, double delka, double krok) {
    if (p.mapa.size() >= Pamatkrivky::nejvic) p.mapa.clear();
    p.mapa[klic] = {delka, krok};
}

// Real length of n nominal samples going forward under the curve: each
// nominal sample counts rittempo real ones, and the step grows after it.
double delkavpred(Kontext& k, int64_t n) {
    zauctujkroky(k, n);
    Pamatkrivky::Klic klic;
    double delka = 0;
    if (zpamati(k, n, false, klic, delka)) return delka;
    double s = 0.0;
    double r = k.stav.rittempo;
    const double d = k.stav.delta;
    for (int64_t hotovo = 0; hotovo < n;) {
        const int64_t konec = std::min(n, hotovo + krokudavky);
        for (int64_t i = hotovo; i < konec; ++i) {
            s = s + r;
            r = r * d;
        }
        hotovo = konec;
        overkrok(r);
    }
    k.stav.rittempo = r;
    if (k.krivky) zapamatuj(*k.krivky, klic, s, r);
    return s;
}

// The same steps retraced backwards: divide first, then add, so that a step
// back undoes a forward step of the same length.
double delkazpet(Kontext& k, int64_t m) {
    zauctujkroky(k, m);
    Pamatkrivky::Klic klic;
    double delka = 0;
    if (zpamati(k, m, true, klic, delka)) return delka;
    double s = 0.0;
    double r = k.stav.rittempo;
    const double d = k.stav.delta;
    for (int64_t hotovo = 0; hotovo < m;) {
        const int64_t konec = std::min(m, hotovo + krokudavky);
        for (int64_t i = hotovo; i < konec; ++i) {
            r = r / d;
            s = s + r;
        }
        hotovo = konec;
        overkrok(r);
    }
    k.stav.rittempo = r;
    if (k.krivky) zapamatuj(*k.krivky, klic, s, r);
    return s;
}

}  // namespace

void krokvpred(Kontext& k) {
    Stav& st = k.stav;
    const int64_t n = delkahodnoty(st);
    int64_t krok = n;
    if (st.ritard != 0.0) {
        double s = delkavpred(k, n);
        if (!(s <= static_cast<double>(k.meze.skladba))) chybaprilisdlouha(k.meze);
        krok = static_cast<int64_t>(std::round(s));
    }
    if (krok > k.meze.skladba - st.momcas) chybaprilisdlouha(k.meze);
    st.momcas += krok;
}

void vratcas(Kontext& k, int64_t m) {
    Stav& st = k.stav;
    if (st.ritard == 0.0) {
        st.momcas = m >= st.momcas ? 0 : st.momcas - m;
        return;
    }
    // Unwinding an accelerando makes each step longer; the sum may exceed
    // any integer, so it is compared with the cursor before converting.
    const double krok = std::round(delkazpet(k, m));
    st.momcas = !(krok < static_cast<double>(st.momcas)) ? 0 : st.momcas - static_cast<int64_t>(krok);
}

void prikaztempo(Kontext& k, const Parametr& a) {
    Stav& st = k.stav;
    const int n = nacele(a.cislo);
    if (n <= 0) chybapartitury("tempo must be a positive number of quarter notes per minute");
    const int predtim = st.tempo;
    st.tempo = n;
    st.tempo = (zaklad * 60 / st.tempo) * 4;
    st.puvodnitempo = st.tempo;
    if (k.pozorovatel && st.tempo != predtim) k.pozorovatel->tempo(st.pozicepovelu, st.ritard != 0.0);
}

namespace {

[[noreturn]] void neplatnakrivka(const std::string& why) {
    chybapartitury("invalid tempo curve: " + why);
}

}  // namespace

void prikazkrivka(Kontext& k, const Parametr& a) {
    Stav& st = k.stav;
    const double x = a.cislo;
    if (k.pozorovatel && (x != 0.0 || st.ritard != 0.0 || st.tempo != st.puvodnitempo)) {
        k.pozorovatel->tempo(st.pozicepovelu, true);
    }
    st.ritard = x;
    if (x == 0.0) {
        st.tempo = st.puvodnitempo;
        st.rittempo = 1.0;
        return;
    }
    if (!(x > -100.0)) neplatnakrivka("the change must be more than -100 percent");
    // The tempo reached so far becomes the base of the new curve.
    const int w = nacele(st.tempo * st.rittempo);
    if (w < 1) neplatnakrivka("the tempo reached so far is below one sample per whole note");
    st.tempo = w;
    const double target = w + w * x / 100;
    // (target / w) raised to 1 / w, computed in this order so that every
    // machine gets the same bits.
    st.delta = logspec(target, w);
    st.delta = 1 - st.delta;
    st.delta = st.delta / w;
    st.delta = alogspec(target, st.delta);
    if (!(std::isfinite(st.delta) && st.delta > 0.0)) {
        neplatnakrivka("the change per sample does not come out as a finite positive number");
    }
    st.rittempo = 1.0;
}

void prikazzpet(Kontext& k, const Parametr& a) {
    Stav& st = k.stav;
    st.synchro = st.synchropom;   // from the first step back on, starts are jittered
    if (a.pul) vratcas(k, diltempa(st, st.hodnota * 2));
    const int64_t pocet = a.je ? nacele(a.cislo) : 1;
    const int64_t m = delkahodnoty(st);
    if (pocet > 0 && m > 0) {
        if (st.ritard == 0.0) {
            vratcas(k, pocet * m);   // no curve: one subtraction, whatever the count
        } else {
            if (pocet > k.meze.skladba / m) {
                chybapartitury("step back too long under a tempo curve: it would unwind more than " +
                               std::to_string(k.meze.skladba) + " samples");
            }
            for (int64_t i = 0; i < pocet; ++i) vratcas(k, m);
        }
    }
    if (k.pozorovatel) {
        const double hodnot = (a.pul ? 0.5 : 0.0) + (pocet > 0 && m > 0 ? static_cast<double>(pocet) : 0.0);
        k.pozorovatel->zpet(hodnot, st.hodnota, st.momcas, st.pozicepovelu);
    }
}

void prikaztakt(Kontext& k, const Parametr&) {
    if (k.pozorovatel) k.pozorovatel->takt(k.stav.pozicepovelu);
}

}  // namespace skladba
