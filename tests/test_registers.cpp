#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <tuple>
#include <vector>

#include "registers/timbres.h"

namespace reg = skladba::registers;

namespace {

constexpr double kPi = 3.14159265358979323846;

std::vector<int16_t> render(reg::Timbre timbre, int index) {
    std::vector<int16_t> samples(reg::kSegmentLength);
    reg::renderSegment(timbre, index, samples.data());
    return samples;
}

double correlation(const std::vector<double>& x, int lag, int length) {
    double xy = 0.0, xx = 0.0, yy = 0.0;
    for (int n = 0; n < length; ++n) {
        xy += x[n] * x[n + lag];
        xx += x[n] * x[n];
        yy += x[n + lag] * x[n + lag];
    }
    return xx > 0.0 && yy > 0.0 ? xy / std::sqrt(xx * yy) : 0.0;
}

// Coarse pitch from normalised autocorrelation: the first peak within 90% of
// the best one. That finds the true period even when a harmonic is strong and
// never settles on a multiple of it, so a tone an octave off cannot slip
// through. Peaks are refined by a parabola, because at periods of a few
// samples the true peak falls between integer lags.
double autocorrelationPitch(const std::vector<double>& x, int window) {
    const int minLag = reg::kSampleRate / 4000, maxLag = reg::kSampleRate / 50;
    std::vector<double> r(maxLag + 2);
    for (int lag = minLag - 1; lag <= maxLag + 1; ++lag) r[lag] = correlation(x, lag, window);
    std::vector<std::pair<double, double>> peaks;  // (lag, height)
    double best = 0.0;
    for (int lag = minLag; lag <= maxLag; ++lag) {
        const double a = r[lag - 1], b = r[lag], c = r[lag + 1];
        if (b <= 0.0 || b < a || b < c) continue;
        const double curvature = a - 2.0 * b + c;
        const double shift = curvature != 0.0 ? 0.5 * (a - c) / curvature : 0.0;
        peaks.emplace_back(lag + shift, b - 0.25 * (a - c) * shift);
        best = std::max(best, peaks.back().second);
    }
    for (const auto& [lag, height] : peaks) {
        if (height >= 0.9 * best) return reg::kSampleRate / lag;
    }
    return 0.0;
}

double hannMagnitude(const std::vector<double>& windowed, double frequency) {
    const double w = 2.0 * kPi * frequency / reg::kSampleRate;
    const double stepCos = std::cos(w), stepSin = std::sin(w);
    double re = 0.0, im = 0.0, c = 1.0, s = 0.0;
    for (double v : windowed) {
        re += v * c;
        im -= v * s;
        const double next = c * stepCos - s * stepSin;
        s = s * stepCos + c * stepSin;
        c = next;
    }
    return std::hypot(re, im);
}

// Fundamental of a segment, measured from 0.25 s on, past every attack: the
// autocorrelation estimate, refined to the peak of a Hann-windowed DFT
// scanned within 3% of it.
double measurePitch(const std::vector<int16_t>& segment) {
    constexpr int kWindow = 8192, kSteps = 120;
    const auto start = segment.begin() + reg::kSampleRate / 4;
    const std::vector<double> x(start, start + kWindow);
    const double coarse = autocorrelationPitch(x, 4096);
    if (coarse <= 0.0) return 0.0;

    std::vector<double> windowed(kWindow);
    for (int n = 0; n < kWindow; ++n) {
        windowed[n] = x[n] * (0.5 - 0.5 * std::cos(2.0 * kPi * n / (kWindow - 1)));
    }
    const auto frequencyAt = [&](double step) { return coarse * (0.97 + 0.06 * step / kSteps); };
    std::vector<double> magnitude(kSteps + 1);
    int peak = 0;
    for (int i = 0; i <= kSteps; ++i) {
        magnitude[i] = hannMagnitude(windowed, frequencyAt(i));
        if (magnitude[i] > magnitude[peak]) peak = i;
    }
    if (peak == 0 || peak == kSteps) return frequencyAt(peak);
    const double a = magnitude[peak - 1], b = magnitude[peak], c = magnitude[peak + 1];
    return frequencyAt(peak + 0.5 * (a - c) / (a - 2.0 * b + c));
}

}  // namespace

TEST(RegisterNames, ParseKnownTimbresOnly) {
    for (reg::Timbre timbre : reg::kTimbres) {
        reg::Timbre parsed = timbre == reg::Timbre::organ ? reg::Timbre::piano : reg::Timbre::organ;
        ASSERT_TRUE(reg::parseTimbre(reg::timbreName(timbre), parsed));
        EXPECT_EQ(parsed, timbre);
    }
    reg::Timbre untouched = reg::Timbre::flute;
    for (const char* bad : {"", "Organ", "organs", "harp", "string "}) {
        EXPECT_FALSE(reg::parseTimbre(bad, untouched)) << bad;
    }
    EXPECT_EQ(untouched, reg::Timbre::flute);
}

