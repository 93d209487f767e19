#include "score/ctenar.h"

#include <algorithm>
#include <string>

#include "base/chyba.h"

namespace skladba {

void Partitura::zacni(const std::string& jmeno) {
    jmeno_ = jmeno;
    soubor_.zavri();
    vpameti_ = false;
    pamet_.clear();
    data_ = okno_;
    zacatek_ = 0;
    delka_ = 0;
    index_ = 0;
    velikost_ = 0;
    posun_ = 0;
    eof_ = false;
    posledniznak_ = 0;
}

bool Partitura::otevri(const std::string& path, const std::string& jmeno) {
    zacni(jmeno);
    soubor_ = path == "-" ? platform::standardnivstup() : platform::otevriprocteni(path.c_str());
    if (!soubor_.otevren()) return false;
    if (platform::jeobycejny(soubor_.fd())) {
        // Standard input may be a file its caller has read part of already:
        // the score is what follows.
        posun_ = std::max<int64_t>(0, platform::pozicecteni(soubor_.fd()));
        velikost_ = std::max<int64_t>(0, platform::velikost(soubor_.fd()) - posun_);
    } else {
        nactipamet();
    }
    return true;
}

void Partitura::otevritext(const std::string& text, const std::string& jmeno) {
    zacni(jmeno);
    vpameti_ = true;
    data_ = reinterpret_cast<const unsigned char*>(text.data());
    delka_ = static_cast<int64_t>(text.size());
    velikost_ = delka_;
}

// A pipe, terminal or device cannot be read by position, and line and column
// must still be found after an error: such a score is read whole.
void Partitura::nactipamet() {
    // Opened without blocking; reading waits for the writer like any reader.
    platform::cekejnapisatele(soubor_.fd());
    platform::nastavblokujici(soubor_.fd());
    for (;;) {
        const size_t mame = pamet_.size();
        if (static_cast<int64_t>(mame) > nejvetsiproud) {
            chybasouboru("the score " + jmeno_ + " is larger than " + std::to_string(nejvetsiproud >> 20) +
                         " MiB, the most read from a pipe, a terminal or a device");
        }
        pamet_.resize(mame + delkaokna);
        const ssize_t n = platform::ctiproud(soubor_.fd(), pamet_.data() + mame, delkaokna);
        if (n < 0) chybasouboruerrno("cannot read the score", jmeno_);
        pamet_.resize(mame + static_cast<size_t>(n));
        if (n == 0) break;
    }
    soubor_.zavri();
    vpameti_ = true;
    data_ = pamet_.data();
    delka_ = static_cast<int64_t>(pamet_.size());
    velikost_ = delka_;
}

void Partitura::zavri() {
    soubor_.zavri();
    vpameti_ = false;
    pamet_ = std::vector<unsigned char>();
    data_ = okno_;
}

int Partitura::cti() {
    if (index_ == delka_) {
        if (vpameti_) {
            eof_ = true;
            return -1;
        }
        zacatek_ += delka_;
        index_ = 0;
        const ssize_t n = platform::ctivse(soubor_.fd(), okno_, delkaokna, posun_ + zacatek_);
        // A score that cannot be read (a directory, a failing disk) must not
        // pass for a shorter one: that would render a wrong piece as success.
        if (n < 0) chybasouboruerrno("cannot read the score", jmeno_);
        delka_ = n;
        if (delka_ == 0) {
            eof_ = true;
            return -1;
        }
    }
    return data_[index_++];
}

void Partitura::zpet() {
    if (pozice() == 0) return;
    eof_ = false;
    if (index_ > 0) {
        --index_;
    } else {
        zacatek_ -= 1;   // the byte before the window: reload from there
        delka_ = 0;
    }
}

void Partitura::pretoc() { vrat(Znacka{}); }

void Partitura::vrat(const Znacka& z) {
    eof_ = z.konec;
    posledniznak_ = z.posledni;
    if (vpameti_) {
        index_ = z.pozice;
        return;
    }
    if (z.pozice >= zacatek_ && z.pozice <= zacatek_ + delka_) {
        index_ = z.pozice - zacatek_;   // inside the window
        return;
    }
    zacatek_ = z.pozice;   // elsewhere: the window is read from there
    delka_ = 0;
    index_ = 0;
}

std::vector<Partitura::Misto> Partitura::umisteni(std::vector<int64_t> offsets) const {
    std::vector<size_t> poradi(offsets.size());
    for (size_t i = 0; i < poradi.size(); ++i) poradi[i] = i;
    std::sort(poradi.begin(), poradi.end(), [&](size_t a, size_t b) { return offsets[a] < offsets[b]; });
    std::vector<Misto> mista(offsets.size());
    Misto ted;
    int64_t at = 0;
    unsigned char buf[delkaokna];
    for (size_t i : poradi) {
        // Count the bytes from where the last offset left off up to this one.
        while (at < offsets[i]) {
            const int64_t want = std::min<int64_t>(offsets[i] - at, delkaokna);
            const unsigned char* data = nullptr;
            int64_t n = 0;
            if (vpameti_) {
                data = data_ + std::min(at, delka_);
                n = std::min(want, delka_ - std::min(at, delka_));
            } else {
                data = buf;
                n = platform::ctivse(soubor_.fd(), buf, static_cast<size_t>(want), posun_ + at);
            }
            if (n <= 0) break;
            for (int64_t j = 0; j < n; ++j) {
                if (data[j] == '\n') {
                    ++ted.radek;
                    ted.sloupec = 1;
                } else if (data[j] != 0) {
                    ++ted.sloupec;
                }
            }
            at += n;
        }
        mista[i] = ted;
    }
    return mista;
}

void Partitura::umisteni(int64_t offset, int64_t& radek, int64_t& sloupec) const {
    const Misto m = umisteni(std::vector<int64_t>{offset})[0];
    radek = m.radek;
    sloupec = m.sloupec;
}

char dejznak(Partitura& p) {
    for (;;) {
        if (p.konec()) return p.podej(konecsouboru);
        int b = p.cti();
        if (b < 0) return p.podej(konecsouboru);
        if (b != 0) return p.podej(static_cast<char>(b));
    }
}

void vratznak(Partitura& p) {
    if (p.posledniznak_ == konecsouboru) return;
    p.zpet();
}

int dejsurovyznak(Partitura& p) {
    if (p.konec()) {
        p.podej(konecsouboru);
        return -1;
    }
    const int b = p.cti();
    p.podej(b < 0 ? konecsouboru : static_cast<char>(b));
    return b;
}

namespace {

// Digits after the separator stop counting once the scale or the value
// reaches this: one more would overflow a double (inf / inf is no number),
// and it would change the quotient by less than a double can hold anyway.
constexpr double mezzlomku = 1e300;

bool zlomekprijmecislici(double value, double scale) {
    return scale == 0.0 || (scale < mezzlomku && value < mezzlomku);
}

}  // namespace

double dejcislo(Partitura& p, ZapsaneCislo* zapsane) {
    double value = 0.0;
    bool positive = true;
    double scale = 0.0;   // 0: no separator seen; else 10^(digits after it)
    ZapsaneCislo z;

    char znak = dejznak(p);
    if (znak == '-') {
        positive = false;
        z.minus = true;
    } else {
        vratznak(p);
    }
    for (;;) {
        znak = dejznak(p);
        if (znak == '.' || znak == ',') {
            z.oddelovac = p.pozice() - 1;
            scale = 1.0;   // a second separator starts the fraction anew
            znak = dejznak(p);
        }
        if (!jecislice(znak)) break;
        z.cifry = true;
        z.oddelovac = -1;
        if (zlomekprijmecislici(value, scale)) {
            value = value * 10 + (znak - 48);
            scale = scale * 10;
        }
    }
    if (zapsane) *zapsane = z;
    if (znak != konecsouboru) vratznak(p);
    if (!positive) value = -value;
    if (scale != 0.0) value = value / scale;
    return value;
}

}  // namespace skladba
