// Reading back the sound a run wrote: the samples of a WAV, and of any file
// libsndfile decodes (FLAC, Ogg Vorbis, MP3, Opus) with its tags.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace skladba::test {

// The samples of the WAV bytes (after their 44-byte header).
std::vector<int16_t> vzorkywav(const std::string& bajty);

struct Dekodovany {
    bool otevren = false;
    int rate = 0;
    std::vector<int16_t> vzorky;
    std::string nazev, autor;
};
// The file decoded by libsndfile (otevren false where it cannot, or in a
// build without it).
Dekodovany dekoduj(const std::string& cesta);

}  // namespace skladba::test
