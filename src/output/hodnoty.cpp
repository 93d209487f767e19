#include "output/hodnoty.h"

#include <algorithm>
#include <cstddef>
#include <numeric>

namespace skladba {

namespace {

}  // namespace

const char* const typynot[] = {"1024th", "512th", "256th", "128th", "64th", "32nd", "16th",
                            "eighth", "quarter", "half",  "whole", "breve", "long"};

namespace {

constexpr int nejdelsityp = 12;
constexpr int64_t jednotek = 1024;   // the shortest type's parts of a whole note
constexpr int nejvictecek = 3;

int64_t lichacast(int64_t n) {
    while (n > 0 && n % 2 == 0) n /= 2;
    return n;
}

int64_t mocninapod(int64_t n) {   // the largest power of two not above n (n >= 1)
    int64_t p = 1;
    while (p <= n / 2) p *= 2;
    return p;
}

bool jemocnina(int64_t n) { return n > 0 && (n & (n - 1)) == 0; }

int nejvyssibit(int64_t n) {
    int b = 0;
    while (n >> (b + 1)) ++b;
    return b;
}


// Splits a length of num/den whole notes, played in the tuplet a:b, into
// typed values tied together; false when the ratio does not give types
// and dots of whole ticks.
bool rozlozvpomeru(int64_t num, int64_t den, int64_t a, int64_t b, int64_t celanota, std::vector<Kus>& kusy) {
    int64_t n = num * a, d = den * b;
    const int64_t g = std::gcd(n, d);
    n /= g;
    d /= g;
    if (!jemocnina(d) || d > jednotek) return false;
    int64_t m = n * (jednotek / d);   // in 1024ths
    std::vector<Kus> vysledek;
    while (m > 0) {
        const int p = nejvyssibit(m);
        if (p > nejdelsityp) return false;
        int r = 1;
        while (r <= nejvictecek && p - r >= 0 && (m >> (p - r) & 1)) ++r;
        int64_t cast = 0;
        for (int k = 0; k < r; ++k) cast |= int64_t{1} << (p - k);
        m -= cast;
        // cast / 1024 whole notes in the tuplet: cast * b / (a * 1024) of a whole.
        const int64_t citatel = cast * b * celanota;
        if (citatel % (a * jednotek) != 0) return false;
        vysledek.push_back({p, r - 1, a / std::gcd(a, b), b / std::gcd(a, b), citatel / (a * jednotek)});
    }
    kusy.insert(kusy.end(), vysledek.begin(), vysledek.end());
    return true;
}

}  // namespace

// The values that write a length of tiku ticks, preferring the tuplet of the
// value the score wrote (1/hodnota), then none, then the one the length
// itself needs. Whatever the length, the last resort is a single value in
// the exact ratio.
std::vector<Kus> rozloz(int64_t tiku, int64_t celanota, int64_t hodnota) {
    std::vector<Kus> kusy;
    const int64_t g = std::gcd(tiku, celanota);
    const int64_t num = tiku / g, den = celanota / g;
    if (hodnota > 0) {
        // A tuplet of up to about a million notes keeps the arithmetic in range.
        const int64_t o = lichacast(hodnota);
        if (o > 1 && o <= (int64_t{1} << 20) && rozlozvpomeru(num, den, o, mocninapod(o), celanota, kusy)) return kusy;
    }
    if (rozlozvpomeru(num, den, 1, 1, celanota, kusy)) return kusy;
    const int64_t o = lichacast(den);
    for (int64_t b = mocninapod(o); o > 1 && b >= 1; b /= 2) {
        if (rozlozvpomeru(num, den, o, b, celanota, kusy)) return kusy;
    }
    // num/den = 2^p/1024 * b/a with the largest type not longer than it.
    int p = 0;
    while (p < nejdelsityp && num * jednotek >= den * (int64_t{2} << p)) ++p;
    int64_t b = num * jednotek, a = den << p;
    const int64_t h = std::gcd(a, b);
    kusy.push_back({p, 0, a / h, b / h, tiku});
    return kusy;
}

namespace {

// Beams of one group of notes within a beat: on each level, runs of notes
// short enough for it, a lone one a hook towards its neighbours.
void tramyskupiny(std::vector<Psane>& p, const std::vector<size_t>& skupina) {
    if (skupina.size() < 2) return;
    for (int uroven = 0; uroven < 4; ++uroven) {
        const int nejdelsi = 7 - uroven;   // eighths on the first level, sixteenths on the second...
        for (size_t i = 0; i < skupina.size();) {
            if (p[skupina[i]].kus.typ > nejdelsi) {
                ++i;
                continue;
            }
            size_t j = i;
            while (j < skupina.size() && p[skupina[j]].kus.typ <= nejdelsi) ++j;
            if (j - i == 1) {
                p[skupina[i]].tramy[uroven] = i == 0 ? "forward hook" : "backward hook";
            } else {
                for (size_t k = i; k < j; ++k) p[skupina[k]].tramy[uroven] = k == i ? "begin" : k + 1 == j ? "end" : "continue";
            }
            i = j;
        }
    }
}

}  // namespace

void tramuj(std::vector<Psane>& p, int64_t zacatek, const std::vector<int>& doby, int64_t jednotka) {
    if (jednotka <= 0 || doby.empty()) return;
    std::vector<int64_t> hranice;   // the end of each beat, from the bar's start
    int64_t cyklus = 0;
    for (int d : doby) hranice.push_back(cyklus += std::max(1, d) * jednotka);
    auto doba = [&](int64_t tik) {
        const int64_t r = tik - zacatek;
        const int64_t n = r >= 0 ? r / cyklus : 0;
        const int64_t v = r - n * cyklus;
        return n * static_cast<int64_t>(hranice.size()) +
               (std::upper_bound(hranice.begin(), hranice.end(), v) - hranice.begin());
    };
    std::vector<size_t> skupina;
    int64_t dobaskupiny = -1;
    for (size_t i = 0; i < p.size(); ++i) {
        const Psane& x = p[i];
        if (x.druh == Psane::Druh::nic) continue;
        if (x.druh == Psane::Druh::nota && x.kus.typ <= 7) {
            const int64_t d = doba(x.tik);
            if (skupina.empty() || d != dobaskupiny) {
                tramyskupiny(p, skupina);
                skupina.clear();
                dobaskupiny = d;
            }
            skupina.push_back(i);
            continue;
        }
        tramyskupiny(p, skupina);
        skupina.clear();
    }
    tramyskupiny(p, skupina);
}

void tupletuj(std::vector<Psane>& p, int64_t celanota) {
    size_t od = SIZE_MAX, posledni = 0;
    int64_t a = 1, b = 1, soucet = 0;
    int nejkratsi = 99;
    auto uzavri = [&] {
        if (od == SIZE_MAX) return;
        p[od].tupletod = true;
        p[posledni].tupletdo = true;
        od = SIZE_MAX;
    };
    for (size_t i = 0; i < p.size(); ++i) {
        const Psane& x = p[i];
        if (x.druh == Psane::Druh::nic) continue;
        const bool tuplet = x.druh != Psane::Druh::mezera && x.kus.skutecne != x.kus.normalni;
        if (!tuplet || (od != SIZE_MAX && (x.kus.skutecne != a || x.kus.normalni != b))) uzavri();
        if (!tuplet) continue;
        if (od == SIZE_MAX) {
            od = i;
            a = x.kus.skutecne;
            b = x.kus.normalni;
            soucet = 0;
            nejkratsi = 99;
        }
        posledni = i;
        soucet += x.kus.tiku;
        nejkratsi = std::min(nejkratsi, x.kus.typ);
        // Full: the time of b normal notes of the shortest type in it.
        const int64_t cas = (celanota * b) << nejkratsi;
        if (b < (int64_t{1} << 28) && nejkratsi < 20 && cas % jednotek == 0 && cas / jednotek > 0 && soucet % (cas / jednotek) == 0) uzavri();
    }
    uzavri();
}

}  // namespace skladba
