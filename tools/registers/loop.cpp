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
constexpr double kSampleSeamMatch = 0.98;  // a sample's own loop must join at least this alike
// The synthesiser plays a sample a cent or two off the pitch it is asked
// for, and so repeats its loop that much sooner or later than the loop's
// length says: up to 0.15 % measured with a General MIDI SoundFont.
constexpr double kSampleLoopSlack = 0.002;
constexpr int kMostRepeats = 8;
const char* const kNoRepeat = "the sound does not repeat at its sample's loop";
const char* const kSeamSteps = "its seam would step further than the sound does";

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

int largestStep(const int16_t* x, int n) {
    int top = 0;
    for (int i = 0; i + 1 < n; ++i) top = std::max(top, std::abs(x[i + 1] - x[i]));
    return top;
}

// The steady stretch of a segment, in whole frames: of the loops starting
// from 0.1 s to 0.5 s, the longest whose frames all lie within kSteadyDb
// of the first second a note held on it would have; failing one, the one
// that comes nearest.
struct Stretch {
    int from = 0, length = 0;  // in frames
};

Stretch steadyStretch(const int16_t* x) {
    const int frames = kLatest / kFrame;
    const int firstFrame = kEarliest / kFrame;
    const int lastStart = kLatestStart / kFrame;
    std::vector<double> p(frames);
    for (int f = 0; f < frames; ++f) p[f] = power(x + f * kFrame, kFrame);
    // A held note's first second is the segment up to the loop's end, then
    // the loop again: the level the loop must keep depends on the loop.
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
    return {bestFrom, bestLength};
}

// The loop found in the sound of segment k over its steady stretch.
Smycka searchLoop(const int16_t* x, int k, const Stretch& steady, bool exactPeriods) {
    const double period = kSampleRate / segmentFrequency(k);
    const int a = steady.from * kFrame;
    int length = steady.length * kFrame;
    const int crossfade = std::min({kLongestCrossfade, length / 4, a});
    if (exactPeriods) {
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

// The samples' own loop placed in segment k: from where the steady
// stretch starts (and the window the seam is matched over lies inside the
// samples' loops), moved by up to a period, its length rounded either way,
// whichever seam matches best. False with `why` when it does not fit or
// the sound does not repeat at its length.
bool placeSampleLoop(const int16_t* x, int k, const SampleLoop& own, int times, const Stretch& steady, Smycka& s,
                     std::string& why) {
    const double period = kSampleRate / segmentFrequency(k);
    const double wanted = own.length * times;
    const int shortest = static_cast<int>(std::floor(wanted * (1.0 - kSampleLoopSlack)));
    const int longest = static_cast<int>(std::ceil(wanted * (1.0 + kSampleLoopSlack)));
    const int crossfade = std::min(kLongestCrossfade, shortest / 4);
    const int w = std::max(crossfade, static_cast<int>(2 * period));
    const int limit = std::min(kLatest, own.latest);
    const int first = std::max(steady.from * kFrame, own.earliest + w);
    if (shortest < 4 || first + longest > limit) {
        why = "its sample's loop does not fit in the segment";
        return false;
    }
    // The length first, nearest the sample's where two match alike, then
    // the start for that length.
    double best = -2.0;
    int length = 0;
    for (int l = shortest; l <= longest; ++l) {
        const double m = match(x, first, first + l, w) - 1e-9 * std::fabs(l - wanted);
        if (m > best) best = m, length = l;
    }
    best = -2.0;
    for (int a = first; a <= first + static_cast<int>(std::ceil(period)) && a + length <= limit; ++a) {
        const double m = match(x, a, a + length, w);
        if (m > best + 1e-12) best = m, s.od = a;
    }
    s.po = s.od + length;
    if (best < kSampleSeamMatch) {
        why = kNoRepeat;
        return false;
    }
    s.prolnuti = std::min({kLongestCrossfade, (s.po - s.od) / 4, s.od});
    return true;
}

// A note held on loop s for 8 s: how far (in dB) its 50 ms frames from
// 0.5 s to 7.8 s stray from its first second, and the largest step from one
// sample to the next across its seam.
struct Held {
    double spread = 0.0;
    int seamStep = 0;
};

Held holdOn(const int16_t* x, const Smycka& s) {
    const int n = 8 * kSampleRate;
    std::vector<int16_t> note(n);
    vzorkysmycky(x, s, 0, n, n, n + 1, note.data());
    Held held;
    const double first = power(note.data(), kSampleRate);
    for (int at = kLatestStart; at + kFrame <= kSampleRate * 78 / 10; at += kFrame) {
        const double db = 10.0 * std::log10(std::max(power(&note[at], kFrame), 1e-9) / first);
        held.spread = std::max(held.spread, std::fabs(db));
    }
    const int from = s.po - s.prolnuti - 1;
    held.seamStep = largestStep(&note[std::max(0, from)], s.po + 2 - std::max(0, from));
    return held;
}

}  // namespace

Smycka findLoop(const int16_t* x, int k, const LoopChoice& choice, LoopSource* source) {
    LoopSource ignored;
    LoopSource& said = source != nullptr ? *source : ignored;
    said = {};
    if (k <= 0 || power(x, kSampleRate) <= 0.0) return {};
    const Stretch steady = steadyStretch(x);
    const Smycka found = searchLoop(x, k, steady, choice.exactPeriods);
    said.kind = choice.exactPeriods ? LoopSource::periods : LoopSource::found;
    if (k >= static_cast<int>(choice.samples.size())) return found;
    const SampleLoop& own = choice.samples[k];
    if (!(own.length > 0.0)) {
        said.why = own.none;
        return found;
    }
    // The loop once, or where its length falls between two samples so far
    // that the seam does not join in phase (a high note's period is a few
    // samples), the fewest repeats of it that come near a whole number.
    Smycka s;
    std::string why;
    bool placed = false;
    for (int times = 1; times <= kMostRepeats && !placed; ++times) {
        std::string whyNot;
        if (!placeSampleLoop(x, k, own, times, steady, s, whyNot)) {
            if (times == 1) why = whyNot;
            if (whyNot != kNoRepeat) break;
            continue;
        }
        if (holdOn(x, s).seamStep > largestStep(x, kSegmentLength)) {
            if (times == 1) why = kSeamSteps;
            continue;
        }
        placed = true;
    }
    if (!placed) {
        said.why = why;
        return found;
    }
    const Held held = holdOn(x, s);
    if (held.spread > std::max(kSteadyDb, holdOn(x, found).spread)) {
        said.why = "a note held on it would not keep its level";
        return found;
    }
    said = {LoopSource::sample, ""};
    return s;
}

bool writeLoopFile(const std::string& registerPath, const std::vector<int16_t>& samples, const LoopChoice& choice,
                   std::string& error, const std::vector<Smycka>& given, std::vector<LoopSource>* sources) {
    if (sources != nullptr) sources->assign(kSegments, LoopSource{});
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
        LoopSource source;
        if (k < static_cast<int>(given.size()) && given[k].je()) {
            loops.smycka[k] = given[k];
            source.kind = LoopSource::given;
        } else {
            loops.smycka[k] = findLoop(x, k, choice, &source);
        }
        if (sources != nullptr) (*sources)[k] = source;
    }
    // Through the register's own kind of output file: whole or not at all,
    // never through a link, removed if the tool is interrupted.
    RegisterOutput output;
    if (!output.open(cestasmycek(registerPath), error) || !output.commitBytes(zapissmycky(loops), error)) return false;
    return true;
}

}  // namespace skladba::registers
