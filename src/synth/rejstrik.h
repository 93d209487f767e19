// Registers: an instrument is a file of 69 pre-rendered four-second segments,
// one per semitone, raw 16-bit little-endian samples at 22050 Hz.
#pragma once

namespace skladba {

// Reads the register file named by rejstrjmeno into the wavetable. A file
// shorter than 69 segments leaves the rest of the wavetable as it was.
// Returns false with errno set when the file cannot be opened or read.
bool nactirejstrik();

void prikazRejstrik();   // "R" + register character

}  // namespace skladba
