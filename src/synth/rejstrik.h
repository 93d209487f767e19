// Registers: an instrument is a file of pocetsegmentu pre-rendered
// four-second segments, one per semitone (format in base/format.h), found
// in the register folder of the run as rejstrX.nes for register character X.
//
// Loading a register opens its file and makes it the source of every segment
// it holds; a segment is read from its source the first time a note needs
// it. A score that switches registers thousands of times, or uses a dozen
// pitches of a register, then costs only the segments it plays.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "base/format.h"
#include "platform/system.h"
#include "synth/smycka.h"

namespace skladba {

class Rejstriky {
public:
    Rejstriky();
    Rejstriky(const Rejstriky&) = delete;
    Rejstriky& operator=(const Rejstriky&) = delete;

    // The folder registers are loaded from. With none (empty), loading a
    // register loads nothing and every segment stays silent: a check of a
    // score needs no registers.
    void nastavslozku(const std::string& slozka) { slozka_ = slozka; }
    // The path of register reg in that folder.
    std::string rejstrjmeno(char reg) const;

    // Loads register reg: a file shorter than pocetsegmentu segments leaves
    // the rest of the wavetable as it was. Returns false with errno set when
    // the file cannot be opened or read.
    bool nactirejstrik(char reg);

    // Whether register reg is a regular file holding every segment, so that
    // loading it leaves nothing of the registers loaded before.
    bool uplny(char reg) const;
    // Whether registers are loaded at all (a folder was set).
    bool maslozku() const { return !slozka_.empty(); }

    // Segment k of the wavetable as the registers loaded so far make it,
    // read from its file if a note has not needed it yet. A ChybaSouboru
    // when that read fails.
    const int16_t* segment(int64_t k);
    // The largest |sample| of segment k (which segment() has made current).
    int32_t vrchol(int64_t k) const { return segmenty_[k].vrchol; }

    // The sustain loop of segment k, from the loop file beside the register
    // it was loaded from (smycka.h); null when it has none. The first use of
    // a loop file checks that it belongs to its register: a ChybaSouboru
    // naming both files when it does not.
    const Smycka* smycka(int64_t k);
    // Where segment k's sound is cut off, in samples: the end of its last
    // 50 ms stretch no more than 35 dB below its loudest, when half a second
    // before that it still sounded within 20 dB of its loudest (a key
    // released early). delkatonu for a sound that lasts its segment or dies
    // away on its own.
    int64_t koneczvuku(int64_t k);

private:
    // An open register file that some segments are still to be read from.
    struct Zdroj {
        platform::Soubor soubor;
        std::string cesta;
    };
    // A register's loop file, checked against the register on first use.
    struct Smyckyrejstriku {
        Smycky smycky;
        std::string cesta;
        std::shared_ptr<Zdroj> zdroj;   // the register, until checked
        int64_t velikost = 0;
        platform::Totoznost totoznost;
        bool overeno = false;
    };
    // What each segment of the wavetable holds: its samples are current in
    // rejstrpole, or all zero and not yet written there, or still to be
    // read from a register file.
    struct Segment {
        bool aktualni = false;
        std::shared_ptr<Zdroj> zdroj;   // null with !aktualni: silence
        int32_t vrchol = 0;             // largest |sample|, once current
        int64_t konec = -1;             // koneczvuku, once measured
        std::shared_ptr<Smyckyrejstriku> smycky;   // null: no loops
    };

    int16_t* data(int64_t k) { return rejstrpole_.get() + k * delkatonu; }
    void zmervrchol(int64_t k);
    ssize_t ctidosegmentu(const Zdroj& z, int64_t k, int64_t bytes, int64_t offset);
    bool nactinajednou(platform::Soubor& f);
    std::shared_ptr<Smyckyrejstriku> nactismycky(const std::shared_ptr<Zdroj>& zdroj, int64_t velikost);
    void over(Smyckyrejstriku& s);

    std::string slozka_ = "rejstriky";
    // The wavetable, pocetsegmentu segments of delkatonu samples. Left
    // uninitialised: a segment is written before it is first read, so the
    // memory of segments no note plays is never touched.
    std::unique_ptr<int16_t[]> rejstrpole_;
    Segment segmenty_[pocetsegmentu];
    // The loop file last read for each register path, reused while the
    // register is the same file of the same size, so that switching
    // registers does not check a loop file again.
    std::vector<std::shared_ptr<Smyckyrejstriku>> smyckovesoubory_;
};

}  // namespace skladba
