// The WAV writer: the 32-bit mix becomes a 16-bit mono PCM WAV, scaled so
// that the largest absolute sum the mix ever held becomes maxsignal.
#pragma once

#include <cstdint>
#include <string>

#include "base/format.h"

namespace skladba {

// The output block of the conversion.
extern int16_t pole2[delkatonu];

constexpr const char* wavsoubor = "aktualni.wav";
// The WAV is written under this name and renamed only once complete, so a
// failed or interrupted run never leaves a half-written aktualni.wav.
constexpr const char* wavrozpracovany = "aktualni.wav.part";

// Reads the header template at cesta (a ChybaSouboru when it is missing or
// short). Done at start-up, so a missing template costs no render.
void nactihlavicku(const std::string& cesta);

// Writes aktualni.wav from the mix file of mixbajtu bytes.
void zapiswav(int64_t mixbajtu);

// The 16-bit sample for one mix sum: sum * (maxsignal / maximum), the
// quotient first, truncated toward zero. No sum of an intact mix exceeds
// maximum, so the clamp changes nothing there; it only keeps a mix altered
// behind the program's back from producing an unrepresentable sample.
inline int16_t vzorekwav(int32_t sum, double scale) {
    double p = sum * scale;
    p = p < -32768.0 ? -32768.0 : p;
    p = p > 32767.0 ? 32767.0 : p;
    return static_cast<int16_t>(static_cast<int32_t>(p));
}

}  // namespace skladba
