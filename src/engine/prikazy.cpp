#include "engine/prikazy.h"

#include <array>

#include "engine/atributy.h"
#include "engine/cas.h"
#include "engine/ton.h"

namespace skladba {

namespace {

using A = Argument;

// The whole language, one line per command character: the character, its
// handler, what it reads after itself, what it does and the file in engine/
// that holds the handler. Every byte not listed is ignored. The command
// loop and the check of a score both read arguments as this table says.
constexpr Polozka prikazy[] = {
    {'c', ulozton, A::zadny},                  // note c                                 ton.cpp
    {'d', ulozton, A::zadny},                  // note d                                 ton.cpp
    {'e', ulozton, A::zadny},                  // note e                                 ton.cpp
    {'f', ulozton, A::zadny},                  // note f                                 ton.cpp
    {'g', ulozton, A::zadny},                  // note g                                 ton.cpp
    {'a', ulozton, A::zadny},                  // note a                                 ton.cpp
    {'h', ulozton, A::zadny},                  // note h (B natural)                     ton.cpp
    {'p', ulozton, A::zadny},                  // rest                                   ton.cpp
    {'.', prikaztecka, A::zadny},              // dot: a rest of half the value          ton.cpp
    {'1', prikazhodnota, A::hodnota},          // note value from the number here        atributy.cpp
    {'2', prikazhodnota, A::hodnota},          // note value from the number here        atributy.cpp
    {'3', prikazhodnota, A::hodnota},          // note value from the number here        atributy.cpp
    {'4', prikazhodnota, A::hodnota},          // note value from the number here        atributy.cpp
    {'5', prikazhodnota, A::hodnota},          // note value from the number here        atributy.cpp
    {'6', prikazhodnota, A::hodnota},          // note value from the number here        atributy.cpp
    {'7', prikazhodnota, A::hodnota},          // note value from the number here        atributy.cpp
    {'8', prikazhodnota, A::hodnota},          // note value from the number here        atributy.cpp
    {'9', prikazhodnota, A::hodnota},          // note value from the number here        atributy.cpp
    {'o', prikazoktava, A::oktava},            // octave: o + v m 1 2 3 4                atributy.cpp
    {'>', prikazkrizek, A::zadny},             // sharp                                  atributy.cpp
    {0xE8, prikazkrizek, A::zadny},            // sharp: c-caron in Windows-1250         atributy.cpp
    {'<', prikazbecko, A::zadny},              // flat                                   atributy.cpp
    {0xEC, prikazbecko, A::zadny},             // flat: e-caron in Windows-1250          atributy.cpp
    {0x0D, prikazkrizekutf16, A::surovy},      // sharp: c-caron in UTF-16LE (or a CR)   atributy.cpp
    {0x1B, prikazbeckoutf16, A::surovy},       // flat: e-caron in UTF-16LE              atributy.cpp
    {'T', prikaztranspozice, A::cislo},        // transposition                          atributy.cpp
    {'s', prikazsila, A::cislo},               // volume                                 atributy.cpp
    {'S', prikazsynchro, A::cislo},            // start jitter                           atributy.cpp
    {'(', prikazkomentar, A::komentar},        // comment, to the matching )             atributy.cpp
    {'R', prikazrejstrik, A::rejstrik},        // register                               atributy.cpp
    {'t', prikaztempo, A::cislo},              // tempo                                  cas.cpp
    {'r', prikazkrivka, A::cislo},             // tempo curve                            cas.cpp
    {'-', prikazzpet, A::zpet},                // step back                              cas.cpp
    {'|', prikaztakt, A::zadny},               // bar line: changes nothing in the sound cas.cpp
};

struct Tabulka {
    std::array<Polozka, 256> polozky{};
    Syntaxe syntaxe;
};

Tabulka sestavtabulku() {
    Tabulka t;
    for (const Polozka& p : prikazy) {
        t.polozky[p.znak] = p;
        t.syntaxe.prikaz[p.znak] = true;
        t.syntaxe.argument[p.znak] = p.argument;
    }
    return t;
}

const Tabulka tabulka = sestavtabulku();

}  // namespace

const Polozka& polozkapro(char znak) { return tabulka.polozky[static_cast<unsigned char>(znak)]; }

const Syntaxe& syntaxe() { return tabulka.syntaxe; }

}  // namespace skladba
