// The command table: one entry per command character of the score language,
// with the argument it reads after itself.
#pragma once

#include <cstdint>

#include "engine/kontext.h"
#include "score/jazyk.h"

namespace skladba {

// A command, with its argument already read as the table says.
using Prikaz = void (*)(Kontext&, const Parametr&);

// The kind of word a command is, as a musician reads the score.
enum class Druhprikazu : uint8_t {
    nota, pauza, hodnota, oktava, posuvka, prikaz, rejstrik, zpet, takt, komentar,
};

// How the kind is named outside the engine: the page's colours and the
// language server's tokens ("note", "rest", ..., "comment").
const char* jmenodruhu(Druhprikazu d);
constexpr int pocetdruhu = static_cast<int>(Druhprikazu::komentar) + 1;

struct Polozka {
    unsigned char znak = 0;
    Prikaz prikaz = nullptr;   // nullptr: the byte has no meaning and is ignored
    Argument argument = Argument::zadny;
    Druhprikazu druh = Druhprikazu::prikaz;
    const char* popis = "";    // what it does, in a few words
};

// Every entry of the table, in its order.
struct Seznamprikazu {
    const Polozka* zacatek;
    const Polozka* konec;
    const Polozka* begin() const { return zacatek; }
    const Polozka* end() const { return konec; }
};
Seznamprikazu seznamprikazu();

// The entry for a byte (its prikaz is nullptr for spaces, line breaks and
// everything else without an entry).
const Polozka& polozkapro(char znak);

// The same table as the check of a score reads it: which bytes are commands,
// and what each reads after itself.
const Syntaxe& syntaxe();

}  // namespace skladba
