#include "output/kodek.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <iconv.h>
#include <sndfile.h>
#include <soxr.h>
#include <vector>

#include "base/chyba.h"
#include "base/jmeno.h"
#include "base/format.h"
#include "base/utf8.h"
#include "output/formaty.h"
#include "platform/system.h"

namespace skladba {

namespace {

// The rate Opus is written at: it takes 8, 12, 16, 24 or 48 kHz, and the
// one above the renderer's rate loses nothing of it.
constexpr int rateopus = 48000;

int formatsndfile(Format f) {
    switch (f) {
        case Format::flac: return SF_FORMAT_FLAC | SF_FORMAT_PCM_16;
        case Format::vorbis: return SF_FORMAT_OGG | SF_FORMAT_VORBIS;
        case Format::opus: return SF_FORMAT_OGG | SF_FORMAT_OPUS;
        case Format::mp3: return SF_FORMAT_MPEG | SF_FORMAT_MPEG_LAYER_III;
        default: return 0;
    }
}

// Bytes of one encoding to UTF-8, or empty when they are not valid in it.
std::string doutf8(const std::string& bajty, const char* kodovani) {
    iconv_t cd = ::iconv_open("UTF-8", kodovani);
    if (cd == reinterpret_cast<iconv_t>(-1)) return "";
    std::string ven(bajty.size() * 4 + 8, '\0');
    char* in = const_cast<char*>(bajty.data());
    size_t zbyva = bajty.size();
    char* out = &ven[0];
    size_t misto = ven.size();
    const size_t r = ::iconv(cd, &in, &zbyva, &out, &misto);
    ::iconv_close(cd);
    if (r == static_cast<size_t>(-1)) return "";
    ven.resize(ven.size() - misto);
    return ven;
}

// A tag as it is written: UTF-8 (a byte that is not becomes U+FFFD, as the
// FLAC writer fails on anything else) without control characters other
// than tab, so that no escape sequence reaches whoever lists the tags.
std::string protag(const std::string& s) {
    std::string o;
    for (size_t i = 0; i < s.size();) {
        const auto b = static_cast<unsigned char>(s[i]);
        uint32_t kod = 0;
        const size_t n = b < 0x80 ? 1 : znakutf8(s, i, kod);
        if (n == 0) {
            o += "\xEF\xBF\xBD";
            ++i;
            continue;
        }
        // C0, DEL and C1 (U+0080 to U+009F, which some terminals read as escapes) go.
        if (n > 1 ? kod > 0x9F : (b >= 0x20 && b != 0x7F) || b == '\t') o.append(s, i, n);
        i += n;
    }
    return o;
}

// The sink: libsndfile writing through callbacks into the run's temporary
// file, or into memory for standard output.
class OdberKodek : public Odber {
public:
    // cil: with fd -1, the encoded bytes go there instead of to standard output.
    // stereo: the 48 kHz stereo of --master, given as 24-bit frames
    // (pridejramce), not the renderer's mono.
    OdberKodek(const Kodovani& k, int fd, std::string jmeno, std::string* cil = nullptr, bool stereo = false)
        : fd_(fd), jmeno_(std::move(jmeno)), cil_(cil), format_(k.format) {
        SF_INFO info{};
        info.samplerate = k.format == Format::opus || stereo ? rateopus : zaklad;
        info.channels = stereo ? 2 : 1;
        info.format = formatsndfile(k.format);
        if (stereo && k.format == Format::flac) info.format = SF_FORMAT_FLAC | SF_FORMAT_PCM_24;
        SF_VIRTUAL_IO io{};
        io.get_filelen = [](void* t) -> sf_count_t { return static_cast<OdberKodek*>(t)->delka_; };
        io.seek = [](sf_count_t o, int odkud, void* t) { return static_cast<OdberKodek*>(t)->posun(o, odkud); };
        io.read = [](void* p, sf_count_t n, void* t) { return static_cast<OdberKodek*>(t)->cti(p, n); };
        io.write = [](const void* p, sf_count_t n, void* t) { return static_cast<OdberKodek*>(t)->pis(p, n); };
        io.tell = [](void* t) -> sf_count_t { return static_cast<OdberKodek*>(t)->pozice_; };
        sf_ = sf_open_virtual(&io, SFM_WRITE, &info, this);
        if (!sf_) chyba(std::string(jmenoformatu(k.format)) + " at " + std::to_string(info.samplerate) +
                        " Hz cannot be written: " + sf_strerror(nullptr));
        if (ztratovy(k.format)) {
            // 0.0 is libsndfile's best and 1.0 its smallest. Its Opus scale
            // runs from 256 kbit/s down, far more than a mono piece needs:
            // there the qualities are 16 to 128 kbit/s.
            double uroven = 1.0 - k.kvalita / 10.0;
            if (k.format == Format::opus) uroven = (256.0 - (16.0 + 11.2 * k.kvalita)) / 250.0;
            sf_command(sf_, SFC_SET_COMPRESSION_LEVEL, &uroven, sizeof uroven);
            if (k.format == Format::mp3) {
                int rezim = SF_BITRATE_MODE_VARIABLE;
                sf_command(sf_, SFC_SET_BITRATE_MODE, &rezim, sizeof rezim);
            }
        }
        const std::string nazev = protag(nazevzvuku(k)), autor = protag(k.autor);
        if (!nazev.empty()) sf_set_string(sf_, SF_STR_TITLE, nazev.c_str());
        if (!autor.empty()) sf_set_string(sf_, SF_STR_ARTIST, autor.c_str());
        sf_set_string(sf_, SF_STR_SOFTWARE, "skladba");
        if (k.format == Format::opus && !stereo) {
            soxr_error_t e = nullptr;
            const soxr_io_spec_t io_spec = soxr_io_spec(SOXR_INT16_I, SOXR_INT16_I);
            const soxr_quality_spec_t q = soxr_quality_spec(SOXR_HQ, 0);
            soxr_ = soxr_create(zaklad, rateopus, 1, &e, &io_spec, &q, nullptr);
            if (!soxr_) chyba(std::string("cannot resample to 48 kHz: ") + e);
            prevzorkovane_.resize(static_cast<size_t>(delkatonu) * rateopus / zaklad + 1024);
        }
    }
    ~OdberKodek() override {
        if (soxr_) soxr_delete(soxr_);
        if (sf_) sf_close(sf_);
    }

