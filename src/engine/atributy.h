// Commands that set what the next notes will be (note value, octave,
// accidentals, transposition, volume, start jitter) plus the dot and comments.
#pragma once

namespace skladba {

void prikazHodnota();      // "1".."9": note value from the number starting here
void prikazTecka();        // ".": a rest of half the current value
void prikazOktava();       // "o" + one of v m 1 2 3 4
void prikazKrizek();       // ">" and byte 0xE8 (c-caron in Windows-1250)
void prikazBecko();        // "<" and byte 0xEC (e-caron in Windows-1250)
void prikazKrizekUtf16();  // 0x0D: first byte of c-caron in UTF-16LE, or a carriage return
void prikazBeckoUtf16();   // 0x1B: first byte of e-caron in UTF-16LE
void prikazTranspozice();  // "T"
void prikazSila();         // "s"
void prikazSynchro();      // "S"
void prikazKomentar();     // "(" ... ")"

}  // namespace skladba
