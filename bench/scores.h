// The scores the benchmark renders: a generated piece of sections of four
// voices, and four scores that jump around in time. Both are the same on
// every machine.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace bench {

constexpr int kVoices = 4;   // voices in each section of the generated piece

struct Score {
    std::string text;
    int sections = 0;
    int64_t notes = 0;             // notes and rests the program will mix
    double estimatedSamples = 0;   // length as generated (before jitter)
    int registerChanges = 0;
    int curveSections = 0;
};

// A piece of about minutes minutes; 0: the default of 4 sections.
Score generateScore(double minutes);

// The other shapes: four scores of 4,000 notes that send the time cursor
// back far more than the generated piece does, so that the mix keeps
// returning to time it has left, and a score of long notes that sound their
// whole value through their registers' loops under --release.
struct JumpyScore {
    const char* name;
    std::string text;
    int releaseMs = 0;             // rendered with --release this; 0: without
    int64_t expectedNotes = 4100;  // about as many notes and rests as it mixes
};
std::vector<JumpyScore> jumpyScores();

}  // namespace bench
