// Sheet music: a MusicXML 4.0 file (partwise, uncompressed) of the score as
// it was written, for notation programs. Pure: the notes as the score wrote
// them come in, the bytes of the file go out.
//
// Time is counted in ticks of a grid fine enough for every value the score
// used (whole notes of Zapis::celanota ticks). The file has one part per
// part directive, or else per register, named by it or after its
// instrument; within a part, the score's voices become MusicXML voices
// (several that never overlap share one), four to a staff, at most four
// staves a part; a part whose voices lie apart in pitch gets a treble and a
// bass staff. Eighths and shorter are beamed by the beats of the metre, and
// every tuplet has its bracket. Every voice fills every measure it appears in, with rests between
// its notes and forwards outside them; the first voice of each staff fills
// them all. Notes that cross a bar line are split and tied; values that are
// not a power of two become tuplets; a note that takes no time is a grace
// note.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "base/hudba.h"
#include "output/zapis.h"

namespace skladba {

// The file for a score named nazev, from software (a name and version).
// Returns false, with why it cannot be written, when it would pass a limit.
bool bajtymusicxml(const Zapis& zapis, const std::string& nazev, const std::string& software, std::string& out,
                   std::string& chyba, const MezeNotopisu& meze = MezeNotopisu{});
// The same from the music as written: its voices, a key signature inferred
// from the pitches it uses (the key whose scale holds most of them), with
// every note of the scale spelled in it, and its tempo map.
bool bajtymusicxml(const Hudba& hudba, const std::string& nazev, const std::string& software, std::string& out,
                   std::string& chyba, const MezeNotopisu& meze = MezeNotopisu{});
}  // namespace skladba
