#include "base/hudba.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <map>
#include <numeric>
#include <set>

#include "base/format.h"

namespace skladba {

namespace {

using i128 = __int128;

constexpr int64_t nahradni = int64_t{1} << 40;   // the grid of an inexact fraction

i128 nsd(i128 a, i128 b) {
    if (a < 0) a = -a;
    if (b < 0) b = -b;
    while (b != 0) {
        const i128 t = a % b;
        a = b;
        b = t;
    }
    return a;
}

// Binary Euclid on 64-bit magnitudes: the numbers of nearly every fraction
// a score makes fit in them, and 128-bit division costs many times more.
uint64_t nsd64(uint64_t a, uint64_t b) {
    if (a == 0) return b;
    if (b == 0) return a;
    const int k = __builtin_ctzll(a | b);
    a >>= __builtin_ctzll(a);
    do {
        b >>= __builtin_ctzll(b);
        if (a > b) std::swap(a, b);
        b -= a;
    } while (b != 0);
    return a << k;
}

bool vejde(i128 x) { return x >= std::numeric_limits<int64_t>::min() / 2 && x <= std::numeric_limits<int64_t>::max() / 2; }

Zlomek zlomek(i128 c, i128 j, bool presny) {
    if (j < 0) c = -c, j = -j;
    if (j == 0) j = 1;
    using u128 = unsigned __int128;
    const u128 m = c < 0 ? -static_cast<u128>(c) : static_cast<u128>(c);
    if ((m >> 64) == 0 && (static_cast<u128>(j) >> 64) == 0) {
        uint64_t a = static_cast<uint64_t>(m), b = static_cast<uint64_t>(j);
        const uint64_t g = nsd64(a, b);
        if (g > 1) a /= g, b /= g;
        c = c < 0 ? -static_cast<i128>(a) : static_cast<i128>(a);
        j = b;
    } else {
        const i128 g = nsd(c, j);
        if (g > 1) c /= g, j /= g;
    }
    Zlomek z;
    if (vejde(c) && vejde(j)) {
        z.c = static_cast<int64_t>(c);
        z.j = static_cast<int64_t>(j);
        z.presny = presny;
        return z;
    }
    // Too fine to keep: the nearest 2^40th, or the largest magnitude.
    const long double x = static_cast<long double>(c) / static_cast<long double>(j) * nahradni;
    const long double mez = static_cast<long double>(std::numeric_limits<int64_t>::max() / 4);
    const long double r = std::round(std::clamp(x, -mez, mez));
    z = zlomek(static_cast<i128>(r), nahradni, false);
    z.presny = false;
    return z;
}

}  // namespace

Zlomek::Zlomek(int64_t citatel, int64_t jmenovatel) { *this = zlomek(citatel, jmenovatel, true); }

Zlomek operator+(const Zlomek& a, const Zlomek& b) {
    return zlomek(i128{a.c} * b.j + i128{b.c} * a.j, i128{a.j} * b.j, a.presny && b.presny);
}

Zlomek operator-(const Zlomek& a, const Zlomek& b) {
    return zlomek(i128{a.c} * b.j - i128{b.c} * a.j, i128{a.j} * b.j, a.presny && b.presny);
}

Zlomek operator*(const Zlomek& a, int64_t n) { return zlomek(i128{a.c} * n, a.j, a.presny); }

bool operator<(const Zlomek& a, const Zlomek& b) { return i128{a.c} * b.j < i128{b.c} * a.j; }

std::string Zlomek::text() const {
    return j == 1 ? std::to_string(c) : std::to_string(c) + "/" + std::to_string(j);
}

int64_t Zlomek::tiku(int64_t n) const {
    const i128 x = i128{c} * n;
    const i128 q = x >= 0 ? (2 * x + j) / (2 * i128{j}) : -((-2 * x + j) / (2 * i128{j}));
    return vejde(q) ? static_cast<int64_t>(q) : (q < 0 ? std::numeric_limits<int64_t>::min() / 2
                                                       : std::numeric_limits<int64_t>::max() / 2);
}

int64_t Zlomek::kolikrat(const Zlomek& l, bool& presne) const {
    // (c / j) / (l.c / l.j) = (c * l.j) / (j * l.c)
    const i128 a = i128{c} * l.j;
    const i128 b = i128{j} * l.c;
    if (b <= 0) {
        presne = false;
        return 0;
    }
    i128 q = a / b;
    if (a % b != 0 && a < 0) --q;
    presne = a % b == 0;
    return vejde(q) ? static_cast<int64_t>(q) : (q < 0 ? std::numeric_limits<int64_t>::min() / 2
                                                       : std::numeric_limits<int64_t>::max() / 2);
}

std::vector<std::vector<const CaraTaktu*>> Hudba::taktyhlasu() const {
    std::vector<std::vector<const CaraTaktu*>> takty(static_cast<size_t>(std::max(0, hlasu)));
    std::vector<Zlomek> zacatky(takty.size());
    std::vector<bool> je(takty.size(), false);
    for (const Udalost& e : udalosti) {
        if (e.hlas < 0 || e.hlas >= hlasu) continue;
        const size_t v = static_cast<size_t>(e.hlas);
        if (!je[v] || e.zacatek < zacatky[v]) zacatky[v] = e.zacatek;
        je[v] = true;
    }
    for (const CaraTaktu& c : cary) {
        if (c.hlas < 0 || c.hlas >= hlasu) continue;
        const size_t v = static_cast<size_t>(c.hlas);
        if (je[v] && c.kde > zacatky[v]) takty[v].push_back(&c);
    }
    for (auto& t : takty) {
        std::stable_sort(t.begin(), t.end(), [](const CaraTaktu* a, const CaraTaktu* b) { return a->kde < b->kde; });
        t.erase(std::unique(t.begin(), t.end(), [](const CaraTaktu* a, const CaraTaktu* b) { return a->kde == b->kde; }),
                t.end());
    }
    return takty;
}

namespace {

// The metre the directives set, where there are any: it replaces what the
// bar lines show. The pickup is a first bar line before a whole bar.
void metrumzesmernic(Hudba& h) {
    if (h.metra.empty()) return;
    std::stable_sort(h.metra.begin(), h.metra.end(),
                     [](const ZmenaMetra& a, const ZmenaMetra& b) { return a.kde < b.kde; });
    Zlomek prvni;
    for (const CaraTaktu& c : h.cary) {
        if (c.kde > Zlomek{} && (prvni == Zlomek{} || c.kde < prvni)) prvni = c.kde;
    }
    const ZmenaMetra& m = h.metra.front();
    h.takt = m.takt();
    h.predtakt = prvni > Zlomek{} && prvni < h.takt && m.kde <= prvni ? prvni : Zlomek{};
    h.metrum = {m.citatel, m.jmenovatel, h.takt.cislo(), h.predtakt.cislo()};
    for (ZmenaMetra& z : h.metra) {
        z.vtaktu = z.kde == Zlomek{} || z.kde == h.predtakt ||
                   std::any_of(h.cary.begin(), h.cary.end(), [&](const CaraTaktu& c) { return c.kde == z.kde; });
    }
}

}  // namespace

bool ZmenaMetra::slozene() const { return skupiny.empty() && citatel % 3 == 0 && citatel > 3 && jmenovatel >= 4; }

std::vector<int> ZmenaMetra::doby() const {
    if (!skupiny.empty()) return skupiny;
    if (slozene()) return std::vector<int>(static_cast<size_t>(citatel / 3), 3);
    return std::vector<int>(static_cast<size_t>(std::max(1, citatel)), 1);
}

Zlomek Hudba::konec() const {
    Zlomek k;
    for (const Udalost& e : udalosti) k = std::max(k, e.konec());
    return k;
}

ZmenaMetra Hudba::metrumtaktu(const Takt& t) const {
    if (t.metrum >= 0 && static_cast<size_t>(t.metrum) < metra.size()) return metra[static_cast<size_t>(t.metrum)];
    ZmenaMetra m;
    m.citatel = metrum.citatel;
    m.jmenovatel = metrum.jmenovatel;
    // What the bar lines show alone beats in its plain values.
    m.skupiny.assign(static_cast<size_t>(std::max(1, m.citatel)), 1);
    return m;
}

std::vector<Takt> Hudba::takty(const Zlomek& konec, size_t nejvic) const {
    std::vector<Takt> r;
    Zlomek kde;
    if (predtakt > Zlomek{}) {
        r.push_back({Zlomek{}, predtakt, metra.empty() ? -1 : 0});
        kde = predtakt;
    }
    size_t dalsi = 0;   // the next directive not yet in force
    int v = metra.empty() ? -1 : 0;
    while ((r.empty() || kde < konec) && r.size() < nejvic) {
        while (dalsi < metra.size() && metra[dalsi].kde <= kde) v = static_cast<int>(dalsi++);
        Zlomek delka = v >= 0 ? metra[static_cast<size_t>(v)].takt() : takt;
        if (delka <= Zlomek{}) delka = Zlomek{1};
        // A metre that changes inside a bar ends the bar there.
        if (dalsi < metra.size() && metra[dalsi].kde < kde + delka) delka = metra[dalsi].kde - kde;
        r.push_back({kde, delka, v});
        kde = kde + delka;
    }
    return r;
}

static void urcimetrumzcar(Hudba& h) {
    h.metrum = Metrumtaktu{};
    h.takt = Zlomek{1};
    h.predtakt = Zlomek{};
    // The distinct lengths between two bar lines of a voice, and how often
    // each comes: the metre is the one most bars keep, so that a bar with a
    // note missing (which the check reports) does not unmake it.
    std::vector<std::pair<Zlomek, int64_t>> delky;
    int64_t taktu = 0;
    std::vector<std::pair<Zlomek, Zlomek>> prvni;   // each voice's first bar line, and the bar it closes
    const std::vector<std::vector<const CaraTaktu*>> takty = h.taktyhlasu();
    for (size_t v = 0; v < takty.size(); ++v) {
        const auto& t = takty[v];
        if (t.empty()) continue;
        Zlomek zacatek = t[0]->kde;
        for (const Udalost& e : h.udalosti) {
            if (e.hlas == static_cast<int32_t>(v) && e.zacatek < zacatek) zacatek = e.zacatek;
        }
        prvni.push_back({t[0]->kde, t[0]->kde - zacatek});
        for (size_t i = 1; i < t.size(); ++i) {
            const Zlomek d = t[i]->kde - t[i - 1]->kde;
            ++taktu;
            auto it = std::find_if(delky.begin(), delky.end(), [&](const auto& x) { return x.first == d; });
            if (it != delky.end()) {
                ++it->second;
            } else if (delky.size() < 64) {
                delky.push_back({d, 1});
            }
        }
    }
    if (delky.empty()) return;
    const auto nejcastejsi = std::max_element(delky.begin(), delky.end(), [](const auto& a, const auto& b) {
        return a.second < b.second || (a.second == b.second && b.first < a.first);
    });
    // Bars that disagree with no length kept by most of them: no metre.
    if (nejcastejsi->second * 2 <= taktu) return;
    const Zlomek delka = nejcastejsi->first;
    // Where the bars begin: every voice's first bar line on the same beat.
    auto vtaktu = [&](const Zlomek& x) {
        bool p = false;
        return x - delka * x.kolikrat(delka, p);
    };
    const Zlomek predtakt = vtaktu(prvni.front().first);
    for (const auto& [x, prvnitakt] : prvni) {
        if (vtaktu(x) != predtakt) return;
        if (prvnitakt > delka && vtaktu(prvnitakt) != Zlomek{}) return;
    }
    // delka whole notes as n beats of 1/d.
    for (int64_t d = 1; d <= 64; d *= 2) {
        const Zlomek n = delka * d;
        if (n.j != 1) continue;
        if (n.c > 4 * d) return;
        const int64_t jmenovatel = std::max<int64_t>(4, d);
        const int64_t citatel = n.c * jmenovatel / d;
        if (citatel > 64) return;
        h.metrum = {static_cast<int>(citatel), static_cast<int>(jmenovatel), delka.cislo(), predtakt.cislo()};
        h.takt = delka;
        h.predtakt = predtakt;
        return;
    }
}

void urcimetrum(Hudba& h) {
    urcimetrumzcar(h);
    metrumzesmernic(h);
}

double Hudba::vzorek(const Zlomek& kde) const {
    if (body.empty()) return 0;
    auto it = std::lower_bound(body.begin(), body.end(), kde,
                               [](const std::pair<Zlomek, int64_t>& b, const Zlomek& z) { return b.first < z; });
    if (it != body.end() && it->first == kde) return static_cast<double>(it->second);
    if (it == body.begin()) return static_cast<double>(it->second);
    if (it == body.end()) {
        // Past the last: at the pace of the last stretch.
        if (body.size() < 2) return static_cast<double>(body.back().second);
        const auto& a = body[body.size() - 2];
        const auto& b = body.back();
        const double d = (b.first - a.first).cislo();
        return static_cast<double>(b.second) +
               (d > 0 ? (kde - b.first).cislo() * static_cast<double>(b.second - a.second) / d : 0.0);
    }
    const auto& b = *it;
    const auto& a = *std::prev(it);
    const double d = (b.first - a.first).cislo();
    return static_cast<double>(a.second) + (kde - a.first).cislo() / d * static_cast<double>(b.second - a.second);
}

void Hudba::mrizka(std::vector<double>& takty, std::vector<double>& doby) const {
    takty.clear();
    doby.clear();
    if (body.empty() || takt <= Zlomek{}) return;
    const Zlomek konec = body.back().first;
    // Bars from the pickup on; the beats of each bar's metre within it; a
    // bar line where the music ends, too.
    // As many bars as a picture can show.
    const std::vector<Takt> bary = this->takty(konec, 100000);
    for (const Takt& t : bary) {
        if (t.zacatek > Zlomek{}) takty.push_back(vzorek(t.zacatek) / zaklad);
        const ZmenaMetra m = metrumtaktu(t);
        // A pickup holds the last beats of a bar.
        Zlomek d = t.zacatek == Zlomek{} && t.delka < m.takt() ? t.konec() - m.takt() : t.zacatek;
        const std::vector<int> b = m.doby();
        for (size_t k = 0; k + 1 < b.size(); ++k) {
            d = d + Zlomek{b[k], std::max(1, m.jmenovatel)};
            if (d >= t.konec() || d > konec) break;
            if (d > t.zacatek) doby.push_back(vzorek(d) / zaklad);
        }
    }
    if (bary.back().konec() <= konec) takty.push_back(vzorek(bary.back().konec()) / zaklad);
}

namespace {

struct Usek {
    size_t od = 0, po = 0;   // events [od, po)
    Zlomek zacatek, konec;
    double vyska = -1;       // mean key of its notes, -1 for none
    size_t poradi = 0;
};

}  // namespace

void urcihlasy(Hudba& h, const std::vector<size_t>& kroky) {
    std::vector<Udalost>& u = h.udalosti;
    h.hlasu = 0;
    // Where step backs land.
    std::set<std::pair<int64_t, int64_t>> pristani;
    for (size_t k : kroky) {
        if (k < u.size()) pristani.insert({u[k].zacatek.c, u[k].zacatek.j});
    }
    std::vector<bool> rez(u.size() + 1, false);
    for (size_t k : kroky) rez[std::min(k, u.size())] = true;
    // A later step back landing where this voice goes on cuts it there,
    // unless the note is stacked on the one before it (a chord).
    for (size_t i = 1; i < u.size(); ++i) {
        if (u[i].tecka || !pristani.count({u[i].zacatek.c, u[i].zacatek.j})) continue;
        size_t p = i;
        while (p > 0 && u[p - 1].tecka) --p;
        if (p == 0 || u[p - 1].zacatek != u[i].zacatek) rez[i] = true;
    }
    std::vector<Usek> useky;
    for (size_t i = 0; i < u.size(); ++i) {
        if (useky.empty() || (rez[i] && !u[i].tecka)) {
            useky.push_back({i, i, u[i].zacatek, u[i].zacatek, -1, useky.size()});
        }
        Usek& s = useky.back();
        s.po = i + 1;
        s.konec = std::max(s.konec, u[i].konec());
        s.zacatek = std::min(s.zacatek, u[i].zacatek);
    }
    for (Usek& s : useky) {
        double soucet = 0;
        int pocet = 0;
        for (size_t i = s.od; i < s.po; ++i) {
            if (u[i].hraje()) soucet += klavesa(u[i].segment), ++pocet;
        }
        if (pocet > 0) s.vyska = soucet / pocet;
    }
    // Runs in the order of time, those written first first.
    std::vector<size_t> poradi(useky.size());
    std::iota(poradi.begin(), poradi.end(), 0);
    std::stable_sort(poradi.begin(), poradi.end(),
                     [&](size_t a, size_t b) { return useky[a].zacatek < useky[b].zacatek; });
    struct Hlas {
        Zlomek konec;
        double vyska = -1;
        size_t posledni = 0;   // the run it last took
    };
    std::vector<Hlas> hlasy;
    std::vector<int32_t> hlasuseku(useky.size(), -1);
    auto vzdalenost = [](double a, double b) { return a < 0 || b < 0 ? 0.0 : std::fabs(a - b); };
    for (size_t i = 0; i < poradi.size();) {
        // All runs that start at one time.
        size_t j = i;
        while (j < poradi.size() && useky[poradi[j]].zacatek == useky[poradi[i]].zacatek) ++j;
        const Zlomek t = useky[poradi[i]].zacatek;
        std::vector<int32_t> skoncily;   // voices that ended here, in the order their runs were written
        for (size_t v = 0; v < hlasy.size(); ++v) {
            if (hlasy[v].konec == t) skoncily.push_back(static_cast<int32_t>(v));
        }
        std::sort(skoncily.begin(), skoncily.end(),
                  [&](int32_t a, int32_t b) { return hlasy[a].posledni < hlasy[b].posledni; });
        std::vector<size_t> zacinaji(poradi.begin() + static_cast<long>(i), poradi.begin() + static_cast<long>(j));
        std::vector<bool> vzato(skoncily.size(), false);
        for (size_t n = 0; n < zacinaji.size(); ++n) {
            const Usek& s = useky[zacinaji[n]];
            int32_t hlas = -1;
            if (zacinaji.size() == skoncily.size()) {
                hlas = skoncily[n];
                vzato[n] = true;
            } else {
                double nej = 1e9;
                size_t kde = SIZE_MAX;
                for (size_t m = 0; m < skoncily.size(); ++m) {
                    if (vzato[m]) continue;
                    const double d = vzdalenost(s.vyska, hlasy[skoncily[m]].vyska);
                    if (d < nej) nej = d, kde = m;
                }
                if (kde != SIZE_MAX) {
                    hlas = skoncily[kde];
                    vzato[kde] = true;
                }
            }
            if (hlas < 0) {
                // A voice that stopped earlier comes back, nearest in pitch;
                // or a new one.
                double nej = 1e9;
                for (size_t v = 0; v < hlasy.size(); ++v) {
                    if (hlasy[v].konec > t || hlasy[v].konec == t) continue;
                    const double d = vzdalenost(s.vyska, hlasy[v].vyska);
                    if (d < nej) nej = d, hlas = static_cast<int32_t>(v);
                }
            }
            if (hlas < 0) {
                hlas = static_cast<int32_t>(hlasy.size());
                hlasy.push_back({});
            }
            Hlas& v = hlasy[static_cast<size_t>(hlas)];
            v.konec = s.konec;
            if (s.vyska >= 0) v.vyska = s.vyska;
            v.posledni = s.poradi;
            hlasuseku[zacinaji[n]] = hlas;
        }
        i = j;
    }
    h.hlasu = static_cast<int32_t>(hlasy.size());
    int32_t akord = 0;
    for (size_t s = 0; s < useky.size(); ++s) {
        for (size_t i = useky[s].od; i < useky[s].po; ++i) {
            u[i].hlas = hlasuseku[s];
            if (!u[i].pismeno) continue;
            // Notes stacked on the note before them form a chord.
            size_t p = i;
            while (p > useky[s].od && !u[p - 1].pismeno && u[p - 1].tecka) --p;
            if (p > useky[s].od && u[p - 1].pismeno && u[p - 1].zacatek == u[i].zacatek) {
                u[i].akord = u[p - 1].akord;
            } else {
                u[i].akord = akord++;
            }
        }
    }
    // The bar lines belong to the voice of the note before them.
    for (CaraTaktu& c : h.cary) {
        c.hlas = c.hlas >= 0 && static_cast<size_t>(c.hlas) < u.size() ? u[static_cast<size_t>(c.hlas)].hlas : -1;
    }
    // The clock: the first note written at each time, and the end of each.
    h.body.clear();
    std::vector<std::pair<Zlomek, int64_t>> vse;
    for (const Udalost& e : u) {
        vse.push_back({e.zacatek, e.kurzor});
        vse.push_back({e.zacatek + e.delka, e.kurzor + e.krok});
    }
    std::stable_sort(vse.begin(), vse.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    for (const auto& b : vse) {
        if (h.body.empty() || h.body.back().first != b.first) h.body.push_back(b);
    }
}

std::vector<SouhrnHlasu> souhrnhlasu(const Hudba& h) {
    std::vector<SouhrnHlasu> hlasy(static_cast<size_t>(std::max(0, h.hlasu)));
    for (const Udalost& e : h.udalosti) {
        if (e.hlas < 0 || e.hlas >= h.hlasu) continue;
        SouhrnHlasu& v = hlasy[static_cast<size_t>(e.hlas)];
        if (v.prvni < 0) {
            v = {e.pozice, -1, e.zacatek, e.konec(), e.kurzor, e.kurzor + e.krok, 0, -1, -1, ""};
        } else {
            v.prvni = std::min(v.prvni, e.pozice);
            v.zacatek = std::min(v.zacatek, e.zacatek);
            v.konec = std::max(v.konec, e.konec());
            v.zacatekvzorku = std::min(v.zacatekvzorku, e.kurzor);
            v.konecvzorku = std::max(v.konecvzorku, e.kurzor + e.krok);
        }
        if (!e.hraje()) continue;
        if (v.prvninota < 0) v.prvninota = e.pozice;
        ++v.notu;
        if (v.nejnizsi < 0 || e.segment < v.nejnizsi) v.nejnizsi = e.segment;
        v.nejvyssi = std::max<int>(v.nejvyssi, e.segment);
        if (v.rejstriky.find(e.reg) == std::string::npos) v.rejstriky += e.reg;
    }
    return hlasy;
}

}  // namespace skladba
