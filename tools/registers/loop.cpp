#include "registers/loop.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>

#include "registers/timbres.h"

namespace skladba::registers {
namespace {

constexpr int kFrame = kSampleRate / 20;             // 50 ms
constexpr int kEarliest = kSampleRate / 10;          // 0.1 s: past the attack
constexpr int kLatest = kSampleRate * 39 / 10;       // 3.9 s: before the end fade
constexpr int kLongestCrossfade = kSampleRate / 20;  // 50 ms
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
    const double first = power(x, kSampleRate);
    if (k <= 0 || first <= 0.0) return {};
    const double period = kSampleRate / segmentFrequency(k);
    // The frames within kSteadyDb of the first second's level.
    const int frames = kLatest / kFrame;
    const int firstFrame = kEarliest / kFrame;
    std::vector<double> db(frames);
    for (int f = 0; f < frames; ++f) db[f] = 10.0 * std::log10(std::max(power(x + f * kFrame, kFrame), 1e-9) / first);
    int bestFrom = -1, bestLength = 0;
    for (int f = firstFrame; f < frames;) {
        if (std::fabs(db[f]) > kSteadyDb) {
            ++f;
            continue;
        }
        int g = f;
        while (g < frames && std::fabs(db[g]) <= kSteadyDb) ++g;
        if (g - f > bestLength) bestFrom = f, bestLength = g - f;
        f = g;
    }
    if (bestLength < 3) {
        // A sound that passes the level quickly: three frames around where
        // it comes nearest.
        int nearest = firstFrame;
        for (int f = firstFrame; f < frames; ++f) {
            if (std::fabs(db[f]) < std::fabs(db[nearest])) nearest = f;
        }
        bestFrom = std::clamp(nearest - 1, firstFrame, frames - 3);
        bestLength = 3;
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
        // The end within a period either way where the seam matches best.
        const int reach = static_cast<int>(std::ceil(period)) + 1;
        const int w = std::max(crossfade, static_cast<int>(2 * period));
        int bestLength2 = length;
        double bestMatch = -2.0;
        for (int l = length - reach; l <= length + reach; ++l) {
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
    const std::string path = cestasmycek(registerPath);
    const std::string part = path + ".part";
    {
        std::ofstream out(part, std::ios::binary | std::ios::trunc);
        out << zapissmycky(loops);
        out.close();
        if (!out) {
            error = "cannot write " + path + ": " + std::strerror(errno);
            std::remove(part.c_str());
            return false;
        }
    }
    if (std::rename(part.c_str(), path.c_str()) != 0) {
        error = "cannot write " + path + ": " + std::strerror(errno);
        std::remove(part.c_str());
        return false;
    }
    return true;
}

}  // namespace skladba::registers
