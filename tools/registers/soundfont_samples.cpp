#include "registers/soundfont_samples.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

#include "registers/timbres.h"

namespace skladba::registers {
namespace {

// Generators, by number.
constexpr int kStartOffset = 0, kEndOffset = 1, kLoopStartOffset = 2, kLoopEndOffset = 3, kStartCoarse = 4,
              kEndCoarse = 12, kInstrument = 41, kKeyRange = 43, kVelocityRange = 44, kLoopStartCoarse = 45,
              kFixedKey = 46, kLoopEndCoarse = 50, kCoarseTune = 51, kFineTune = 52, kSampleId = 53,
              kSampleMode = 54, kScaleTuning = 56, kRootKey = 58;
constexpr int kGenerators = 61;
constexpr std::uint16_t kRomSample = 0x8000;

std::uint16_t u16(const unsigned char* p) { return static_cast<std::uint16_t>(p[0] | p[1] << 8); }
std::uint32_t u32(const unsigned char* p) {
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

// The generators one zone sets.
struct Zone {
    std::int16_t amount[kGenerators] = {};
    bool set[kGenerators] = {};
    bool has(int g) const { return set[g]; }
    // A range generator's low and high byte; all of 0 to 127 when unset.
    bool holds(int g, int value) const {
        if (!set[g]) return true;
        const auto raw = static_cast<std::uint16_t>(amount[g]);
        return value >= (raw & 0xFF) && value <= (raw >> 8);
    }
};

// The zones of header h of `headers` (its first zone index `bagAt` bytes
// into each record), each with the generators it sets; the indices were
// checked with the file.
std::vector<Zone> zonesOf(const SoundFontTable& headers, std::size_t h, std::size_t bagAt, const SoundFontTable& bags,
                          const SoundFontTable& gens) {
    std::vector<Zone> zones;
    const std::size_t first = u16(headers.at(h) + bagAt), end = u16(headers.at(h + 1) + bagAt);
    for (std::size_t b = first; b < end; ++b) {
        Zone z;
        const std::size_t firstGen = u16(bags.at(b)), endGen = u16(bags.at(b + 1));
        for (std::size_t g = firstGen; g < endGen; ++g) {
            const int oper = u16(gens.at(g));
            if (oper >= kGenerators) continue;
            z.amount[oper] = static_cast<std::int16_t>(u16(gens.at(g) + 2));
            z.set[oper] = true;
        }
        zones.push_back(z);
    }
    return zones;
}

// A zone's value of generator g: its own, else its global zone's, else `otherwise`.
int valueOf(const Zone& local, const Zone* global, int g, int otherwise) {
    if (local.has(g)) return local.amount[g];
    if (global != nullptr && global->has(g)) return global->amount[g];
    return otherwise;
}

bool holdsNote(const Zone& local, const Zone* global, int key, int velocity) {
    const Zone& k = local.has(kKeyRange) || global == nullptr ? local : *global;
    const Zone& v = local.has(kVelocityRange) || global == nullptr ? local : *global;
    return k.holds(kKeyRange, key) && v.holds(kVelocityRange, velocity);
}

PlayedSample sampleOf(const SoundFontTables& t, const Zone& zone, const Zone* global, const Zone& presetZone,
                      const Zone* presetGlobal) {
    const unsigned char* h = t.shdr.at(static_cast<std::uint16_t>(zone.amount[kSampleId]));
    PlayedSample s;
    for (int i = 0; i < 20 && h[i] != 0; ++i) s.name += static_cast<char>(h[i]);
    const auto offset = [&](int fine, int coarse) {
        return valueOf(zone, global, fine, 0) + 32768.0 * valueOf(zone, global, coarse, 0);
    };
    s.start = u32(h + 20) + offset(kStartOffset, kStartCoarse);
    s.end = u32(h + 24) + offset(kEndOffset, kEndCoarse);
    s.loopStart = u32(h + 28) + offset(kLoopStartOffset, kLoopStartCoarse);
    s.loopEnd = u32(h + 32) + offset(kLoopEndOffset, kLoopEndCoarse);
    s.rate = u32(h + 36);
    const int original = h[40];
    const int root = valueOf(zone, global, kRootKey, -1);
    s.rootKey = root >= 0 ? root : original <= 127 ? original : 60;  // 255: no pitch, played as 60
    s.correction = static_cast<std::int8_t>(h[41]);
    // The preset's tuning is added to the instrument's.
    const auto added = [&](int g, int otherwise) {
        return valueOf(zone, global, g, otherwise) + valueOf(presetZone, presetGlobal, g, 0);
    };
    s.tune = 100.0 * added(kCoarseTune, 0) + added(kFineTune, 0);
    s.scale = added(kScaleTuning, 100);
    s.fixedKey = valueOf(zone, global, kFixedKey, -1);
    s.mode = valueOf(zone, global, kSampleMode, 0) & 3;
    return s;
}

}  // namespace

std::vector<PlayedSample> samplesPlayed(const SoundFontTables& t, int bank, int program, int key, int velocity) {
    std::vector<PlayedSample> out;
    for (std::size_t p = 0; p + 1 < t.phdr.count; ++p) {
        const unsigned char* header = t.phdr.at(p);
        if (u16(header + 20) != program || u16(header + 22) != bank) continue;
        const std::vector<Zone> presetZones = zonesOf(t.phdr, p, 24, t.pbag, t.pgen);
        // A first zone that names no instrument holds what the others share.
        const Zone* presetGlobal =
            !presetZones.empty() && !presetZones[0].has(kInstrument) ? &presetZones[0] : nullptr;
        for (const Zone& pz : presetZones) {
            if (!pz.has(kInstrument) || !holdsNote(pz, presetGlobal, key, velocity)) continue;
            const std::size_t i = static_cast<std::uint16_t>(pz.amount[kInstrument]);
            const std::vector<Zone> zones = zonesOf(t.inst, i, 20, t.ibag, t.igen);
            const Zone* global = !zones.empty() && !zones[0].has(kSampleId) ? &zones[0] : nullptr;
            for (const Zone& z : zones) {
                if (!z.has(kSampleId) || !holdsNote(z, global, key, velocity)) continue;
                const unsigned char* sample = t.shdr.at(static_cast<std::uint16_t>(z.amount[kSampleId]));
                if ((u16(sample + 44) & kRomSample) != 0) continue;  // not in the file: never played
                out.push_back(sampleOf(t, z, global, pz, presetGlobal));
            }
        }
        break;  // the first preset of that bank and program is the one played
    }
    return out;
}

SampleLoop sampleLoop(const std::vector<PlayedSample>& samples, int key, double tableCents, double bendCents,
                      int hold) {
    SampleLoop loop;
    loop.latest = std::min(hold, kSegmentLength);
    if (samples.empty()) {
        loop.none = "no sample of it is known";
        return loop;
    }
    double shortest = 1e300, longest = 0.0, inLoop = 0.0, ended = 0.0;
    std::vector<double> lengths;
    for (const PlayedSample& s : samples) {
        // Cents the sample is played above its own speed, and so how many of
        // its points pass in one sample of the segment.
        const int struck = s.fixedKey >= 0 ? s.fixedKey : key;
        const double table = struck == key ? tableCents : 0.0;
        const double cents = s.scale / 100.0 * (100.0 * (struck - s.rootKey) + table) + bendCents + s.correction + s.tune;
        const double step = std::pow(2.0, cents / 1200.0) * s.rate / kSampleRate;
        if (!(step > 0.0) || !std::isfinite(step)) {
            loop.none = "its sample's rate is not one it can be played at";
            return loop;
        }
        if (!s.looped()) {
            ended = std::max(ended, (s.end - s.start) / step);
            continue;
        }
        if (!(s.start <= s.loopStart && s.loopStart + 2 <= s.loopEnd && s.loopEnd <= s.end)) {
            loop.none = "its sample's loop lies outside the sample";
            return loop;
        }
        const double length = (s.loopEnd - s.loopStart) / step;
        lengths.push_back(length);
        shortest = std::min(shortest, length);
        longest = std::max(longest, length);
        inLoop = std::max(inLoop, (s.loopStart - s.start) / step);
    }
    if (longest == 0.0) {
        loop.none = "its sample has no loop";
        return loop;
    }
    if (longest - shortest > 1.0) {
        loop.none = "its layered samples loop at different lengths";
        // The whole number of one layer's loops, fitting after every sample
        // is inside its loop, that comes nearest a whole number of every
        // other layer's loops (each missed by a share of its own length).
        const double room = loop.latest - std::max(inLoop, ended);
        double best = 1e300;
        for (double unit : lengths) {
            for (int times = 1; times * unit <= room; ++times) {
                double missed = 0.0;
                for (double other : lengths) {
                    const double r = times * unit / other;
                    missed += std::fabs(r - std::round(r)) + (r < 0.5 ? 1.0 : 0.0);
                }
                if (missed < best - 1e-9 || (missed < best + 1e-9 && times * unit > loop.layered)) {
                    best = missed;
                    loop.layered = times * unit;
                }
            }
        }
        if (loop.layered > 0.0) loop.earliest = static_cast<int>(std::ceil(std::max(inLoop, ended)));
        return loop;
    }
    if (ended + longest > loop.latest) {
        loop.none = "a sample that plays once sounds through the segment";
        return loop;
    }
    if (inLoop + longest > loop.latest) {
        loop.none = "its sample's loop comes too late in the segment";
        return loop;
    }
    loop.length = (shortest + longest) / 2.0;
    loop.earliest = static_cast<int>(std::ceil(std::max(inLoop, ended)));
    return loop;
}

}  // namespace skladba::registers
