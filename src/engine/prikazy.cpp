#include "engine/prikazy.h"

#include <array>

#include "engine/atributy.h"
#include "engine/cas.h"
#include "synth/rejstrik.h"
#include "synth/ton.h"

namespace skladba {

namespace {

struct Polozka {
    unsigned char znak;
    Prikaz prikaz;
};

// The whole language, one line per command character.
constexpr Polozka kPrikazy[] = {
    {'c', ulozton}, {'d', ulozton}, {'e', ulozton}, {'f', ulozton},   // notes
    {'g', ulozton}, {'a', ulozton}, {'h', ulozton},
    {'p', ulozton},                                                   // rest
    {'.', prikazTecka},                                               // dot: rest of half the value
    {'1', prikazHodnota}, {'2', prikazHodnota}, {'3', prikazHodnota}, // note value
    {'4', prikazHodnota}, {'5', prikazHodnota}, {'6', prikazHodnota},
    {'7', prikazHodnota}, {'8', prikazHodnota}, {'9', prikazHodnota},
    {'o', prikazOktava},                                              // octave
    {'>', prikazKrizek}, {0xE8, prikazKrizek},                        // sharp (c-caron, Windows-1250)
    {'<', prikazBecko}, {0xEC, prikazBecko},                          // flat (e-caron, Windows-1250)
    {0x0D, prikazKrizekUtf16},                                        // c-caron in UTF-16LE
    {0x1B, prikazBeckoUtf16},                                         // e-caron in UTF-16LE
    {'T', prikazTranspozice},                                         // transposition
    {'s', prikazSila},                                                // volume
    {'S', prikazSynchro},                                             // start jitter
    {'(', prikazKomentar},                                            // comment
    {'R', prikazRejstrik},                                            // register
    {'t', prikazTempo},                                               // tempo
    {'r', prikazKrivka},                                              // tempo curve
    {'-', prikazZpet},                                                // step back
};

std::array<Prikaz, 256> sestavTabulku() {
    std::array<Prikaz, 256> table{};
    for (const Polozka& p : kPrikazy) table[p.znak] = p.prikaz;
    return table;
}

const std::array<Prikaz, 256> kTabulka = sestavTabulku();

}  // namespace

Prikaz prikazPro(char znak) { return kTabulka[static_cast<unsigned char>(znak)]; }

}  // namespace skladba
