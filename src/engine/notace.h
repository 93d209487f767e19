// Sheet music from what the score wrote: an observer that keeps every note
// and rest with its letter, sharps and flats, value, voice and register, in
// the score's own time (whole notes, not samples), and every bar line, for
// the MusicXML writer.
//
// Time is counted in ticks of a grid that grows as the score uses values
// that do not divide it (a 3 after quarters makes it finer), so that every
// position is exact. A grid finer than 2^22 ticks a whole note would make
// the file unreadable; past that, the notes are placed on the grid they
// came to, and lengths that do not fit it are rounded, carrying the error
// on so that nothing drifts.
#pragma once

#include <cstdint>
#include <vector>

#include "engine/pozorovatel.h"
#include "base/zapis.h"

namespace skladba {

class Notace : public Pozorovatel {
public:
    // Notes and rests sheet music holds; a score with more is
    // refused where it passes this many.
    static constexpr size_t nejvic = 1'000'000;

    void nota(const UlozenaNota& u) override;
    void zpet(double hodnot, int64_t hodnota, int64_t kurzor, int64_t pozice) override;

    const Zapis& zapis() const { return zapis_; }
    // The time signature, from the overview of the same run.
    void nastavmetrum(const Metrumtaktu& m) { zapis_.metrum = m; }

private:
    int64_t tiku(int64_t hodnota, int64_t pocet, bool pul);
    void zjemni(int64_t delitel);
    void hlidejpocet() const;

    Zapis zapis_;
    bool presne_ = true;
    double zaokrouhleni_ = 0;     // what rounding to the grid has left over
    int64_t kurzor_ = 0;          // ticks
    // The voice, by the rule of the check's summary: a step back landing
    // before the start of the last note or rest written starts a new one.
    int32_t hlas_ = 0;
    bool hlasmanoty_ = false;
    int64_t zacatekposledni_ = 0;
    std::vector<uint32_t> skupina_;   // the last chord or rest of the voice
    // The tempo of the last note or rest: none yet (-1), its whole-note
    // length and its curve.
    int64_t celatempa_ = -1;
    double ritard_ = 0;
};

}  // namespace skladba
