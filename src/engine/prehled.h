// What the engine made of a score, for the check and the warnings of a
// render: notes on the silent segment 0, bars of a voice that differ in
// length, and for the check a summary (duration, notes, range, and where
// each voice starts and ends).
//
// A voice is what is written between two step backs, except that a step
// back landing no earlier than the start of the note or rest just written
// stacks a chord inside the voice ("c - e - g"), so that a chorale written
// chord by chord stays one voice. Positions are counted in whole notes as
// written (a step back takes off what its values are worth), so voices that
// should end together show the same number whatever the tempo did.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "base/nota.h"
#include "engine/pozorovatel.h"

namespace skladba {

class Prehled : public Pozorovatel {
public:
    // With souhrn, the voices are kept for the summary; without it nothing
    // grows with the piece.
    Prehled(bool souhrn, size_t nejvicvarovani) : souhrn_(souhrn), nejvic_(nejvicvarovani) {}

    void nota(const UlozenaNota& u) override;
    void hotova(const Nota& n) override;
    void zpet(double hodnot, int64_t hodnota, int64_t kurzor, int64_t pozice) override;
    void takt(int64_t pozice) override;

    struct Hlas {
        int64_t prvni = -1;   // byte offset of its first note or rest
        double zacatek = 0, konec = 0;             // whole notes
        int64_t zacatekvzorku = 0, konecvzorku = 0;
    };

    // Ends the last voice; call once the score is read.
    void dokonci();

    std::vector<Varovani> varovani;
    int64_t dalsichvarovani = 0;
    std::vector<Hlas> hlasy;          // with souhrn only
    int64_t dalsichhlasu = 0;
    int64_t noty = 0;                 // sounding notes
    int64_t konec = 0;                // samples: the end of the segment that ends last
    int nejnizsi = -1, nejvyssi = -1; // segments

private:
    void varuj(int64_t pozice, const std::string& text);
    void novyhlas(double celych, int64_t kurzor);

    bool souhrn_;
    size_t nejvic_;
    double celych_ = 0;          // the cursor in whole notes as written
    int64_t kurzor_ = 0;         // the cursor in samples
    Hlas hlas_;
    bool hlasmanoty_ = false;
    double zacatekposledni_ = 0; // where the last note or rest began
    double takt_ = 0;            // where the last bar line of the voice stood
    int taktu_ = 0;              // bar lines seen in the voice
    double prvnitakt_ = 0, predchozitakt_ = 0;
};

// Whole notes as a short decimal: "16", "2.5", "10.333".
std::string vcelych(double celych);

}  // namespace skladba
