#include "engine/prikazy.h"

#include <array>

#include "engine/atributy.h"
#include "engine/cas.h"
#include "engine/ton.h"

namespace skladba {

namespace {

struct Polozka {
    unsigned char znak;
    Prikaz prikaz;
};

// The whole language, one line per command character: the character, its
// handler, what it does and the file in engine/ that holds the handler.
// Every byte not listed is ignored.
constexpr Polozka prikazy[] = {
    {'c', ulozton},             // note c                                  ton.cpp
    {'d', ulozton},             // note d                                  ton.cpp
    {'e', ulozton},             // note e                                  ton.cpp
    {'f', ulozton},             // note f                                  ton.cpp
    {'g', ulozton},             // note g                                  ton.cpp
    {'a', ulozton},             // note a                                  ton.cpp
    {'h', ulozton},             // note h (B natural)                      ton.cpp
    {'p', ulozton},             // rest                                    ton.cpp
    {'.', prikaztecka},         // dot: a rest of half the value           atributy.cpp
    {'1', prikazhodnota},       // note value from the number here         atributy.cpp
    {'2', prikazhodnota},       // note value from the number here         atributy.cpp
    {'3', prikazhodnota},       // note value from the number here         atributy.cpp
    {'4', prikazhodnota},       // note value from the number here         atributy.cpp
    {'5', prikazhodnota},       // note value from the number here         atributy.cpp
    {'6', prikazhodnota},       // note value from the number here         atributy.cpp
    {'7', prikazhodnota},       // note value from the number here         atributy.cpp
    {'8', prikazhodnota},       // note value from the number here         atributy.cpp
    {'9', prikazhodnota},       // note value from the number here         atributy.cpp
    {'o', prikazoktava},        // octave: o + v m 1 2 3 4                 atributy.cpp
    {'>', prikazkrizek},        // sharp                                   atributy.cpp
    {0xE8, prikazkrizek},       // sharp: c-caron in Windows-1250          atributy.cpp
    {'<', prikazbecko},         // flat                                    atributy.cpp
    {0xEC, prikazbecko},        // flat: e-caron in Windows-1250           atributy.cpp
    {0x0D, prikazkrizekutf16},  // sharp: c-caron in UTF-16LE (or a CR)    atributy.cpp
    {0x1B, prikazbeckoutf16},   // flat: e-caron in UTF-16LE               atributy.cpp
    {'T', prikaztranspozice},   // transposition                           atributy.cpp
    {'s', prikazsila},          // volume                                  atributy.cpp
    {'S', prikazsynchro},       // start jitter                            atributy.cpp
    {'(', prikazkomentar},      // comment, to the matching )              atributy.cpp
    {'R', prikazrejstrik},      // register                                atributy.cpp
    {'t', prikaztempo},         // tempo                                   cas.cpp
    {'r', prikazkrivka},        // tempo curve                             cas.cpp
    {'-', prikazzpet},          // step back                               cas.cpp
    {'|', prikaztakt},          // bar line: changes nothing in the sound  cas.cpp
};

std::array<Prikaz, 256> sestavtabulku() {
    std::array<Prikaz, 256> table{};
    for (const Polozka& p : prikazy) table[p.znak] = p.prikaz;
    return table;
}

const std::array<Prikaz, 256> tabulka = sestavtabulku();

}  // namespace

Prikaz prikazpro(char znak) { return tabulka[static_cast<unsigned char>(znak)]; }

}  // namespace skladba
