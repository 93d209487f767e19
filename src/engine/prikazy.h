// The command table: one entry per command character of the score language,
// with the argument it reads after itself.
#pragma once

#include "engine/kontext.h"
#include "score/jazyk.h"

namespace skladba {

// A command, with its argument already read as the table says.
using Prikaz = void (*)(Kontext&, const Parametr&);

struct Polozka {
    unsigned char znak = 0;
    Prikaz prikaz = nullptr;   // nullptr: the byte has no meaning and is ignored
    Argument argument = Argument::zadny;
};

// The entry for a byte (its prikaz is nullptr for spaces, line breaks and
// everything else without an entry).
const Polozka& polozkapro(char znak);

// The same table as the check of a score reads it: which bytes are commands,
// and what each reads after itself.
const Syntaxe& syntaxe();

}  // namespace skladba
