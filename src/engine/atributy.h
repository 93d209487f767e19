// Commands that set what the next notes will be (note value, octave,
// accidentals, transposition, volume, start jitter, register) plus the dot
// and comments.
#pragma once

namespace skladba {

void prikazhodnota();      // "1".."9": note value from the number starting here
void prikaztecka();        // ".": a rest of half the current value
void prikazoktava();       // "o" + one of v m 1 2 3 4
void prikazkrizek();       // ">" and byte 0xE8 (c-caron in Windows-1250)
void prikazbecko();        // "<" and byte 0xEC (e-caron in Windows-1250)
void prikazkrizekutf16();  // 0x0D: first byte of c-caron in UTF-16LE, or a carriage return
void prikazbeckoutf16();   // 0x1B: first byte of e-caron in UTF-16LE
void prikaztranspozice();  // "T"
void prikazsila();         // "s"
void prikazsynchro();      // "S"
void prikazkomentar();     // "(" ... ")"
void prikazrejstrik();     // "R" + register character

}  // namespace skladba
