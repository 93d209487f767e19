// Time in samples: note value lengths under a constant tempo or a tempo
// curve, the forward step of every note, the step back of "-", and the
// commands "t", "r", "-" and the bar line.
#pragma once

#include <cstdint>

namespace skladba {

double logspec(double a, double b);    // log(b) / log(a): logarithm of b to base a
double alogspec(double a, double b);   // exp(log(a) * b): a raised to b

// Nominal length of the current note value: tempo / hodnota (0 for a value
// too large to be anything else).
int64_t delkahodnoty();

// Moves momcas on by one note value; a score error if it would pass the
// longest piece the mix file can hold.
void krokvpred();
// Moves momcas back over m nominal samples, unwinding an active tempo curve,
// and clamps it at 0.
void vratcas(int64_t m);

// The score error for a piece that would outgrow the mix file.
[[noreturn]] void chybaprilisdlouha();

void prikaztempo();        // "t"
void prikazkrivka();       // "r"
void prikazzpet();         // "-"
void prikaztakt();         // "|": only for the eye; an observer compares bar lengths

}  // namespace skladba
