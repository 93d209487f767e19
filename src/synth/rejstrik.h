// Registers: an instrument is a file of pocetsegmentu pre-rendered
// four-second segments, one per semitone (format in base/format.h), found
// in the register folder of the run as rejstrX.nes for register character X.
#pragma once

#include <cstdint>
#include <string>

#include "base/format.h"

namespace skladba {

// The loaded wavetable: segment k is rejstrpole[k * delkatonu ...].
extern int16_t rejstrpole[pocetsegmentu * delkatonu];

// The folder registers are loaded from for the rest of the run.
void nastavslozkurejstriku(const std::string& slozka);
// The path of register reg in that folder.
std::string rejstrjmeno(char reg);

// Silence in every segment, as at start-up.
void vynulujrejstrik();
// Reads register reg into the wavetable. A file shorter than pocetsegmentu
// segments leaves the rest of the wavetable as it was. Returns false with
// errno set when the file cannot be opened or read.
bool nactirejstrik(char reg);

}  // namespace skladba
