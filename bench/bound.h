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
