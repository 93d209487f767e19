// The WAV writer: the 32-bit mix becomes 16-bit mono samples, scaled so
// that the largest absolute sum the mix ever held becomes maxsignal, and
// they go to a sink: the PCM WAV, or an encoder of a compressed format.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "base/format.h"
#include "base/kodovani.h"
#include "output/obalka.h"
#include "output/rozpracovany.h"
#include "synth/mix.h"

namespace skladba {

// The header template: bytes 0-3 and 8-39 are copied into every WAV.
struct Hlavicka {
    unsigned char bajty[sablonabajtu] = {};
};

// Reads the header template at cesta (a ChybaSouboru when it is missing or
// short). Done at start-up, so a missing template costs no render.
Hlavicka nactihlavicku(const std::string& cesta);

// Refuses, before anything is rendered, an output that is a symbolic link or
// not a regular file: the program never writes through a link or into a
// pipe or device under the name it was given ("-" is standard output).
void pripravvystup(const std::string& vystup);

// The files put in place together with the WAV (the MIDI file, the piano
// roll): written by this callback once the WAV is complete, and returned
// finished, still under their temporary names. They are renamed right after
// the WAV, and only when every one of them and the WAV can be.
using Souputnici = std::function<std::vector<Rozpracovany*>()>;

// What the WAV is made of: the mix, its length in bytes and the largest
// absolute sum it held, and the header template; obalka, when set, sees
// every block of samples as it goes into the WAV. kodovani, when set and not
// a WAV, sends the same samples to an encoder instead.
struct ZdrojWav {
    Mix& mix;
    int64_t mixbajtu = 0;
    double maximum = 0.0;
    const Hlavicka& hlavicka;
    Obalka* obalka = nullptr;
    const Kodovani* kodovani = nullptr;
    // With --master (kodovani->master): the right channel, mix the left.
    Mix* pravy = nullptr;
};

// The conversion itself: every block of the mix scaled to 16 bits, seen by
// obalka (when set) and handed to odber.
void prevedmix(Mix& mix, int64_t mixbajtu, double maximum, Obalka* obalka, Odber& odber);

// Writes the WAV (or the format of zdroj.kodovani) to vystup ("-": standard
// output). A file is written as
// vystup + ".part" and renamed to vystup only once complete, so a failed or
// interrupted run never leaves a half-written WAV and keeps the previous
// one. With uspechjekonecny, an interruption after the rename ends the
// process with status 0.
// With nadisk false the WAV is not forced to disk before it is put in place
// (scratch renders that nobody keeps).
void zapiswav(const ZdrojWav& zdroj, const std::string& vystup, bool uspechjekonecny,
              const Souputnici& souputnici = nullptr, bool nadisk = true);

// The same WAV as bytes in memory, for a caller that serves it at once.
std::string wavvpameti(const ZdrojWav& zdroj);

// The same WAV of sums held in memory (pocet of them) and the peak that
// scales them.
std::string wavzesum(const int32_t* sumy, int64_t pocet, double maximum, const Hlavicka& hlavicka);

// count sums as the WAV's 16-bit samples, scaled so that maximum becomes
// maxsignal (all 0 when maximum is 0).
void prevedsumy(const int32_t* sumy, int16_t* vzorky, int count, double maximum);

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
