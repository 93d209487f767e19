// A reader of Standard MIDI Files for the tests: enough of the format for
// what skladba writes and what MuseScore exports (running status, note on
// with velocity 0 as note off, tempo changes).
#pragma once

#include <cstdint>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

namespace skladba::test {

struct MidiNota {
    size_t stopa;
    int kanal, klavesa, rychlost;
    int64_t tik, delka;
    bool operator==(const MidiNota& o) const {
        return std::tie(stopa, kanal, klavesa, rychlost, tik, delka) ==
               std::tie(o.stopa, o.kanal, o.klavesa, o.rychlost, o.tik, o.delka);
    }
};

struct Midi {
    int format = -1, deleni = 0;
    int64_t tempo = 0;                                  // the last tempo set
    std::vector<std::pair<int64_t, int64_t>> tempa;     // tick, microseconds a quarter
    std::vector<std::string> jmena;                     // each track's name
    std::vector<int> programy;                          // each track's program, -1 for none
    std::pair<int, int> metrum;                         // the time signature, numerator and denominator
    struct Metrum {
        int64_t tik;
        int citatel, jmenovatel, hodiny;                // hodiny: MIDI clocks a beat
        bool operator==(const Metrum& o) const {
            return std::tie(tik, citatel, jmenovatel, hodiny) == std::tie(o.tik, o.citatel, o.jmenovatel, o.hodiny);
        }
    };
    std::vector<Metrum> metra;                          // every time signature
    std::string autor;                                  // the copyright text
    std::vector<std::pair<int64_t, std::string>> znacky;   // markers
    std::vector<MidiNota> noty;                         // in the order their note offs come
    bool cele = true;                                   // every track ended as it should

    // Seconds from the start to a tick, through the tempo changes.
    double sekundy(int64_t tik) const;
    // Seconds a quarter note lasts at a tick.
    double ctvrtka(int64_t tik) const;
};

Midi prectimidi(const std::string& bajty);

}  // namespace skladba::test
