// The in-memory lower bound: what rendering the recorded notes costs with
// no mix file at all, with the renderer's arithmetic, writing the same WAV.
#pragma once

#include <cstdint>
#include <vector>

namespace bench {

// A note or rest as the renderer mixed it.
struct Note {
    int64_t start;
    int32_t segment;
    int32_t sila;
    char reg;   // register character loaded when the note was mixed
    // With a release: the samples it sounds (zni), the fade to silence
    // beginning at utlum, and whether it repeats its segment's loop. A note
    // that rings for its whole segment has utlum = zni = kSegment.
    int64_t utlum = 0;
    int64_t zni = 0;
    bool loop = false;
};

struct BoundPhases {
    double total = 0, registers = 0, mix = 0, convert = 0, write = 0, sync = 0;
    uint32_t peak = 0;
    bool overflow = false;
    int64_t samples = 0;
};

// Mixes the notes from the registers in ./rejstriky and writes the WAV to
// wavPath, timing each phase.
BoundPhases runBound(const std::vector<Note>& notes, const char* wavPath);
// Which add loop the bound uses on this processor.
const char* addKind();

}  // namespace bench
