// Written values for sheet music: a length of ticks as note types with dots
// and tuplets, tied together where one value cannot write it; and which of
// them a notation program beams together and brackets as a tuplet.
#pragma once

#include <cstdint>
#include <vector>

namespace skladba {

// Note types by length: type k is 2^k / 1024 of a whole note.
extern const char* const typynot[];

// One written value: a type with dots, in a tuplet of skutecne notes in the
// time of normalni (1:1 is none), lasting tiku ticks.
struct Kus {
    int typ = 0;
    int tecek = 0;
    int64_t skutecne = 1, normalni = 1;
    int64_t tiku = 0;
};

// The values that write a length of tiku ticks (celanota a whole note),
// preferring the tuplet of the value the score wrote (1/hodnota, 0: none),
// then none, then the one the length itself needs.
std::vector<Kus> rozloz(int64_t tiku, int64_t celanota, int64_t hodnota);

}  // namespace skladba