    void pridej(const int16_t* vzorky, int pocet) override {
        if (!soxr_) {
            zapis(vzorky, pocet);
            return;
        }
        size_t hotovo = 0;
        while (hotovo < static_cast<size_t>(pocet)) {
            size_t vzato = 0, dano = 0;
            soxr_process(soxr_, vzorky + hotovo, static_cast<size_t>(pocet) - hotovo, &vzato,
                         prevzorkovane_.data(), prevzorkovane_.size(), &dano);
            zapis(prevzorkovane_.data(), static_cast<sf_count_t>(dano));
            hotovo += vzato;
            if (vzato == 0 && dano == 0) break;
        }
    }

    // Frames of two 24-bit samples.
    void pridejramce(const int32_t* ramce, int pocet) {
        ramce_.resize(2 * static_cast<size_t>(pocet));
        for (size_t i = 0; i < ramce_.size(); ++i) ramce_[i] = static_cast<int32_t>(static_cast<uint32_t>(ramce[i]) << 8);
        if (pocet > 0 && sf_writef_int(sf_, ramce_.data(), pocet) != pocet) {
            if (chybazapisu_) chybaerrno();
            chyba(sf_strerror(sf_));
        }
    }

    void dokonci() override {
        // What the resampler still holds of the end.
        for (size_t dano = 1; soxr_ && dano > 0;) {
            dano = 0;
            soxr_process(soxr_, nullptr, 0, nullptr, prevzorkovane_.data(), prevzorkovane_.size(), &dano);
            zapis(prevzorkovane_.data(), static_cast<sf_count_t>(dano));
        }
        // A piece without a sample is still a file of its format: FLAC and
        // MP3 would be empty files without their header written now, and an
        // Ogg Opus stream without an audio packet is malformed, so it gets
        // one frame (20 ms) of silence.
        if (zapsanovzorku_ == 0 && (format_ == Format::flac || format_ == Format::mp3)) {
            sf_command(sf_, SFC_UPDATE_HEADER_NOW, nullptr, 0);
        }
        if (zapsanovzorku_ == 0 && format_ == Format::opus) {
            const std::vector<int16_t> ticho(rateopus / 50, 0);
            zapis(ticho.data(), static_cast<sf_count_t>(ticho.size()));
        }
        SNDFILE* sf = sf_;
        sf_ = nullptr;
        const int r = sf_close(sf);
        if (chybazapisu_) chybaerrno();
        if (r != 0) chyba(sf_error_number(r));
        if (fd_ < 0 && cil_) {
            *cil_ = std::move(pamet_);
        } else if (fd_ < 0 && !platform::zapisproud(1, pamet_.data(), pamet_.size())) {
            chybazapisu_ = errno;
            chybaerrno();
        }
    }

private:
    [[noreturn]] void chyba(const std::string& proc) const { chybasouboru("cannot write " + jmeno_ + ": " + proc); }
    [[noreturn]] void chybaerrno() const { chybasouboru("cannot write", jmeno_, chybazapisu_); }

