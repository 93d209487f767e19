#include "engine/ton.h"

#include <string>

#include "base/chyba.h"
#include "base/stav.h"
#include "engine/cas.h"
#include "engine/pozorovatel.h"
#include "synth/mix.h"

namespace skladba {

SledovaniNoty sledovaninoty = nullptr;
bool mixovat = true;
Pozorovatel* pozorovatel = nullptr;

void zvysoktavu() {
    if (stav.oktava < 60) stav.oktava += 12;
}

void snizoktavu() {
    if (stav.oktava > 0) stav.oktava -= 12;
}

int nahodne() {
    stav.nahoda = stav.nahoda * 214013u + 2531011u;
    return static_cast<int>((stav.nahoda >> 16) & 0x7FFF);
}

namespace {

// Semitones above the octave base, counting "c" as 1; 0 is the rest.
int cislopismene(char letter) {
    switch (letter) {
        case 'c': return 1;
        case 'd': return 3;
        case 'e': return 5;
        case 'f': return 6;
        case 'g': return 8;
        case 'a': return 10;
        case 'h': return 12;
        default: return 0;
    }
}

// Without an explicit octave, a step to a letter that lies nearer across the
// octave boundary moves the octave with it.
void relativnioktava() {
    const char z = stav.znak;
    switch (stav.minton) {
        case 'a':
            if (z == 'c') zvysoktavu();
            break;
        case 'h':
            if (z == 'c' || z == 'd') zvysoktavu();
            break;
        case 'd':
            if (z == 'h') snizoktavu();
            break;
        case 'c':
            if (z == 'h' || z == 'a') snizoktavu();
            break;
        default:
            break;
    }
}

// Random start offset once polyphony has been used, so that voices written
// over one another do not start with machine precision.
int64_t startjitter() {
    if (stav.synchro < 1) return 0;
    const int r = nahodne();
    const int span = synchrotempo * 2 / stav.synchro;
    const int half = synchrotempo / stav.synchro;
    if (span == 0) return 0;   // a setting this large leaves no jitter at all
    int64_t j = r % span - half;
    if (stav.hodnota > 4) j = j * 4 / stav.hodnota;   // short notes: proportionally less
    return j;
}

// Without a release a note is mixed at once for its whole segment. With one,
// it is held back until the next note, register change or the end of the
// score shows how long it sounds: its own step and those of the dots right
// after it.
void uloz(bool tecka) {
    if (stav.zmenaoktavy == 0) relativnioktava();
    const int letter = cislopismene(stav.znak);
    const int64_t k = letter > 0
        ? int64_t{stav.oktava} + letter + stav.posuvky + stav.transpose - 1
        : 0;
    if (k < 0 || k >= pocetsegmentu) {
        chybapartitury("note out of the register's range: segment index " + std::to_string(k) +
                       " (the register holds 0 to " + std::to_string(pocetsegmentu - 1) + ")");
    }

    const int64_t j = startjitter();
    const int64_t start = (j < 0 ? -j : j) < stav.momcas ? stav.momcas + j : stav.momcas;
    if (start + delkatonu > meze.skladba) chybaprilisdlouha();

    if (sledovaninoty) sledovaninoty(start, k, stav.sila);
    if (mixovat && stav.dozvuk == 0) mixuj(start, k, stav.sila);

    const int64_t kurzor = stav.momcas;
    krokvpred();
    if (mixovat && stav.dozvuk > 0) {
        const int64_t krok = stav.momcas - kurzor;
        if (tecka) {
            // A dot right after the note lengthens it; after a step back it
            // lengthens nothing.
            if (stav.odlozena.je && stav.odlozena.kurzor == kurzor) {
                stav.odlozena.delka += krok;
                stav.odlozena.kurzor = stav.momcas;
            }
            mixuj(start, k, stav.sila, krok, stav.dozvuk);
        } else {
            doznej();
            stav.odlozena = {true, start, k, stav.sila, krok, stav.momcas};
        }
    }
    if (pozorovatel) {
        UlozenaNota u;
        u.nota.start = start;
        u.nota.krok = stav.momcas - kurzor;
        u.nota.zni = u.nota.krok;
        u.nota.segment = static_cast<uint8_t>(k);
        u.nota.sila = static_cast<uint8_t>(stav.sila);
        u.nota.reg = stav.reg;
        u.nota.posunuta = stav.synchro >= 1;
        u.kurzor = kurzor;
        u.hodnota = stav.hodnota;
        u.celatempa = stav.tempo;
        u.krivka = stav.ritard != 0.0;
        u.tecka = tecka;
        u.pismeno = letter > 0;
        u.pozice = stav.pozicepovelu;
        u.znak = stav.znak;
        u.posuvky = stav.posuvky;
        u.transpozice = stav.transpose;
        u.ritard = stav.ritard;
        pozorovatel->nota(u);
    }
    stav.posuvky = 0;
    stav.zmenaoktavy = 0;
    if (k > 0) {
        stav.minton = stav.znak;
        ++stav.pocetnot;
    }
}

}  // namespace

void ulozton() { uloz(false); }
void uloztecku() { uloz(true); }

void doznej() {
    if (!stav.odlozena.je) return;
    const Stav::OdlozenaNota n = stav.odlozena;
    stav.odlozena.je = false;
    mixuj(n.start, n.segment, n.sila, n.delka, stav.dozvuk);
}

}  // namespace skladba
