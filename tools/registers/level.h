// The level every register is brought to, whatever made it, and the edges
// every segment gets so that the mixer can place it anywhere without a click.
//
// Loudness rule: a register's loudness is the RMS of the first second of its
// middle octave, segments 24 (middle C) to 35 (the B above it), all twelve
// taken together. Each source scales its whole register by one gain so that
// this loudness is kLoudnessRms, about -24 dBFS; the balance between its low
// and high notes stays as the instrument has it. A segment that would then
// pass kCeiling is lowered on its own until its peak is kCeiling, so that no
// sample clips. The first second is what a listener hears of most notes, so
// an organ that holds and a piano that dies away come out about as loud as
// each other when a score switches between them.
//
// Only + - * / and sqrt are used, which IEEE 754 rounds exactly: the
// synthesised registers stay bit-identical on every machine.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "registers/timbres.h"

namespace skladba::registers {

inline constexpr int kLoudnessFirst = 24;
inline constexpr int kLoudnessLast = 35;
inline constexpr int kLoudnessWindow = kSampleRate;
inline constexpr double kLoudnessRms = 2048.0;  // -24.1 dBFS
inline constexpr double kCeiling = 32000.0;     // -0.2 dBFS

// Onset and end fades of the registers made from SoundFonts and recordings.
inline constexpr int kFadeIn = kSampleRate * 2 / 1000;    // 2 ms
inline constexpr int kFadeOut = kSampleRate * 30 / 1000;  // 30 ms

// A register before it is leveled: kSegments segments of kSegmentLength
// samples each, in any unit. Segment 0 is silence.
using Segments = std::vector<std::vector<double>>;
Segments silentRegister();

// Adds up the loudness of the middle-octave segments.
class LoudnessMeter {
public:
    void add(const double* segment);
    double rms() const;

private:
    double sumOfSquares_ = 0.0;
    long samples_ = 0;
};

// The gain that brings a register of loudness `rms` to kLoudnessRms (1 for
// a silent one).
double loudnessGain(double rms);

// Multiplies one segment by `gain` (or less, to keep its peak at kCeiling)
// and rounds half away from zero. Returns true if it had to be lowered.
bool quantise(const double* segment, double gain, int16_t* out);

struct LevelReport {
    double gain = 1.0;
    int lowered = 0;  // segments held down to kCeiling
};

// Loudness as hearing weighs it: ITU-R BS.1770 K-weighting (its high shelf
// and high pass, designed for kSampleRate) and the mean square of the first
// second, in LUFS (-0.691 + 10 log10). -inf for silence.
double firstSecondLoudness(const double* segment);
double firstSecondLoudness(const int16_t* segment);
// The same over x[0, n), 16-bit samples.
double loudness(const int16_t* x, int n);

// Applies the loudness rule to a whole register; returns kSegments *
// kSegmentLength samples. With `even` (the SoundFont and recording sources
// by default), each segment is then leveled on its own so that its
// first-second loudness (firstSecondLoudness) equals the middle octave's:
// every octave as loud as the middle one. Without it the instrument keeps
// its own balance between low and high notes.
std::vector<int16_t> levelRegister(const Segments& segments, LevelReport& report, bool even = false);

// Why a leveled register is no register, or empty: every segment is zero,
// or the middle octave its loudness is measured on is.
std::string silenceReason(const std::vector<int16_t>& samples);

// x * smoothstep rising over the first `fadeIn` samples and falling to
// exactly 0 over the last `fadeOut` samples of x[0, length).
void fadeEdges(double* x, int length, int fadeIn, int fadeOut);

double smoothstep(double t);

}  // namespace skladba::registers
