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

// The add of a side: the scaled sample fits 16 bits, as the sum of the
// plain add does.
template <bool plnahlasitost>
[[gnu::always_inline]] inline uint32_t pridejzeslabenejadro(const int16_t* __restrict segment, int32_t g, int sila,
                                                            int32_t* __restrict block, int count) {
    uint32_t top = 0;
    for (int i = 0; i < count; ++i) {
        const int32_t x = (int32_t{segment[i]} * g + 16384) >> 15;
        const int32_t add = plnahlasitost ? x : x * sila / 100;
        const uint32_t sum = static_cast<uint32_t>(block[i]) + static_cast<uint32_t>(add);
        block[i] = static_cast<int32_t>(sum);
        const uint32_t magnitude = static_cast<int32_t>(sum) < 0 ? 0u - sum : sum;
        top = magnitude > top ? magnitude : top;
    }
    return top;
}

}  // namespace

uint32_t pridejzeslabenezakladni(const int16_t* segment, int32_t g, int sila, int32_t* block, int count) {
    return sila == 100 ? pridejzeslabenejadro<true>(segment, g, sila, block, count)
                       : pridejzeslabenejadro<false>(segment, g, sila, block, count);
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

[[gnu::target("avx2")]] uint32_t pridejzeslabeneavx2(const int16_t* segment, int32_t g, int sila, int32_t* block,
                                                      int count) {
    return sila == 100 ? pridejzeslabenejadro<true>(segment, g, sila, block, count)
                       : pridejzeslabenejadro<false>(segment, g, sila, block, count);
}

bool avx2dostupne() { return __builtin_cpu_supports("avx2"); }
#else
uint32_t pridejzeslabeneavx2(const int16_t* segment, int32_t g, int sila, int32_t* block, int count) {
    return pridejzeslabenezakladni(segment, g, sila, block, count);
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

PridejZeslabene nejlepsizeslabene() {
    static const PridejZeslabene best = avx2dostupne() ? pridejzeslabeneavx2 : pridejzeslabenezakladni;
    return best;
}

bool pridejkontrolovane(const int16_t* segment, int sila, int32_t* block, int count, uint32_t& peak, int32_t g) {
    uint32_t overflow = 0;
    uint32_t top = peak;
    for (int i = 0; i < count; ++i) {
        // (g = 2^15 gives the sample itself.)
        const int32_t add = ((int32_t{segment[i]} * g + 16384) >> 15) * sila / 100;
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
