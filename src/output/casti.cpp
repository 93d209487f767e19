#include "output/casti.h"

#include <algorithm>
#include <memory>
#include <numeric>

#include "base/nota.h"

namespace skladba::notopis {

std::string jmenonastroje(char reg) {
    if (const char* nastroj = popisrejstriku(reg).nastroj) return nastroj;
    const std::string r = jmenorejstriku(reg);   // "R0", "R 0x1B"
    return "Register " + r.substr(r[1] == ' ' ? 2 : 1);
}


namespace {

struct Linka {
    std::vector<Prvek> prvky;
    int64_t konec = 0;
    bool manoty = false;
};

// Places the notes of one voice of the score (in one part) into lines that
// MusicXML voices can hold: in each line a new element starts where the
// last one ended or later, or joins the last chord when it has the same
// start and length. A rest gives way to a note written over it.
class Rozdeleni {
public:
    explicit Rozdeleni(const Zapis& z) : z_(z) {}

    void pridej(uint32_t i) {
        const ZapsanyTon& t = z_.tony[i];
        if (t.pauza) {
            if (t.delka == 0) return;
            for (Linka& l : linky_) {
                if (l.konec <= t.zacatek) {
                    pripoj(l, i);
                    return;
                }
            }
            return;   // music is already written there: the rest says nothing
        }
        for (Linka& l : linky_) {
            if (!l.prvky.empty()) {
                Prvek& e = l.prvky.back();
                if (!e.pauza && e.delka > 0 && t.delka > 0 && e.zacatek == t.zacatek && e.delka == t.delka) {
                    e.noty.push_back(i);
                    return;
                }
            }
            // Rests at the end of the line that the note falls on give way.
            while (!l.prvky.empty() && l.prvky.back().pauza && l.prvky.back().konec() > t.zacatek) {
                Prvek& r = l.prvky.back();
                if (r.zacatek < t.zacatek) {
                    r.delka = t.zacatek - r.zacatek;
                } else {
                    l.prvky.pop_back();
                }
                l.konec = l.prvky.empty() ? 0 : l.prvky.back().konec();
            }
            if (l.konec <= t.zacatek || l.prvky.empty()) {
                pripoj(l, i);
                return;
            }
        }
        linky_.emplace_back();
        pripoj(linky_.back(), i);
    }

    std::vector<Linka>& linky() { return linky_; }

private:
    void pripoj(Linka& l, uint32_t i) {
        const ZapsanyTon& t = z_.tony[i];
        Prvek e;
        e.zacatek = t.zacatek;
        e.delka = t.delka;
        e.noty.push_back(i);
        e.pauza = t.pauza;
        l.prvky.push_back(std::move(e));
        l.konec = std::max(l.konec, t.zacatek + t.delka);
        if (!t.pauza) l.manoty = true;
    }

