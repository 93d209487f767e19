// The tempo curve's stretches already computed, kept across runs of one
// score (the editor's renders, one a keystroke): a stretch of n nominal
// samples from a given step and ratio always comes out the same, so a run
// takes it from here instead of stepping through it sample by sample
// again. Only stretches that completed are kept, so a run that takes one
// meets no error the stretch would have raised.
#pragma once

#include <cstdint>
#include <cstring>
#include <unordered_map>

namespace skladba {

struct Pamatkrivky {
    struct Klic {
        uint64_t krok = 0, pomer = 0;   // the step and the ratio, as their bits
        int64_t n = 0;
        bool zpet = false;
        bool operator==(const Klic& o) const { return krok == o.krok && pomer == o.pomer && n == o.n && zpet == o.zpet; }
    };
    struct Hodnota {
        double delka = 0;   // real samples the stretch lasts
        double krok = 0;    // the step after it
    };
    struct Hash {
        size_t operator()(const Klic& k) const {
            uint64_t h = k.krok * 0x9e3779b97f4a7c15ull ^ (k.pomer + 0x632be59bd9b4e019ull) * 0xbf58476d1ce4e5b9ull;
            h ^= static_cast<uint64_t>(k.n) * 0x94d049bb133111ebull + k.zpet;
            return static_cast<size_t>(h ^ (h >> 31));
        }
    };
    // Enough for every note under a curve of a long piece; past it, it
    // starts again empty.
    static constexpr size_t nejvic = size_t{1} << 18;
    std::unordered_map<Klic, Hodnota, Hash> mapa;

    static Klic klic(double krok, double pomer, int64_t n, bool zpet) {
        Klic k;
        std::memcpy(&k.krok, &krok, 8);
        std::memcpy(&k.pomer, &pomer, 8);
        k.n = n;
        k.zpet = zpet;
        return k;
    }
};

}  // namespace skladba
