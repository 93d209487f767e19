// A note as it was rendered, and a warning about the score: the records the
// engine hands up to the run sequence and on to the writers of the MIDI file
// and the piano roll.
#pragma once

#include <cstdint>
#include <string>

namespace skladba {

// One sounding note: what the MIDI file and the piano roll draw. Rests, dots
// and notes on the silent segment 0 are not kept.
struct Nota {
    int64_t start = 0;      // start sample, jitter included
    int64_t krok = 0;       // samples the time cursor moved on: the value as rendered
    uint8_t segment = 0;    // segment index, 1 to pocetsegmentu - 1
    uint8_t sila = 0;       // volume in percent, 1 to 100
    char reg = '1';         // register character
    bool posunuta = false;  // its start was jittered
};

// A likely misreading of the score: where it is (a byte offset) and what to
// write instead. The run sequence turns the offset into a line and column.
struct Varovani {
    int64_t pozice = 0;
    std::string text;
};

}  // namespace skladba
