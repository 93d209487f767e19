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

void Pamatrejstriku::prober() {
    for (auto i = soubory.begin(); i != soubory.end();) {
        bool zbyva = false;
        for (std::unique_ptr<Segment>& s : i->second.segmenty) {
            if (s && s->beh != beh) zahod(s);
            zbyva = zbyva || s;
        }
        i = zbyva ? std::next(i) : soubory.erase(i);
    }
}

void Pamatrejstriku::zahod(std::unique_ptr<Segment>& s) {
    if (!s) return;
    bajtu -= s->vzorky.size() * sizeof(int16_t);
    s.reset();
}

void Rejstriky::nastavpamet(Pamatrejstriku* p) {
    pamet_ = p;
    if (p) ++p->beh;
}

void Rejstriky::zmervrchol(int64_t k) {
    segmenty_[k].masoucet = false;
    const int16_t* s = segmenty_[k].vzorky;
    int32_t top = 0;
    for (int i = 0; i < delkatonu; ++i) {
        const int32_t v = s[i] < 0 ? -int32_t{s[i]} : s[i];
        top = v > top ? v : top;
    }
    segmenty_[k].vrchol = top;
}

// Reads up to bytes of a register file at offset into segment k's samples.
ssize_t Rejstriky::ctidosegmentu(const Zdroj& z, int16_t* kam, int64_t bytes, int64_t offset) {
    const ssize_t n = platform::ctivse(z.soubor.fd(), kam, static_cast<size_t>(bytes), offset);
    if (n > 0) zlittleendian(kam, static_cast<size_t>(n) / 2);
    return n;
}

int16_t* Rejstriky::vtabulce(int64_t k) {
    const int16_t* p = segment(k);
    Segment& s = segmenty_[k];
    if (p != data(k)) std::memcpy(data(k), p, bajtusegmentu);
    s.vzorky = data(k);
    s.kopie = nullptr;
    s.pamet = nullptr;
    s.zdroj.reset();
    return data(k);
}

int16_t* Rejstriky::Zdroj::misto() {
    constexpr size_t nadile = platform::Pamet::velikostdilu / bajtusegmentu;
    if (volno == 0) {
        if (!rozpocet || !rozpocet->vejdese(platform::Pamet::velikostdilu)) return nullptr;
        dily.emplace_back(platform::Pamet::velikostdilu);
        drzi += platform::Pamet::velikostdilu;
        rozpocet->rejstriky += platform::Pamet::velikostdilu;
        volno = nadile;
    }
    return static_cast<int16_t*>(dily.back().data()) + (nadile - volno--) * delkatonu;
}

// The source for a register file just opened: the one opened before for
// the same path, when the file is unchanged since (same file, size and
// times) and so are the copies it keeps; else a new one.
std::shared_ptr<Rejstriky::Zdroj> Rejstriky::zdroj(platform::Soubor f, const std::string& cesta) {
    const platform::Otisk o = platform::otisk(f.fd());
    const bool drzet = rozpocet_.celkem > 0 && o.existuje;
    if (drzet) {
        for (const auto& z : zdroje_) {
            if (z->cesta == cesta && z->otisk == o) return z;
        }
    }
    auto z = std::make_shared<Zdroj>();
    z->soubor = std::move(f);
    z->cesta = cesta;
    z->otisk = o;
    if (pamet_ && o.existuje) {
        Pamatrejstriku::Soubor& p = pamet_->soubory[cesta];
        if (p.otisk != o) {
            // Changed since: what was kept of it is not its sound.
            for (std::unique_ptr<Pamatrejstriku::Segment>& s : p.segmenty) pamet_->zahod(s);
            p.otisk = o;
        }
        z->pamet = &p;
    }
    if (drzet) {
        z->rozpocet = &rozpocet_;
        // A file changed since: its old source goes once no segment plays it.
        zdroje_.erase(std::remove_if(zdroje_.begin(), zdroje_.end(),
                                     [&](const std::shared_ptr<Zdroj>& d) { return d->cesta == cesta; }),
                      zdroje_.end());
        zdroje_.push_back(z);
    }
    return z;
}

