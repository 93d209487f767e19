#include "registers/loop.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "registers/level.h"
#include "registers/register_file.h"
#include "registers/timbres.h"

namespace skladba::registers {
namespace {

constexpr int kFrame = kSampleRate / 20;             // 50 ms
constexpr int kEarliest = kSampleRate / 10;          // 0.1 s: past the attack
constexpr int kEarliestFound = kSampleRate / 2;      // 0.5 s: a loop found starts past a slow attack too
constexpr int kLatest = kSampleRate * 39 / 10;       // 3.9 s: before the end fade
constexpr int kLongestCrossfade = kSampleRate / 20;  // 50 ms
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

// A loop in whole frames, ending at kLatest.
struct Stretch {
    int from = 0, length = 0;  // in frames
};

// The levels in dB of the 50 ms frames up to kLatest, each raised by what a
// sound falling at dbPerSecond has lost by then: a loop whose levels are
// even here repeats into a note that goes on falling at that rate.
std::vector<double> evenedLevels(const int16_t* x, double dbPerSecond) {
    const int frames = kLatest / kFrame;
    std::vector<double> db(frames);
    for (int f = 0; f < frames; ++f) {
        db[f] = 10.0 * std::log10(std::max(power(x + f * kFrame, kFrame), 1e-9)) +
                dbPerSecond * f * kFrame / kSampleRate;
    }
    return db;
}

double meanLevel(const std::vector<double>& db, int from, int to) {
    double sum = 0.0;
    for (int f = from; f < to; ++f) sum += std::pow(10.0, db[f] / 10.0);
    return 10.0 * std::log10(std::max(sum / std::max(1, to - from), 1e-9));
}

// The stretch a loop ending at kLatest repeats: the longest, from 0.5 s on,
// whose level lies within kSteadyDb of the level of its first and of its
// last half second (evened for the fall); failing one, the one that comes
// nearest, at least a quarter of a second long.
Stretch steadyStretch(const int16_t* x, double dbPerSecond) {
    const std::vector<double> db = evenedLevels(x, dbPerSecond);
    const int frames = static_cast<int>(db.size());
    const int half = kSampleRate / 2 / kFrame;
    Stretch best{frames - 5, 5};
    double bestSpread = 1e9;
    for (int f = frames - 5; f >= kEarliestFound / kFrame; --f) {
        const int length = frames - f;
        const int edge = std::min(half, length / 2);
        const double whole = meanLevel(db, f, frames);
        const double spread =
            std::max(std::fabs(meanLevel(db, f, f + edge) - whole), std::fabs(meanLevel(db, frames - edge, frames) - whole));
        const bool steady = spread <= kSteadyDb;
        if ((steady && (bestSpread > kSteadyDb || length > best.length)) ||
            (!steady && bestSpread > kSteadyDb && spread < bestSpread)) {
            best = {f, length};
            bestSpread = spread;
        }
    }
    return best;
}

// The loop found in the sound of segment k over its steady stretch.
Smycka searchLoop(const int16_t* x, int k, const Stretch& steady, bool exactPeriods) {
    const double period = kSampleRate / segmentFrequency(k);
    const int end = kLatest;
    int length = steady.length * kFrame;
    const int crossfade = std::min({kLongestCrossfade, length / 4, end - length});
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
        int bestLength = length;
        double bestMatch = -2.0;
        for (int n = std::max(1, periods - 3); n <= periods + 3; ++n) {
            const int l = static_cast<int>(std::lround(n * period));
            if (l <= 2 * crossfade || end - l - w < 0) continue;
            const double m = match(x, end - l, end, w);
            if (m > bestMatch) bestMatch = m, bestLength = l;
        }
        length = bestLength;
    }
    Smycka s;
    s.od = std::max(end - length, 0);
    s.po = end;
    s.prolnuti = std::min({crossfade, s.po - s.od, s.od});
    return s;
}

// The samples' own loop placed in segment k: as late as it fits (and the
// window the seam is matched over lies inside the samples' loops), moved
// by up to a period, its length rounded either way, whichever seam
// matches best. False with `why` when it does not fit or the sound does
// not repeat at its length.
bool placeSampleLoop(const int16_t* x, int k, double ownLength, const SampleLoop& own, int times, Smycka& s,
                     std::string& why, double seamMatch = kSampleSeamMatch) {
    const double period = kSampleRate / segmentFrequency(k);
    const double wanted = ownLength * times;
    const int shortest = static_cast<int>(std::floor(wanted * (1.0 - kSampleLoopSlack)));
    const int longest = static_cast<int>(std::ceil(wanted * (1.0 + kSampleLoopSlack)));
    const int crossfade = std::min(kLongestCrossfade, shortest / 4);
    const int w = std::max(crossfade, static_cast<int>(2 * period));
    const int limit = std::min(kLatest, own.latest);
    const int first = std::max(kEarliest, own.earliest + w);
    const int last = limit - longest;
    if (shortest < 4 || last < first) {
        why = "its sample's loop does not fit in the segment";
        return false;
    }
    // The length first, nearest the sample's where two match alike, then
    // the start for that length.
    double best = -2.0;
    int length = 0;
    for (int l = shortest; l <= longest; ++l) {
        const double m = match(x, last, last + l, w) - 1e-9 * std::fabs(l - wanted);
        if (m > best) best = m, length = l;
    }
    best = -2.0;
    for (int a = limit - length; a >= std::max(first, limit - length - static_cast<int>(std::ceil(period))); --a) {
        const double m = match(x, a, a + length, w);
        if (m > best + 1e-12) best = m, s.od = a;
    }
    s.po = s.od + length;
    if (best < seamMatch) {
        why = kNoRepeat;
        return false;
    }
    s.prolnuti = std::min({kLongestCrossfade, (s.po - s.od) / 4, s.od});
    return true;
}

// A note held on loop s for 8 s: how far (in dB) its 50 ms frames from the
// loop's start to 7.8 s stray from the level of the loop's first pass (a
// falling note's evened for its fall), and the largest step from one sample
// to the next across its seam.
struct Held {
    double spread = 0.0;
    int seamStep = 0;
};

Held holdOn(const int16_t* x, const Smycka& s) {
    const int n = 8 * kSampleRate;
    std::vector<int16_t> note(n);
    vzorkysmycky(x, s, 0, n, n, n + 1, note.data());
    Held held;
    const auto evened = [&](int at, int length) {
        return 10.0 * std::log10(std::max(power(&note[at], length), 1e-9)) +
               s.pokles * (at + length / 2 - s.od) / kSampleRate;
    };
    const double first = evened(s.od, s.po - s.od);
    for (int at = s.od; at + kFrame <= kSampleRate * 78 / 10; at += kFrame) {
        held.spread = std::max(held.spread, std::fabs(evened(at, kFrame) - first));
    }
    const int from = s.po - s.prolnuti - 1;
    held.seamStep = largestStep(&note[std::max(0, from)], s.po + 2 - std::max(0, from));
    return held;
}

}  // namespace

