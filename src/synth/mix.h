// The mix: one signed 32-bit sum per sample. While the piece fits the memory
// budget (Meze::pametmixu) the sums are held in memory, in blocks made as
// notes reach them; a note that reaches past the budget moves them to the
// mix file (format in base/format.h) once, each block written and read back
// to verify it, and from then on the length of a piece does not depend on
// memory. The file is created and locked at the start of every run, also
// one that never leaves memory (it stays empty then), so that two runs on
// one mix file refuse each other whatever their lengths. In the file, notes
// add into a cache of a few mix blocks of fixed size; a block is written to
// the file, and read back to verify it, when it leaves the cache.
//
// Sums held in memory are not verified: they never leave the process, and
// the read-back check is there for what the kernel and the disk do to a
// write (short writes, a full disk, storage that returns other bytes).
//
// The synthesis has one entry point for the engine, mixuj(): a segment of the
// loaded register, scaled by a volume, added into the mix at a start sample.
// dopismix() then puts what the cache still holds into the file, after which
// the file holds the whole mix.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "base/format.h"
#include "base/stav.h"
#include "platform/system.h"
#include "synth/rejstrik.h"
#include "synth/smycka.h"
#include "synth/zaznammixu.h"

namespace skladba {

// What the mix counts over a run. The mix keeps it up to date as notes go
// in; the run reads it for the WAV's scale, the length of the piece and
// whether the mix file held what was written.
struct Vysledekmixu {
    double maximum = 0.0;      // largest absolute value any sum has held
    int64_t konecmixu = 0;     // samples: end of the segment that ends last
    int chyby = 0;             // repeated writes to the mix file
    int nesouhlasy = 0;        // sums that did not read back as written
    uint64_t prenosmixu = 0;   // bytes moved between the mix in memory or the cache and the mix file
};

// A sum that did not read back as written: the sum written, the sum read
// and its sample.
struct Nesouhlas {
    int32_t zapsano = 0;
    int32_t precteno = 0;
    int64_t vzorek = 0;
};

class Mix {
public:
    // meze bounds the traffic through the file and the memory held.
    explicit Mix(const Meze& meze);
    // Removes the mix file if it is still there.
    ~Mix();
    Mix(const Mix&) = delete;
    Mix& operator=(const Mix&) = delete;

    // Creates the mix file at cesta empty and takes its lock: never through
    // a link or into a special file (those are removed as names first), and
    // a file left by an interrupted run is emptied. A ChybaSouboru when it
    // cannot be created or another run holds it. azpotreba: a name no other
    // run can share, created only if the mix leaves memory.
    void otevri(const std::string& cesta, bool azpotreba = false);

    // Adds segment k of the wavetable, each sample times sila / 100, to the
    // sums from sample start on, for zni samples of the segment. The first
    // utlum of them go in as they are; from there to zni the segment fades to
    // silence along 1 - (3x^2 - 2x^3). A note that rings for its whole
    // segment has utlum = zni = delkatonu. Tracks the peak and the end of
    // the mix in vysledek(). A score error when a sum would leave
    // the 32-bit range; a file error when a block leaving the cache cannot
    // be written.
    // With a loop (smycka), zni may pass the segment's end: the note then
    // repeats the loop until it has sounded zni samples (synth/smycka.h).
    // zisk below 1 scales the segment's samples first (rounded to the
    // nearest), for one side of a voice placed in the stereo field.
    void mixuj(Rejstriky& rejstriky, int64_t start, int64_t k, int sila, int64_t utlum = delkatonu,
               int64_t zni = delkatonu, const Smycka* smycka = nullptr, double zisk = 1.0);
    // The same for a segment's samples given as they are, whose largest
    // |sample| is vrchol (a note mixed again from a record).
    void mixuj(const int16_t* segment, int32_t vrchol, int64_t start, int sila, int64_t utlum, int64_t zni,
               const Smycka* smycka, double zisk = 1.0);

    // Writes and verifies every block still in the cache, in file order, and
    // makes the file vysledek().konecmixu sums long. Called once, after the last note
    // and before the mix is read.
    void dopismix();

    // The sums that did not read back as written since this was last
    // emptied, in the order found. Blocks are verified as they leave the
    // cache, so they come during the notes or from dopismix(); the run
    // reports them.
    std::vector<Nesouhlas>& nesouhlasy() { return nesouhlasy_; }

    // Reads delkatonu sums of the mix starting at sample start into block;
    // where the mix ends (or the file has a gap) the sums are 0. Sees the
    // notes mixed only after dopismix().
    void ctimix(int64_t start, int32_t* block);
    int64_t delkamixu();   // bytes
    // The peak, the end of the mix and the counters so far.
    const Vysledekmixu& vysledek() const { return vysledek_; }
    // Whether the sums are still held in memory (no note has reached past
    // the budget).
    bool vpameti() const { return vpameti_; }
    // The budget shared with the registers' kept segments: the mix in
    // memory counts its sums there and moves to the file when the two
    // together would pass it.
    void nastavrozpocet(Rozpocet* rozpocet) { rozpocet_ = rozpocet; }
    // Removes the mix file (while still holding its lock), then closes it.
    void smazmix();

    // The input block of the WAV writer.
    int32_t* pole4() { return bloky_->pole4; }

