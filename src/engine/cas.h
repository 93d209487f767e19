// Time in samples: note value lengths under a constant tempo or a tempo
// curve, the forward step of every note, the step back of "-", and the
// commands "t", "r", "-" and the bar line.
#pragma once

#include <cstdint>

#include "base/stav.h"
#include "engine/kontext.h"
#include "score/jazyk.h"

namespace skladba {

double logspec(double a, double b);    // log(b) / log(a): logarithm of b to base a
double alogspec(double a, double b);   // exp(log(a) * b): a raised to b

// Nominal length of the current note value: tempo / hodnota (0 for a value
// too large to be anything else).
int64_t delkahodnoty(const Stav& s);

// Moves momcas on by one note value; a score error if it would pass the
// longest piece the mix file can hold.
void krokvpred(Kontext& k);
// Moves momcas back over m nominal samples, unwinding an active tempo curve,
// and clamps it at 0.
void vratcas(Kontext& k, int64_t m);

// The score error for a piece that would outgrow the mix file.
[[noreturn]] void chybaprilisdlouha(const Meze& meze);

void prikaztempo(Kontext& k, const Parametr& a);    // "t"
void prikazkrivka(Kontext& k, const Parametr& a);   // "r"
void prikazzpet(Kontext& k, const Parametr& a);     // "-"
void prikaztakt(Kontext& k, const Parametr& a);     // "|": only for the eye; an observer compares bar lengths

}  // namespace skladba
