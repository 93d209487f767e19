#include "registers/level.h"

#include <algorithm>
#include <cmath>

namespace skladba::registers {

Segments silentRegister() { return Segments(kSegments, std::vector<double>(kSegmentLength, 0.0)); }

void LoudnessMeter::add(const double* segment) {
    for (int n = 0; n < kLoudnessWindow; ++n) sumOfSquares_ += segment[n] * segment[n];
    samples_ += kLoudnessWindow;
}

double LoudnessMeter::rms() const {
    return samples_ > 0 ? std::sqrt(sumOfSquares_ / static_cast<double>(samples_)) : 0.0;
}

double loudnessGain(double rms) { return rms > 0.0 ? kLoudnessRms / rms : 1.0; }

bool quantise(const double* segment, double gain, int16_t* out) {
    double peak = 0.0;
    for (int n = 0; n < kSegmentLength; ++n) peak = std::max(peak, std::fabs(segment[n]));
    const bool lowered = peak * gain > kCeiling;
    if (lowered) gain = kCeiling / peak;
    for (int n = 0; n < kSegmentLength; ++n) {
        out[n] = static_cast<int16_t>(std::lround(segment[n] * gain));
    }
    return lowered;
}

namespace {

// The mean square of x[0, n) through the K-weighting filter (by default
// the first second).
template <typename T>
double kWeightedPower(const T* x, int n = kLoudnessWindow) {
    constexpr double pi = 3.14159265358979323846;
    struct Biquad {
        double b0, b1, b2, a1, a2, z1 = 0.0, z2 = 0.0;
        double operator()(double v) {
            const double y = b0 * v + z1;
            z1 = b1 * v - a1 * y + z2;
            z2 = b2 * v - a2 * y;
            return y;
        }
    };
    // The high shelf of the head (+4 dB above about 1.7 kHz)...
    double K = std::tan(pi * 1681.974450955533 / kSampleRate);
    double Q = 0.7071752369554196;
    const double vh = std::pow(10.0, 3.999843853973347 / 20.0);
    const double vb = std::pow(vh, 0.4996667741545416);
    double a0 = 1.0 + K / Q + K * K;
    Biquad shelf{(vh + vb * K / Q + K * K) / a0, 2.0 * (K * K - vh) / a0, (vh - vb * K / Q + K * K) / a0,
                 2.0 * (K * K - 1.0) / a0, (1.0 - K / Q + K * K) / a0};
    // ...and the high pass below about 38 Hz.
    K = std::tan(pi * 38.13547087602444 / kSampleRate);
    Q = 0.5003270373238773;
    a0 = 1.0 + K / Q + K * K;
    Biquad highPass{1.0, -2.0, 1.0, 2.0 * (K * K - 1.0) / a0, (1.0 - K / Q + K * K) / a0};
    double sum = 0.0;
    for (int i = 0; i < n; ++i) {
        const double y = highPass(shelf(static_cast<double>(x[i])));
        sum += y * y;
    }
    return n > 0 ? sum / n : 0.0;
}

double toLufs(double power) { return power > 0.0 ? -0.691 + 10.0 * std::log10(power) : -INFINITY; }

}  // namespace

double firstSecondLoudness(const double* segment) { return toLufs(kWeightedPower(segment)); }
double firstSecondLoudness(const int16_t* segment) {
    return toLufs(kWeightedPower(segment) / (32768.0 * 32768.0));
}
double loudness(const int16_t* x, int n) { return toLufs(kWeightedPower(x, n) / (32768.0 * 32768.0)); }

std::vector<int16_t> levelRegister(const Segments& segments, LevelReport& report, bool even) {
    LoudnessMeter meter;
    for (int k = kLoudnessFirst; k <= kLoudnessLast; ++k) meter.add(segments[k].data());
    report.gain = loudnessGain(meter.rms());
    report.lowered = 0;
    std::vector<double> gains(kSegments, report.gain);
    if (even) {
        double middle = 0.0;
        int counted = 0;
        for (int k = kLoudnessFirst; k <= kLoudnessLast; ++k) {
            const double p = kWeightedPower(segments[k].data());
            if (p > 0.0) middle += p, ++counted;
        }
        middle = counted > 0 ? middle / counted : 0.0;
        for (int k = 1; k < kSegments && middle > 0.0; ++k) {
            const double p = kWeightedPower(segments[k].data());
            // A segment 40 dB under the middle octave is not raised: it is
            // all but silent, and raising it would raise its noise.
            if (p > middle * 1e-4) gains[k] = report.gain * std::sqrt(middle / p);
        }
    }
    std::vector<int16_t> samples(static_cast<std::size_t>(kSegments) * kSegmentLength);
    for (int k = 0; k < kSegments; ++k) {
        if (quantise(segments[k].data(), gains[k], &samples[static_cast<std::size_t>(k) * kSegmentLength])) {
            ++report.lowered;
        }
    }
    return samples;
}

double smoothstep(double t) { return t * t * (3.0 - 2.0 * t); }

void fadeEdges(double* x, int length, int fadeIn, int fadeOut) {
    fadeIn = std::min(fadeIn, length);
    fadeOut = std::min(fadeOut, length);
    for (int n = 0; n < fadeIn; ++n) x[n] *= smoothstep(static_cast<double>(n) / fadeIn);
    for (int n = 0; n < fadeOut; ++n) x[length - 1 - n] *= smoothstep(static_cast<double>(n) / fadeOut);
}

std::string silenceReason(const std::vector<int16_t>& samples) {
    const auto silent = [&](int from, int to) {
        const auto end = std::min(samples.size(), static_cast<std::size_t>(to + 1) * kSegmentLength);
        for (std::size_t i = static_cast<std::size_t>(from) * kSegmentLength; i < end; ++i) {
            if (samples[i] != 0) return false;
        }
        return true;
    };
    if (silent(0, kSegments - 1)) return "the register would be silent: every segment is zero";
    if (silent(24, 35)) {
        return "the register's middle octave (segments 24 to 35, o1 c to o1 h) would be silent, so its loudness "
               "cannot be set: give it a sound there";
    }
    return "";
}

}  // namespace skladba::registers
