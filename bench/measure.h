// One score measured: rendered once in process to record its notes, then
// the program and the in-memory bound timed on it, and their WAVs and peaks
// compared.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "bound.h"
#include "launcher.h"

namespace bench {

struct Measured {
    std::vector<Note> notes;
    int64_t samples = 0;
    double recordSeconds = 0;
    int64_t ioBytes = -1;   // read and written through the kernel by the recording run
    std::vector<Run> runs;
    std::vector<BoundPhases> bounds;
    double program = 0, programMin = 0, programMax = 0, bound = 0;
    long rssKiB = 0;
    double enginePeak = 0;
    bool peakSame = false;
    int64_t wavDifference = -1, wavProgram = 0, wavBound = 0;
};

// Measures the score text in the current directory, the launcher's.
Measured measure(const std::string& text, int64_t expectedNotes, int runs, Launcher& launcher);
// Prints the failed checks of m; true when there were none.
bool reportChecks(const Measured& m, const char* name);
// A length in samples as "M min SS.S s".
std::string minutesText(double samples);

}  // namespace bench
