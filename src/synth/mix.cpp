#include "synth/mix.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "base/chyba.h"
#include "base/stav.h"
#include "base/vzorky.h"
#include "platform/system.h"
#include "synth/jadro.h"
#include "synth/rejstrik.h"

namespace skladba {

int32_t pole4[delkatonu];
int32_t testpole[delkatonu];
HlaseniNesouhlasu hlaseninesouhlasu = nullptr;

namespace {

platform::Soubor osoubor;
std::string mixcesta;
platform::Totoznost mixtotoznost;   // the mix file as opened, removed by name only while it is still that

constexpr size_t bajtubloku = sizeof(int32_t) * delkatonu;

off_t bajtvzorku(int64_t sample) { return static_cast<off_t>(sample) * 4; }

}  // namespace

void otevrimix(const std::string& cesta) {
    mixcesta = cesta;
    // Signals wait while the file is created and locked, so that an
    // interruption either finds it marked for removal or never created; a
    // file that another run holds is never marked.
    platform::zadrzpreruseni();
    platform::Soubor f = platform::otevrizamceny(cesta.c_str());
    const int err = errno;
    if (f.otevren()) platform::oznacdocasny(platform::Docasny::mix, cesta);
    platform::pustpreruseni();
    errno = err;
    if (!f.otevren()) {
        if (errno == EWOULDBLOCK) {
            const bool tady = cesta.find('/') == std::string::npos;
            chybasouboru("another skladba run is using the mix file " + cesta + (tady ? " in this directory" : "") +
                         "; wait for it to finish");
        }
        if (errno == EBUSY) {
            chybasouboru("cannot create the mix file " + cesta + ": it keeps being replaced by another process");
        }
        chybasouboruerrno("cannot create the mix file", cesta);
    }
    mixtotoznost = platform::totoznost(f.fd());
    osoubor = std::move(f);   // from here on the run's clean-up removes it
    // Only a file left by an interrupted run needs emptying. Truncating a
    // new, empty one is not free: ext4 then flushes the whole mix to disk
    // when the file is closed, long after it was deleted.
    if (platform::velikost(osoubor.fd()) != 0 && !platform::nastavvelikost(osoubor.fd(), 0)) {
        chybasouboruerrno("cannot empty the mix file", cesta);
    }
}

void ctimix(int64_t start, int32_t* block) {
    const ssize_t n = platform::ctivse(osoubor.fd(), block, bajtubloku, bajtvzorku(start));
    if (n < 0) chybasouboruerrno("cannot read the mix file", mixcesta);
    const size_t sums = static_cast<size_t>(n) / 4;
    zlittleendian(block, sums);
    std::memset(block + sums, 0, (delkatonu - sums) * 4);
}

namespace {

// The cache of mix blocks. Notes add into blocks held here; a block goes to
// the mix file only when it leaves the cache, the least recently used one
// when a note needs room, or all of them, in file order, at the end of the
// run. Leaving, it is written and read back to verify what was written. So a
// sum crosses the kernel about three times for every pass of the score over
// it (read in, written, read back) instead of three times for every note that
// sounds over it, and the memory stays the same whatever the piece.
//
// Block j holds the sums of samples j * vzorkubloku to (j + 1) * vzorkubloku.
// A segment starting at any sample covers parts of three or four blocks.
// Small blocks keep a note that misses the cache (a score jumping back by more
// than the cache holds) from reading and writing much more than its own four
// seconds; 128 KiB is large enough for the system calls to cost nothing next
// to the copying. 32 blocks (4 MiB) hold the 4 seconds a note spans with
// room for voices written over one another phrase by phrase, in phrases of up
// to about 40 seconds; a smaller cache makes such a score stream through the
// file once per voice. Beyond that a larger cache buys little until it holds a
// whole voice, and every block is resident memory: 4 MiB keeps a run near
// 19 MiB, whatever the piece.
constexpr int vzorkubloku = 32768;
constexpr int pocetbloku = 32;
static_assert(vzorkubloku <= delkatonu, "a block is verified through testpole");

struct Blok {
    int64_t cislo = -1;     // which block of the mix it holds; -1: none
    uint64_t pouzit = 0;    // when a note last added to it
    // The sums notes have added to: [zmenaod, zmenado) within the block. Only
    // these are written back, so that the file never grows past the end of
    // the segment that ends last.
    int zmenaod = vzorkubloku;
    int zmenado = 0;
};

alignas(64) int32_t sumybloku[pocetbloku][vzorkubloku];
Blok bloky[pocetbloku];
uint64_t hodiny = 0;   // counts block uses, for the least recently used

int32_t* sumy(const Blok& b) { return sumybloku[&b - bloky]; }

// Writes count sums to the mix file at sample start, the rest again when the
// system writes only part of it (each repetition counted in chyby); a file
// error after pokusyzapisu attempts.
void zapismix(int64_t start, const int32_t* block, int count) {
    const size_t bytes = sizeof(int32_t) * static_cast<size_t>(count);
    // The sums go to the file little-endian; on a little-endian machine that
    // is the block itself.
    const int32_t* data = block;
    if constexpr (!littleendianstroj) {
        std::memcpy(testpole, block, bytes);
        dolittleendian(testpole, static_cast<size_t>(count));
        data = testpole;
    }
    if (!platform::zapisvse(osoubor.fd(), data, bytes, bajtvzorku(start), &stav.chyby)) {
        chybasouboruerrno("cannot write the mix file", mixcesta);
    }
}

// Reads the count sums just written at sample start back into testpole and
// reports every one that differs from block.
void overmix(int64_t start, const int32_t* block, int count) {
    const size_t bytes = sizeof(int32_t) * static_cast<size_t>(count);
    const ssize_t n = platform::ctivse(osoubor.fd(), testpole, bytes, bajtvzorku(start));
    if (n < 0) chybasouboruerrno("cannot read back the mix file", mixcesta);
    const size_t sums = static_cast<size_t>(n) / 4;
    zlittleendian(testpole, sums);
    std::memset(testpole + sums, 0, bytes - sums * 4);
    if (std::memcmp(testpole, block, bytes) == 0) return;

    for (int i = 0; i < count; ++i) {
        if (testpole[i] == block[i]) continue;
        ++stav.nesouhlasy;
        if (hlaseninesouhlasu) hlaseninesouhlasu(block[i], testpole[i], start + i);
    }
}

// The block leaves the cache: the sums notes added to are written to the
// file and verified. Whatever the file then holds is what a later note
// reads, also after a mismatch.
void vyrad(Blok& b) {
    if (b.zmenaod < b.zmenado) {
        const int64_t start = b.cislo * vzorkubloku + b.zmenaod;
        const int count = b.zmenado - b.zmenaod;
        zapismix(start, sumy(b) + b.zmenaod, count);
        overmix(start, sumy(b) + b.zmenaod, count);
    }
    b = Blok{};
}

// The cached block number cislo, read from the mix file into the cache if it
// is not there (the least recently used block leaving to make room). Where
// the file ends, or has a gap, its sums are 0.
Blok& blok(int64_t cislo) {
    ++hodiny;
    Blok* volny = nullptr;
    Blok* nejstarsi = nullptr;
    for (Blok& b : bloky) {
        if (b.cislo == cislo) {
            b.pouzit = hodiny;
            return b;
        }
        if (b.cislo < 0) {
            if (!volny) volny = &b;
        } else if (!nejstarsi || b.pouzit < nejstarsi->pouzit) {
            nejstarsi = &b;
        }
    }
    Blok& b = volny ? *volny : *nejstarsi;
    // A block that leaves is written and read back, a block that comes in is
    // read: a score whose voices keep jumping further than the cache holds
    // pays this for every note, and is stopped when it adds up beyond reason.
    stav.prenosmixu += sizeof sumybloku[0] * (volny ? 1 : 3);
    if (stav.prenosmixu > meze.prenosmixu) {
        const uint64_t mib = meze.prenosmixu >> 20;
        chybapartitury("score too costly to mix: its notes would move more than " +
                       (mib % 1024 == 0 ? std::to_string(mib / 1024) + " GiB" : std::to_string(mib) + " MiB") +
                       " through the mix file (voices jump back and forth further than the mix cache holds)");
    }
    if (!volny) vyrad(b);

    int32_t* data = sumy(b);
    const ssize_t n = platform::ctivse(osoubor.fd(), data, sizeof sumybloku[0], bajtvzorku(cislo * vzorkubloku));
    if (n < 0) chybasouboruerrno("cannot read the mix file", mixcesta);
    const size_t sums = static_cast<size_t>(n) / 4;
    zlittleendian(data, sums);
    std::memset(data + sums, 0, (vzorkubloku - sums) * 4);
    b.cislo = cislo;
    b.pouzit = hodiny;
    return b;
}

// Adds count samples of segment, each times sila / 100, into the cached
// blocks from sample start on; a score error when a sum would leave the
// 32-bit range.
void pridejsegment(int64_t start, const int16_t* segment, int count, int sila) {
    // Every sum in the mix was counted into maximum and a segment adds at
    // most 32768 to it, so below this bound no sum can overflow and the fast
    // kernel needs no checks.
    constexpr double bezpecnemaximum = 2147483647.0 - 32768.0;
    const bool bezpecne = stav.maximum <= bezpecnemaximum;
    const jadro::Pridej pridej = jadro::nejlepsi();
    uint32_t peak = 0;
    for (int hotovo = 0; hotovo < count;) {
        const int64_t vzorek = start + hotovo;
        Blok& b = blok(vzorek / vzorkubloku);
        const int od = static_cast<int>(vzorek % vzorkubloku);
        const int kus = std::min(vzorkubloku - od, count - hotovo);
        int32_t* block = sumy(b) + od;
        if (bezpecne) {
            peak = std::max(peak, pridej(segment + hotovo, sila, block, kus));
        } else if (!jadro::pridejkontrolovane(segment + hotovo, sila, block, kus, peak)) {
            chybapartitury("mix overflow: a sum of the voices here would leave the 32-bit range");
        }
        b.zmenaod = std::min(b.zmenaod, od);
        b.zmenado = std::max(b.zmenado, od + kus);
        hotovo += kus;
    }
    if (peak > stav.maximum) stav.maximum = peak;
}

// A segment cut short: its first delka samples as they are, then a fade to
// silence over dozvuk samples along 1 - (3x^2 - 2x^3), which starts and ends
// flat, so neither end clicks. Only + - * / go into it, so every machine
// makes the same samples.
alignas(64) int16_t zkraceny[delkatonu];

int zkratsegment(const int16_t* segment, int64_t delka, int64_t dozvuk) {
    const int64_t konec = std::min<int64_t>(delka + dozvuk, delkatonu);
    const int64_t plny = std::min<int64_t>(delka, delkatonu);
    std::memcpy(zkraceny, segment, sizeof(int16_t) * static_cast<size_t>(plny));
    for (int64_t i = plny; i < konec; ++i) {
        const double x = static_cast<double>(i - delka) / static_cast<double>(dozvuk);
        const double zisk = 1.0 - x * x * (3.0 - 2.0 * x);
        zkraceny[i] = static_cast<int16_t>(segment[i] * zisk);
    }
    return static_cast<int>(konec);
}

}  // namespace

void mixuj(int64_t start, int64_t k, int sila, int64_t delka, int64_t dozvuk) {
    const int16_t* segment = segmentrejstriku(k);
    // A note as long as its segment rings to the segment's own end; one that
    // ends earlier fades out, over a shorter fade where the segment ends
    // before the full one would.
    const bool cely = dozvuk <= 0 || delka >= delkatonu;
    if (!cely) dozvuk = std::min<int64_t>(dozvuk, delkatonu - delka);
    const int count = cely ? delkatonu : static_cast<int>(delka + dozvuk);
    // A segment that adds nothing at this volume (a rest, a silent note)
    // changes no sum and no peak: it only makes the mix longer, which the
    // final flush makes of the file.
    if (int64_t{vrcholsegmentu(k)} * sila >= 100) {
        pridejsegment(start, cely ? segment : zkraceny, cely ? count : zkratsegment(segment, delka, dozvuk), sila);
    }
    if (start + count > stav.konecmixu) stav.konecmixu = start + count;
}

void dopismix() {
    Blok* poradi[pocetbloku];
    int count = 0;
    for (Blok& b : bloky) {
        if (b.cislo >= 0) poradi[count++] = &b;
    }
    std::sort(poradi, poradi + count, [](const Blok* a, const Blok* b) { return a->cislo < b->cislo; });
    for (int i = 0; i < count; ++i) vyrad(*poradi[i]);

    // The mix ends where the segment that ends last ends, also when the last
    // sums were never written (they read as 0).
    const int64_t bajtu = bajtvzorku(stav.konecmixu);
    if (delkamixu() < bajtu && !platform::nastavvelikost(osoubor.fd(), bajtu)) {
        chybasouboruerrno("cannot extend the mix file", mixcesta);
    }
}

void vynulujmix() {
    for (Blok& b : bloky) b = Blok{};
    hodiny = 0;
}

int64_t delkamixu() {
    const int64_t size = platform::velikost(osoubor.fd());
    if (size < 0) chybasouboruerrno("cannot measure the mix file", mixcesta);
    return size;
}

void smazmix() {
    if (!osoubor.otevren()) return;
    // Removed and unmarked as one step: a signal in between must not remove
    // a file of the same name that another run has made since.
    platform::zadrzpreruseni();
    platform::smazsvuj(mixcesta.c_str(), mixtotoznost);
    platform::odznacdocasny(platform::Docasny::mix);
    platform::pustpreruseni();
    osoubor.zavri();
}

}  // namespace skladba
