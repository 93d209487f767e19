#include "registers/loop.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "registers/register_file.h"
#include "registers/timbres.h"

namespace skladba::registers {
namespace {

constexpr int kFrame = kSampleRate / 20;             // 50 ms
constexpr int kEarliest = kSampleRate / 10;          // 0.1 s: past the attack
constexpr int kLatest = kSampleRate * 39 / 10;       // 3.9 s: before the end fade
constexpr int kLongestCrossfade = kSampleRate / 20;  // 50 ms
constexpr int kLatestStart = kSampleRate / 2;       // 0.5 s
constexpr double kSteadyDb = 1.0;

double power(const int16_t* x, int n) {
    double sum = 0.0;
    for (int i = 0; i < n; ++i) sum += static_cast<double>(x[i]) * x[i];
    return n > 0 ? sum / n : 0.0;
}

// How alike x[a - w, a) and x[b - w, b) are: 1 for the same sound.
double match(const int16_t* x, int a, int b, int w) {
    double ab = 0.0, aa = 0.0, bb = 0.0;
    for (int i = 0; i < w; ++i) {
        const double p = x[a - w + i], q = x[b - w + i];
        ab += p * q;
        aa += p * p;
        bb += q * q;
    }
    return aa > 0.0 && bb > 0.0 ? ab / std::sqrt(aa * bb) : 0.0;
}

}  // namespace

Smycka findLoop(const int16_t* x, int k, const LoopChoice& choice) {
    if (k <= 0 || power(x, kSampleRate) <= 0.0) return {};
    const double period = kSampleRate / segmentFrequency(k);
    const int frames = kLatest / kFrame;
    const int firstFrame = kEarliest / kFrame;
    const int lastStart = kLatestStart / kFrame;
    std::vector<double> p(frames);
    for (int f = 0; f < frames; ++f) p[f] = power(x + f * kFrame, kFrame);
    // A held note's first second is the segment up to the loop's end, then
    // the loop again: the level the loop must keep depends on the loop.
    // Of the loops of whole frames starting from 0.1 s to 0.5 s, the longest
    // whose frames all lie within kSteadyDb of that first second; failing
    // one, the one that comes nearest.
    const int second = kSampleRate / kFrame;
    int bestFrom = firstFrame, bestLength = 2;
    double bestSpread = 1e9;
    for (int f = firstFrame; f <= lastStart; ++f) {
        double before = 0.0;
        for (int g = 0; g < f; ++g) before += p[g];
        double loop = 0.0, lo = 1e300, hi = 0.0;
        for (int g = f; g < frames; ++g) {
            loop += p[g];
            lo = std::min(lo, p[g]);
            hi = std::max(hi, p[g]);
            const int length = g - f + 1;
            if (length < 2) continue;
            double firstSecond = before + loop;
            if (g + 1 < second) firstSecond += loop * (second - g - 1) / length;
            firstSecond /= std::max(second, g + 1);
            const double spread =
                std::max(std::fabs(10.0 * std::log10(std::max(lo, 1e-9) / firstSecond)),
                         std::fabs(10.0 * std::log10(std::max(hi, 1e-9) / firstSecond)));
            const bool steady = spread <= kSteadyDb;
            if ((steady && (bestSpread > kSteadyDb || length > bestLength)) ||
                (!steady && bestSpread > kSteadyDb && spread < bestSpread)) {
                bestFrom = f, bestLength = length, bestSpread = spread;
            }
            if (spread > 3.0 * kSteadyDb) break;
        }
    }
    const int a = bestFrom * kFrame;
    int length = bestLength * kFrame;
    const int crossfade = std::min({kLongestCrossfade, length / 4, a});
    if (choice.exactPeriods) {
        // The whole number of periods, at most this long, that comes
        // nearest a whole number of samples.
        const int most = static_cast<int>(length / period);
        int best = most;
        double error = 1.0;
        for (int n = std::max(1, most * 4 / 5); n <= most; ++n) {
            const double e = std::fabs(n * period - std::round(n * period));
            if (e < error - 1e-12) best = n, error = e;
        }
        length = static_cast<int>(std::round(best * period));
    } else {
        // A whole number of periods of the segment's pitch, a few either
        // way, whichever makes the seam match best: the loop then repeats
        // at the pitch the segment was tuned to.
        const int w = std::max(crossfade, static_cast<int>(2 * period));
        const int periods = std::max(1, static_cast<int>(std::lround(length / period)));
        int bestLength2 = length;
        double bestMatch = -2.0;
        for (int n = std::max(1, periods - 3); n <= periods + 3; ++n) {
            const int l = static_cast<int>(std::lround(n * period));
            if (l <= 2 * crossfade || a + l > kLatest || a - w < 0) continue;
            const double m = match(x, a, a + l, w);
            if (m > bestMatch) bestMatch = m, bestLength2 = l;
        }
        length = bestLength2;
    }
    Smycka s;
    s.od = a;
    s.po = std::min(a + length, kLatest);
    s.prolnuti = std::min(crossfade, s.po - s.od);
    return s;
}

bool writeLoopFile(const std::string& registerPath, const std::vector<int16_t>& samples, const LoopChoice& choice,
                   std::string& error, const std::vector<Smycka>& given) {
    Smycky loops;
    std::string bytes(samples.size() * 2, '\0');
    for (std::size_t i = 0; i < samples.size(); ++i) {
        const auto word = static_cast<uint16_t>(samples[i]);
        bytes[2 * i] = static_cast<char>(word & 0xFFu);
        bytes[2 * i + 1] = static_cast<char>(word >> 8);
    }
    loops.velikost = static_cast<int64_t>(bytes.size());
    loops.soucet = kontrolnisoucet(bytes.data(), bytes.size());
    const auto slash = registerPath.rfind('/');
    loops.rejstrik = slash == std::string::npos ? registerPath : registerPath.substr(slash + 1);
    for (int k = 1; k < kSegments; ++k) {
        const int16_t* x = &samples[static_cast<std::size_t>(k) * kSegmentLength];
        loops.smycka[k] = k < static_cast<int>(given.size()) && given[k].je() ? given[k] : findLoop(x, k, choice);
    }
    // Through the register's own kind of output file: whole or not at all,
    // never through a link, removed if the tool is interrupted.
    RegisterOutput output;
    if (!output.open(cestasmycek(registerPath), error) || !output.commitBytes(zapissmycky(loops), error)) return false;
    return true;
}

}  // namespace skladba::registers
