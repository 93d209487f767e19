// Commands that set what the next notes will be (note value, octave,
// accidentals, transposition, volume, start jitter, register) and comments. Each receives its argument as the command table read it.
#pragma once

#include "engine/kontext.h"
#include "score/jazyk.h"

namespace skladba {

void prikazhodnota(Kontext& k, const Parametr& a);       // "1".."9": note value from the number starting here
void prikazoktava(Kontext& k, const Parametr& a);        // "o" + one of v m 1 2 3 4
void prikazkrizek(Kontext& k, const Parametr& a);        // ">" and byte 0xE8 (c-caron in Windows-1250)
void prikazbecko(Kontext& k, const Parametr& a);         // "<" and byte 0xEC (e-caron in Windows-1250)
void prikazkrizekutf16(Kontext& k, const Parametr& a);   // 0x0D: first byte of c-caron in UTF-16LE, or a carriage return
void prikazbeckoutf16(Kontext& k, const Parametr& a);    // 0x1B: first byte of e-caron in UTF-16LE
void prikaztranspozice(Kontext& k, const Parametr& a);   // "T"
void prikazsila(Kontext& k, const Parametr& a);          // "s"
void prikazsynchro(Kontext& k, const Parametr& a);       // "S"
void prikazkomentar(Kontext& k, const Parametr& a);      // "(" ... ")": read whole as its argument
void prikazrejstrik(Kontext& k, const Parametr& a);      // "R" + register character

}  // namespace skladba
