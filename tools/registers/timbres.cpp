#include "registers/timbres.h"
#include "registers/loop.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <vector>

#include "registers/level.h"
#include "registers/register_file.h"

namespace skladba::registers {
namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kLn1000 = 6.907755278982137;  // decay to -60 dB
constexpr double kMiddleC = 261.6255653005986;
// Partials above this would sit too close to Nyquist to sound clean.
constexpr double kMaxPartial = 0.45 * kSampleRate;
constexpr int kRelease = kSampleRate / 100;  // 10 ms fade at the segment end

// 2^(i/12), so pitches need no pow().
constexpr double kSemitoneRatio[12] = {
    1.0,
    1.0594630943592952646,
    1.1224620483093729814,
    1.1892071150027210667,
    1.2599210498948731648,
    1.3348398541700343648,
    1.4142135623730950488,
    1.4983070768766814988,
    1.5874010519681994748,
    1.6817928305074290861,
    1.7817974362806786095,
    1.8877486253633869933,
};

// The synthesis uses only + - * / and sqrt, which IEEE 754 rounds exactly,
// so the register bytes do not depend on the platform's libm. sin, cos and
// exp are needed only for per-note coefficients and come from short series.

// Taylor series; accurate to ~1e-15 for |x| <= pi, the only range used.
void sinCos(double x, double& sine, double& cosine) {
    sine = 0.0;
    cosine = 0.0;
    double term = 1.0;  // x^n / n!
    for (int n = 0; n < 32; ++n) {
        switch (n % 4) {
            case 0: cosine += term; break;
            case 1: sine += term; break;
            case 2: cosine -= term; break;
            default: sine -= term; break;
        }
        term = term * x / (n + 1);
    }
}

// Taylor series for |x| <= 1.
double expSmall(double x) {
    double sum = 1.0;
    double term = 1.0;
    for (int n = 1; n < 24; ++n) {
        term = term * x / n;
        sum += term;
    }
    return sum;
}

double angularStep(double frequency) { return 2.0 * kPi * frequency / kSampleRate; }

// Per-sample factor of an exponential decay with time constant `seconds`.
double decayFactor(double seconds) { return expSmall(-1.0 / (seconds * kSampleRate)); }

// Sine oscillator that turns a phasor by a fixed rotation each sample; a
// decay below 1 shrinks the rotation, giving an exponentially dying partial.
class Oscillator {
public:
    Oscillator(double frequency, double amplitude, double decay = 1.0) : x_(amplitude) {
        double sine = 0.0;
        double cosine = 0.0;
        sinCos(angularStep(frequency), sine, cosine);
        stepCos_ = decay * cosine;
        stepSin_ = decay * sine;
    }

    double next() {
        const double out = y_;
        const double x = x_ * stepCos_ - y_ * stepSin_;
        y_ = x_ * stepSin_ + y_ * stepCos_;
        x_ = x;
        return out;
    }

private:
    double stepCos_ = 1.0;
    double stepSin_ = 0.0;
    double x_;
    double y_ = 0.0;  // starts at phase 0, so the first output is 0
};

// xorshift64*: tiny and identical everywhere, unlike rand().
class Noise {
public:
    explicit Noise(uint64_t seed) : state_(seed != 0 ? seed : 1) {}

