#include "synth/mix.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "engine/chyba.h"
#include "engine/stav.h"
#include "platform/system.h"
#include "synth/vzorky.h"

namespace skladba {

namespace {

platform::File osoubor;

constexpr size_t kBlokBajtu = sizeof(int32_t) * delkatonu;

off_t bajtVzorku(int64_t sample) { return static_cast<off_t>(sample) * 4; }

}  // namespace

void otevrimix() {
    // Another run may be between opening and locking, or may have just
    // removed the file: take the lock, then make sure the path still names
    // the file we locked.
    for (int attempt = 0; attempt < 3; ++attempt) {
        platform::File f = platform::openForUpdate(kMixSoubor);
        if (!f.isOpen()) chybaSouboruErrno("cannot create the mix file", kMixSoubor);
        if (!platform::lockExclusive(f.fd())) {
            if (errno == EWOULDBLOCK) {
                chybaSouboru("another skladba run is using the mix file _.tmp in this directory; "
                             "wait for it to finish");
            }
            chybaSouboruErrno("cannot lock the mix file", kMixSoubor);
        }
        if (!platform::sameFile(f.fd(), kMixSoubor)) continue;
        // From here on an interruption removes the file.
        platform::markScratch(platform::Scratch::mix, kMixSoubor);
        // Only a file left by an interrupted run needs emptying. Truncating a
        // new, empty one is not free: ext4 then flushes the whole mix to disk
        // when the file is closed, long after it was deleted.
        if (platform::fileSize(f.fd()) != 0 && !platform::truncateFile(f.fd())) {
            chybaSouboruErrno("cannot empty the mix file", kMixSoubor);
        }
        osoubor = std::move(f);
        return;
    }
    chybaSouboru("cannot create the mix file _.tmp: it keeps being replaced by another process");
}

bool mixOtevren() { return osoubor.isOpen(); }
int mixDeskriptor() { return osoubor.fd(); }

void ctimix(int64_t start, int32_t* block) {
    const ssize_t n = platform::readFully(osoubor.fd(), block, kBlokBajtu, bajtVzorku(start));
    if (n < 0) chybaSouboruErrno("cannot read the mix file", kMixSoubor);
    const size_t sums = static_cast<size_t>(n) / 4;
    zLittleEndian(block, sums);
    std::memset(block + sums, 0, (delkatonu - sums) * 4);
}

void zapismix(int64_t start, const int32_t* block) {
    // The block goes to the file little-endian; on a little-endian machine
    // that is the block itself.
    const int32_t* data = block;
    if constexpr (!kLittleEndianHost) {
        std::memcpy(testpole, block, kBlokBajtu);
        doLittleEndian(testpole, delkatonu);
        data = testpole;
    }
    int err = 0;
    for (int attempt = 0; attempt < platform::kWriteAttempts; ++attempt) {
        ++stav.chyby;
        const ssize_t n = platform::writeOnce(osoubor.fd(), data, kBlokBajtu, bajtVzorku(start));
        if (n == static_cast<ssize_t>(kBlokBajtu)) {
            --stav.chyby;
            return;
        }
        err = n < 0 ? errno : 0;
    }
    if (err == 0) {
        chybaSouboru("cannot write the mix file _.tmp: the system keeps writing only part of each block");
    }
    errno = err;
    chybaSouboruErrno("cannot write the mix file", kMixSoubor);
}

void overmix(int64_t start, const int32_t* block) {
    const ssize_t n = platform::readFully(osoubor.fd(), testpole, kBlokBajtu, bajtVzorku(start));
    if (n < 0) chybaSouboruErrno("cannot read back the mix file", kMixSoubor);
    const size_t sums = static_cast<size_t>(n) / 4;
    zLittleEndian(testpole, sums);
    std::memset(testpole + sums, 0, (delkatonu - sums) * 4);
    if (std::memcmp(testpole, block, kBlokBajtu) == 0) return;

    const bool interactive = platform::stdinIsTerminal();
    for (int i = 0; i < delkatonu; ++i) {
        if (testpole[i] == block[i]) continue;
        ++stav.nesouhlasy;
        std::printf("\n problem %d %d %lld", block[i], testpole[i], static_cast<long long>(start) + i);
        std::fflush(stdout);
        if (interactive) platform::waitForKey();
    }
}

int64_t delkamixu() {
    const int64_t size = platform::fileSize(osoubor.fd());
    if (size < 0) chybaSouboruErrno("cannot measure the mix file", kMixSoubor);
    return size;
}

void smazmix() {
    if (!osoubor.isOpen()) return;
    platform::removeFile(kMixSoubor);
    platform::unmarkScratch(platform::Scratch::mix);
    osoubor.close();
}

}  // namespace skladba
