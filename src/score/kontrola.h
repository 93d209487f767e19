// The lexical check of a score: one pass over its bytes, as the reader hands
// them out, that finds what is likely written with another notation in mind
// ("b", "#", "fis", "c4", "s 80", words outside comments, UTF-8 letters, bytes
// that are no command). It needs nothing from the engine, so it sees the
// whole score even when the engine would stop at an error on the way.
#pragma once

#include <cstdint>
#include <vector>

#include "base/nota.h"

namespace skladba {

// Reads the open score (isoubor) from its first byte to its end and leaves
// it rewound. At most nejvic warnings are returned, in the order of the
// score; dalsich counts the ones left out.
std::vector<Varovani> zkontrolujpismo(size_t nejvic, int64_t& dalsich);

}  // namespace skladba