    double next() {  // uniform in [-1, 1)
        state_ ^= state_ >> 12;
        state_ ^= state_ << 25;
        state_ ^= state_ >> 27;
        const uint64_t r = state_ * 0x2545F4914F6CDD1DULL;
        return static_cast<double>(r >> 11) * (2.0 / 9007199254740992.0) - 1.0;
    }

private:
    uint64_t state_;
};

uint64_t noiseSeed(int index, uint64_t salt) {
    return static_cast<uint64_t>(index) * 0x9E3779B97F4A7C15ULL + salt;
}

std::vector<double> sumOscillators(std::vector<Oscillator>& oscillators) {
    std::vector<double> out(kSegmentLength, 0.0);
    for (double& sample : out) {
        for (Oscillator& osc : oscillators) sample += osc.next();
    }
    return out;
}

struct Partial {
    double ratio;
    double amplitude;
};

// Unison, octave, twelfth, fifteenth... as drawn by typical organ stops.
constexpr Partial kOrganPartials[] = {{1, 1.0},  {2, 0.6},  {3, 0.35}, {4, 0.3},
                                      {5, 0.12}, {6, 0.15}, {8, 0.1}};

std::vector<double> renderOrgan(double frequency) {
    std::vector<Oscillator> oscillators;
    for (const Partial& p : kOrganPartials) {
        if (p.ratio * frequency < kMaxPartial) oscillators.emplace_back(p.ratio * frequency, p.amplitude);
    }
    return sumOscillators(oscillators);
}

// Nearly a sine, with gentle tremolo and low-passed breath noise that is
// strongest in the first few tens of milliseconds (the "chiff").
std::vector<double> renderFlute(double frequency, int index) {
    std::vector<Oscillator> tone;
    tone.emplace_back(frequency, 1.0);
    if (2 * frequency < kMaxPartial) tone.emplace_back(2 * frequency, 0.12);
    if (3 * frequency < kMaxPartial) tone.emplace_back(3 * frequency, 0.04);
    Oscillator tremolo(4.8, 0.03);
    Noise noise(noiseSeed(index, 0xF1u));
    const double chiffDecay = decayFactor(0.03);

    std::vector<double> out(kSegmentLength);
    double breath = 0.0;
    double chiff = 0.3;
    for (double& sample : out) {
        double voice = 0.0;
        for (Oscillator& osc : tone) voice += osc.next();
        breath += 0.35 * (noise.next() - breath);
        sample = voice * (1.0 + tremolo.next()) + breath * (0.06 + chiff);
        chiff *= chiffDecay;
    }
    return out;
}

// One period of a string plucked at a fifth of its length, roughened with a
// little noise and made zero-mean so the loop carries no DC.
void pluck(double* x, int length, uint64_t seed) {
    Noise noise(seed);
    const double apex = 0.2 * length;
    double mean = 0.0;
    for (int n = 0; n < length; ++n) {
        const double shape = n < apex ? n / apex : (length - n) / (length - apex);
        x[n] = shape + 0.1 * noise.next();
        mean += x[n];
    }
    mean /= length;
    for (int n = 0; n < length; ++n) x[n] -= mean;
}

// Karplus-Strong string. The loop is an integer delay, a symmetric 3-tap
// low-pass (exactly one sample of delay at every frequency) and a first-order
// allpass supplying the fractional rest of the period. The allpass is
// designed for its exact phase delay at the fundamental, which keeps even
// the top notes (period under 7 samples) in tune.
// High notes need a lossless loop (gain 1), and a lossless loop keeps
// whatever offset the pluck left for the whole segment: a thump at the end
// and wasted headroom. A one-pole high-pass at about 17 Hz removes it
// without touching any pitch the register holds (the lowest is 69 Hz).
void removeDc(std::vector<double>& signal) {
    constexpr double kPole = 0.995;
    double previousIn = 0.0;
    double previousOut = 0.0;
    for (double& x : signal) {
        const double y = x - previousIn + kPole * previousOut;
        previousIn = x;
        previousOut = y;
        x = y;
    }
}

std::vector<double> renderString(double frequency, int index) {
    const double period = kSampleRate / frequency;
    const int delay = static_cast<int>(period - 1.5);
    const double fraction = period - 1.0 - delay;  // in [0.5, 1.5)
    const double w = angularStep(frequency);

    double sineA = 0.0, sineB = 0.0, unused = 0.0;
    sinCos(w * (1.0 - fraction) / 2.0, sineA, unused);
    sinCos(w * (1.0 + fraction) / 2.0, sineB, unused);
    const double allpass = sineA / sineB;

    // Choose the low-pass so the fundamental dies away in `t60` seconds:
    // as bright as allowed, with any extra loss taken by the scalar `gain`.
    const double t60 = 3.0 * std::sqrt(kMiddleC / frequency);
    const double tripGain = expSmall(-kLn1000 / (t60 * frequency));
    double cosW = 0.0;
    sinCos(w, unused, cosW);
    const double dullness = 1.0 - cosW;
    const double side = std::min(0.2, (1.0 - tripGain) / (2.0 * dullness));
    const double gain = std::min(1.0, tripGain / (1.0 - 2.0 * side * dullness));
    const double edgeTap = gain * side;
    const double centreTap = gain * (1.0 - 2.0 * side);

    std::vector<double> out(kSegmentLength);
    const int preset = delay + 2;
    pluck(out.data(), preset, noiseSeed(index, 0x5Au));
    double lastIn = 0.0;
    double lastOut = 0.0;
    for (int n = preset; n < kSegmentLength; ++n) {
        const double filtered = edgeTap * out[n - delay] + centreTap * out[n - delay - 1] +
                                edgeTap * out[n - delay - 2];
        const double value = allpass * filtered + lastIn - allpass * lastOut;
        lastIn = filtered;
        lastOut = value;
        out[n] = value;
    }
    removeDc(out);
    return out;
}

// Struck stiff string: slightly sharp upper partials (f_n = n f0 sqrt(1 + B n^2)),
// each dying fast at first and then slowly, higher ones sooner.
std::vector<double> renderPiano(double frequency) {
    const double stiffness = 1e-4 * frequency / kMiddleC;  // B rises towards the treble
    const double base = frequency / std::sqrt(1.0 + stiffness);  // puts partial 1 on pitch
    const double sustain = 2.5 * std::sqrt(kMiddleC / frequency);

    std::vector<Oscillator> oscillators;
    for (int n = 1; n <= 10; ++n) {
        const double partial = n * base * std::sqrt(1.0 + stiffness * n * n);
        if (partial >= kMaxPartial) break;
        const double amplitude = 1.0 / n;
        const double slow = sustain / (1.0 + 0.4 * (n - 1));
        oscillators.emplace_back(partial, 0.55 * amplitude, decayFactor(slow / 8.0));
        oscillators.emplace_back(partial, 0.45 * amplitude, decayFactor(slow));
    }
    return sumOscillators(oscillators);
}

int attackSamples(Timbre timbre) {
    switch (timbre) {
        case Timbre::organ: return kSampleRate * 15 / 1000;
        case Timbre::flute: return kSampleRate * 40 / 1000;
        case Timbre::string: return kSampleRate * 2 / 1000;
        case Timbre::piano: return kSampleRate * 3 / 1000;
    }
    return 0;
}

// Fade in from exactly 0 and out to exactly 0, so a segment neither starts
// nor stops with a click, wherever the mixer places it.
void shapeEdges(std::vector<double>& x, int attack) {
    for (int n = 0; n < attack; ++n) x[n] *= smoothstep(static_cast<double>(n) / attack);
    const int last = kSegmentLength - 1;
    for (int n = 0; n < kRelease; ++n) x[last - n] *= smoothstep(static_cast<double>(n) / kRelease);
}

// Scales the loudest sample to 1, so that every pitch of a timbre peaks alike.
void normalisePeak(std::vector<double>& x) {
    double peak = 0.0;
    for (double v : x) peak = std::max(peak, std::fabs(v));
    if (peak > 0.0) {
        for (double& v : x) v /= peak;
    }
}

std::vector<double> renderTone(Timbre timbre, int index) {
    const double frequency = segmentFrequency(index);
    switch (timbre) {
        case Timbre::organ: return renderOrgan(frequency);
        case Timbre::flute: return renderFlute(frequency, index);
        case Timbre::string: return renderString(frequency, index);
        case Timbre::piano: return renderPiano(frequency);
    }
    return std::vector<double>(kSegmentLength, 0.0);
}

// The tone of one segment, shaped and peak-normalised, before the level.
std::vector<double> shapedTone(Timbre timbre, int index) {
    std::vector<double> tone = renderTone(timbre, index);
    shapeEdges(tone, attackSamples(timbre));
    normalisePeak(tone);
    return tone;
}

// The gain the loudness rule gives each timbre, measured once.
double registerGain(Timbre timbre) {
    static std::array<double, std::size(kTimbres)> gains{};
    double& gain = gains[static_cast<std::size_t>(timbre)];
    if (gain == 0.0) {
        LoudnessMeter meter;
        for (int k = kLoudnessFirst; k <= kLoudnessLast; ++k) meter.add(shapedTone(timbre, k).data());
        gain = loudnessGain(meter.rms());
    }
    return gain;
}

}  // namespace