    template <typename T>
    void zapis(const T* vzorky, sf_count_t pocet) {
        if (pocet == 0) return;
        zapsanovzorku_ += pocet;
        if (sf_write_short(sf_, vzorky, pocet) != pocet) {
            if (chybazapisu_) chybaerrno();
            chyba(sf_strerror(sf_));
        }
    }

    sf_count_t posun(sf_count_t o, int odkud) {
        const sf_count_t z = odkud == SEEK_SET ? 0 : odkud == SEEK_CUR ? pozice_ : delka_;
        if (z + o < 0) return -1;
        pozice_ = z + o;
        return pozice_;
    }
    sf_count_t cti(void* p, sf_count_t n) {
        if (pozice_ >= delka_ || n <= 0) return 0;
        const sf_count_t k = std::min(n, delka_ - pozice_);
        if (fd_ < 0) {
            std::memcpy(p, pamet_.data() + pozice_, static_cast<size_t>(k));
        } else if (platform::ctivse(fd_, p, static_cast<size_t>(k), pozice_) != k) {
            return 0;
        }
        pozice_ += k;
        return k;
    }
    sf_count_t pis(const void* p, sf_count_t n) {
        if (n <= 0 || chybazapisu_) return 0;
        if (fd_ < 0) {
            if (static_cast<sf_count_t>(pamet_.size()) < pozice_ + n) pamet_.resize(static_cast<size_t>(pozice_ + n));
            std::memcpy(&pamet_[static_cast<size_t>(pozice_)], p, static_cast<size_t>(n));
        } else if (!platform::zapisvse(fd_, p, static_cast<size_t>(n), pozice_)) {
            chybazapisu_ = errno ? errno : EIO;
            return 0;
        }
        pozice_ += n;
        delka_ = std::max(delka_, pozice_);
        return n;
    }

