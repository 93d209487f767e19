// The parts of sheet music: the notes of each part directive or register,
// their voices as MusicXML voices that never overlap, and those on staves,
// at most four a part.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "output/zapis.h"

namespace skladba::notopis {

// A stretch of one voice in one part: a chord (notes of one start and
// length), a rest, or a grace note (no length).
struct Prvek {
    int64_t zacatek = 0, delka = 0;
    std::vector<uint32_t> noty;   // indices into Zapis::tony
    bool pauza = false;
    int64_t konec() const { return zacatek + delka; }
};


// One MusicXML voice of a part: the lines that never overlap, in time order.
struct Hlas {
    std::vector<Prvek> prvky;
    std::map<int64_t, int64_t> useky;   // start -> end of each line
    std::vector<int> klavesy;
    int osnova = 0;                     // staff, from 0
    size_t dalsi = 0;                   // first element not yet written
    int poslednisila = -1;
    int median = 60;                    // the middle of its keys
    bool horni = true;                  // the upper voice of its staff: marks above it
};

struct Cast {
    char reg;
    std::vector<Hlas> hlasy;
    int osnov = 1;
    std::vector<bool> basova;           // per staff: bass clef
    std::string jmeno;                  // as a directive names it; empty: after its instrument
};

// The instrument a register's part is named after: R1 to R4 the synthesised
// ones, R5 to R9 the General MIDI ones, and "Register X" for any other.
std::string jmenonastroje(char reg);

// The parts of the notes of z, each with its voices on its staves; false,
// with why, when one part would hold more voices at once than it can.
bool rozdelcasti(const Zapis& z, std::vector<Cast>& casti, std::string& chyba);

}  // namespace skladba::notopis
