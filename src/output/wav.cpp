#include "output/wav.h"

#include <cerrno>
#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

#include "base/chyba.h"
#include "base/vzorky.h"
#include "output/kodek.h"
#include "output/master.h"
#include "platform/system.h"

namespace skladba {

namespace {

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
void sestavhlavicku(unsigned char* out, const Hlavicka& hlavicka, int64_t mixbajtu) {
    const auto databajtu = static_cast<int32_t>(mixbajtu / 2);
    std::memcpy(out, hlavicka.bajty, 4);
    zapis32(out + 4, databajtu + 36);   // RIFF chunk size
    std::memcpy(out + 8, hlavicka.bajty + 8, 32);
    zapis32(out + 40, databajtu);       // data chunk size
}

}  // namespace

void prevedsumy(const int32_t* pole4, int16_t* pole2, int count, double maximum) {
    if (maximum == 0.0) {
        std::memset(pole2, 0, sizeof(int16_t) * count);
        return;
    }
    const double scale = static_cast<double>(maxsignal) / maximum;
    for (int i = 0; i < count; ++i) pole2[i] = vzorekwav(pole4[i], scale);
}

namespace {

[[noreturn]] void chybaproudu() {
    chybasouboru("cannot write the WAV to standard output: " + popischyby(errno));
}

// Where the WAV goes: a temporary file written by position, memory, or a
// stream.
struct Cil {
    Rozpracovany* soubor;            // null: standard output, or memory
    std::string* pamet = nullptr;
    void zapis(const void* data, size_t bytes, off_t at) const {
        if (pamet) {
            pamet->replace(static_cast<size_t>(at), bytes, static_cast<const char*>(data), bytes);
        } else if (!soubor) {
            if (!platform::zapisproud(1, data, bytes)) chybaproudu();
        } else if (!platform::zapisvse(soubor->fd(), data, bytes, at)) {
            soubor->chyba();
        }
    }
};

// The WAV as a sink: its header at once, then the samples little-endian.
class OdberWav : public Odber {
public:
    OdberWav(const Cil& cil, const Hlavicka& hlavicka, int64_t mixbajtu) : cil_(cil) {
        unsigned char hlavicka44[delkahlavicky];
        sestavhlavicku(hlavicka44, hlavicka, mixbajtu);
        cil_.zapis(hlavicka44, sizeof hlavicka44, 0);
    }
    void pridej(const int16_t* vzorky, int pocet) override {
        const size_t bajtu = sizeof(int16_t) * static_cast<size_t>(pocet);
        if constexpr (littleendianstroj) {
            cil_.zapis(vzorky, bajtu, out_);
        } else {
            blok_.assign(vzorky, vzorky + pocet);
            dolittleendian(blok_.data(), blok_.size());
            cil_.zapis(blok_.data(), bajtu, out_);
        }
        out_ += static_cast<off_t>(bajtu);
    }
    void dokonci() override {}

private:
    Cil cil_;
    off_t out_ = delkahlavicky;
    std::vector<int16_t> blok_;
};

#ifdef SKLADBA_HAVE_MASTER
// The WAV of --master: 24-bit stereo PCM at 48 kHz, its header written
// whole at once, since mastering knows the length before the first frame.
class OdberWav24 : public OdberStereo {
public:
    OdberWav24(const Cil& cil, int64_t ramcu) : cil_(cil) {
        const int64_t databajtu = ramcu * 6;
        if (databajtu + 36 > 0xFFFFFFFFLL) chybasouboru("cannot write a WAV of more than 4 GiB: the piece is too long for --master's WAV (write FLAC)");
        unsigned char h[delkahlavicky];
        std::memcpy(h, "RIFF", 4);
        zapis32(h + 4, static_cast<int32_t>(static_cast<uint32_t>(databajtu + 36)));
        std::memcpy(h + 8, "WAVEfmt ", 8);
        zapis32(h + 16, 16);
        h[20] = 1, h[21] = 0;   // PCM
        h[22] = 2, h[23] = 0;   // two channels
        zapis32(h + 24, ratemasteru);
        zapis32(h + 28, ratemasteru * 6);
        h[32] = 6, h[33] = 0;   // bytes a frame
        h[34] = 24, h[35] = 0;  // bits a sample
        std::memcpy(h + 36, "data", 4);
        zapis32(h + 40, static_cast<int32_t>(static_cast<uint32_t>(databajtu)));
        cil_.zapis(h, sizeof h, 0);
    }
    void pridej(const int32_t* ramce, int pocet) override {
        const size_t bajtu = 6 * static_cast<size_t>(pocet);
        // One byte more: a sample's low three bytes go in as a 4-byte store
        // where the processor stores little-endian, the fourth overwritten
        // by the next sample's.
        blok_.resize(bajtu + 1);
        for (size_t i = 0; i < 2 * static_cast<size_t>(pocet); ++i) {
            const auto v = static_cast<uint32_t>(ramce[i]);
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
            std::memcpy(&blok_[3 * i], &v, 4);
#else
            blok_[3 * i] = static_cast<unsigned char>(v);
            blok_[3 * i + 1] = static_cast<unsigned char>(v >> 8);
            blok_[3 * i + 2] = static_cast<unsigned char>(v >> 16);
#endif
        }
        cil_.zapis(blok_.data(), bajtu, out_);
        out_ += static_cast<off_t>(bajtu);
    }
    void dokonci() override {}

private:
    Cil cil_;
    off_t out_ = delkahlavicky;
    std::vector<unsigned char> blok_;
};
#endif

void zapisdata(const Cil& cil, const ZdrojWav& z) {
#ifdef SKLADBA_HAVE_MASTER
    if (z.pravy && z.kodovani) {
        Masterovani m(z.mix, *z.pravy, z.mixbajtu / 4, z.maximum, z.kodovani->master);
        if (Master::Mereni* mereni = z.kodovani->master.mereni.get()) {
            mereni->maximum = z.maximum;
            mereni->zisk = m.zprava().zisk;
            mereni->hotovo = true;
        }
        std::unique_ptr<OdberStereo> odber;
        if (z.kodovani->format == Format::wav) {
            odber = std::make_unique<OdberWav24>(cil, m.ramcu());
        } else {
            odber = otevrikodekstereo(*z.kodovani, cil.soubor ? cil.soubor->fd() : -1,
                                      cil.soubor ? cil.soubor->cil() : std::string("standard output"));
        }
        m.zapis(*odber, z.obalka);
        return;
    }
#endif
    const bool wav = !z.kodovani || z.kodovani->format == Format::wav;
    std::unique_ptr<Odber> odber;
    if (wav) {
        odber = std::make_unique<OdberWav>(cil, z.hlavicka, z.mixbajtu);
    } else {
        odber = otevrikodek(*z.kodovani, cil.soubor ? cil.soubor->fd() : -1,
                            cil.soubor ? cil.soubor->cil() : std::string("standard output"));
    }
    prevedmix(z.mix, z.mixbajtu, z.maximum, z.obalka, *odber);
}

}  // namespace

void prevedmix(Mix& mix, int64_t mixbajtu, double maximum, Obalka* obalka, Odber& odber) {
    int32_t* pole4 = mix.pole4();
    std::vector<int16_t> blok(delkatonu);   // the output block
    int16_t* pole2 = blok.data();
    if (obalka) obalka->zacni(mixbajtu / 4);
    for (int64_t sample = 0; sample * 4 < mixbajtu; sample += delkatonu) {
        mix.ctimix(sample, pole4);
        const int64_t left = mixbajtu / 4 - sample;
        const int count = left < delkatonu ? static_cast<int>(left) : delkatonu;
        prevedsumy(pole4, pole2, count, maximum);
        if (obalka) obalka->pridej(sample, pole2, count);
        odber.pridej(pole2, count);
    }
    odber.dokonci();
}

Hlavicka nactihlavicku(const std::string& cesta) {
    Hlavicka h;
    unsigned char* hlavicka = h.bajty;
    platform::Soubor f = platform::otevriprocteni(cesta.c_str());
    if (!f.otevren()) chybasouboruerrno("cannot open the WAV header template", cesta);
    const ssize_t n = platform::ctivse(f.fd(), hlavicka, sablonabajtu, 0);
    if (n < 0) chybasouboruerrno("cannot read the WAV header template", cesta);
    if (n < static_cast<ssize_t>(sablonabajtu)) {
        chybasouboru("the WAV header template " + cesta + " is shorter than 40 bytes");
    }
    // Its other fields are copied as they stand, but a file without these
    // tags is no WAV header, and the output would be no WAV.
    for (const ZnackaHlavicky& z : znackyhlavicky) {
        if (std::memcmp(hlavicka + z.kde, z.text, 4) != 0) {
            chybasouboru("the WAV header template " + cesta + " is not a RIFF/WAVE PCM header: \"" +
                         z.text + "\" is missing at byte " + std::to_string(z.kde));
        }
    }
    // Its format fields go into every WAV as they stand: they must say what
    // the samples are, or a player would read them as something else.
    for (const PoleHlavicky& p : polehlavicky) {
        uint32_t hodnota = 0;
        for (size_t i = p.bajtu; i-- > 0;) hodnota = hodnota << 8 | hlavicka[p.kde + i];
        if (hodnota != p.hodnota) {
            chybasouboru("the WAV header template " + cesta + " is not for 16-bit mono PCM at " +
                         std::to_string(zaklad) + " Hz: its " + p.jmeno + " (bytes " + std::to_string(p.kde) + "-" +
                         std::to_string(p.kde + p.bajtu - 1) + ") is " + std::to_string(hodnota) + ", not " +
                         std::to_string(p.hodnota));
        }
    }
    return h;
}

void pripravvystup(const std::string& vystup) {
    if (vystup == "-") return;
    switch (platform::druh(vystup.c_str())) {
        case platform::Druh::odkaz:
            chybasouboru("refusing to write " + vystup +
                         ": it is a symbolic link (remove it or name another output)");
        case platform::Druh::slozka:
            chybasouboru("cannot write", vystup, EISDIR);
        case platform::Druh::jiny:
            chybasouboru("refusing to write " + vystup + ": it is not a regular file");
        default:
            break;
    }
}

std::string wavvpameti(const ZdrojWav& zdroj) {
    std::string wav;
    wav.reserve(static_cast<size_t>(delkahlavicky + zdroj.mixbajtu / 2));
    zapisdata(Cil{nullptr, &wav}, zdroj);
    return wav;
}

std::string wavzesum(const int32_t* sumy, int64_t pocet, double maximum, const Hlavicka& hlavicka) {
    std::string wav(static_cast<size_t>(delkahlavicky + pocet * 2), '\0');
    auto* out = reinterpret_cast<unsigned char*>(wav.data());
    sestavhlavicku(out, hlavicka, pocet * 4);
    std::vector<int16_t> blok(delkatonu);
    for (int64_t i = 0; i < pocet; i += delkatonu) {
        const int count = static_cast<int>(std::min<int64_t>(delkatonu, pocet - i));
        prevedsumy(sumy + i, blok.data(), count, maximum);
        if constexpr (!littleendianstroj) dolittleendian(blok.data(), static_cast<size_t>(count));
        std::memcpy(out + delkahlavicky + i * 2, blok.data(), sizeof(int16_t) * static_cast<size_t>(count));
    }
    return wav;
}

void zapiswav(const ZdrojWav& zdroj, const std::string& vystup, bool uspechjekonecny, const Souputnici& souputnici,
              bool nadisk) {
    if (vystup == "-") {
        zapisdata(Cil{nullptr}, zdroj);
        const std::vector<Rozpracovany*> dalsi = souputnici ? souputnici() : std::vector<Rozpracovany*>{};
        const platform::ZadrzenaPreruseni zadrzeno;
        for (Rozpracovany* r : dalsi) r->prejmenuj();
        return;
    }
    Rozpracovany wav(vystup);
    zapisdata(Cil{&wav}, zdroj);
    wav.dokonci(nadisk);   // on disk before it replaces the previous WAV
    const std::vector<Rozpracovany*> dalsi = souputnici ? souputnici() : std::vector<Rozpracovany*>{};

    // The WAV's rename makes the run a success: a signal must not fall
    // between it and the mark that says so. Everything that could stop a
    // rename is looked at first, so that the files change together or not
    // at all.
    const platform::ZadrzenaPreruseni zadrzeno;
    std::string prekazka = wav.prekazka();
    for (Rozpracovany* r : dalsi) {
        if (prekazka.empty()) prekazka = r->prekazka();
    }
    if (!prekazka.empty()) chybasouboru(prekazka);
    wav.prejmenuj();
    if (uspechjekonecny) platform::oznacuspech();
    // What fails now fails after the WAV is in place: the run says so.
    std::string chyba;
    for (Rozpracovany* r : dalsi) {
        try {
            r->prejmenuj();
        } catch (const ChybaSouboru& e) {
            if (chyba.empty()) chyba = std::string(e.what()) + " (" + vystup + " was written)";
        }
    }
    if (!chyba.empty()) chybasouboru(chyba);
}

}  // namespace skladba
