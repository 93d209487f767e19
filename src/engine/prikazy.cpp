#include "engine/prikazy.h"

#include <array>
#include <iterator>

#include "engine/atributy.h"
#include "engine/cas.h"
#include "engine/ton.h"

namespace skladba {

namespace {

using A = Argument;
using D = Druhprikazu;

// The whole language, one line per command character: the character, its
// handler, what it reads after itself, the kind of word it is, what it does
// and the file in engine/ that holds the handler. Every byte not listed is
// ignored. The command loop and the check of a score both read arguments as
// this table says; the editor colours the score by it.
constexpr Polozka prikazy[] = {
    {'c', ulozton, A::zadny, D::nota, "note c"},  // ton.cpp
    {'d', ulozton, A::zadny, D::nota, "note d"},  // ton.cpp
    {'e', ulozton, A::zadny, D::nota, "note e"},  // ton.cpp
    {'f', ulozton, A::zadny, D::nota, "note f"},  // ton.cpp
    {'g', ulozton, A::zadny, D::nota, "note g"},  // ton.cpp
    {'a', ulozton, A::zadny, D::nota, "note a"},  // ton.cpp
    {'h', ulozton, A::zadny, D::nota, "note h (B natural)"},  // ton.cpp
    {'p', ulozton, A::zadny, D::pauza, "rest"},  // ton.cpp
    {'.', prikaztecka, A::zadny, D::hodnota, "dot: a rest of half the value"},  // ton.cpp
    {'1', prikazhodnota, A::hodnota, D::hodnota, "note value from the number here"},  // atributy.cpp
    {'2', prikazhodnota, A::hodnota, D::hodnota, "note value from the number here"},  // atributy.cpp
    {'3', prikazhodnota, A::hodnota, D::hodnota, "note value from the number here"},  // atributy.cpp
    {'4', prikazhodnota, A::hodnota, D::hodnota, "note value from the number here"},  // atributy.cpp
    {'5', prikazhodnota, A::hodnota, D::hodnota, "note value from the number here"},  // atributy.cpp
    {'6', prikazhodnota, A::hodnota, D::hodnota, "note value from the number here"},  // atributy.cpp
    {'7', prikazhodnota, A::hodnota, D::hodnota, "note value from the number here"},  // atributy.cpp
    {'8', prikazhodnota, A::hodnota, D::hodnota, "note value from the number here"},  // atributy.cpp
    {'9', prikazhodnota, A::hodnota, D::hodnota, "note value from the number here"},  // atributy.cpp
    {'o', prikazoktava, A::oktava, D::oktava, "octave: o + v m 1 2 3 4"},  // atributy.cpp
    {'>', prikazkrizek, A::zadny, D::posuvka, "sharp"},  // atributy.cpp
    {0xE8, prikazkrizek, A::zadny, D::posuvka, "sharp: c-caron in Windows-1250"},  // atributy.cpp
    {'<', prikazbecko, A::zadny, D::posuvka, "flat"},  // atributy.cpp
    {0xEC, prikazbecko, A::zadny, D::posuvka, "flat: e-caron in Windows-1250"},  // atributy.cpp
    {0x0D, prikazkrizekutf16, A::surovy, D::posuvka, "sharp: c-caron in UTF-16LE (or a CR)"},  // atributy.cpp
    {0x1B, prikazbeckoutf16, A::surovy, D::posuvka, "flat: e-caron in UTF-16LE"},  // atributy.cpp
    {'T', prikaztranspozice, A::cislo, D::prikaz, "transposition"},  // atributy.cpp
    {'s', prikazsila, A::cislo, D::prikaz, "volume"},  // atributy.cpp
    {'S', prikazsynchro, A::cislo, D::prikaz, "start jitter"},  // atributy.cpp
    {'(', prikazkomentar, A::komentar, D::komentar, "comment, to the matching )"},  // atributy.cpp
    {'R', prikazrejstrik, A::rejstrik, D::rejstrik, "register"},  // atributy.cpp
    {'t', prikaztempo, A::cislo, D::prikaz, "tempo"},  // cas.cpp
    {'r', prikazkrivka, A::cislo, D::prikaz, "tempo curve"},  // cas.cpp
    {'-', prikazzpet, A::zpet, D::zpet, "step back"},  // cas.cpp
    {'|', prikaztakt, A::zadny, D::takt, "bar line: changes nothing in the sound"},  // cas.cpp
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

const char* jmenodruhu(Druhprikazu d) {
    static const char* const jmena[pocetdruhu] = {"note", "rest", "value", "octave", "accidental",
                                                  "command", "register", "back", "bar", "comment"};
    return jmena[static_cast<int>(d)];
}

const Polozka& polozkapro(char znak) { return tabulka.polozky[static_cast<unsigned char>(znak)]; }

const Syntaxe& syntaxe() { return tabulka.syntaxe; }

Seznamprikazu seznamprikazu() { return {std::begin(prikazy), std::end(prikazy)}; }

}  // namespace skladba
