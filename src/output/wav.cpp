#include "output/wav.h"

#include <cerrno>
#include <cstring>

#include "engine/chyba.h"
#include "engine/stav.h"
#include "platform/system.h"
#include "synth/mix.h"
#include "synth/vzorky.h"

namespace skladba {

namespace {

constexpr int kDelkaHlavicky = 44;

void zapis32(unsigned char* at, int32_t value) {
    const auto v = static_cast<uint32_t>(value);
    at[0] = static_cast<unsigned char>(v);
    at[1] = static_cast<unsigned char>(v >> 8);
    at[2] = static_cast<unsigned char>(v >> 16);
    at[3] = static_cast<unsigned char>(v >> 24);
}

// Template bytes 0-3 ("RIFF") and 8-39 (format and "data") as they stand;
// the two sizes follow from the mix length: every 4-byte sum becomes a
// 2-byte sample.
void sestavhlavicku(unsigned char* out, int64_t mixBytes) {
    const auto dataBytes = static_cast<int32_t>(mixBytes / 2);
    std::memcpy(out, stav.hlavicka, 4);
    zapis32(out + 4, dataBytes + 36);
    std::memcpy(out + 8, stav.hlavicka + 8, 32);
    zapis32(out + 40, dataBytes);
}

void prevedblok(int count, double scale) {
    if (stav.maximum == 0.0) {
        std::memset(pole2, 0, sizeof(int16_t) * count);
        return;
    }
    for (int i = 0; i < count; ++i) pole2[i] = vzorekWav(pole4[i], scale);
}

[[noreturn]] void chybaZapisu() {
    const int err = errno;
    platform::removeFile(kWavRozpracovany);
    platform::unmarkScratch(platform::Scratch::wav);
    errno = err;
    chybaSouboruErrno("cannot write", kWavSoubor);
}

}  // namespace

void nactihlavicku() {
    platform::File f = platform::openForReading(kSablonaHlavicky);
    if (!f.isOpen()) chybaSouboruErrno("cannot open the WAV header template", kSablonaHlavicky);
    const ssize_t n = platform::readFully(f.fd(), stav.hlavicka, sizeof stav.hlavicka, 0);
    if (n < 0) chybaSouboruErrno("cannot read the WAV header template", kSablonaHlavicky);
    if (n < static_cast<ssize_t>(sizeof stav.hlavicka)) {
        chybaSouboru(std::string("the WAV header template ") + kSablonaHlavicky +
                     " is shorter than 40 bytes");
    }
}

void zapiswav(int64_t mixBytes) {
    platform::markScratch(platform::Scratch::wav, kWavRozpracovany);
    platform::File wav = platform::createForWriting(kWavRozpracovany);
    if (!wav.isOpen()) chybaZapisu();

    unsigned char hlavicka[kDelkaHlavicky];
    sestavhlavicku(hlavicka, mixBytes);
    if (!platform::writeFully(wav.fd(), hlavicka, sizeof hlavicka, 0)) chybaZapisu();

    const double scale = static_cast<double>(maxsignal) / stav.maximum;
    off_t out = kDelkaHlavicky;
    for (int64_t sample = 0; sample * 4 < mixBytes; sample += delkatonu) {
        ctimix(sample, pole4);
        const int64_t left = mixBytes / 4 - sample;
        const int count = left < delkatonu ? static_cast<int>(left) : delkatonu;
        prevedblok(count, scale);
        doLittleEndian(pole2, static_cast<size_t>(count));
        if (!platform::writeFully(wav.fd(), pole2, sizeof(int16_t) * count, out)) chybaZapisu();
        out += static_cast<off_t>(sizeof(int16_t)) * count;
    }
    // On disk before it replaces the previous aktualni.wav.
    if (!platform::syncFile(wav.fd())) chybaZapisu();
    wav.close();
    if (!platform::renameFile(kWavRozpracovany, kWavSoubor)) chybaZapisu();
    platform::unmarkScratch(platform::Scratch::wav);
}

}  // namespace skladba
