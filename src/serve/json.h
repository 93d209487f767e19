// What the editor's server answers in JSON: a render, a save, the score
// language. Every text becomes a JSON string that parses whatever its bytes.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

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
// posledni: the note list the server last sent the pages (a JSON array a
// note), and the render it came with; stranky: the render whose list the
// page asking holds (0: none). Where the page holds the last one, only
// what changed is sent ("noteEdit": the notes between the first "head" and
// the last "tail" of the list of render "of", which stay), else the whole
// list ("noteList"). posledni then holds this render's.
struct Seznamnot {
    uint64_t cislo = 0;
    std::vector<std::string> noty;
};
std::string jsonvykresleni(const Vykresleni& v, Seznamnot* posledni = nullptr, uint64_t stranky = 0);

// The score language as the engine's command table has it.
std::string jsonjazyk();

}  // namespace skladba