double decline(const int16_t* x, double from, double to) {
    double st = 0.0, sd = 0.0, stt = 0.0, std = 0.0;
    int n = 0;
    for (int at = static_cast<int>(from * kSampleRate); at + kFrame <= static_cast<int>(to * kSampleRate);
         at += kFrame) {
        const double t = static_cast<double>(at) / kSampleRate;
        const double db = 10.0 * std::log10(std::max(power(x + at, kFrame), 1e-9));
        st += t, sd += db, stt += t * t, std += t * db;
        ++n;
    }
    const double d = n * stt - st * st;
    return n > 1 && d > 0.0 ? -(n * std - st * sd) / d : 0.0;
}

Smycka findLoop(const int16_t* x, int k, const LoopChoice& choice, double dbPerSecond, LoopSource* source) {
    LoopSource ignored;
    LoopSource& said = source != nullptr ? *source : ignored;
    said = {};
    if (k <= 0 || power(x, kSampleRate) <= 0.0) return {};
    Smycka found = searchLoop(x, k, steadyStretch(x, dbPerSecond), choice.exactPeriods);
    found.pokles = dbPerSecond;
    said.kind = choice.exactPeriods ? LoopSource::periods : LoopSource::found;
    if (k >= static_cast<int>(choice.samples.size())) return found;
    const SampleLoop& own = choice.samples[k];
    if (!(own.length > 0.0) && own.layered > 0.0) {
        // The layers' loops together: each seam joins every layer near
        // where it repeats, the rest is left to the crossfade.
        Smycka s;
        s.pokles = dbPerSecond;
        std::string why;
        if (placeSampleLoop(x, k, own.layered, own, 1, s, why, -1.0) &&
            holdOn(x, s).seamStep <= largestStep(x, kSegmentLength)) {
            said = {LoopSource::layered, ""};
            return s;
        }
    }
    if (!(own.length > 0.0)) {
        said.why = own.none;
        return found;
    }
    // The loop once, or where its length falls between two samples so far
    // that the seam does not join in phase (a high note's period is a few
    // samples), the fewest repeats of it that come near a whole number.
    Smycka s;
    s.pokles = dbPerSecond;
    std::string why;
    bool placed = false;
    for (int times = 1; times <= kMostRepeats && !placed; ++times) {
        std::string whyNot;
        if (!placeSampleLoop(x, k, own.length, own, times, s, whyNot)) {
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

const char* soundName(Sound sound) { return sound == Sound::decaying ? "decaying" : "sustaining"; }

bool writeLoopFile(const std::string& registerPath, const std::vector<int16_t>& samples, const LoopChoice& choice,
                   std::string& error, const std::vector<Smycka>& given, LoopReport* report) {
    LoopReport ignored;
    LoopReport& said = report != nullptr ? *report : ignored;
    said = {};
    said.sources.assign(kSegments, LoopSource{});
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
    const auto segment = [&](int k) { return &samples[static_cast<std::size_t>(k) * kSegmentLength]; };
    // The register's kind: how its middle octave falls over its recording,
    // unless it was given.
    std::vector<double> middle;
    for (int k = 24; k <= 35 && k < kSegments; ++k) {
        if (power(segment(k), kSampleRate) > 0.0) middle.push_back(decline(segment(k), 1.0, 3.9));
    }
    std::sort(middle.begin(), middle.end());
    said.middleDecline = middle.empty() ? 0.0 : middle[middle.size() / 2];
    said.given = choice.sound != Sound::guess;
    said.sound = said.given ? choice.sound
                            : (said.middleDecline >= kDecayingDbPerSecond ? Sound::decaying : Sound::sustaining);
    // A sustaining register's held sound, by segment, and the middle
    // octave's.
    std::vector<double> held(kSegments, 0.0);
    double middleHeld = 0.0;
    if (choice.evenHeld && said.sound == Sound::sustaining) {
        std::vector<double> m;
        for (int k = 1; k < kSegments; ++k) {
            held[k] = power(segment(k), kSampleRate) > 0.0 ? loudness(segment(k) + kSampleRate, kLatest - kSampleRate)
                                                           : 0.0;
            if (k >= 24 && k <= 35 && std::isfinite(held[k])) m.push_back(held[k]);
        }
        std::sort(m.begin(), m.end());
        middleHeld = m.empty() ? 0.0 : m[m.size() / 2];
    }
    for (int k = 1; k < kSegments; ++k) {
        const int16_t* x = segment(k);
        // A decaying note goes on falling as its recording fell over the
        // last 1.5 s before the loop's end; a written rate is what is played.
        double fall = 0.0;
        if (said.sound == Sound::decaying) {
            char written[32];
            std::snprintf(written, sizeof written, "%.2f", std::clamp(decline(x, 2.4, 3.9), 0.0, 1000.0));
            fall = std::strtod(written, nullptr);
        }
        LoopSource& source = said.sources[k];
        if (k < static_cast<int>(given.size()) && given[k].je()) {
            loops.smycka[k] = given[k];
            loops.smycka[k].pokles = fall;
            source.kind = LoopSource::given;
        } else {
            loops.smycka[k] = findLoop(x, k, choice, fall, &source);
        }
        const double raise = middleHeld - held[k];
        if (middleHeld != 0.0 && std::isfinite(raise) && std::fabs(raise) > kHeldLevelDb) {
            loops.smycka[k].uroven = std::round(std::clamp(raise, -12.0, 12.0) * 10.0) / 10.0;
        }
    }
    // Through the register's own kind of output file: whole or not at all,
    // never through a link, removed if the tool is interrupted.
    RegisterOutput output;
    if (!output.open(cestasmycek(registerPath), error) || !output.commitBytes(zapissmycky(loops), error)) return false;
    return true;
}

}  // namespace skladba::registers
