// Builds the music of a score (base/hudba.h) as the engine places each note:
// every note, rest and dot once, in written time beside its samples, the
// tempo map and the bar lines; the voices once the score is read.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "base/hudba.h"
#include "engine/pozorovatel.h"

namespace skladba {

class Zaznam : public Pozorovatel {
public:
    // Past nejvic events the music is let go (and comes out empty), for a
    // render that wants it only for its warnings: memory then stays small
    // whatever the piece.
    explicit Zaznam(size_t nejvic = SIZE_MAX) : nejvic_(nejvic) {}

    void nota(const UlozenaNota& u) override;
    void hotova(const Nota& n) override;
    void zpet(double hodnot, int64_t hodnota, int64_t kurzor, int64_t pozice) override;
    void takt(int64_t pozice) override;
    void komentar(int64_t pozice, const std::string& text) override;

    // Voices, chords, the clock and the metre; once the score is read.
    Hudba dokonci(int64_t vzorku);
    // Whether it let the music go (more than nejvic events).
    bool preplneny() const { return preplneny_; }

private:
    Hudba h_;
    Zlomek kurzor_;                  // the cursor in whole notes as written
    size_t drzena_ = SIZE_MAX;       // the note waiting for its dots
    int64_t konecdrzene_ = 0;        // samples: where it and its dots end
    size_t posledni_ = SIZE_MAX;     // the last note or rest (not a dot)
    std::vector<size_t> kroky_;      // events right after a step back that leaves the last note
    // The tempo of the last event: none yet (-1), its whole note and curve.
    int64_t celatempa_ = -1;
    double ritard_ = 0;
    size_t krivka_ = SIZE_MAX;       // the tempo change of the curve in force
    bool pokroku_ = false;           // a step back since the last event: a bar line belongs to the next
    int32_t cast_ = -1;              // the part the last part: directive opened
    size_t nejvic_;
    bool preplneny_ = false;
};

}  // namespace skladba
