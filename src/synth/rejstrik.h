// Registers: an instrument is a file of pocetsegmentu pre-rendered
// four-second segments, one per semitone (format in base/format.h), found
// in the register folder of the run as rejstrX.nes for register character X.
//
// Loading a register opens its file and makes it the source of every segment
// it holds; a segment is read from its source the first time a note needs
// it. A score that switches registers thousands of times, or uses a dozen
// pitches of a register, then costs only the segments it plays.
#pragma once

#include <cstdint>
#include <string>

#include "base/format.h"

namespace skladba {

// The wavetable: segment k is rejstrpole[k * delkatonu ...] once
// segmentrejstriku(k) has made it current.
extern int16_t rejstrpole[pocetsegmentu * delkatonu];

// The folder registers are loaded from for the rest of the run.
void nastavslozkurejstriku(const std::string& slozka);
// The path of register reg in that folder.
std::string rejstrjmeno(char reg);

// Silence in every segment, as at start-up.
void vynulujrejstrik();
// Loads register reg: a file shorter than pocetsegmentu segments leaves the
// rest of the wavetable as it was. Returns false with errno set when the
// file cannot be opened or read.
bool nactirejstrik(char reg);

// Segment k of the wavetable as the registers loaded so far make it, read
// from its file if a note has not needed it yet. A ChybaSouboru when that
// read fails.
const int16_t* segmentrejstriku(int64_t k);
// The largest |sample| of segment k (which segmentrejstriku has made current).
int32_t vrcholsegmentu(int64_t k);

}  // namespace skladba
