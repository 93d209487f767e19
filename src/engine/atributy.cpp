#include "engine/atributy.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <string>

#include "base/chyba.h"
#include "base/stav.h"
#include "engine/cas.h"
#include "engine/ton.h"

namespace skladba {

void prikazhodnota(Kontext& k, const Parametr& a) { k.stav.hodnota = nacele(a.cislo); }

void prikazoktava(Kontext& k, const Parametr& a) {
    // Not an octave: the character was left to the command loop, and the
    // note after it follows the octave rule.
    k.stav.zmenaoktavy = a.je ? 1 : 0;
    if (a.je) k.stav.oktava = a.oktava;
}

namespace {

// Accidentals accumulate; saturate so a score of millions of them stays sane.
void posun(Stav& s, int semitones) {
    if (semitones > 0 && s.posuvky < INT_MAX) ++s.posuvky;
    if (semitones < 0 && s.posuvky > INT_MIN) --s.posuvky;
}

}  // namespace

void prikazkrizek(Kontext& k, const Parametr&) { posun(k.stav, +1); }
void prikazbecko(Kontext& k, const Parametr&) { posun(k.stav, -1); }
// A UTF-16LE c-caron or e-caron is its low byte then 0x01.
void prikazkrizekutf16(Kontext& k, const Parametr& a) {
    if (a.je) posun(k.stav, +1);
}
void prikazbeckoutf16(Kontext& k, const Parametr& a) {
    if (a.je) posun(k.stav, -1);
}

void prikaztranspozice(Kontext& k, const Parametr& a) { k.stav.transpose = nacele(a.cislo); }

void prikazsila(Kontext& k, const Parametr& a) {
    int v = nacele(a.cislo);
    if (v > 100) v = 100;
    if (v < 0) v = 0;
    // Logarithmic: 100 raised to v/100, so s50 is a tenth of full volume.
    k.stav.sila = static_cast<int>(alogspec(100.0, v * 0.01));
}

void prikazsynchro(Kontext& k, const Parametr& a) {
    Stav& s = k.stav;
    s.synchropom = nacele(a.cislo);
    if (s.synchro >= 1) s.synchro = s.synchropom;
}

// The comment was read whole as the command's argument, nesting counted in
// neprekladej. Its text goes to the observer, which reads the directives in
// it (score/smernice.h); the sound never hears of them.
void prikazkomentar(Kontext& k, const Parametr& a) {
    if (k.pozorovatel) k.pozorovatel->komentar(k.stav.pozicepovelu, a.text);
}

void prikazrejstrik(Kontext& k, const Parametr& a) {
    doznej(k);   // a note waiting for its release keeps the register it was written with
    k.stav.reg = a.znak;
    if (!a.je) {
        // "R" as the last byte of the score: loaded at once, as a register
        // file named after the end marker is all it can name.
        if (!k.rejstriky.nactirejstrik(k.stav.reg)) chybapartitury("\"R\" needs a register character after it");
        return;
    }
    // Loading a register again makes what it loaded before irrelevant, so
    // each is waited for once, at its latest "R".
    std::vector<Kontext::CekajiciRejstrik>& c = k.cekajicirejstriky;
    c.erase(std::remove_if(c.begin(), c.end(), [&](const Kontext::CekajiciRejstrik& r) { return r.reg == a.znak; }),
            c.end());
    c.push_back({a.znak, k.stav.pozicepovelu});
}

}  // namespace skladba
