// The run's one observer: builds the music of a score (base/hudba.h) as the
// engine places each note, every note, rest and dot once, in written time
// beside its samples, with the tempo map, the bar lines and the step backs;
// the voices once the score is read. It passes every command read to whoever
// follows them, and everything else to another observer when there is one.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "base/hudba.h"
#include "engine/pozorovatel.h"

namespace skladba {

class Zaznam : public Pozorovatel {
public:
    // Past nejvic events the music is let go (and comes out empty), for a
    // render that wants it only for its warnings: memory then stays small
    // whatever the piece. 0: nothing is kept, everything only passed on.
    explicit Zaznam(size_t nejvic = SIZE_MAX) : nejvic_(nejvic), preplneny_(nejvic == 0) {}
    // The music was let go past nejvic events (a limit of 0 aside).
    bool preplneny() const { return preplneny_ && nejvic_ > 0; }

    Pozorovatel* dalsi = nullptr;
    std::function<void(int64_t, int64_t)> sledovaniprikazu;

    void prikaz(int64_t pozice, int64_t po) override;
    void nota(const UlozenaNota& u) override;
    void hotova(const Nota& n) override;
    void zpet(double hodnot, int64_t hodnota, int64_t kurzor, int64_t pozice) override;
    void tempo(int64_t pozice, bool krivka) override;
    void takt(int64_t pozice) override;
    void komentar(int64_t pozice, const std::string& text) override;

    // Voices, chords, the clock and the metre; once the score is read.
    Hudba dokonci(int64_t vzorku);

private:
    void zapis(const UlozenaNota& u);

    Hudba h_;
    Zlomek kurzor_;                  // the cursor in whole notes as written
    size_t drzena_ = SIZE_MAX;       // the note or rest the dots after it lengthen
    size_t posledni_ = SIZE_MAX;     // the last note or rest (not a dot)
    std::vector<size_t> kroky_;      // events right after a step back that leaves the last note
    // The tempo of the last event: none yet (-1), its whole note and curve.
    int64_t celatempa_ = -1;
    double ritard_ = 0;
    size_t krivka_ = SIZE_MAX;       // the tempo change of the curve in force
    Zlomek tempo_;                   // where the last t or r stood
    uint8_t zmenatempa_ = 0;         // and which it was (KrokZpet::zmenatempa)
    bool pokroku_ = false;           // a step back since the last event: a bar line belongs to the next
    int32_t cast_ = -1;              // the part the last part: directive opened
    size_t nejvic_;
    bool preplneny_ = false;
};

}  // namespace skladba
