// A note as the engine mixes it, and a warning about the score. The music
// as written (base/hudba.h) takes each note's sound from here, and every
// output reads that.
#pragma once

#include <cstdint>
#include <string>

namespace skladba {

// A note, rest or dot as it is mixed, with how long it sounds, worked out
// once (engine/ton.cpp) for the mix and the music as written.
struct Nota {
    int64_t start = 0;      // start sample, jitter included
    int64_t krok = 0;       // samples the time cursor moved on: the value as rendered
    int64_t delka = 0;      // its value and the dots written right after it
    // Samples it sounds from its start: its whole segment, or with a release
    // its length and then the fade, within the segment. The fade begins at
    // utlum; a note that rings to the end of its segment has utlum == zni.
    int64_t zni = 0;
    int64_t utlum = 0;
    // The bytes of the score it comes from, [pozice, po): its letter, and
    // the dots that lengthen it.
    int64_t pozice = 0;
    int64_t po = 0;
    uint8_t segment = 0;    // segment index, 0 (a rest, a dot, the silent note) to pocetsegmentu - 1
    uint8_t sila = 0;       // volume in percent, 1 to 100
    char reg = '1';         // register character
    bool tecka = false;     // a dot
    // Samples its register really sounds it: its segment's sound, or with
    // a sustain loop under a release its whole value (0: not measured, as a
    // segment's four seconds).
    int64_t zvuk = 0;
    bool smycka = false;    // it was played through its segment's sustain loop
    int64_t udalost = -1;   // its place among the notes, rests and dots in the order placed (Hudba::udalosti)
};

// The time signature that the bar lines "|" of a score show, for the files
// that notation programs read (the MIDI file, sheet music): bars of delka
// whole notes, the first bar line at predtakt when the piece begins with a
// pickup (0 when it does not). 4/4 when the bar lines say nothing
// consistent, or there are none.
struct Metrumtaktu {
    int citatel = 4;
    int jmenovatel = 4;
    double delka = 1.0;
    double predtakt = 0.0;
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

// The registers the build makes, as notation programs know them: the
// instrument a part of sheet music is named after and the General MIDI
// program nearest to its sound. The one table of them; a register of any
// other character has none (nastroj null, program -1).
struct PopisRejstriku {
    const char* nastroj = nullptr;
    int program = -1;
};
inline PopisRejstriku popisrejstriku(char reg) {
    switch (reg) {
        case '1': return {"Organ", 16};            // the organ of drawn stops: drawbar organ
        case '2': return {"Flute", 73};
        case '3': return {"Plucked string", 25};   // the bright plucked string: steel-string guitar
        case '4': return {"Piano", 0};             // acoustic grand piano
        case '5': return {"Piano", 0};             // acoustic grand piano
        case '6': return {"Church organ", 19};
        case '7': return {"Strings", 48};          // string ensemble
        case '8': return {"Flute", 73};
        case '9': return {"Guitar", 24};           // nylon-string guitar
        default: return {};
    }
}

// A number with at most this many decimals and no trailing zeros: "16",
// "2.5", "10.333".
std::string desetinne(double x, int desetin);

// A length of time for people: m:ss.s, or m:ss.ss with two decimals.
std::string popiscasu(double sekund, int desetin = 1);

}  // namespace skladba
