#include "synth/rejstrik.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

#include "base/chyba.h"
#include "base/vzorky.h"
#include "platform/system.h"

namespace skladba {

namespace {

constexpr int64_t bajtusegmentu = int64_t{delkatonu} * 2;

}  // namespace

Rejstriky::Rejstriky() : rejstrpole_(new int16_t[size_t{pocetsegmentu} * delkatonu]) {}

void Rejstriky::zmervrchol(int64_t k) {
    const int16_t* s = data(k);
    int32_t top = 0;
    for (int i = 0; i < delkatonu; ++i) {
        const int32_t v = s[i] < 0 ? -int32_t{s[i]} : s[i];
        top = v > top ? v : top;
    }
    segmenty_[k].vrchol = top;
}

// Reads up to bytes of a register file at offset into segment k's samples.
ssize_t Rejstriky::ctidosegmentu(const Zdroj& z, int64_t k, int64_t bytes, int64_t offset) {
    const ssize_t n = platform::ctivse(z.soubor.fd(), data(k), static_cast<size_t>(bytes), offset);
    if (n > 0) zlittleendian(data(k), static_cast<size_t>(n) / 2);
    return n;
}

// A file that is not a regular file (a device, a pipe) has no size to go by:
// it is read at once, by position, for as much as the wavetable holds; a
// pipe, which cannot be read by position, fails with the system's reason.
bool Rejstriky::nactinajednou(platform::Soubor& f) {
    for (int64_t k = 0; k < pocetsegmentu; ++k) segment(k);
    const ssize_t bytes = platform::ctivse(f.fd(), rejstrpole_.get(), bajturejstriku, 0);
    if (bytes < 0) return false;
    zlittleendian(rejstrpole_.get(), static_cast<size_t>(bytes) / 2);
    for (int64_t k = 0; k < pocetsegmentu; ++k) {
        zmervrchol(k);
        segmenty_[k].smycky.reset();   // a file without a size has no loop file to check
    }
    return true;
}

std::string Rejstriky::rejstrjmeno(char reg) const {
    return slozka_ + "/" + predponarejstriku + reg + priponarejstriku;
}

bool Rejstriky::uplny(char reg) const {
    if (slozka_.empty()) return false;
    const platform::Soubor f = platform::otevriprocteni(rejstrjmeno(reg).c_str());
    return f.otevren() && platform::jeobycejny(f.fd()) && platform::velikost(f.fd()) >= bajturejstriku;
}

bool Rejstriky::nactirejstrik(char reg) {
    if (slozka_.empty()) return true;
    const std::string cesta = rejstrjmeno(reg);
    platform::Soubor f = platform::otevriprocteni(cesta.c_str());
    if (!f.otevren()) return false;
    if (!platform::jeobycejny(f.fd())) return nactinajednou(f);
    const int64_t size = platform::velikost(f.fd());
    if (size < 0) return false;
    // Whole samples only: an odd trailing byte must not half-overwrite one.
    const int64_t usable = (size < bajturejstriku ? size : bajturejstriku) & ~int64_t{1};
    const int64_t cele = usable / bajtusegmentu;
    const int64_t zbytek = usable % bajtusegmentu;
    auto zdroj = std::make_shared<Zdroj>(Zdroj{std::move(f), cesta});
    // A segment the file holds only the start of is overlaid at once on
    // what it held before.
    if (zbytek > 0) {
        segment(cele);
        if (ctidosegmentu(*zdroj, cele, zbytek, cele * bajtusegmentu) < 0) return false;
        zmervrchol(cele);
    }
    const std::shared_ptr<Smyckyrejstriku> smycky = nactismycky(zdroj, size);
    for (int64_t k = 0; k < cele; ++k) segmenty_[k] = Segment{false, zdroj, 0, -1, smycky};
    // A segment the file holds only the start of plays without its loop.
    if (zbytek > 0) segmenty_[cele].smycky.reset();
    return true;
}

const int16_t* Rejstriky::segment(int64_t k) {
    Segment& s = segmenty_[k];
    if (s.aktualni) return data(k);
    if (!s.zdroj) {
        std::memset(data(k), 0, bajtusegmentu);
        s.vrchol = 0;
    } else {
        const ssize_t n = ctidosegmentu(*s.zdroj, k, bajtusegmentu, k * bajtusegmentu);
        if (n < 0) chybasouboruerrno("cannot read the register", s.zdroj->cesta);
        // A file cut short since it was loaded keeps silence where it ended.
        std::memset(reinterpret_cast<char*>(data(k)) + n, 0, static_cast<size_t>(bajtusegmentu - n));
        zmervrchol(k);
        s.zdroj.reset();
    }
    s.aktualni = true;
    s.konec = -1;
    return data(k);
}

std::shared_ptr<Rejstriky::Smyckyrejstriku> Rejstriky::nactismycky(const std::shared_ptr<Zdroj>& zdroj,
                                                                    int64_t velikost) {
    const std::string cesta = cestasmycek(zdroj->cesta);
    const platform::Totoznost t = platform::totoznost(zdroj->soubor.fd());
    for (const auto& m : smyckovesoubory_) {
        if (m->cesta == zdroj->cesta && platform::tentyz(m->totoznost, t) && m->velikost == velikost) return m;
    }
    platform::Soubor f = platform::otevriprocteni(cesta.c_str());
    if (!f.otevren()) {
        if (errno == ENOENT) return nullptr;
        chybasouboruerrno("cannot read the loop file", cesta);
    }
    const int64_t size = platform::velikost(f.fd());
    if (size < 0 || size > (int64_t{1} << 20)) chybasouboru("cannot read the loop file " + cesta + ": it is not a loop file");
    std::string text(static_cast<size_t>(size), '\0');
    if (platform::ctivse(f.fd(), text.data(), text.size(), 0) != static_cast<ssize_t>(size)) {
        chybasouboruerrno("cannot read the loop file", cesta);
    }
    auto m = std::make_shared<Smyckyrejstriku>();
    std::string chyba;
    if (!prectismycky(text, m->smycky, chyba)) chybasouboru("cannot read the loop file " + cesta + ": " + chyba);
    m->cesta = zdroj->cesta;
    m->zdroj = zdroj;
    m->velikost = velikost;
    m->totoznost = t;
    smyckovesoubory_.push_back(m);
    return m;
}

// A loop file belongs to its register when the register has the size and
// checksum it names; looping another register's segments would play noise
// at every seam.
void Rejstriky::over(Smyckyrejstriku& s) {
    if (s.overeno) return;
    uint64_t soucet = kontrolnisoucet(nullptr, 0);
    std::vector<char> kus(1 << 20);
    for (int64_t pozice = 0; pozice < s.velikost;) {
        const ssize_t n = platform::ctivse(s.zdroj->soubor.fd(), kus.data(), kus.size(), pozice);
        if (n < 0) chybasouboruerrno("cannot read the register", s.zdroj->cesta);
        if (n == 0) break;
        soucet = kontrolnisoucet(kus.data(), static_cast<size_t>(n), soucet);
        pozice += n;
    }
    if (s.velikost != s.smycky.velikost || soucet != s.smycky.soucet) {
        char mam[17], ma[17];
        std::snprintf(mam, sizeof mam, "%016llx", static_cast<unsigned long long>(soucet));
        std::snprintf(ma, sizeof ma, "%016llx", static_cast<unsigned long long>(s.smycky.soucet));
        chybasouboru("the loop file " + cestasmycek(s.zdroj->cesta) + " does not belong to " + s.zdroj->cesta +
                     ": it was made for a register of " + std::to_string(s.smycky.velikost) + " bytes (checksum " +
                     ma + "), and this one has " + std::to_string(s.velikost) + " bytes (checksum " + mam +
                     "); make the loops again with skladba-registers, or remove the loop file to play without them");
    }
    s.overeno = true;
    s.zdroj.reset();
}

const Smycka* Rejstriky::smycka(int64_t k) {
    Segment& s = segmenty_[k];
    if (!s.smycky || !s.smycky->smycky.smycka[k].je()) return nullptr;
    over(*s.smycky);
    return &s.smycky->smycky.smycka[k];
}

int64_t Rejstriky::koneczvuku(int64_t k) {
    const int16_t* x = segment(k);
    Segment& s = segmenty_[k];
    if (s.konec >= 0) return s.konec;
    constexpr int ramec = zaklad / 20;
    double energie[delkatonu / ramec + 1];
    int ramcu = 0;
    double nejvic = 0.0;
    for (int od = 0; od < delkatonu; od += ramec, ++ramcu) {
        double e = 0.0;
        for (int i = od; i < od + ramec && i < delkatonu; ++i) e += static_cast<double>(x[i]) * x[i];
        energie[ramcu] = e;
        if (e > nejvic) nejvic = e;
    }
    s.konec = delkatonu;
    // The end: the last stretch no more than 35 dB below the loudest
    // (10^-3.5 in energy). It counts only where the sound was cut off, still
    // within 20 dB of its loudest half a second before: a note that dies
    // away on its own (a pluck, a click) is not cut short by its register.
    for (int r = ramcu - 1; r >= 0 && nejvic > 0.0; --r) {
        if (energie[r] >= nejvic * 3.1622776601683795e-4) {
            const int predtim = r - 10;
            if (r + 1 < ramcu && predtim >= 0 && energie[predtim] >= nejvic * 1e-2) s.konec = int64_t{r + 1} * ramec;
            break;
        }
    }
    return s.konec;
}

}  // namespace skladba
