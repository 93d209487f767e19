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

// How a score is rendered and watched.
struct Setup {
    int mixMemory = -1;   // --mix-memory for the program and the recording run; -1: the default
    int releaseMs = 0;    // --release; 0: without
    std::string trace;    // the first run's memory and I/O over time go here; empty: none
};

struct Measured {
    std::vector<Note> notes;
    int64_t samples = 0;
    double recordSeconds = 0;
    int64_t ioBytes = -1;   // read and written through the kernel by the recording run
    std::vector<Run> runs;
    std::vector<BoundPhases> bounds;
    double program = 0, programMin = 0, programMax = 0, bound = 0;
    long rssKiB = 0;
    // The program's bytes through system calls and to or from storage, the
    // medians of its runs (-1: not known).
    double readBytes = -1, writtenBytes = -1, storageRead = -1, storageWritten = -1;
    std::vector<std::string> args;   // the program's arguments
    double enginePeak = 0;
    bool peakSame = false;
    int64_t wavDifference = -1, wavProgram = 0, wavBound = 0;
};

// Measures the score text in the current directory, the launcher's.
Measured measure(const std::string& text, int64_t expectedNotes, int runs, Launcher& launcher,
                 const Setup& setup = {});
// Prints the failed checks of m; true when there were none.
bool reportChecks(const Measured& m, const char* name);
// Summarises the memory trace of a run written to path: its resident memory
// at each tenth of the run, and the most it held in each half.
void reportTrace(const std::string& path);
// A length in samples as "M min SS.S s".
std::string minutesText(double samples);

}  // namespace bench
