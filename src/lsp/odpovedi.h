// What the server answers about one analysis of a score: each function
// reads the analysis and translates its byte offsets into the client's
// places, and keeps no idea of the score of its own.
#pragma once

#include <nlohmann/json.hpp>
#include <string>

#include "lsp/mista.h"
#include "lsp/rozbor.h"

namespace skladba::lsp {

using json = nlohmann::json;

// The check's warnings and its error as diagnostics.
json diagnostiky(const Rozbor& r, const Mista& m);
// Quick fixes for the warnings that name what to write, over [od, po).
json akce(const Rozbor& r, const Mista& m, const std::string& uri, int64_t od, int64_t po);
// The note, rest or dot at a byte offset; null where there is none.
json popis(const Rozbor& r, const Mista& m, int64_t bajt);
// The octave after every note whose octave the relative rule chose, in [od, po).
json oktavy(const Rozbor& r, const Mista& m, int64_t od, int64_t po);
// The legend of the semantic tokens, and the tokens of the whole score.
json legenda();
json tokeny(const Rozbor& r, const Mista& m);
// Completion at a byte offset: registers after R, directive keywords after
// "(", the commands with what their numbers take.
json doplneni(const Rozbor& r, int64_t bajt);
// Sections (comments alone on a line), parts and voices.
json symboly(const Rozbor& r, const Mista& m);

// The sample where the first note or rest at or after a byte offset
// starts (the end of the piece when none follows).
int64_t vzorekod(const Rozbor& r, int64_t bajt);

json rozsah(const Mista& m, int64_t od, int64_t po);

}  // namespace skladba::lsp
