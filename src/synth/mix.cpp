#include "synth/mix.h"

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
    // Only a file left by an interrupted run needs emptying. Truncating a
    // new, empty one is not free: ext4 then flushes the whole mix to disk
    // when the file is closed, long after it was deleted.
    if (platform::velikost(f.fd()) != 0 && !platform::zkrat(f.fd())) {
        chybasouboruerrno("cannot empty the mix file", cesta);
    }
    osoubor = std::move(f);
}

void ctimix(int64_t start, int32_t* block) {
    const ssize_t n = platform::ctivse(osoubor.fd(), block, bajtubloku, bajtvzorku(start));
    if (n < 0) chybasouboruerrno("cannot read the mix file", mixcesta);
    const size_t sums = static_cast<size_t>(n) / 4;
    zlittleendian(block, sums);
    std::memset(block + sums, 0, (delkatonu - sums) * 4);
}

namespace {

// Adds segment k to the block read from the mix; a score error when a sum
// would leave the 32-bit range.
void pridejsegment(int64_t k, int sila) {
    const int16_t* segment = segmentrejstriku(k);
    // Every sum in the mix file was counted into maximum and a segment adds at
    // most 32768 to it, so below this bound no sum can overflow and the fast
    // kernel needs no checks.
    constexpr double bezpecnemaximum = 2147483647.0 - 32768.0;
    uint32_t peak = 0;
    if (stav.maximum <= bezpecnemaximum) {
        peak = jadro::nejlepsi()(segment, sila, pole4);
    } else if (!jadro::pridejkontrolovane(segment, sila, pole4, peak)) {
        chybapartitury("mix overflow: a sum of the voices here would leave the 32-bit range");
    }
    if (peak > stav.maximum) stav.maximum = peak;
}

void zapismix(int64_t start, const int32_t* block) {
    // The block goes to the file little-endian; on a little-endian machine
    // that is the block itself.
    const int32_t* data = block;
    if constexpr (!littleendianstroj) {
        std::memcpy(testpole, block, bajtubloku);
        dolittleendian(testpole, delkatonu);
        data = testpole;
    }
    int err = 0;
    ssize_t n = 0;
    for (int attempt = 0; attempt < platform::pokusyzapisu; ++attempt) {
        ++stav.chyby;
        n = platform::zapisjednou(osoubor.fd(), data, bajtubloku, bajtvzorku(start));
        if (n == static_cast<ssize_t>(bajtubloku)) {
            --stav.chyby;
            return;
        }
        err = n < 0 ? errno : 0;
    }
    if (err == 0) {
        // A short write does not say why; writing the rest does (a full
        // disk, a file-size limit).
        const ssize_t rest = platform::zapisjednou(osoubor.fd(), reinterpret_cast<const char*>(data) + n,
                                                   bajtubloku - static_cast<size_t>(n), bajtvzorku(start) + n);
        if (rest < 0) err = errno;
    }
    if (err == 0) {
        chybasouboru("cannot write the mix file " + mixcesta + ": the system keeps writing only part of each block");
    }
    chybasouboru("cannot write the mix file", mixcesta, err);
}

void overmix(int64_t start, const int32_t* block) {
    const ssize_t n = platform::ctivse(osoubor.fd(), testpole, bajtubloku, bajtvzorku(start));
    if (n < 0) chybasouboruerrno("cannot read back the mix file", mixcesta);
    const size_t sums = static_cast<size_t>(n) / 4;
    zlittleendian(testpole, sums);
    std::memset(testpole + sums, 0, (delkatonu - sums) * 4);
    if (std::memcmp(testpole, block, bajtubloku) == 0) return;

    for (int i = 0; i < delkatonu; ++i) {
        if (testpole[i] == block[i]) continue;
        ++stav.nesouhlasy;
        if (hlaseninesouhlasu) hlaseninesouhlasu(block[i], testpole[i], start + i);
    }
}

}  // namespace

void mixuj(int64_t start, int64_t k, int sila) {
    // A segment that adds nothing at this volume (a rest, a silent note)
    // changes no sum and no peak: it only makes the mix longer.
    segmentrejstriku(k);
    if (int64_t{vrcholsegmentu(k)} * sila < 100) {
        if (start + delkatonu > stav.konecmixu) stav.konecmixu = start + delkatonu;
        return;
    }
    ctimix(start, pole4);
    pridejsegment(k, sila);
    zapismix(start, pole4);
    overmix(start, pole4);
    if (start + delkatonu > stav.konecmixu) stav.konecmixu = start + delkatonu;
}

int64_t delkamixu() {
    int64_t size = platform::velikost(osoubor.fd());
    if (size < 0) chybasouboruerrno("cannot measure the mix file", mixcesta);
    // Silent notes at the end were never written: the mix still runs to the
    // end of the segment that ends last, and reads as zeros there.
    if (size < stav.konecmixu * 4) {
        if (!platform::prodluz(osoubor.fd(), stav.konecmixu * 4)) {
            chybasouboruerrno("cannot extend the mix file", mixcesta);
        }
        size = stav.konecmixu * 4;
    }
    return size;
}

void smazmix() {
    if (!osoubor.otevren()) return;
    // Removed and unmarked as one step: a signal in between must not remove
    // a file of the same name that another run has made since.
    platform::zadrzpreruseni();
    platform::smaz(mixcesta.c_str());
    platform::odznacdocasny(platform::Docasny::mix);
    platform::pustpreruseni();
    osoubor.zavri();
}

}  // namespace skladba
