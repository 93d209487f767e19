#include "output/hodnoty.h"

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

}  // namespace skladba
