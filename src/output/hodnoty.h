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

// A written value of a voice's measure, in order, as beams and tuplets see
// it: a note (or chord), a rest, a gap (a forward) or nothing to them (a
// grace note, a direction).
struct Psane {
    enum class Druh : uint8_t { nota, pauza, mezera, nic };
    Druh druh = Druh::nic;
    int64_t tik = 0;
    Kus kus;
    const char* tramy[4] = {};          // begin, continue, end, forward hook, backward hook
    bool tupletod = false, tupletdo = false;
};

// Beams over eighths and shorter within each beat of a bar that starts at
// zacatek (a pickup's before its first tick) and beats in doby units of
// jednotka ticks (0: no beams); rests and gaps break them, sixteenths are
// beamed on their second level.
void tramuj(std::vector<Psane>& p, int64_t zacatek, const std::vector<int>& doby, int64_t jednotka);
// Tuplet brackets: a start and a stop over each run of values of one
// ratio, a run closing where it fills the time of its normal notes.
void tupletuj(std::vector<Psane>& p, int64_t celanota);

}  // namespace skladba