TEST(RegisterPitchTable, FollowsEqualTemperament) {
    EXPECT_DOUBLE_EQ(reg::segmentFrequency(33), 440.0);
    EXPECT_DOUBLE_EQ(reg::segmentFrequency(21), 220.0);
    EXPECT_DOUBLE_EQ(reg::segmentFrequency(45), 880.0);
    EXPECT_NEAR(reg::segmentFrequency(24), 261.6255653, 1e-6);
    for (int k = 2; k < reg::kSegments; ++k) {
        EXPECT_NEAR(reg::segmentFrequency(k) / reg::segmentFrequency(k - 1), std::pow(2.0, 1.0 / 12.0), 1e-12)
            << "segment " << k;
    }
}

class EachTimbre : public ::testing::TestWithParam<reg::Timbre> {};

TEST_P(EachTimbre, SegmentZeroIsSilent) {
    const std::vector<int16_t> silence = render(GetParam(), 0);
    EXPECT_TRUE(std::all_of(silence.begin(), silence.end(), [](int16_t s) { return s == 0; }));
}

TEST_P(EachTimbre, EveryToneStartsAndEndsQuietlyAtTheExpectedLevel) {
    for (int k = 1; k < reg::kSegments; ++k) {
        SCOPED_TRACE("segment " + std::to_string(k));
        const std::vector<int16_t> x = render(GetParam(), k);
        EXPECT_LE(std::abs(x.front()), 16);
        EXPECT_LE(std::abs(x.back()), 16);
        // A click would put a large value into the first half millisecond.
        int onset = 0;
        for (int n = 0; n < 11; ++n) onset += std::abs(x[n]);
        EXPECT_LE(onset / 11, 400);
        int peak = 0;
        for (int16_t s : x) peak = std::max(peak, std::abs(s));
        EXPECT_GE(peak, 3500);
        EXPECT_LE(peak, 4100);
    }
}

TEST_P(EachTimbre, NoToneCarriesAnOffset) {
    // A constant offset thumps when the note ends and eats headroom.
    for (int k = 1; k < reg::kSegments; ++k) {
        const std::vector<int16_t> x = render(GetParam(), k);
        const auto lastSecond = x.end() - reg::kSampleRate;
        const double mean = std::accumulate(lastSecond, x.end(), 0.0) / reg::kSampleRate;
        EXPECT_LT(std::abs(mean), 30.0) << "segment " << k;
    }
}

TEST_P(EachTimbre, RenderingIsRepeatable) { EXPECT_EQ(render(GetParam(), 40), render(GetParam(), 40)); }

INSTANTIATE_TEST_SUITE_P(Registers, EachTimbre, ::testing::ValuesIn(reg::kTimbres),
                         [](const auto& info) { return std::string(reg::timbreName(info.param)); });

// Tuning is checked across the whole range: a plucked string's loop gets
// short at the top, where a rounded delay would be far out of tune.
class Tuning : public ::testing::TestWithParam<std::tuple<reg::Timbre, int>> {};

TEST_P(Tuning, FundamentalWithinHalfPercent) {
    const auto [timbre, index] = GetParam();
    const double expected = 440.0 * std::pow(2.0, (index - 33) / 12.0);
    EXPECT_NEAR(measurePitch(render(timbre, index)), expected, expected * 0.005);
}

INSTANTIATE_TEST_SUITE_P(Registers, Tuning,
                         ::testing::Combine(::testing::ValuesIn(reg::kTimbres),
                                            ::testing::Values(1, 24, 33, 60, 68)),
                         [](const auto& info) {
                             return std::string(reg::timbreName(std::get<0>(info.param))) + "_segment" +
                                    std::to_string(std::get<1>(info.param));
                         });

TEST(RegisterFile, HoldsEverySegmentLittleEndian) {
    const std::string path = ::testing::TempDir() + "skladba_register_test.nes";
    std::string error;
    ASSERT_TRUE(reg::writeRegisterFile(reg::Timbre::string, path, error)) << error;
    std::ifstream in(path, std::ios::binary);
    const std::vector<unsigned char> bytes((std::istreambuf_iterator<char>(in)), {});
    std::remove(path.c_str());
    ASSERT_EQ(bytes.size(), 12171600u);

    for (int index : {0, 1, 33, 68}) {
        const std::vector<int16_t> expected = render(reg::Timbre::string, index);
        const unsigned char* segment = &bytes[2 * static_cast<std::size_t>(index) * reg::kSegmentLength];
        for (int n = 0; n < reg::kSegmentLength; ++n) {
            const auto sample = static_cast<int16_t>(segment[2 * n] | (segment[2 * n + 1] << 8));
            ASSERT_EQ(sample, expected[n]) << "segment " << index << " sample " << n;
        }
    }
}

TEST(RegisterFile, ReportsPathAndReasonOnFailure) {
    const std::string missing = ::testing::TempDir() + "no-such-dir/r.nes";
    std::string error;
    EXPECT_FALSE(reg::writeRegisterFile(reg::Timbre::organ, missing, error));
    EXPECT_EQ(error, "cannot write " + missing + ": " + std::strerror(ENOENT));

    // The open succeeds but the data does not fit: the failure surfaces on
    // write or close and must still be reported, and the device left alone.
    if (!std::ifstream("/dev/full")) GTEST_SKIP() << "/dev/full not available";
    EXPECT_FALSE(reg::writeRegisterFile(reg::Timbre::organ, "/dev/full", error));
    EXPECT_EQ(error, std::string("cannot write /dev/full: ") + std::strerror(ENOSPC));
    EXPECT_TRUE(std::ifstream("/dev/full"));
}
