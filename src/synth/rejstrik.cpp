#include "synth/rejstrik.h"

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
    for (int64_t k = 0; k < pocetsegmentu; ++k) zmervrchol(k);
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
    for (int64_t k = 0; k < cele; ++k) segmenty_[k] = Segment{false, zdroj, 0};
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
    return data(k);
}

}  // namespace skladba
