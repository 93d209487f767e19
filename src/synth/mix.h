// The mix file "_.tmp": one signed 32-bit little-endian sum per sample, the
// sum for sample i at byte 4 * i, no header. Held on disk so that the length
// of a piece does not depend on memory; locked for the whole run so that two
// runs in one directory cannot corrupt each other.
#pragma once

#include <cstdint>

namespace skladba {

constexpr const char* kMixSoubor = "_.tmp";

// Creates the mix file empty and takes its lock. A ChybaSouboru when it
// cannot be created or another run holds it.
void otevrimix();
bool mixOtevren();
int mixDeskriptor();

// Reads delkatonu sums starting at sample start into block; where the file
// ends (or has a gap) the sums are 0.
void ctimix(int64_t start, int32_t* block);
// Writes delkatonu sums at sample start, repeating a short write from the
// same position a bounded number of times (each repetition counted in chyby).
void zapismix(int64_t start, const int32_t* block);
// Reads the block back into testpole and reports every sum that differs.
void overmix(int64_t start, const int32_t* block);

int64_t delkamixu();   // bytes
// Removes the mix file (while still holding its lock), then closes it.
void smazmix();

}  // namespace skladba
