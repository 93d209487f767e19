// Registers: an instrument is a file of pocetsegmentu pre-rendered
// four-second segments, one per semitone (format in base/format.h), found
// in the register folder of the run as rejstrX.nes for register character X.
//
// Loading a register opens its file and makes it the source of every segment
// it holds; a segment is read from its source the first time a note needs
// it. A score that switches registers thousands of times, or uses a dozen
// pitches of a register, then costs only the segments it plays.
//
// A segment read from a register file is kept, while the run's memory
// budget allows (Rozpocet), and played from there again whenever the same
// unchanged file is loaded again: a score that goes back and forth between
// a few registers reads each segment it plays once, not once a change.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "base/format.h"
#include "platform/system.h"
#include "synth/smycka.h"

namespace skladba {

// The memory a run may hold beyond its fixed buffers (Meze::pametmixu),
// shared by the mix's sums while they are in memory and the register
// segments kept for reuse. Each side takes only what leaves the other's
// share within the whole; the mix moves to its file when it cannot grow.
struct Rozpocet {
    int64_t celkem = 0;
    int64_t mix = 0;
    int64_t rejstriky = 0;
    bool vejdese(int64_t bajtu) const { return mix + rejstriky + bajtu <= celkem; }
};

// Segments read from register files by earlier runs (the editor's renders,
// one a keystroke), with what was measured of them: a run that loads the
// same unchanged file (same path, file, size and times) plays them from
// here instead of reading and measuring them again. Only whole segments of
// regular files are kept.
struct Pamatrejstriku {
    struct Segment {
        std::vector<int16_t> vzorky;
        int32_t vrchol = 0;
        int64_t konec = -1;       // koneczvuku, once measured
        uint64_t soucet = 0;      // soucet, once asked
        bool masoucet = false;
        uint64_t beh = 0;         // the last run that played it
    };
    struct Soubor {
        platform::Otisk otisk;
        std::unique_ptr<Segment> segmenty[pocetsegmentu];
    };
    std::map<std::string, Soubor> soubory;
    uint64_t beh = 0;        // the run now, counted by the runs that use it
    uint64_t nejvic = 0;     // bytes of samples it may hold; past them no more is kept
    uint64_t bajtu = 0;

    // Drops the segments the last run did not play.
    void prober();
    // Drops one segment (if kept), giving back its bytes.
    void zahod(std::unique_ptr<Segment>& s);
};

class Rejstriky {
public:
    Rejstriky();
    Rejstriky(const Rejstriky&) = delete;
    Rejstriky& operator=(const Rejstriky&) = delete;

    // The folder registers are loaded from. With none (empty), loading a
    // register loads nothing and every segment stays silent: a check of a
    // score needs no registers.
    void nastavslozku(const std::string& slozka) { slozka_ = slozka; }
    // The budget segments kept for reuse count against (celkem 0, the
    // default: none is kept and each load reads what it plays again); the
    // mix shares it.
    Rozpocet& rozpocet() { return rozpocet_; }
    // The path of register reg in that folder.
    std::string rejstrjmeno(char reg) const;

    // Loads register reg: a file shorter than pocetsegmentu segments leaves
    // the rest of the wavetable as it was. Returns false with errno set when
    // the file cannot be opened or read.
    bool nactirejstrik(char reg);

    // Whether register reg is a regular file holding every segment, so that
    // loading it leaves nothing of the registers loaded before.
    bool uplny(char reg) const;
    // Segments kept from earlier runs, taken and added to (null: none).
    void nastavpamet(Pamatrejstriku* p);
    // Whether registers are loaded at all (a folder was set).
    bool maslozku() const { return !slozka_.empty(); }

    // Segment k of the wavetable as the registers loaded so far make it,
    // read from its file if a note has not needed it yet. A ChybaSouboru
    // when that read fails.
    const int16_t* segment(int64_t k);
    // The largest |sample| of segment k (which segment() has made current).
    int32_t vrchol(int64_t k) const { return segmenty_[k].vrchol; }
    // A checksum of segment k's samples as the registers loaded so far make
    // them: two notes that play the same checksum play the same sound, for
    // a render that compares its notes with the last render's.
    uint64_t soucet(int64_t k);

    // The sustain loop of segment k, from the loop file beside the register
    // it was loaded from (smycka.h); null when it has none. The first use of
    // a loop file reads it and checks that it belongs to its register: a
    // ChybaSouboru naming the loop file when it cannot be read or is not
    // one, and both files when it belongs to another register.
    const Smycka* smycka(int64_t k);
    // Where segment k's sound is cut off, in samples: the end of its last
    // 50 ms stretch no more than 35 dB below its loudest, when half a second
    // before that it still sounded within 20 dB of its loudest (a key
    // released early). delkatonu for a sound that lasts its segment or dies
    // away on its own.
    int64_t koneczvuku(int64_t k);

private:
    // A segment as read from its register file, kept for the next load of
    // the same file, with what was measured of it.
    struct Kopie {
        int16_t* vzorky = nullptr;      // in one of its source's dily
        int32_t vrchol = 0;
        int64_t konec = -1;
    };
    // An open register file that segments are read from, and the segments
    // read from it so far that the budget let it keep.
    struct Zdroj {
        platform::Soubor soubor;
        std::string cesta;
        platform::Otisk otisk;          // as it was when opened
        Rozpocet* rozpocet = nullptr;   // set when it may keep copies
        int64_t drzi = 0;               // bytes of them, given back when it goes
        Pamatrejstriku::Soubor* pamet = nullptr;   // its segments from earlier runs
        std::unique_ptr<Kopie> kopie[pocetsegmentu];
        // The copies' samples, in pieces of memory of a few segments each;
        // volno segments are still free in the last one.
        std::vector<platform::Pamet> dily;
        size_t volno = 0;
        // Room for one more copy within the budget, or null.
        int16_t* misto();
        ~Zdroj() {
            if (rozpocet) rozpocet->rejstriky -= drzi;
        }
    };
    // A register's loop file, read and checked against the register on
    // first use.
    struct Smyckyrejstriku {
        Smycky smycky;
        bool precteno = false;
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
        uint64_t soucet = 0;            // soucet(), once asked
        bool masoucet = false;
        std::shared_ptr<Smyckyrejstriku> smycky;   // null: no loops
        // Once current: its samples, in the wavetable or in a kept copy
        // (kopie, which then keeps what is measured of it too).
        const int16_t* vzorky = nullptr;
        Kopie* kopie = nullptr;
        Pamatrejstriku::Segment* pamet = nullptr;   // where it is kept for later runs
    };

    int16_t* data(int64_t k) { return rejstrpole_.get() + k * delkatonu; }
    // Segment k current in the wavetable itself, for a read to overlay.
    int16_t* vtabulce(int64_t k);
    void zmervrchol(int64_t k);
    ssize_t ctidosegmentu(const Zdroj& z, int16_t* kam, int64_t bytes, int64_t offset);
    std::shared_ptr<Zdroj> zdroj(platform::Soubor f, const std::string& cesta);
    bool nactinajednou(platform::Soubor& f);
    std::shared_ptr<Smyckyrejstriku> nactismycky(const std::shared_ptr<Zdroj>& zdroj, int64_t velikost);
    void prectismycky(Smyckyrejstriku& m);
    void over(Smyckyrejstriku& s);

    // First, so that it outlives every source that gives memory back to it.
    Rozpocet rozpocet_;
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
    // The register files opened while segments could be kept, for the next
    // load of the same unchanged file.
    std::vector<std::shared_ptr<Zdroj>> zdroje_;
    Pamatrejstriku* pamet_ = nullptr;
};

}  // namespace skladba
