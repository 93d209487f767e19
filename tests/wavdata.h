// The one little-endian and WAV reader of the tests.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace skladba::test {

// The unsigned little-endian number of width bytes at offset at.
inline uint32_t le(const std::string& bytes, size_t at, int width) {
    uint32_t v = 0;
    for (int i = width - 1; i >= 0; --i) v = v << 8 | static_cast<uint8_t>(bytes[at + i]);
    return v;
}

// The 16-bit samples after a 44-byte WAV header.
inline std::vector<int16_t> vzorkywav(const std::string& wav) {
    std::vector<int16_t> samples;
    for (size_t at = 44; at + 1 < wav.size(); at += 2) samples.push_back(static_cast<int16_t>(le(wav, at, 2)));
    return samples;
}

}  // namespace skladba::test
