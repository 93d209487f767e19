#include "engine/atributy.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <string>

#include "base/chyba.h"
#include "base/stav.h"
#include "engine/cas.h"
#include "engine/ton.h"
#include "score/ctenar.h"
#include "synth/rejstrik.h"

namespace skladba {

void prikazhodnota() {
    vratznak();   // the digit that chose this command is the number's first digit
    stav.hodnota = nacele(dejcislo());
}

void prikaztecka() {
    stav.hodnota = stav.hodnota * 2;
    stav.znak = 'p';
    uloztecku();
    stav.hodnota = stav.hodnota / 2;
}

void prikazoktava() {
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
void posunutf16(int semitones) {
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

void prikazkrizek() { posun(+1); }
void prikazbecko() { posun(-1); }
void prikazkrizekutf16() { posunutf16(+1); }
void prikazbeckoutf16() { posunutf16(-1); }

void prikaztranspozice() { stav.transpose = nacele(dejcislo()); }

void prikazsila() {
    int v = nacele(dejcislo());
    if (v > 100) v = 100;
    if (v < 0) v = 0;
    // Logarithmic: 100 raised to v/100, so s50 is a tenth of full volume.
    stav.sila = static_cast<int>(alogspec(100.0, v * 0.01));
}

void prikazsynchro() {
    stav.synchropom = nacele(dejcislo());
    if (stav.synchro >= 1) stav.synchro = stav.synchropom;
}

void prikazkomentar() {
    ++stav.neprekladej;
    do {
        stav.znak = dejznak();
        if (stav.znak == '(') ++stav.neprekladej;
        if (stav.znak == ')') --stav.neprekladej;
    } while (stav.neprekladej != 0 && stav.znak != konecsouboru);
}

namespace {

std::string popisznaku(char c) {
    const auto b = static_cast<unsigned char>(c);
    if (b >= 0x21 && b < 0x7F) return std::string("\"") + c + "\"";
    char buf[8];
    std::snprintf(buf, sizeof buf, "0x%02X", b);
    return buf;
}

// A path as it can be shown on a terminal: the register character may be
// any byte, so unprintable ones appear as \xNN.
std::string popiscesty(const std::string& cesta) {
    std::string out;
    for (char c : cesta) {
        const auto b = static_cast<unsigned char>(c);
        if (b >= 0x20 && b < 0x7F) {
            out += c;
        } else {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\x%02X", b);
            out += buf;
        }
    }
    return out;
}

}  // namespace

void prikazrejstrik() {
    stav.reg = dejznak();
    // A 0xFF byte inside the score names a register like any other byte;
    // only at the end of the score is there no character at all.
    if (!nactirejstrik(stav.reg)) {
        const int err = errno;
        if (stav.reg == konecsouboru && isoubor.konec()) {
            chybapartitury("\"R\" needs a register character after it");
        }
        chybapartitury("cannot load register " + popisznaku(stav.reg) + " from " +
                       popiscesty(rejstrjmeno(stav.reg)) + ": " + popischyby(err));
    }
}

}  // namespace skladba
