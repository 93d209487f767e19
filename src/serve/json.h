// What the editor's server answers in JSON: a render, a save, the score
// language. Every text becomes a JSON string that parses whatever its bytes.
#pragma once

#include <string>

#include "serve/uloziste.h"
#include "serve/vykreslovani.h"

namespace skladba {

// A JSON string, quotes included. Valid UTF-8 passes as it is; any other
// byte becomes U+FFFD.
std::string jsontext(const std::string& s);

// The answer about a save.
std::string jsonulozeni(const Uloziste::Ulozeni& u);

// A render: its outcome, warnings and error, the addresses of its files and
// what the page draws beside them.
std::string jsonvykresleni(const Vykresleni& v);

// The score language as the engine's command table has it.
std::string jsonjazyk();

}  // namespace skladba
