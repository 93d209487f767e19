// The add kernel of the renderer: a segment scaled by the volume added to a
// block of mix sums, with the peak of the results. It is the program's hot
// loop, so it comes in a portable build and, where the processor has it, an
// AVX2 build chosen at run time; both give the same bits.
#pragma once

#include <cstdint>

namespace skladba::jadro {

// block[i] += segment[i] * sila / 100 (product in 32 bits, quotient
// truncated toward zero) for i below count (at most a segment's delkatonu);
// returns the largest |block[i]| afterwards. The caller guarantees no sum can
// leave the 32-bit range.
using Pridej = uint32_t (*)(const int16_t* segment, int sila, int32_t* block, int count);

uint32_t pridejzakladni(const int16_t* segment, int sila, int32_t* block, int count);
uint32_t pridejavx2(const int16_t* segment, int sila, int32_t* block, int count);   // only where avx2dostupne()
bool avx2dostupne();

// The fastest kernel this processor runs.
Pridej nejlepsi();

// The same add with the segment first scaled by g / 2^15, each sample
// rounded to the nearest (halves up): block[i] += ((segment[i] * g + 2^14)
// >> 15) * sila / 100, g from 0 to 2^15 - 1: one side of a voice placed in
// the stereo field. Both builds give the same bits.
using PridejZeslabene = uint32_t (*)(const int16_t* segment, int32_t g, int sila, int32_t* block, int count);
uint32_t pridejzeslabenezakladni(const int16_t* segment, int32_t g, int sila, int32_t* block, int count);
uint32_t pridejzeslabeneavx2(const int16_t* segment, int32_t g, int sila, int32_t* block, int count);   // only where avx2dostupne()
PridejZeslabene nejlepsizeslabene();

// The same add with every sum checked, the segment scaled by g as above
// (2^15: as it is): false when one would leave the 32-bit range (block is
// then partly updated). peak is raised to the largest |block[i]| afterwards.
bool pridejkontrolovane(const int16_t* segment, int sila, int32_t* block, int count, uint32_t& peak,
                        int32_t g = 32768);

}  // namespace skladba::jadro