bool parseTimbre(std::string_view name, Timbre& timbre) {
    for (Timbre candidate : kTimbres) {
        if (name == timbreName(candidate)) {
            timbre = candidate;
            return true;
        }
    }
    return false;
}

const char* timbreName(Timbre timbre) {
    switch (timbre) {
        case Timbre::organ: return "organ";
        case Timbre::flute: return "flute";
        case Timbre::string: return "string";
        case Timbre::piano: return "piano";
    }
    return "?";
}

double segmentFrequency(int index) {
    // Split the distance from A 440 into whole octaves (exact powers of two)
    // and a semitone remainder taken from the table.
    const int offset = index - kReferenceIndex;
    const int octave = offset >= 0 ? offset / 12 : -((11 - offset) / 12);
    const int semitone = offset - 12 * octave;
    return std::ldexp(kReferenceFrequency * kSemitoneRatio[semitone], octave);
}

void renderSegment(Timbre timbre, int index, int16_t* out) {
    if (index <= 0 || index >= kSegments) {
        std::fill(out, out + kSegmentLength, int16_t{0});
        return;
    }
    quantise(shapedTone(timbre, index).data(), registerGain(timbre), out);
}

bool writeRegisterFile(Timbre timbre, const std::string& path, std::string& error, LoopReport* loops) {
    RegisterOutput output;
    if (!output.open(path, error)) return false;  // before rendering: a bad path fails at once
    std::vector<int16_t> samples(static_cast<std::size_t>(kSegments) * kSegmentLength);
    for (int index = 0; index < kSegments; ++index) {
        renderSegment(timbre, index, &samples[static_cast<std::size_t>(index) * kSegmentLength]);
    }
    // The synthesised timbres loop an exact whole number of periods.
    LoopChoice choice;
    choice.exactPeriods = true;
    return output.commit(samples, error) && writeLoopFile(path, samples, choice, error, {}, loops);
}

}  // namespace skladba::registers
