// Sheet music: a MusicXML 4.0 file (partwise, uncompressed) of the score as
// it was written, for notation programs. Pure: the notes as the score wrote
// them come in, the bytes of the file go out.
//
// Time is counted in ticks of a grid fine enough for every value the score
// used (whole notes of Zapis::celanota ticks). The file has one part per
// register, named after its instrument; within a part, the score's voices
// become MusicXML voices (several that never overlap share one), four to a
// staff; a part whose voices lie apart in pitch gets a treble and a bass
// staff. Every voice fills every measure it appears in, with rests between
// its notes and forwards outside them; the first voice of each staff fills
// them all. Notes that cross a bar line are split and tied; values that are
// not a power of two become tuplets; a note that takes no time is a grace
// note.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "base/zapis.h"

namespace skladba {

// Limits that keep the file of an enormous score within reason.
struct MezeNotopisu {
    int64_t bunek = 4'000'000;            // measures times parts
    size_t bajtu = size_t{256} << 20;     // bytes of the file
};

// The file for a score named nazev, from software (a name and version).
// Returns false, with why it cannot be written, when it would pass a limit.
bool bajtymusicxml(const Zapis& zapis, const std::string& nazev, const std::string& software, std::string& out,
                   std::string& chyba, const MezeNotopisu& meze = MezeNotopisu{});

}  // namespace skladba
