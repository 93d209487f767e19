#include "engine/cas.h"

#include <cmath>
#include <string>

#include "base/chyba.h"
#include "base/stav.h"
#include "engine/pozorovatel.h"
#include "score/ctenar.h"

namespace skladba {

double logspec(double a, double b) { return std::log(b) / std::log(a); }

double alogspec(double a, double b) { return std::exp(std::log(a) * b); }

void chybaprilisdlouha() {
    const int64_t minuty = meze.skladba / zaklad / 60;
    chybapartitury("piece too long: it would pass sample " + std::to_string(meze.skladba) +
                   " (about " + std::to_string(minuty / 60) + " h " + std::to_string(minuty % 60) +
                   " min), the most the mix file can hold");
}

namespace {

// tempo / divisor; a divisor that is not positive (never produced by a
// score, but cheap to rule out) gives notes of length 0.
int64_t diltempa(int64_t divisor) { return divisor > 0 ? stav.tempo / divisor : 0; }

}  // namespace

int64_t delkahodnoty() { return diltempa(stav.hodnota); }

namespace {

// Charges n steps of tempo-curve arithmetic to the run's budget.
void zauctujkroky(int64_t n) {
    stav.krokykrivky += static_cast<uint64_t>(n);
    if (stav.krokykrivky > meze.krokykrivky) {
        chybapartitury("tempo curve too long to compute: the score asks for more than " +
                       std::to_string(meze.krokykrivky) + " curve steps");
    }
}

// Real length of n nominal samples going forward under the curve: each
// nominal sample counts rittempo real ones, and the step grows after it.
double delkavpred(int64_t n) {
    zauctujkroky(n);
    double s = 0.0;
    double r = stav.rittempo;
    const double d = stav.delta;
    for (int64_t i = 0; i < n; ++i) {
        s = s + r;
        r = r * d;
    }
    stav.rittempo = r;
    return s;
}

// The same steps retraced backwards: divide first, then add, so that a step
// back undoes a forward step of the same length.
double delkazpet(int64_t m) {
    zauctujkroky(m);
    double s = 0.0;
    double r = stav.rittempo;
    const double d = stav.delta;
    for (int64_t i = 0; i < m; ++i) {
        r = r / d;
        s = s + r;
    }
    stav.rittempo = r;
    return s;
}

}  // namespace

void krokvpred() {
    const int64_t n = delkahodnoty();
    int64_t krok = n;
    if (stav.ritard != 0.0) {
        double s = delkavpred(n);
        if (!(s <= static_cast<double>(meze.skladba))) chybaprilisdlouha();
        krok = static_cast<int64_t>(std::round(s));
    }
    if (krok > meze.skladba - stav.momcas) chybaprilisdlouha();
    stav.momcas += krok;
}

void vratcas(int64_t m) {
    if (stav.ritard == 0.0) {
        stav.momcas = m >= stav.momcas ? 0 : stav.momcas - m;
        return;
    }
    // Unwinding an accelerando makes each step longer; the sum may exceed
    // any integer, so it is compared with the cursor before converting.
    const double krok = std::round(delkazpet(m));
    stav.momcas = !(krok < static_cast<double>(stav.momcas))
                      ? 0
                      : stav.momcas - static_cast<int64_t>(krok);
}

void prikaztempo() {
    const int n = nacele(dejcislo());
    if (n <= 0) chybapartitury("tempo must be a positive number of quarter notes per minute");
    stav.tempo = n;
    stav.tempo = (zaklad * 60 / stav.tempo) * 4;
    stav.puvodnitempo = stav.tempo;
}

namespace {

[[noreturn]] void neplatnakrivka(const std::string& why) {
    chybapartitury("invalid tempo curve: " + why);
}

}  // namespace

void prikazkrivka() {
    const double x = dejcislo();
    stav.ritard = x;
    if (x == 0.0) {
        stav.tempo = stav.puvodnitempo;
        stav.rittempo = 1.0;
        return;
    }
    if (!(x > -100.0)) neplatnakrivka("the change must be more than -100 percent");
    // The tempo reached so far becomes the base of the new curve.
    const int w = nacele(stav.tempo * stav.rittempo);
    if (w < 1) neplatnakrivka("the tempo reached so far is below one sample per whole note");
    stav.tempo = w;
    const double target = w + w * x / 100;
    // (target / w) raised to 1 / w, computed in this order so that every
    // machine gets the same bits.
    stav.delta = logspec(target, w);
    stav.delta = 1 - stav.delta;
    stav.delta = stav.delta / w;
    stav.delta = alogspec(target, stav.delta);
    if (!(std::isfinite(stav.delta) && stav.delta > 0.0)) {
        neplatnakrivka("the change per sample does not come out as a finite positive number");
    }
    stav.rittempo = 1.0;
}

void prikazzpet() {
    stav.synchro = stav.synchropom;   // from the first step back on, starts are jittered
    stav.znak = dejznak();
    const bool pul = stav.znak == '.';
    if (pul) {
        vratcas(diltempa(stav.hodnota * 2));
    } else {
        vratznak();
    }
    int64_t pocet = 1;
    if (jecislice(stav.znak)) pocet = nacele(dejcislo());
    const int64_t m = delkahodnoty();
    if (pocet > 0 && m > 0) {
        if (stav.ritard == 0.0) {
            vratcas(pocet * m);   // no curve: one subtraction, whatever the count
        } else {
            if (pocet > meze.skladba / m) {
                chybapartitury("step back too long under a tempo curve: it would unwind more than " +
                               std::to_string(meze.skladba) + " samples");
            }
            for (int64_t i = 0; i < pocet; ++i) vratcas(m);
        }
    }
    if (pozorovatel) {
        const double hodnot = (pul ? 0.5 : 0.0) + (pocet > 0 && m > 0 ? static_cast<double>(pocet) : 0.0);
        pozorovatel->zpet(hodnot, stav.hodnota, stav.momcas, stav.pozicepovelu);
    }
}

void prikaztakt() {
    if (pozorovatel) pozorovatel->takt(stav.pozicepovelu);
}

}  // namespace skladba
