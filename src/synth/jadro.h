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

// out[i] = (segment[i] * g + 2^14) >> 15 (rounded to the nearest, halves
// up) for i below count, g from 0 to 2^15 - 1: one side of a voice placed
// in the stereo field. Both builds give the same bits.
using Zeslab = void (*)(const int16_t* segment, int16_t g, int16_t* out, int count);
void zeslabzakladni(const int16_t* segment, int16_t g, int16_t* out, int count);
void zeslabavx2(const int16_t* segment, int16_t g, int16_t* out, int count);   // only where avx2dostupne()
Zeslab nejlepsizeslab();

// The same add with every sum checked: false when one would leave the 32-bit
// range (block is then partly updated). peak is raised to the largest
// |block[i]| afterwards.
bool pridejkontrolovane(const int16_t* segment, int sila, int32_t* block, int count, uint32_t& peak);

}  // namespace skladba::jadro
