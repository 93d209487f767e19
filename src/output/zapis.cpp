// The music as written made into the notes sheet music writes: the grid of
// ticks, every note spelled in the key in force, the bars, the parts and the
// tempo marks.
#include <algorithm>
#include <cstring>
#include <numeric>

#include "base/format.h"
#include "output/zapis.h"

namespace skladba {

// The alteration the key signature of kvinty fifths gives a letter.
int alterklice(int kvinty, char krok) {
    static const char kridla[] = "FCGDAEB";
    const char* k = std::strchr(kridla, krok);
    if (!k) return 0;
    const int i = static_cast<int>(k - kridla);
    if (kvinty > 0) return i < kvinty ? 1 : 0;
    if (kvinty < 0) return 6 - i < -kvinty ? -1 : 0;
    return 0;
}


int odhadnitoninu(const std::vector<int>& klavesy) {
    int pocty[12] = {};
    for (int k : klavesy) ++pocty[((k % 12) + 12) % 12];
    static const int stupne[] = {0, 2, 4, 5, 7, 9, 11};
    int nejlepsi = 0, nejvic = -1;
    for (int a = 0; a <= 7; ++a) {
        for (int kvinty : {a, -a}) {
            const int tonika = ((kvinty * 7) % 12 + 12) % 12;
            int v = 0;
            for (int s : stupne) v += pocty[(tonika + s) % 12];
            if (v > nejvic) nejvic = v, nejlepsi = kvinty;
        }
    }
    return nejlepsi;
}

namespace {

int indexpismene(char z) {
    switch (z) {
        case 'c': return 0;
        case 'd': return 1;
        case 'e': return 2;
        case 'f': return 3;
        case 'g': return 4;
        case 'a': return 5;
        case 'h': return 6;
        default: return -1;
    }
}
constexpr int pultony[] = {0, 2, 4, 5, 7, 9, 11};
constexpr char pismena[] = "CDEFGAB";

int modulo(int64_t a, int64_t b) { return static_cast<int>(((a % b) + b) % b); }

// The note as spelled: a pitch of the key's scale by its letter there (B
// flat in F, not A sharp); any other as written, the letter and its sharps
// and flats moved by the interval the transposition names most often (a
// major second for 2, a fifth for 7); a spelling that would need more than
// a double sharp or flat is replaced by the plainest one of that key.
void hlaskuj(const Udalost& u, int kvinty, ZapsanyTon& t) {
    const int klavesa = skladba::klavesa(u.segment);
    int pismeno = -1;
    for (int p = 0; p < 7; ++p) {
        if (modulo(pultony[p] + alterklice(kvinty, pismena[p]), 12) == klavesa % 12) pismeno = p;
    }
    if (pismeno < 0) {
        static const int krokyintervalu[] = {0, 1, 1, 2, 2, 3, 3, 4, 5, 5, 6, 6};
        pismeno = std::max(0, indexpismene(u.znak));
        const int64_t tr = u.transpozice;
        const int64_t oktav = (tr - modulo(tr, 12)) / 12;
        pismeno = modulo(pismeno + 7 * oktav + krokyintervalu[modulo(tr, 12)], 7);
    }
    int alter = modulo(klavesa - pultony[pismeno] + 6, 12) - 6;
    if (alter < -2 || alter > 2) {
        static const int kridla[] = {0, 0, 1, 1, 2, 3, 3, 4, 4, 5, 5, 6};
        static const int becka[] = {0, 1, 1, 2, 2, 3, 4, 4, 5, 5, 6, 6};
        pismeno = (int64_t{u.posuvky} + u.transpozice >= 0 ? kridla : becka)[klavesa % 12];
        alter = modulo(klavesa - pultony[pismeno] + 6, 12) - 6;
    }
    t.krok = pismena[pismeno];
    t.alter = static_cast<int8_t>(alter);
    t.oktava = static_cast<int8_t>((klavesa - alter - pultony[pismeno]) / 12 - 1);
    t.klavesa = static_cast<uint8_t>(klavesa);
}

constexpr int64_t nejjemnejsi = int64_t{1} << 22;   // ticks a whole note at most
constexpr size_t nejvictonu = 1'000'000;

}  // namespace

bool zapiszhudby(const Hudba& h, const MezeNotopisu& meze, Zapis& z, std::string& chyba) {
    z = Zapis{};
    z.metrum = h.metrum;
    if (h.udalosti.size() > nejvictonu) {
        chyba = "too many notes for sheet music: it holds at most " + std::to_string(nejvictonu) + " notes and rests";
        return false;
    }
    // The grid: fine enough for every position when it can be.
    int64_t celanota = 4;
    bool presne = h.presna;
    auto zjemni = [&](int64_t j) {
        if (!presne || celanota % j == 0) return;
        const int64_t n = celanota / std::gcd(celanota, j);
        if (j > nejjemnejsi || n > nejjemnejsi / j) {
            presne = false;
            return;
        }
        celanota = n * j;
    };
    for (const Udalost& e : h.udalosti) {
        zjemni(e.zacatek.j);
        zjemni(e.konec().j);
    }
    // Bars start on the grid too.
    zjemni(h.takt.j);
    zjemni(h.predtakt.j);
    for (const ZmenaMetra& m : h.metra) zjemni(m.kde.j), zjemni(m.jmenovatel);
    z.celanota = presne ? celanota : 3 * 5 * 7 * (int64_t{1} << 12);
    z.nazev = h.nazev;
    z.autor = h.autor;
    for (const Cast& c : h.casti) z.casti.push_back(c.jmeno);
    // The key: a key: directive's where one stands, else the one whose scale
    // holds most of the notes.
    std::vector<int> klavesy;
    for (const Udalost& e : h.udalosti) {
        if (e.hraje()) klavesy.push_back(klavesa(e.segment));
    }
    z.kvinty = odhadnitoninu(klavesy);
    std::vector<std::pair<Zlomek, int>> toniny;   // from where, fifths
    for (const ZmenaToniny& k : h.toniny) {
        if (k.kde == Zlomek{}) z.kvinty = k.kvinty;
        toniny.push_back({k.kde, k.kvinty});
    }
    auto toninav = [&](const Zlomek& kde) {
        auto it = std::upper_bound(toniny.begin(), toniny.end(), kde,
                                   [](const Zlomek& x, const std::pair<Zlomek, int>& t) { return x < t.first; });
        return it == toniny.begin() ? z.kvinty : std::prev(it)->second;
    };
    // The measures; a key that changes inside one is shown from its start.
    // One more than the limit, so that a piece past it is refused, not cut.
    for (const Takt& b : h.takty(h.konec(), static_cast<size_t>(std::max<int64_t>(1, meze.bunek)) + 1)) {
        const ZmenaMetra m = h.metrumtaktu(b);
        TaktZapisu t;
        t.zacatek = b.zacatek.tiku(z.celanota);
        t.delka = std::max<int64_t>(1, b.konec().tiku(z.celanota) - t.zacatek);
        t.citatel = m.citatel;
        t.jmenovatel = m.jmenovatel;
        t.doby = m.doby();
        t.slozene = m.slozene();
        t.kvinty = toninav(b.zacatek);
        z.takty.push_back(std::move(t));
    }
    for (const ZmenaToniny& k : h.toniny) {
        const int64_t tik = k.kde.tiku(z.celanota);
        auto it = std::upper_bound(z.takty.begin(), z.takty.end(), tik,
                                   [](int64_t x, const TaktZapisu& t) { return x < t.zacatek; });
        if (it != z.takty.begin() && tik < std::prev(it)->zacatek + std::prev(it)->delka) std::prev(it)->kvinty = k.kvinty;
    }
    for (const Udalost& e : h.udalosti) {
        if (e.tecka && e.prodlouzila) continue;   // its time is the note's
        ZapsanyTon t;
        t.zacatek = e.zacatek.tiku(z.celanota);
        t.delka = std::max<int64_t>(0, e.konec().tiku(z.celanota) - t.zacatek);
        t.hodnota = e.hodnota;
        t.hlas = std::max(0, e.hlas);
        t.reg = e.reg;
        t.pauza = !e.hraje();
        t.sila = e.sila;
        t.cast = e.cast;
        if (!t.pauza) hlaskuj(e, toninav(e.zacatek), t);
        z.tony.push_back(t);
    }
    int predkrivkou = 0;   // the metronome before the curve in force: its end returns there or not
    int metronom = 0;
    for (const ZmenaTempa& m : h.tempa) {
        ZnackaTempa t;
        t.tik = m.kde.tiku(z.celanota);
        t.metronom = m.metronom;
        t.tempo = m.ctvrtek;
        switch (m.druh) {
            case ZmenaTempa::Druh::metronom: t.druh = ZnackaTempa::Druh::metronom; break;
            case ZmenaTempa::Druh::konec:
                // "a tempo" where the curve's end returns to the tempo before
                // it; a new "t" is a new metronome mark.
                t.druh = m.metronom == predkrivkou ? ZnackaTempa::Druh::atempo : ZnackaTempa::Druh::metronom;
                break;
            case ZmenaTempa::Druh::krivka:
                predkrivkou = metronom;
                t.druh = m.ritard > 0 ? ZnackaTempa::Druh::ritardando : ZnackaTempa::Druh::accelerando;
                // It plays from the tempo where it starts; the notes under it
                // carry on to the tempo it reaches.
                break;
        }
        if (m.druh != ZmenaTempa::Druh::krivka) metronom = m.metronom;
        if (!(t.tempo > 0.01 && t.tempo < 1e7)) continue;
        if (!z.tempa.empty() && z.tempa.back().tik == t.tik) continue;
        z.tempa.push_back(t);
    }
    // Under a curve, the tempo each note is played at, for playback only.
    std::vector<ZnackaTempa> plynule;
    for (const Udalost& e : h.udalosti) {
        if (!e.krivka || e.krok <= 0 || e.hodnota <= 0 || e.tecka) continue;
        ZnackaTempa t;
        t.tik = e.zacatek.tiku(z.celanota);
        t.druh = ZnackaTempa::Druh::plynule;
        t.tempo = e.ctvrtek();
        if (t.tempo > 0.01 && t.tempo < 1e7) plynule.push_back(t);
    }
    auto potik = [](const ZnackaTempa& a, const ZnackaTempa& b) { return a.tik < b.tik; };
    std::stable_sort(plynule.begin(), plynule.end(), potik);
    for (const ZnackaTempa& t : plynule) {
        const auto it = std::lower_bound(z.tempa.begin(), z.tempa.end(), t, potik);
        if (it == z.tempa.end() || it->tik != t.tik) z.tempa.insert(it, t);
    }
    return true;
}


}  // namespace skladba
