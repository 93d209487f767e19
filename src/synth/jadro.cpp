#include "synth/jadro.h"

namespace skladba::jadro {

namespace {

// Written so the compiler vectorises it: no branches but selects, the sum in
// wrapping unsigned arithmetic (a corrupted mix file must not make it
// undefined), the magnitude as unsigned so that -2^31 is 2^31.
template <bool plnahlasitost>
[[gnu::always_inline]] inline uint32_t pridejjadro(const int16_t* __restrict segment, int sila,
                                                   int32_t* __restrict block, int count) {
    uint32_t top = 0;
    for (int i = 0; i < count; ++i) {
        // (x * 100) / 100 is x: full volume, the common case, needs no division.
        const int32_t add = plnahlasitost ? segment[i] : segment[i] * sila / 100;
        const uint32_t sum = static_cast<uint32_t>(block[i]) + static_cast<uint32_t>(add);
        block[i] = static_cast<int32_t>(sum);
        const uint32_t magnitude = static_cast<int32_t>(sum) < 0 ? 0u - sum : sum;
        top = magnitude > top ? magnitude : top;
    }
    return top;
}

// The product fits 32 bits and the shifted result 16: the compiler
// vectorises it as a multiply with rounding of the high half. out may be
// segment itself.
[[gnu::always_inline]] inline void zeslabjadro(const int16_t* segment, int16_t g,
                                               int16_t* out, int count) {
    for (int i = 0; i < count; ++i) out[i] = static_cast<int16_t>((int32_t{segment[i]} * g + 16384) >> 15);
}

}  // namespace

void zeslabzakladni(const int16_t* segment, int16_t g, int16_t* out, int count) {
    zeslabjadro(segment, g, out, count);
}

uint32_t pridejzakladni(const int16_t* segment, int sila, int32_t* block, int count) {
    return sila == 100 ? pridejjadro<true>(segment, sila, block, count)
                       : pridejjadro<false>(segment, sila, block, count);
}

#if defined(__x86_64__) && defined(__GNUC__)
[[gnu::target("avx2")]] uint32_t pridejavx2(const int16_t* segment, int sila, int32_t* block, int count) {
    return sila == 100 ? pridejjadro<true>(segment, sila, block, count)
                       : pridejjadro<false>(segment, sila, block, count);
}

[[gnu::target("avx2")]] void zeslabavx2(const int16_t* segment, int16_t g, int16_t* out, int count) {
    zeslabjadro(segment, g, out, count);
}

bool avx2dostupne() { return __builtin_cpu_supports("avx2"); }
#else
void zeslabavx2(const int16_t* segment, int16_t g, int16_t* out, int count) {
    zeslabzakladni(segment, g, out, count);
}

uint32_t pridejavx2(const int16_t* segment, int sila, int32_t* block, int count) {
    return pridejzakladni(segment, sila, block, count);
}

bool avx2dostupne() { return false; }
#endif

Pridej nejlepsi() {
    static const Pridej best = avx2dostupne() ? pridejavx2 : pridejzakladni;
    return best;
}

Zeslab nejlepsizeslab() {
    static const Zeslab best = avx2dostupne() ? zeslabavx2 : zeslabzakladni;
    return best;
}

bool pridejkontrolovane(const int16_t* segment, int sila, int32_t* block, int count, uint32_t& peak) {
    uint32_t overflow = 0;
    uint32_t top = peak;
    for (int i = 0; i < count; ++i) {
        const int32_t add = segment[i] * sila / 100;
        // A signed overflow shows as a sign change that neither operand had.
        const uint32_t a = static_cast<uint32_t>(block[i]);
        const uint32_t b = static_cast<uint32_t>(add);
        const uint32_t sum = a + b;
        overflow |= ~(a ^ b) & (a ^ sum);
        const uint32_t magnitude = static_cast<int32_t>(sum) < 0 ? 0u - sum : sum;
        top = magnitude > top ? magnitude : top;
        block[i] = static_cast<int32_t>(sum);
    }
    peak = top;
    return (overflow >> 31) == 0;
}

}  // namespace skladba::jadro
