#include "output/wav.h"

#include <cerrno>
#include <cstring>

#include "base/chyba.h"
#include "base/stav.h"
#include "base/vzorky.h"
#include "platform/system.h"
#include "synth/mix.h"

namespace skladba {

int16_t pole2[delkatonu];

namespace {

// The header template: bytes 0-3 and 8-39 are copied into every WAV.
unsigned char hlavicka[sablonabajtu];

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
void sestavhlavicku(unsigned char* out, int64_t mixbajtu) {
    const auto databajtu = static_cast<int32_t>(mixbajtu / 2);
    std::memcpy(out, hlavicka, 4);
    zapis32(out + 4, databajtu + 36);   // RIFF chunk size
    std::memcpy(out + 8, hlavicka + 8, 32);
    zapis32(out + 40, databajtu);       // data chunk size
}

void prevedblok(int count, double scale) {
    if (stav.maximum == 0.0) {
        std::memset(pole2, 0, sizeof(int16_t) * count);
        return;
    }
    for (int i = 0; i < count; ++i) pole2[i] = vzorekwav(pole4[i], scale);
}

[[noreturn]] void chybazapisu() {
    const int err = errno;
    platform::smaz(wavrozpracovany);
    platform::odznacdocasny(platform::Docasny::wav);
    chybasouboru("cannot write", wavsoubor, err);
}

}  // namespace

void nactihlavicku(const std::string& cesta) {
    platform::Soubor f = platform::otevriprocteni(cesta.c_str());
    if (!f.otevren()) chybasouboruerrno("cannot open the WAV header template", cesta);
    const ssize_t n = platform::ctivse(f.fd(), hlavicka, sizeof hlavicka, 0);
    if (n < 0) chybasouboruerrno("cannot read the WAV header template", cesta);
    if (n < static_cast<ssize_t>(sizeof hlavicka)) {
        chybasouboru("the WAV header template " + cesta + " is shorter than 40 bytes");
    }
}

void zapiswav(int64_t mixbajtu) {
    platform::oznacdocasny(platform::Docasny::wav, wavrozpracovany);
    platform::Soubor wav = platform::vytvorprozapis(wavrozpracovany);
    if (!wav.otevren()) chybazapisu();

    unsigned char vystup[delkahlavicky];
    sestavhlavicku(vystup, mixbajtu);
    if (!platform::zapisvse(wav.fd(), vystup, sizeof vystup, 0)) chybazapisu();

    const double scale = static_cast<double>(maxsignal) / stav.maximum;
    off_t out = delkahlavicky;
    for (int64_t sample = 0; sample * 4 < mixbajtu; sample += delkatonu) {
        ctimix(sample, pole4);
        const int64_t left = mixbajtu / 4 - sample;
        const int count = left < delkatonu ? static_cast<int>(left) : delkatonu;
        prevedblok(count, scale);
        dolittleendian(pole2, static_cast<size_t>(count));
        if (!platform::zapisvse(wav.fd(), pole2, sizeof(int16_t) * count, out)) chybazapisu();
        out += static_cast<off_t>(sizeof(int16_t)) * count;
    }
    // On disk before it replaces the previous aktualni.wav.
    if (!platform::synchronizuj(wav.fd())) chybazapisu();
    wav.zavri();
    if (!platform::prejmenuj(wavrozpracovany, wavsoubor)) chybazapisu();
    platform::odznacdocasny(platform::Docasny::wav);
}

}  // namespace skladba