    const Zapis& z_;
    std::vector<Linka> linky_;
};


// Staves a part holds at most; more voices go to further parts.
constexpr int nejvicosnov = 4;

// Voices by their middle pitch: those below middle C go to a bass staff
// when others lie above it, the same in every measure; four voices a staff.
void rozvrhniosnovy(Cast& cast) {
    std::vector<size_t> vysoke, nizke;
    for (size_t h = 0; h < cast.hlasy.size(); ++h) (cast.hlasy[h].median < 60 ? nizke : vysoke).push_back(h);
    const bool jenbasove = vysoke.empty();
    if (jenbasove) vysoke.swap(nizke);
    const int osnovvysokych = static_cast<int>((vysoke.size() + 3) / 4);
    for (size_t k = 0; k < vysoke.size(); ++k) cast.hlasy[vysoke[k]].osnova = static_cast<int>(k / 4);
    for (size_t k = 0; k < nizke.size(); ++k) {
        cast.hlasy[nizke[k]].osnova = osnovvysokych + static_cast<int>(k / 4);
    }
    cast.osnov = osnovvysokych + static_cast<int>((nizke.size() + 3) / 4);
    cast.basova.assign(static_cast<size_t>(cast.osnov), jenbasove);
    for (int o = osnovvysokych; o < cast.osnov; ++o) cast.basova[static_cast<size_t>(o)] = true;
    // Keep voices in staff order, so each staff's voices are numbered together.
    std::stable_sort(cast.hlasy.begin(), cast.hlasy.end(),
                     [](const Hlas& x, const Hlas& y) { return x.osnova < y.osnova; });
    for (size_t h = 0; h < cast.hlasy.size(); ++h) {
        cast.hlasy[h].horni = h == 0 || cast.hlasy[h - 1].osnova != cast.hlasy[h].osnova;
    }
}

// A part of more voices than its staves hold becomes several, from the
// highest voices down, each of at most nejvicosnov staves.
std::vector<Cast> rozdelnaosnovy(Cast&& cast) {
    size_t nizkych = 0;
    for (const Hlas& h : cast.hlasy) nizkych += h.median < 60;
    const size_t vysokych = cast.hlasy.size() - nizkych;
    if ((vysokych + 3) / 4 + (nizkych + 3) / 4 > static_cast<size_t>(nejvicosnov)) {
        std::stable_sort(cast.hlasy.begin(), cast.hlasy.end(),
                         [](const Hlas& x, const Hlas& y) { return x.median > y.median; });
    }
    std::vector<Cast> r;
    size_t h = 0;
    while (h < cast.hlasy.size() || r.empty()) {
        Cast c{cast.reg, {}, 1, {}, cast.jmeno};
        size_t vysokych = 0, nizkych = 0;
        for (; h < cast.hlasy.size(); ++h) {
            const bool nizky = cast.hlasy[h].median < 60;
            const size_t v = vysokych + !nizky, n = nizkych + nizky;
            if ((v + 3) / 4 + (n + 3) / 4 > static_cast<size_t>(nejvicosnov)) break;
            vysokych = v, nizkych = n;
            c.hlasy.push_back(std::move(cast.hlasy[h]));
        }
        if (c.hlasy.empty()) c.hlasy.emplace_back();
        r.push_back(std::move(c));
    }
    if (r.size() > 1) {
        const std::string jmeno = cast.jmeno.empty() ? jmenonastroje(cast.reg) : cast.jmeno;
        for (size_t i = 0; i < r.size(); ++i) r[i].jmeno = jmeno + " " + std::to_string(i + 1);
    }
    for (Cast& c : r) rozvrhniosnovy(c);
    return r;
}

// Voices one part may hold at once: sixteen staves of four.
constexpr size_t nejvichlasu = 64;

}  // namespace

bool rozdelcasti(const Zapis& z_, std::vector<Cast>& casti_, std::string& chyba) {
    // One part per part directive, and one per register for the notes
    // before the first directive (or without any).
    std::map<int, int> cast;
    auto klic = [](const ZapsanyTon& t) {
        return t.cast >= 0 ? t.cast : (1 << 20) + static_cast<unsigned char>(t.reg);
    };
    for (const ZapsanyTon& t : z_.tony) {
        if (!t.pauza && !cast.count(klic(t))) {
            cast[klic(t)] = static_cast<int>(casti_.size());
            const bool pojmenovana = t.cast >= 0 && static_cast<size_t>(t.cast) < z_.casti.size();
            casti_.push_back({t.reg, {}, 1, {}, pojmenovana ? z_.casti[static_cast<size_t>(t.cast)] : ""});
        }
    }
    if (casti_.empty()) {
        const ZapsanyTon t = z_.tony.empty() ? ZapsanyTon{} : z_.tony.front();
        cast[klic(t)] = 0;
        casti_.push_back({t.reg, {}, 1, {}, ""});
    }
    // The score's voices, one after another, in each part.
    std::vector<int32_t> hlasvcasti(casti_.size(), -1);
    std::vector<std::vector<Linka>> linky(casti_.size());
    std::vector<std::unique_ptr<Rozdeleni>> rozpracovane(casti_.size());
    auto uzavri = [&](size_t c) {
        if (!rozpracovane[c]) return;
        for (Linka& l : rozpracovane[c]->linky()) linky[c].push_back(std::move(l));
        rozpracovane[c].reset();
    };
    // Each voice's notes together, in the order written.
    std::vector<uint32_t> poradi(z_.tony.size());
    std::iota(poradi.begin(), poradi.end(), 0u);
    std::stable_sort(poradi.begin(), poradi.end(),
                     [&](uint32_t a, uint32_t b) { return z_.tony[a].hlas < z_.tony[b].hlas; });
    for (uint32_t i : poradi) {
        const ZapsanyTon& t = z_.tony[i];
        const auto it = cast.find(klic(t));
        if (it == cast.end()) continue;
        const int c = it->second;
        if (hlasvcasti[c] != t.hlas) {
            uzavri(static_cast<size_t>(c));
            hlasvcasti[c] = t.hlas;
            rozpracovane[c] = std::make_unique<Rozdeleni>(z_);
        }
        rozpracovane[c]->pridej(i);
    }
    for (size_t c = 0; c < casti_.size(); ++c) {
        uzavri(c);
        Cast& cast = casti_[c];
        // Lines that hold no note say nothing, unless the part has nothing else.
        bool nejakenoty = false;
        for (const Linka& l : linky[c]) nejakenoty = nejakenoty || l.manoty;
        for (Linka& l : linky[c]) {
            if (l.prvky.empty() || (nejakenoty && !l.manoty)) continue;
            const int64_t od = l.prvky.front().zacatek;
            const int64_t po = std::max(l.konec, od + 1);
            size_t h = 0;
            for (; h < cast.hlasy.size(); ++h) {
                const auto& u = cast.hlasy[h].useky;
                auto it = u.lower_bound(po);
                if (it == u.begin() || std::prev(it)->second <= od) break;
            }
            if (h == cast.hlasy.size()) {
                if (h == nejvichlasu) {
                    chyba = "the score has more than " + std::to_string(nejvichlasu) + " voices at once in " +
                            jmenorejstriku(cast.reg) + ", more than sheet music of one part holds";
                    return false;
                }
                cast.hlasy.emplace_back();
            }
            Hlas& hlas = cast.hlasy[h];
            hlas.useky[od] = po;
            for (Prvek& e : l.prvky) {
                if (!e.pauza) {
                    for (uint32_t n : e.noty) hlas.klavesy.push_back(z_.tony[n].klavesa);
                }
                hlas.prvky.push_back(std::move(e));
            }
        }
        if (cast.hlasy.empty()) cast.hlasy.emplace_back();
        for (Hlas& h : cast.hlasy) {
            std::stable_sort(h.prvky.begin(), h.prvky.end(), [](const Prvek& x, const Prvek& y) {
                return x.zacatek != y.zacatek ? x.zacatek < y.zacatek : (x.delka > 0) < (y.delka > 0);
            });
        }
        for (Hlas& h : cast.hlasy) {
            std::vector<int> k = h.klavesy;
            if (k.empty()) continue;
            std::nth_element(k.begin(), k.begin() + static_cast<long>(k.size() / 2), k.end());
            h.median = k[k.size() / 2];
        }
    }
    std::vector<Cast> rozdelene;
    for (Cast& c : casti_) {
        for (Cast& d : rozdelnaosnovy(std::move(c))) rozdelene.push_back(std::move(d));
    }
    casti_ = std::move(rozdelene);
    return true;
}


}  // namespace skladba::notopis
