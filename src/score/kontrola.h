// The lexical check of a score: one pass over its bytes, as the reader hands
// them out, that finds what is likely written with another notation in mind
// ("b", "#", "fis", "c4", "s 80", words outside comments, UTF-8 letters, bytes
// that are no command). It needs nothing from the engine, so it sees the
// whole score even when the engine would stop at an error on the way.
#pragma once

#include <cstdint>
#include <vector>

#include "base/nota.h"
#include "score/ctenar.h"
#include "score/jazyk.h"

namespace skladba {

// A command as the check read it: where its character stands and where its
// argument ends, [pozice, po).
struct Povel {
    int64_t pozice = 0;
    int64_t po = 0;
    bool operator==(const Povel& o) const { return pozice == o.pozice && po == o.po; }
};

// Reads the open score from its first byte to its end, taking each command's
// argument as syntaxe (the engine's command table) says, and leaves it
// rewound. At most nejvic warnings are returned, in the order of the score;
// dalsich counts the ones left out. With povely, every command read is
// listed there.
std::vector<Varovani> zkontrolujpismo(Partitura& p, const Syntaxe& syntaxe, size_t nejvic, int64_t& dalsich,
                                     std::vector<Povel>* povely = nullptr);

}  // namespace skladba
