// What the engine made of a score, for the check and the warnings of a
// render: notes on the silent segment 0 or on a segment a register holds as
// silence, notes whose value outlasts their recording, step backs that pass
// the start of the piece, cross a change of tempo or land inside a dotted
// note, dots that lengthen only the top of a chord; for the check's summary
// the length, the notes and their range. The voices, the bars and what is
// said of them come from the music as written (base/hudba.h).
//
// Step backs are measured in whole notes as written (a step back takes off
// what its values are worth), from the last note or rest.
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

class Prehled : public Pozorovatel {
public:
    // Nothing it keeps grows with the piece.
    explicit Prehled(size_t nejvicvarovani) : nejvic_(nejvicvarovani) {}

    void nota(const UlozenaNota& u) override;
    void hotova(const Nota& n) override;
    void zpet(double hodnot, int64_t hodnota, int64_t kurzor, int64_t pozice) override;
    void tempo(int64_t pozice, bool krivka) override;

    // Completes the warnings; call once the score is read.
    void dokonci();

    std::vector<Varovani> varovani;
    int64_t dalsichvarovani = 0;
    int64_t noty = 0;                 // sounding notes
    int64_t konec = 0;                // samples: the end of the segment that ends last (the WAV's length)
    int nejnizsi = -1, nejvyssi = -1; // segments

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

    size_t nejvic_;
    double celych_ = 0;          // the cursor in whole notes as written
    bool manoty_ = false;        // a note or rest since the start or the last step back that left it
    double zacatekposledni_ = 0; // where the last note or rest began

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
