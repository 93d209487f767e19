// A scratch working directory for running scores in process: the header
// template, an impulse register and whatever score a test writes. Each note
// of the impulse register is one click at its start whose height names the
// segment, so a test can read back where every note started and which
// segment it played. Register 1 (the default) clicks for rests too;
// register 0 ("R0") is the same with silent rests, so that rests can hold
// time without leaving a click.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "output/vyroba.h"

namespace skladba::test {

// Height of the click that segment k of the impulse register starts with.
inline int vyskaKliku(int k) { return 100 * (k + 1); }

class Studio {
public:
    Studio();
    ~Studio();
    Studio(const Studio&) = delete;
    Studio& operator=(const Studio&) = delete;

    const std::string& cesta() const { return dir_; }
    void soubor(const std::string& name, const std::string& bytes) const;
    bool existuje(const std::string& name) const;
    std::string obsah(const std::string& name) const;

    // Writes aktualni.txt and runs it in process; noty() reads its WAV.
    Vysledek hraj(const std::string& score, const Meze& meze = Meze{});
    // Runs with these settings in process; noty() reads its WAV.
    Vysledek spust(const Nastaveni& n);

    // The samples of aktualni.wav.
    std::vector<int16_t> vzorky() const;

    struct Nota {
        int64_t start;
        int segment;
    };
    // Every click in the WAV, decoded with the run's peak (clicks that fall on
    // the same sample cannot be told apart; tests avoid them).
    std::vector<Nota> noty() const;

    // Where the time cursor stands at the end of score: the start of a probe
    // note (o4 g at full volume) played after it, from register 0 and with no
    // jitter, so that rests leave no click. -1 when the probe cannot be told
    // apart.
    int64_t kurzor(const std::string& score);
    // The volume percent a setting such as "s50" gives: a note played after
    // it measured against one at full volume before it.
    int hlasitost(const std::string& setting);

private:
    std::string dir_;
    std::string previous_;
    double maximum_ = 0;   // the peak of the last run, which scaled its WAV
};

// The segments and start samples of every click, in time order.
std::vector<int> segmenty(const Studio& studio);
std::vector<int64_t> starty(const Studio& studio);

// Register file bytes: segment k is `fill(k, i)` for sample i (only the first
// `segments` segments are written).
std::string registr(int segments, int16_t (*fill)(int k, int i));

}  // namespace skladba::test
