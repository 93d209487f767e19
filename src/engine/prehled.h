// What the engine made of a score, for the check and the warnings of a
// render: notes on the silent segment 0 or on a segment a register holds as
// silence, notes whose value outlasts their recording, bars of a voice that
// differ in length, step backs that pass the start of the piece, cross a
// change of tempo or land inside a dotted note, dots that lengthen only the
// top of a chord; for the check a summary (duration, notes, range, and where
// each voice starts and ends); and the time signature the bar lines show.
//
// A voice is what is written between two step backs, except that a step
// back landing no earlier than the start of the note or rest just written
// stacks a chord inside the voice ("c - e - g"), so that a chorale written
// chord by chord stays one voice. Positions are counted in whole notes as
// written (a step back takes off what its values are worth), so voices that
// should end together show the same number whatever the tempo did.
#pragma once

#include <cstdint>
#include <cstddef>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "base/nota.h"
#include "engine/pozorovatel.h"

namespace skladba {

// The bar lines of a score, as much as the time signature needs of them:
// the lengths between two bar lines of one voice, and where the first bar
// line of each voice stands. Kept small whatever the piece.
class Carytaktu {
public:
    // A bar line at celych whole notes in voice hlas (voices numbered in the
    // order they start), closing a bar of delka whole notes (for the first
    // bar line of a voice, from where the voice starts).
    void pridej(int64_t hlas, double celych, double delka);
    // The time signature they show: bars all of one length (a bar that is a
    // whole number of them counts as that many, for a bar line left out at
    // the end of a line) whose first bar lines agree, as beats of a power of
    // two from 1/4 to 1/64, at most 64 of them; else 4/4. MIDI files and
    // sheet music are written in it.
    Metrumtaktu metrum() const;

private:
    int64_t hlas_ = -1;
    double posledni_ = 0;
    std::vector<double> delky_;     // distinct lengths between bar lines, at most a few
    // The first bar line of each voice and the bar it closes, up to a limit.
    std::vector<std::pair<double, double>> prvni_;
    bool nesoudrzne_ = false;       // too many distinct lengths to be one metre
};

class Prehled : public Pozorovatel {
public:
    // With souhrn, the voices are kept for the summary; without it nothing
    // grows with the piece.
    Prehled(bool souhrn, size_t nejvicvarovani) : souhrn_(souhrn), nejvic_(nejvicvarovani) {}

    void nota(const UlozenaNota& u) override;
    void hotova(const Nota& n) override;
    void zpet(double hodnot, int64_t hodnota, int64_t kurzor, int64_t pozice) override;
    void tempo(int64_t pozice, bool krivka) override;
    void takt(int64_t pozice) override;

    struct Hlas {
        int64_t prvni = -1;   // byte offset of its first note or rest
        double zacatek = 0, konec = 0;             // whole notes
        int64_t zacatekvzorku = 0, konecvzorku = 0;
    };

    // Ends the last voice and completes the warnings; call once the score
    // is read.
    void dokonci();

    std::vector<Varovani> varovani;
    int64_t dalsichvarovani = 0;
    std::vector<Hlas> hlasy;          // with souhrn only
    int64_t dalsichhlasu = 0;
    int64_t noty = 0;                 // sounding notes
    int64_t konec = 0;                // samples: the end of the segment that ends last (the WAV's length)
    int64_t konechlasu = 0;           // samples: where the voice that ends last ends
    int nejnizsi = -1, nejvyssi = -1; // segments
    Carytaktu cary;

private:
    // A warning said once for many places: at the first, with a count of
    // the others added when the score is read.
    struct Opakovane {
        bool receno = false;
        size_t index = SIZE_MAX;   // in varovani, SIZE_MAX when it did not fit
        int64_t dalsich = 0;       // the places after the first
    };
    void varuj(int64_t pozice, const std::string& text);
    void varujjednou(Opakovane& o, int64_t pozice, const std::string& text);
    void novyhlas(double celych, int64_t kurzor);

    bool souhrn_;
    size_t nejvic_;
    double celych_ = 0;          // the cursor in whole notes as written
    int64_t kurzor_ = 0;         // the cursor in samples
    Hlas hlas_;
    int64_t cislohlasu_ = 0;
    bool hlasmanoty_ = false;
    double zacatekposledni_ = 0; // where the last note or rest began
    double takt_ = 0;            // where the last bar line of the voice stood
    int taktu_ = 0;              // bar lines seen in the voice
    double prvnitakt_ = 0, predchozitakt_ = 0;
    double dvojznacny_ = 0;      // a first bar that may be whole, before one twice as long

    // The last note or rest (not a dot): its value, its dots, whether it
    // is a note, and the note it was stacked on with a step back ("c - e").
    struct Posledni {
        int64_t hodnota = 0;
        int tecek = 0;
        bool pismeno = false;
        bool naakordu = false;
        int64_t podhodnota = 0;
        int podtecek = 0;
        bool podpismeno = false;
    } posledni_;
    bool akordkrok_ = false;     // the last step back stacked a chord on the last note

    // Where the tempo or its curve last changed, in whole notes as written.
    double zmenatempa_ = -1;
    bool zmenakrivky_ = false;

    Opakovane dlouhe_;                   // notes longer than their recording
    std::map<int, Opakovane> tiche_;     // per register and segment
};

// Whole notes as a short decimal: "16", "2.5", "10.333".
std::string vcelych(double celych);

}  // namespace skladba
