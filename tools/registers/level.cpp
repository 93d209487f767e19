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

std::vector<int16_t> levelRegister(const Segments& segments, LevelReport& report) {
    LoudnessMeter meter;
    for (int k = kLoudnessFirst; k <= kLoudnessLast; ++k) meter.add(segments[k].data());
    report.gain = loudnessGain(meter.rms());
    report.lowered = 0;
    std::vector<int16_t> samples(static_cast<std::size_t>(kSegments) * kSegmentLength);
    for (int k = 0; k < kSegments; ++k) {
        if (quantise(segments[k].data(), report.gain, &samples[static_cast<std::size_t>(k) * kSegmentLength])) {
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
