// What one run's mix took and made, for a render that remakes only the part
// of the mix an edit changed (output/prirustek.h): every segment added, in
// the order it was added, and the sums and peaks of the stretch of samples
// the run was asked to make. A run that records makes only that stretch;
// the rest of its mix stays empty, while the peak, the end of the mix and
// every check a note meets come out as ever.
#pragma once

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "synth/smycka.h"

namespace skladba {

// One segment as the mix took it (Mix::mixuj): equal inputs add equal
// samples at equal places.
struct Vstupmixu {
    int64_t start = 0;
    int64_t utlum = 0;
    int64_t zni = 0;
    uint64_t zvuk = 0;     // the segment's samples (Rejstriky::soucet)
    int32_t segment = 0;
    int32_t sila = 0;
    Smycka smycka;         // po <= od: none

    int64_t konec() const { return start + zni; }
    friend bool operator==(const Vstupmixu& a, const Vstupmixu& b) {
        return a.start == b.start && a.utlum == b.utlum && a.zni == b.zni && a.zvuk == b.zvuk &&
               a.segment == b.segment && a.sila == b.sila && a.smycka.od == b.smycka.od &&
               a.smycka.po == b.smycka.po && a.smycka.prolnuti == b.smycka.prolnuti;
    }
    friend bool operator!=(const Vstupmixu& a, const Vstupmixu& b) { return !(a == b); }
};

// A segment's samples as a note took them, by their checksum, kept so that
// the notes of a stretch can be mixed again without the registers.
struct Segmentzvuku {
    std::vector<int16_t> vzorky;
    int32_t vrchol = 0;   // the largest |sample|
};
using Segmentyzvuku = std::unordered_map<uint64_t, Segmentzvuku>;

struct Zaznammixu {
    // Asked: only the sums of samples [od, po) are made; od is a multiple of
    // Mix::vzorkunablok, and so is po unless it is the end of the mix.
    int64_t od = 0;
    int64_t po = INT64_MAX;

    // Found: what the mix took, in order.
    std::vector<Vstupmixu> vstupy;
    // The peak of each block of Mix::vzorkunablok samples from od on: the
    // largest absolute value any of its sums held while notes were added.
    // The largest of all blocks' is the mix's peak, which scales the WAV.
    std::vector<uint32_t> vrcholy;
    // The sums of [od, min(po, end of the mix)) once the last note is in,
    // unless the mix had to leave memory for its file (vpameti false).
    std::vector<int32_t> sumy;
    bool vpameti = true;
    // Where the samples of every segment taken are kept (null: nowhere).
    Segmentyzvuku* zvuky = nullptr;
};

}  // namespace skladba