// A file that is not a regular file (a device, a pipe) has no size to go by:
// it is read at once, by position, for as much as the wavetable holds; a
// pipe, which cannot be read by position, fails with the system's reason.
bool Rejstriky::nactinajednou(platform::Soubor& f) {
    for (int64_t k = 0; k < pocetsegmentu; ++k) vtabulce(k);
    const ssize_t bytes = platform::ctivse(f.fd(), rejstrpole_.get(), bajturejstriku, 0);
    if (bytes < 0) return false;
    zlittleendian(rejstrpole_.get(), static_cast<size_t>(bytes) / 2);
    for (int64_t k = 0; k < pocetsegmentu; ++k) {
        zmervrchol(k);
        segmenty_[k].konec = -1;
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
    const std::shared_ptr<Zdroj> z = zdroj(std::move(f), cesta);
    // A segment the file holds only the start of is overlaid at once on
    // what it held before.
    if (zbytek > 0) {
        int16_t* kam = vtabulce(cele);
        if (ctidosegmentu(*z, kam, zbytek, cele * bajtusegmentu) < 0) return false;
        zmervrchol(cele);
        segmenty_[cele].konec = -1;
    }
    const std::shared_ptr<Smyckyrejstriku> smycky = nactismycky(z, size);
    for (int64_t k = 0; k < cele; ++k) {
        segmenty_[k] = Segment{};
        segmenty_[k].zdroj = z;
        segmenty_[k].smycky = smycky;
    }
    // A segment the file holds only the start of plays without its loop.
    if (zbytek > 0) segmenty_[cele].smycky.reset();
    return true;
}

const int16_t* Rejstriky::segment(int64_t k) {
    Segment& s = segmenty_[k];
    if (s.aktualni) return s.vzorky;
    s.aktualni = true;
    s.masoucet = false;
    s.konec = -1;
    s.kopie = nullptr;
    s.pamet = nullptr;
    if (!s.zdroj) {
        std::memset(data(k), 0, bajtusegmentu);
        s.vzorky = data(k);
        s.vrchol = 0;
        return s.vzorky;
    }
    Zdroj& z = *s.zdroj;
    if (Kopie* c = z.kopie[k].get()) {
        // Read at an earlier load of this file: the source stays with the
        // segment, for it owns the copy.
        s.vzorky = c->vzorky;
        s.vrchol = c->vrchol;
        s.konec = c->konec;
        s.kopie = c;
        return s.vzorky;
    }
    if (z.pamet && z.pamet->segmenty[k]) {
        // Read by an earlier run from the same unchanged file.
        Pamatrejstriku::Segment& p = *z.pamet->segmenty[k];
        p.beh = pamet_->beh;
        s.vzorky = p.vzorky.data();
        s.vrchol = p.vrchol;
        s.konec = p.konec;
        s.soucet = p.soucet;
        s.masoucet = p.masoucet;
        s.pamet = &p;
        return s.vzorky;
    }
    int16_t* kam = data(k);
    if (int16_t* m = z.misto()) {
        auto c = std::make_unique<Kopie>();
        c->vzorky = m;
        kam = m;
        s.kopie = c.get();
        z.kopie[k] = std::move(c);
    }
    const ssize_t n = ctidosegmentu(z, kam, bajtusegmentu, k * bajtusegmentu);
    if (n < 0) {
        s.aktualni = false;
        if (s.kopie) {
            z.kopie[k].reset();   // its room is taken again by the next copy
            ++z.volno;
            s.kopie = nullptr;
        }
        chybasouboruerrno("cannot read the register", z.cesta);
    }
    // A file cut short since it was loaded keeps silence where it ended.
    std::memset(reinterpret_cast<char*>(kam) + n, 0, static_cast<size_t>(bajtusegmentu - n));
    s.vzorky = kam;
    zmervrchol(k);
    if (z.pamet && n == bajtusegmentu && pamet_->bajtu + bajtusegmentu <= pamet_->nejvic) {
        auto p = std::make_unique<Pamatrejstriku::Segment>();
        p->vzorky.assign(kam, kam + delkatonu);
        p->vrchol = s.vrchol;
        p->beh = pamet_->beh;
        pamet_->bajtu += bajtusegmentu;
        s.pamet = p.get();
        z.pamet->segmenty[k] = std::move(p);
    }
    if (s.kopie) {
        s.kopie->vrchol = s.vrchol;
    } else if (!s.pamet) {
        s.zdroj.reset();
    }
    return s.vzorky;
}

std::shared_ptr<Rejstriky::Smyckyrejstriku> Rejstriky::nactismycky(const std::shared_ptr<Zdroj>& zdroj,
                                                                    int64_t velikost) {
    const platform::Totoznost t = platform::totoznost(zdroj->soubor.fd());
    for (const auto& m : smyckovesoubory_) {
        if (m->cesta == zdroj->cesta && platform::tentyz(m->totoznost, t) && m->velikost == velikost) return m;
    }
    // Only whether there is one: it is read when a note first needs a loop
    // (under --release), so that a damaged loop file fails no render that
    // plays none.
    if (platform::druh(cestasmycek(zdroj->cesta).c_str()) == platform::Druh::zadny) return nullptr;
    auto m = std::make_shared<Smyckyrejstriku>();
    m->cesta = zdroj->cesta;
    m->zdroj = zdroj;
    m->velikost = velikost;
    m->totoznost = t;
    smyckovesoubory_.push_back(m);
    return m;
}

void Rejstriky::prectismycky(Smyckyrejstriku& m) {
    if (m.precteno) return;
    const std::string cesta = cestasmycek(m.cesta);
    platform::Soubor f = platform::otevriprocteni(cesta.c_str());
    if (!f.otevren()) chybasouboruerrno("cannot read the loop file", cesta);
    if (!platform::jeobycejny(f.fd())) chybasouboru("cannot read the loop file " + cesta + ": it is not a regular file");
    const int64_t size = platform::velikost(f.fd());
    if (size < 0 || size > (int64_t{1} << 20)) chybasouboru("cannot read the loop file " + cesta + ": it is not a loop file");
    std::string text(static_cast<size_t>(size), '\0');
    if (platform::ctivse(f.fd(), text.data(), text.size(), 0) != static_cast<ssize_t>(size)) {
        chybasouboruerrno("cannot read the loop file", cesta);
    }
    std::string chyba;
    if (!skladba::prectismycky(text, m.smycky, chyba)) chybasouboru("cannot read the loop file " + cesta + ": " + chyba);
    m.precteno = true;
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
    if (!s.smycky) return nullptr;
    prectismycky(*s.smycky);
    if (!s.smycky->smycky.smycka[k].je()) return nullptr;
    over(*s.smycky);
    return &s.smycky->smycky.smycka[k];
}

uint64_t Rejstriky::soucet(int64_t k) {
    const int16_t* x = segment(k);
    Segment& s = segmenty_[k];
    if (s.masoucet) return s.soucet;
    // Four independent chains over 64-bit words of the samples, so that the
    // multiplications overlap: a few microseconds a segment.
    static_assert(delkatonu % 4 == 0, "a segment is whole 64-bit words");
    constexpr int slov = delkatonu / 4;
    uint64_t h[4] = {0x9e3779b97f4a7c15ull, 0xbf58476d1ce4e5b9ull, 0x94d049bb133111ebull, 0x2545f4914f6cdd1dull};
    const auto* b = reinterpret_cast<const unsigned char*>(x);
    for (int i = 0; i < slov; ++i) {
        uint64_t w;
        std::memcpy(&w, b + size_t{8} * static_cast<size_t>(i), 8);
        uint64_t& c = h[i & 3];
        c = (c ^ w) * 0x100000001b3ull;
        c ^= c >> 29;
    }
    s.soucet = ((h[0] * 31 + h[1]) * 31 + h[2]) * 31 + h[3];
    s.masoucet = true;
    if (s.pamet) {
        s.pamet->soucet = s.soucet;
        s.pamet->masoucet = true;
    }
    return s.soucet;
}

int64_t Rejstriky::koneczvuku(int64_t k) {
    const int16_t* x = segment(k);
    Segment& s = segmenty_[k];
    if (s.konec >= 0) return s.konec;
    constexpr int ramec = zaklad / 20;
    // Energies summed in whole numbers: exact (a frame holds at most
    // 1103 * 2^30), so the comparisons below are the same on every machine,
    // and the sum has no floating-point chain to wait on.
    int64_t energie[delkatonu / ramec + 1];
    int ramcu = 0;
    int64_t nejvic = 0;
    for (int od = 0; od < delkatonu; od += ramec, ++ramcu) {
        const int az = od + ramec < delkatonu ? od + ramec : delkatonu;
        int64_t e = 0;
        for (int i = od; i < az; ++i) e += int32_t{x[i]} * x[i];
        energie[ramcu] = e;
        if (e > nejvic) nejvic = e;
    }
    s.konec = delkatonu;
    // The end: the last stretch no more than 35 dB below the loudest
    // (10^-3.5 in energy). It counts only where the sound was cut off, still
    // within 20 dB of its loudest half a second before: a note that dies
    // away on its own (a pluck, a click) is not cut short by its register.
    for (int r = ramcu - 1; r >= 0 && nejvic > 0; --r) {
        if (static_cast<double>(energie[r]) >= static_cast<double>(nejvic) * 3.1622776601683795e-4) {
            const int predtim = r - 10;
            if (r + 1 < ramcu && predtim >= 0 &&
                static_cast<double>(energie[predtim]) >= static_cast<double>(nejvic) * 1e-2) {
                s.konec = int64_t{r + 1} * ramec;
            }
            break;
        }
    }
    if (s.kopie) s.kopie->konec = s.konec;
    if (s.pamet) s.pamet->konec = s.konec;
    return s.konec;
}

}  // namespace skladba
