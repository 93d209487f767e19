// The benchmark's command line.
#pragma once

#include <string>

namespace bench {

struct Options {
    double minutes = 0.0;     // 0: the default piece of 4 sections
    int runs = 5;
    std::string parent;       // where the temporary directory goes
    bool keep = false;        // leave the temporary directory behind
    std::string writeScore;   // write the score there and stop
    bool jumps = true;        // also measure the scores that jump around in time
    std::string score;        // measure this score instead of the generated piece
    int mixMemory = -1;       // --mix-memory for the program and the recording run; -1: its default
    std::string rssTrace;     // the program's memory over time on the main score, written here
};

// Reads the arguments; exits with the usage on --help or a wrong one.
Options parseOptions(int argc, char** argv);

}  // namespace bench