    // Records what the mix takes, and makes only the stretch of samples
    // zaznam asks for (synth/zaznammixu.h); null: neither. Before the first
    // note.
    void nastavzaznam(Zaznammixu* zaznam);
    // The samples of one block of the mix, the unit of a recorded peak.
    static constexpr int64_t vzorkunablok() { return vzorkubloku; }

private:
    // The cache of mix blocks. Notes add into blocks held here; a block goes
    // to the mix file only when it leaves the cache, the least recently used
    // one when a note needs room, or all of them, in file order, at the end
    // of the run. Leaving, it is written and read back to verify what was
    // written. So a sum crosses the kernel about three times for every pass
    // of the score over it (read in, written, read back) instead of three
    // times for every note that sounds over it, and the memory stays the same
    // whatever the piece.
    //
    // Block j holds the sums of samples j * vzorkubloku to (j + 1) *
    // vzorkubloku. A segment starting at any sample covers parts of three or
    // four blocks. Small blocks keep a note that misses the cache (a score
    // jumping back by more than the cache holds) from reading and writing much
    // more than its own four seconds; 128 KiB is large enough for the system
    // calls to cost nothing next to the copying. 32 blocks (4 MiB) hold the 4
    // seconds a note spans with room for voices written over one another
    // phrase by phrase, in phrases of up to about 40 seconds; a smaller cache
    // makes such a score stream through the file once per voice. Beyond that a
    // larger cache buys little until it holds a whole voice, and every block
    // is resident memory: 4 MiB keeps a run near 19 MiB, whatever the piece.
    static constexpr int vzorkubloku = 32768;
    static constexpr int pocetbloku = 32;
    static_assert(vzorkubloku <= delkatonu, "a block is verified through testpole");

    struct Blok {
        int64_t cislo = -1;     // which block of the mix it holds; -1: none
        uint64_t pouzit = 0;    // when a note last added to it
        // The sums notes have added to: [zmenaod, zmenado) within the block.
        // Only these are written back, so that the file never grows past the
        // end of the segment that ends last.
        int zmenaod = vzorkubloku;
        int zmenado = 0;
    };
    // The buffers, allocated once and left uninitialised: each is written
    // before it is read.
    struct Bloky {
        alignas(64) int32_t sumy[pocetbloku][vzorkubloku];
        alignas(64) int32_t pole4[delkatonu];      // the WAV writer's input block
        alignas(64) int32_t testpole[delkatonu];   // the read-back block of the verification
        alignas(64) int16_t zkraceny[delkatonu];   // a segment cut short by a release
    };

    // A block of the mix held in memory, before the spill.
    struct Kus {
        int32_t* sumy = nullptr;   // in one of desky_
        int zmenaod = vzorkubloku;
        int zmenado = 0;
    };
    // Blocks in memory are allocated blokunadesce at a time, 2 MiB: one
    // allocation per 128 KiB block would cost the allocator a page of its
    // own for each (3 %, 8 MiB of a full budget), and a piece of 2 MiB can
    // be one huge page (platform::Pamet).
    static constexpr int blokunadesce = 16;
    static_assert(size_t{blokunadesce} * vzorkubloku * sizeof(int32_t) == platform::Pamet::velikostdilu);

    int32_t* sumy(const Blok& b) { return bloky_->sumy[&b - blok_]; }
    int32_t* pridejdo(int64_t cislo, int od, int kus);
    void vylij();
    void vytvor();
    void zapis(int64_t start, const int32_t* block, int count);
    void over(int64_t start, const int32_t* block, int count);
    void vyrad(Blok& b);
    Blok& blok(int64_t cislo);
    void pridejsegment(int64_t start, const int16_t* segment, int count, int sila, int32_t g = 32768);
    int zkratsegment(const int16_t* segment, int64_t utlum, int64_t zni);
    static int32_t zeslabeni(double zisk);

    Vysledekmixu vysledek_;
    const Meze& meze_;
    std::unique_ptr<Bloky> bloky_;
    Blok blok_[pocetbloku];
    uint64_t hodiny_ = 0;   // counts block uses, for the least recently used
    platform::Soubor osoubor_;
    std::string mixcesta_;
    bool odlozeno_ = false;   // the file is made when the mix leaves memory
    int znacka_ = -1;   // its slot among the files removed on interruption
    platform::Totoznost mixtotoznost_;   // the mix file as opened, removed by name only while it is still that
    std::vector<Nesouhlas> nesouhlasy_;
    // The mix in memory: block j of the mix is pamet_[j] (none where no note
    // has reached), at most limitbloku_ of them.
    bool vpameti_;
    Rozpocet* rozpocet_ = nullptr;
    int64_t limitbloku_;
    std::vector<Kus> pamet_;
    std::vector<platform::Pamet> desky_;
    Zaznammixu* zaznam_ = nullptr;
    int64_t oknood_ = 0;   // the stretch of samples made: all but with a record
    int64_t oknopo_ = INT64_MAX;
    void zaznamenej(Rejstriky& rejstriky, int64_t start, int64_t k, int sila, int64_t utlum, int64_t zni,
                    const Smycka* smycka);
    void kopirujsumy();
};

}  // namespace skladba
