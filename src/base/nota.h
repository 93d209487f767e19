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
    int64_t zni = 0;        // with a release, what it sounds for: its value and the dots right after it
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

// A segment in the score's own names: its octave and its letter with a
// sharp or flat before it ("o1 c", "om >f", "ov <h").
inline std::string jmenotonu(int segment) {
    static const char* const oktavy[] = {"ov", "om", "o1", "o2", "o3", "o4"};
    static const char* const tony[] = {"c", ">c", "d", ">d", "e", "f", ">f", "g", ">g", "a", "<h", "h"};
    if (segment < 0 || segment >= 72) return "?";
    return std::string(oktavy[segment / 12]) + " " + tony[segment % 12];
}

// How messages, tracks and legends name a register: "R4", or "R 0x1B" for a
// byte that does not print.
inline std::string jmenorejstriku(char reg) {
    const auto b = static_cast<unsigned char>(reg);
    if (b > 0x20 && b < 0x7F) return std::string("R") + reg;
    static const char hex[] = "0123456789ABCDEF";
    return std::string("R 0x") + hex[b >> 4] + hex[b & 15];
}

// A length of time for people: m:ss.s, or m:ss.ss with two decimals.
std::string popiscasu(double sekund, int desetin = 1);

}  // namespace skladba
