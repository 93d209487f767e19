#include "engine/atributy.h"

#include <climits>

#include "engine/cas.h"
#include "engine/stav.h"
#include "score/ctenar.h"
#include "synth/ton.h"

namespace skladba {

void prikazHodnota() {
    vratznak();   // the digit that chose this command is the number's first digit
    stav.hodnota = naCele(dejcislo());
}

void prikazTecka() {
    stav.hodnota = stav.hodnota * 2;
    stav.znak = 'p';
    ulozton();
    stav.hodnota = stav.hodnota / 2;
}

void prikazOktava() {
    stav.zmenaoktavy = 1;
    stav.znak = dejznak();
    switch (stav.znak) {
        case 'v': stav.oktava = 0; break;
        case 'm': stav.oktava = 12; break;
        case '1': stav.oktava = 24; break;
        case '2': stav.oktava = 36; break;
        case '3': stav.oktava = 48; break;
        case '4': stav.oktava = 60; break;
        default:
            // Not an octave: leave the character to the command loop.
            vratznak();
            stav.zmenaoktavy = 0;
    }
}

namespace {

// Accidentals accumulate; saturate so a score of millions of them stays sane.
void posun(int semitones) {
    if (semitones > 0 && stav.posuvky < INT_MAX) ++stav.posuvky;
    if (semitones < 0 && stav.posuvky > INT_MIN) --stav.posuvky;
}

// A UTF-16LE c-caron or e-caron is its low byte then 0x01. The second byte is
// read raw, since a zero byte there must not be skipped.
void posunUtf16(int semitones) {
    int b = dejsurovyznak();
    if (b < 0) return;   // the score ended: nothing to put back
    stav.znak = static_cast<char>(b);
    if (b == 0x01) {
        posun(semitones);
    } else {
        vratznak();
    }
}

}  // namespace

void prikazKrizek() { posun(+1); }
void prikazBecko() { posun(-1); }
void prikazKrizekUtf16() { posunUtf16(+1); }
void prikazBeckoUtf16() { posunUtf16(-1); }

void prikazTranspozice() { stav.transpose = naCele(dejcislo()); }

void prikazSila() {
    int v = naCele(dejcislo());
    if (v > 100) v = 100;
    if (v < 0) v = 0;
    // Logarithmic: 100 raised to v/100, so s50 is a tenth of full volume.
    stav.sila = static_cast<int>(alogspec(100.0, v * 0.01));
}

void prikazSynchro() {
    stav.synchropom = naCele(dejcislo());
    if (stav.synchro >= 1) stav.synchro = stav.synchropom;
}

void prikazKomentar() {
    ++stav.neprekladej;
    do {
        stav.znak = dejznak();
        if (stav.znak == '(') ++stav.neprekladej;
        if (stav.znak == ')') --stav.neprekladej;
    } while (stav.neprekladej != 0 && stav.znak != konecsouboru);
}

}  // namespace skladba
