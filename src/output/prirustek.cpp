#include "output/prirustek.h"

#include <algorithm>
#include <climits>
#include <exception>
#include <iterator>
#include <unordered_set>
#include <utility>

#include "synth/mix.h"

namespace skladba {

namespace {

constexpr int64_t blok = Mix::vzorkunablok();

int64_t bloku(int64_t vzorku) { return (vzorku + blok - 1) / blok; }

}  // namespace

uint64_t Prirustek::pamet() const {
    return (sumy_.capacity() + predtim_.sumy.capacity()) * sizeof(int32_t) + vrcholy_.capacity() * sizeof(uint32_t) +
           vstupy_.capacity() * sizeof(Vstupmixu) + zvuky_.size() * (sizeof(int16_t) * delkatonu + 64) + segmenty_.bajtu;
}

void Prirustek::zapomen() {
    ma_ = false;
    std::vector<Vstupmixu>().swap(vstupy_);
    std::vector<int32_t>().swap(sumy_);
    std::vector<uint32_t>().swap(vrcholy_);
    Segmentyzvuku().swap(zvuky_);
    maximum_ = 0;
    predtim_ = Predtim{};
}

bool Prirustek::predchozi(const std::function<void(const int32_t*, int64_t, double)>& f) {
    if (!predtim_.je) return false;
    const size_t ted = sumy_.size();
    auto vymen = [this] {
        std::swap_ranges(predtim_.sumy.begin(), predtim_.sumy.end(), sumy_.begin() + predtim_.od);
    };
    sumy_.resize(std::max(ted, static_cast<size_t>(predtim_.konec)), 0);
    vymen();
    try {
        f(sumy_.data(), predtim_.konec, predtim_.maximum);
    } catch (...) {
        vymen();
        sumy_.resize(ted);
        throw;
    }
    vymen();
    sumy_.resize(ted);
    return true;
}

bool Prirustek::stejnanastaveni(const Nastaveni& n) const {
    return ma_ && n.dozvukms == dozvukms_ && n.cesty.rejstriky == rejstriky_;
}

// What a render's record holds becomes the kept mix: its sums and peaks from
// z.od on replace those kept, up to the new end of the mix.
void Prirustek::prijmi(Zaznammixu& z, int64_t konec) {
    // What it replaces, kept while the two fit the budget together.
    const int64_t stary = static_cast<int64_t>(sumy_.size());
    predtim_.je = ma_;
    predtim_.konec = stary;
    predtim_.maximum = maximum_;
    std::vector<int32_t>().swap(predtim_.sumy);
    if (z.od == 0 && static_cast<int64_t>(z.sumy.size()) == konec) {
        predtim_.od = 0;
        predtim_.je = predtim_.je && static_cast<uint64_t>(stary + konec) * sizeof(int32_t) <= pamet_;
        if (predtim_.je) predtim_.sumy.swap(sumy_);
        sumy_ = std::move(z.sumy);
    } else {
        // The stretch it writes, and all that a shorter mix leaves out.
        predtim_.od = std::min(z.od, stary);
        int64_t po = std::min(z.od + static_cast<int64_t>(z.sumy.size()), stary);
        if (konec < stary) po = stary;
        po = std::max(po, predtim_.od);
        predtim_.je = predtim_.je && static_cast<uint64_t>(po - predtim_.od + konec) * sizeof(int32_t) <= pamet_;
        if (predtim_.je) predtim_.sumy.assign(sumy_.begin() + predtim_.od, sumy_.begin() + po);
        sumy_.resize(static_cast<size_t>(konec), 0);
        std::copy(z.sumy.begin(), z.sumy.end(), sumy_.begin() + z.od);
    }
    vrcholy_.resize(static_cast<size_t>(bloku(konec)), 0);
    const int64_t prvni = z.od / blok;
    const int64_t poslednich = std::min<int64_t>(bloku(std::min(z.po, konec)), static_cast<int64_t>(vrcholy_.size()));
    for (int64_t j = prvni; j < poslednich; ++j) {
        const size_t i = static_cast<size_t>(j - prvni);
        vrcholy_[static_cast<size_t>(j)] = i < z.vrcholy.size() ? z.vrcholy[i] : 0;
    }
    uint32_t vrchol = 0;
    for (uint32_t v : vrcholy_) vrchol = std::max(vrchol, v);
    maximum_ = vrchol;
    vstupy_ = std::move(z.vstupy);
}

Prirustek::Zmena Prirustek::cely(const Nastaveni& n) {
    Zmena zmena;
    Zaznammixu z;
    z.zvuky = &zvuky_;
    Nastaveni w = n;
    w.zaznammixu = &z;
    w.krivky = &krivky_;
    w.pamatrejstriku = &segmenty_;
    zmena.vysledek = spust(w);
    if (zmena.vysledek.status != 0) return zmena;
    segmenty_.prober();
    const int64_t konec = zmena.vysledek.vzorku;
    const uint64_t bajtu = static_cast<uint64_t>(konec) * sizeof(int32_t) + z.vstupy.size() * sizeof(Vstupmixu);
    if (!z.vpameti || bajtu > pamet_) {
        zapomen();
        return zmena;
    }
    const double predtim = maximum_;
    prijmi(z, konec);
    prober();
    ma_ = true;
    dozvukms_ = n.dozvukms;
    rejstriky_ = n.cesty.rejstriky;
    zmena.drzi = true;
    zmena.cely = true;
    zmena.po = konec;
    zmena.novymaximum = maximum_ != predtim;
    return zmena;
}

// The notes of the new record that reach into okno's stretch mixed again,
// in their order, from the samples kept: false when they cannot be (a sum
// leaves the 32-bit range, which the whole render then reports).
bool Prirustek::smichej(const Nastaveni& n, const std::vector<Vstupmixu>& vstupy, Zaznammixu& okno) {
    try {
        Mix mix(n.meze);
        mix.nastavzaznam(&okno);
        for (const Vstupmixu& v : vstupy) {
            if (v.start >= okno.po || v.konec() <= okno.od) continue;
            const Segmentzvuku& z = zvuky_.at(v.zvuk);
            mix.mixuj(z.vzorky.data(), z.vrchol, v.start, v.sila, v.utlum, v.zni, v.smycka.je() ? &v.smycka : nullptr);
        }
        mix.dopismix();
    } catch (const std::exception&) {
        return false;
    }
    return okno.vpameti;
}

// Only the samples of segments the kept record plays stay kept.
void Prirustek::prober() {
    std::unordered_set<uint64_t> hrane;
    for (const Vstupmixu& v : vstupy_) hrane.insert(v.zvuk);
    for (auto i = zvuky_.begin(); i != zvuky_.end();) i = hrane.count(i->first) ? std::next(i) : zvuky_.erase(i);
}

Prirustek::Zmena Prirustek::vykresli(const Nastaveni& n) {
    if (!n.vynechat.empty() || n.pevnemaximum > 0 || n.kontrola) {
        // Not the mix of the score itself: nothing of it is kept.
        zapomen();
        Zmena z;
        z.vysledek = spust(n);
        return z;
    }
    if (!stejnanastaveni(n)) return cely(n);

    // What the mix takes, without mixing, and the samples of what it takes.
    Zaznammixu zaznam;
    zaznam.od = zaznam.po = 0;
    zaznam.zvuky = &zvuky_;
    Nastaveni prvni = n;
    prvni.zaznammixu = &zaznam;
    prvni.krivky = &krivky_;
    prvni.pamatrejstriku = &segmenty_;
    Zmena zmena;
    zmena.vysledek = spust(prvni);
    if (zmena.vysledek.status != 0) return zmena;
    segmenty_.prober();
    const int64_t konec = zmena.vysledek.vzorku;
    if (static_cast<uint64_t>(konec) * sizeof(int32_t) > pamet_) {
        zapomen();
        return zmena;
    }

    // Where the two lists part and meet again.
    const std::vector<Vstupmixu>& a = vstupy_;
    const std::vector<Vstupmixu>& b = zaznam.vstupy;
    const size_t spolu = std::min(a.size(), b.size());
    size_t zacatek = 0;
    while (zacatek < spolu && a[zacatek] == b[zacatek]) ++zacatek;
    size_t konce = 0;
    while (konce < spolu - zacatek && a[a.size() - 1 - konce] == b[b.size() - 1 - konce]) ++konce;
    int64_t od = INT64_MAX, po = INT64_MIN;
    for (const std::vector<Vstupmixu>* v : {&a, &b}) {
        for (size_t i = zacatek; i + konce < v->size(); ++i) {
            od = std::min(od, (*v)[i].start);
            po = std::max(po, (*v)[i].konec());
        }
    }
    zmena.drzi = true;
    zmena.vysledek.mix.maximum = maximum_;
    if (od >= po) {
        // The same notes at the same places: the same mix.
        predtim_ = Predtim{};
        predtim_.je = true;
        predtim_.konec = static_cast<int64_t>(sumy_.size());
        predtim_.maximum = maximum_;
        vstupy_ = std::move(zaznam.vstupy);
        prober();
        return zmena;
    }

    // The whole blocks the changed notes sound in, mixed again.
    Zaznammixu okno;
    okno.od = std::max<int64_t>(0, od) / blok * blok;
    okno.po = bloku(po) * blok;
    if (!smichej(n, b, okno)) {
        zapomen();
        return cely(n);
    }
    okno.vstupy = std::move(zaznam.vstupy);
    const double predtim = maximum_;
    prijmi(okno, konec);
    prober();
    zmena.vysledek.mix.maximum = maximum_;
    zmena.novymaximum = maximum_ != predtim;
    zmena.od = std::min(okno.od, konec);
    zmena.po = std::min(okno.po, konec);
    zmena.cely = zmena.od == 0 && zmena.po == konec;
    return zmena;
}

}  // namespace skladba