    int fd_;
    std::string jmeno_;
    std::string* cil_;
    SNDFILE* sf_ = nullptr;
    soxr_t soxr_ = nullptr;
    std::vector<int16_t> prevzorkovane_;
    std::vector<int32_t> ramce_;
    std::string pamet_;
    sf_count_t pozice_ = 0, delka_ = 0;
    int chybazapisu_ = 0;   // errno of a write that failed
    sf_count_t zapsanovzorku_ = 0;
    Format format_;
};

// The same encoder for the stereo of --master.
class OdberKodekStereo : public OdberStereo {
public:
    OdberKodekStereo(const Kodovani& k, int fd, const std::string& jmeno) : kodek_(k, fd, jmeno, nullptr, true) {}
    void pridej(const int32_t* ramce, int pocet) override { kodek_.pridejramce(ramce, pocet); }
    void dokonci() override { kodek_.dokonci(); }

private:
    OdberKodek kodek_;
};

}  // namespace

std::unique_ptr<OdberStereo> otevrikodekstereo(const Kodovani& kodovani, int fd, const std::string& jmeno) {
    return std::make_unique<OdberKodekStereo>(kodovani, fd, jmeno);
}

std::unique_ptr<Odber> otevrikodek(const Kodovani& kodovani, int fd, const std::string& jmeno) {
    return std::make_unique<OdberKodek>(kodovani, fd, jmeno);
}

std::string zakodujwav(const Kodovani& kodovani, const std::string& wav, const std::string& jmeno) {
    // The samples of the WAV's data chunk: 16-bit, little-endian, mono.
    size_t od = 12, delka = 0;
    bool data = false;
    while (!data && od + 8 <= wav.size()) {
        const auto bajt = [&](size_t i) { return static_cast<size_t>(static_cast<unsigned char>(wav[od + 4 + i])); };
        const size_t kus = bajt(0) | bajt(1) << 8 | bajt(2) << 16 | bajt(3) << 24;
        if (wav.compare(od, 4, "data") == 0) {
            delka = std::min(kus, wav.size() - od - 8);
            data = true;
        }
        od += 8 + (data ? 0 : kus + (kus & 1));
    }
    if (!data) chybasouboru("cannot write " + jmeno + ": the WAV has no data chunk");
    std::string vysledek;
    OdberKodek odber(kodovani, -1, jmeno, &vysledek);
    std::vector<int16_t> blok;
    for (size_t i = 0; i + 1 < delka;) {
        blok.clear();
        for (; i + 1 < delka && blok.size() < 65536; i += 2) {
            const auto nizky = static_cast<unsigned char>(wav[od + i]);
            const auto vysoky = static_cast<unsigned char>(wav[od + i + 1]);
            blok.push_back(static_cast<int16_t>(static_cast<uint16_t>(nizky | vysoky << 8)));
        }
        odber.pridej(blok.data(), static_cast<int>(blok.size()));
    }
    odber.dokonci();
    return vysledek;
}

std::string zakodujmaster(const Kodovani& kodovani, const std::string& wav, const std::string& jmeno) {
    // The frames after the 44-byte header this program writes: two 24-bit
    // little-endian samples each.
    if (wav.size() < delkahlavicky) chybasouboru("cannot write " + jmeno + ": the WAV has no data");
    std::string vysledek;
    {
        OdberKodek odber(kodovani, -1, jmeno, &vysledek, true);
        std::vector<int32_t> blok;
        const auto* b = reinterpret_cast<const unsigned char*>(wav.data());
        for (size_t i = delkahlavicky; i + 6 <= wav.size();) {
            blok.clear();
            for (; i + 6 <= wav.size() && blok.size() < 2 * 65536; i += 6) {
                for (size_t j = i; j < i + 6; j += 3) {
                    const auto v = static_cast<uint32_t>(b[j] | b[j + 1] << 8 | b[j + 2] << 16);
                    blok.push_back(static_cast<int32_t>(v << 8) >> 8);
                }
            }
            odber.pridejramce(blok.data(), static_cast<int>(blok.size() / 2));
        }
        odber.dokonci();
    }
    return vysledek;
}

std::string nazevzvuku(const Kodovani& k) {
    if (!k.nazev.empty()) return k.nazev;
    std::string b = k.komentar;
    const bool utf16 = b.size() >= 2 && b[1] == '\0';
    // A UTF-16LE comment is cut after its ")", before its zero byte.
    if (utf16 && b.size() % 2) b += '\0';
    std::string text = doutf8(b, utf16 ? "UTF-16LE" : "WINDOWS-1250");
    if (!text.empty() && text.front() == '(') text.erase(0, 1);
    if (!text.empty() && text.back() == ')') text.pop_back();
    std::string nazev;
    bool mezera = false;
    for (char c : text) {
        if (c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v') {
            mezera = !nazev.empty();
            continue;
        }
        if (mezera) nazev += ' ';
        mezera = false;
        nazev += c;
    }
    if (!nazev.empty()) return nazev;
    const std::string& p = k.partitura;
    if (p.empty() || p == "<stdin>") return "";
    const std::string n = jmenobezpripony(p);
    // A name saved on a system that writes Windows-1250, as a comment.
    if (!jeutf8(n)) {
        const std::string prevedeno = doutf8(n, "WINDOWS-1250");
        if (!prevedeno.empty()) return prevedeno;
    }
    return n;
}

}  // namespace skladba
