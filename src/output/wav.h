// The WAV writer: the 32-bit mix becomes "aktualni.wav", 16-bit mono PCM,
// scaled so that the largest absolute sum the mix ever held becomes 32752.
#pragma once

#include <cstdint>

namespace skladba {

constexpr const char* kWavSoubor = "aktualni.wav";
// The WAV is written under this name and renamed only once complete, so a
// failed or interrupted run never leaves a half-written aktualni.wav.
constexpr const char* kWavRozpracovany = "aktualni.wav.part";
constexpr const char* kSablonaHlavicky = "rejstriky/wavhlavicka.nes";

// Reads the 40-byte header template into hlavicka (a ChybaSouboru when it is
// missing or short). Done at start-up, so a missing template costs no render.
void nactihlavicku();

// Writes aktualni.wav from the mix file of mixBytes bytes.
void zapiswav(int64_t mixBytes);

// The 16-bit sample for one mix sum: sum * (maxsignal / maximum), the
// quotient first, truncated toward zero. No sum of an intact mix exceeds
// maximum, so the clamp changes nothing there; it only keeps a mix altered
// behind the program's back from producing an unrepresentable sample.
inline int16_t vzorekWav(int32_t sum, double scale) {
    double p = sum * scale;
    p = p < -32768.0 ? -32768.0 : p;
    p = p > 32767.0 ? 32767.0 : p;
    return static_cast<int16_t>(static_cast<int32_t>(p));
}

}  // namespace skladba
