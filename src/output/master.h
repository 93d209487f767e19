// --master: the render made ready to share. The two channel mixes (each
// voice already placed between them at constant power) become 48 kHz stereo
// with a room around them and the loudness of finished recordings:
//
// 1. each channel's sums scaled by the peak of both, as 64-bit floats;
// 2. the room: the mean of both channels, delayed a little and smeared by
//    four all-passes, into a feedback delay network of eight lines (each
//    with a low-pass in its loop, so that high notes die sooner, as in a
//    real room) run at half the rate, 11025 Hz, whose two sides are the
//    lines heard with two orthogonal patterns of signs, so that they are
//    uncorrelated; added to the dry sound, and rendered on after the last
//    note until it has decayed by 70 dB;
// 3. the integrated loudness measured (EBU R128, libebur128: the energy of
//    each 400 ms block, gated) and a gain that brings it to the target;
// 4. a look-ahead limiter where that gain would take the true peak (the
//    peak between the samples, found by interpolating four times over)
//    above -1 dBTP: it turns the level down smoothly a few milliseconds
//    before each peak and back up over about a tenth of a second; the
//    blocks around where it acts are then measured again through it and
//    the gain corrected once;
// 5. resampled to 48 kHz (libsoxr, one fixed quality, one resampler per
//    side, the left on a second thread) and rounded to 24 bits.
//
// Steps 2 to 4 run at the renderer's 22050 Hz, where the sound has all its
// content. Each pass reads the mixes again (the second only the stretches
// where the limiter acts); the first keeps the room's output (8 bytes for
// every two frames, for pieces up to about 12 minutes) for the others to
// replay, past that each pass runs the room again (and the second goes
// through the whole sound). Every step is plain arithmetic in a fixed order: the
// same score gives the same bytes on every run.
//
// A render that leaves voices out (Master::pevnyzisk) takes the full
// score's gain instead of measuring its own.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>

#include "base/kodovani.h"
#include "output/obalka.h"
#include "synth/mix.h"

namespace skladba {

constexpr int ratemasteru = 48000;

// What this build lacks for --master, or empty when it has it all.
inline std::string chybejicipromaster() {
#ifdef SKLADBA_HAVE_MASTER
    return "";
#else
    return "libsndfile, libsoxr and libebur128 (libsndfile1-dev, libsoxr-dev, libebur128-dev)";
#endif
}

// libsoxr picks its engine by the environment (SOXR_USE_SIMD and
// SOXR_USE_SIMD32), and the engines give different samples: pinned to the
// SIMD one, which every x86-64 processor runs, so that no environment
// changes the bytes of --master. Called first thing in main, before any
// thread runs (setenv is not safe beside them).
inline void ustalprevzorkovani() {
#ifdef SKLADBA_HAVE_MASTER
    ::setenv("SOXR_USE_SIMD", "1", 1);
#endif
}

// The room's reverberation time in seconds for --room 0-100 (0 for none).
inline double dozvukmistnosti(int prostor) { return prostor <= 0 ? 0.0 : 0.3 + 2.7 * prostor / 100.0; }

// What mastering measured and did.
struct Zpravamasteru {
    double hlasitost = 0;      // LUFS of the sound with its room, before the gain
    double zisk = 0;           // dB applied
    double omezeni = 0;        // the limiter's deepest cut, dB (0: it never acted)
    int64_t ramcu = 0;         // frames at 48 kHz
};

// The mastering of one render. levy and pravy hold vzorku sums each,
// maximum the larger of their peaks. Measures at once (steps 1 to 4), so
// that ramcu() is known before anything is written.
struct Ozvena;

class Masterovani {
public:
    Masterovani(Mix& levy, Mix& pravy, int64_t vzorku, double maximum, const Master& master);
    ~Masterovani();
    int64_t ramcu() const { return zprava_.ramcu; }
    const Zpravamasteru& zprava() const { return zprava_; }
    // The finished frames into odber; obalka, when set, sees the dry sound
    // (both channels' mean) at 22050 Hz as the WAV's waveform.
    void zapis(OdberStereo& odber, Obalka* obalka);

private:
    Mix& levy_;
    Mix& pravy_;
    int64_t vzorku_;
    double maximum_;
    Master master_;
    int64_t ocas_ = 0;   // samples of the room rendered after the mix ends
    double zisk_ = 1.0;
    Zpravamasteru zprava_;
    std::unique_ptr<Ozvena> ozvena_;   // the room's sound, kept by the first pass
};

}  // namespace skladba
