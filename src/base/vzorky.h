// Files store samples and sums little-endian. On a little-endian machine
// these conversions are no-ops; elsewhere they swap bytes in place.
#pragma once

#include <cstddef>
#include <cstdint>

namespace skladba {

constexpr bool littleendianstroj = __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__;

inline void zlittleendian(int16_t* v, size_t n) {
    if constexpr (!littleendianstroj) {
        for (size_t i = 0; i < n; ++i) v[i] = static_cast<int16_t>(__builtin_bswap16(static_cast<uint16_t>(v[i])));
    } else {
        (void)v;
        (void)n;
    }
}

inline void zlittleendian(int32_t* v, size_t n) {
    if constexpr (!littleendianstroj) {
        for (size_t i = 0; i < n; ++i) v[i] = static_cast<int32_t>(__builtin_bswap32(static_cast<uint32_t>(v[i])));
    } else {
        (void)v;
        (void)n;
    }
}

// The conversion is its own inverse.
inline void dolittleendian(int16_t* v, size_t n) { zlittleendian(v, n); }
inline void dolittleendian(int32_t* v, size_t n) { zlittleendian(v, n); }

}  // namespace skladba
