#include "output/musicxml.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <map>

#include "base/format.h"
#include "base/nota.h"
#include "output/casti.h"
#include "output/hodnoty.h"
#include "output/midi.h"
#include "output/xml.h"

namespace skladba {

namespace {

using notopis::Cast;
using notopis::Hlas;
using notopis::Prvek;
using notopis::jmenonastroje;
using notopis::rozdelcasti;

// The metronome number and dynamics of a note's volume.
struct Dynamika {
    const char* znacka;
    int rychlost;
};
constexpr Dynamika dynamiky[] = {{"ppp", 16}, {"pp", 33}, {"p", 49},  {"mp", 64},
                                 {"mf", 80},  {"f", 96},  {"ff", 112}, {"fff", 126}};

const char* znackadynamiky(int rychlost) {
    const Dynamika* nejblizsi = &dynamiky[0];
    for (const Dynamika& d : dynamiky) {
        if (std::abs(d.rychlost - rychlost) < std::abs(nejblizsi->rychlost - rychlost)) nejblizsi = &d;
    }
    return nejblizsi->znacka;
}

std::string cislo(double x) { return desetinne(x, 2); }

// One thing written in a voice's measure, in order: a note, chord or rest
// of one written value, a forward, or a direction (text, as written).
struct Polozka {
    enum class Druh : uint8_t { nota, posun, text };
    Druh druh = Druh::nota;
    Prvek e;
    Kus k;
    bool tiestop = false, tiestart = false;
    int64_t tik = 0;                    // where it starts
    std::string text;
    const char* tramy[4] = {};          // the beam of each level (null: none)
    bool tupletod = false, tupletdo = false;
};

// The time signature on the grid of ticks: measures of delka ticks, the
// first one posun ticks long when that is not 0 (a pickup).
struct Metrum {
    int64_t delka = 0;
    int64_t posun = 0;
    int citatel = 4, jmenovatel = 4;
};

Metrum vtikach(const Metrumtaktu& m, int64_t celanota) {
    Metrum r;
    r.citatel = m.citatel;
    r.jmenovatel = m.jmenovatel;
    r.delka = std::max<int64_t>(1, std::llround(m.delka * static_cast<double>(celanota)));
    r.posun = std::llround(m.predtakt * static_cast<double>(celanota)) % r.delka;
    return r;
}

class Pisar {
public:
    Pisar(const Zapis& z, std::string& out, const MezeNotopisu& meze) : z_(z), out_(out), meze_(meze) {}

    bool pis(const std::string& nazev, const std::string& software, std::string& chyba);

private:
    void hlavicka(const std::string& nazev, const std::string& software);
    void takt(size_t c, size_t m);
    void atributy(const Cast& cast, size_t m);
    void hlas(Cast& cast, size_t h, int64_t a, int64_t b, bool plni, bool zpet);
    void mezera(const Hlas& hlas, size_t h, int64_t od, int64_t po, bool pauza);
    void nota(const Prvek& e, const Kus& k, int64_t tik, bool tiestop, bool tiestart);
    void psanota(const Hlas& hlas, size_t h, const Polozka& p);
    void tempo(int64_t a, int64_t b);
    // The measure a tick falls in.
    const TaktZapisu& taktna(int64_t tik) const {
        auto it = std::upper_bound(takty_.begin(), takty_.end(), tik,
                                   [](int64_t x, const TaktZapisu& t) { return x < t.zacatek; });
        return it == takty_.begin() ? takty_.front() : *std::prev(it);
    }

    const Zapis& z_;
    std::string& out_;
    const MezeNotopisu& meze_;
    std::vector<Cast> casti_;
    std::vector<TaktZapisu> takty_;     // the measures
    bool predtakt_ = false;             // the first is a pickup, measure 0
    int kvinty_ = 0;                    // the key of the measure being written
    std::vector<Polozka> polozky_;      // what the voice being written holds in this measure
    size_t dalsitempo_ = 0;
    // The dynamics written, per staff: at which tick the last one stands.
    std::map<int, int64_t> dynamika_;
    // Accidentals in force in the measure being written, per staff and
    // pitch: the letter, octave and alteration last written.
    std::map<std::array<int, 3>, int> posuvky_;
};

void Pisar::hlavicka(const std::string& nazev, const std::string& software) {
    out_ += "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"no\"?>\n"
            "<!DOCTYPE score-partwise PUBLIC \"-//Recordare//DTD MusicXML 4.0 Partwise//EN\" "
            "\"http://www.musicxml.org/dtds/partwise.dtd\">\n"
            "<score-partwise version=\"4.0\">\n";
    out_ += "  <work>\n    <work-title>" + proxml(z_.nazev.empty() ? nazev : z_.nazev) + "</work-title>\n  </work>\n";
    out_ += "  <identification>\n";
    if (!z_.autor.empty()) out_ += "    <creator type=\"composer\">" + proxml(z_.autor) + "</creator>\n";
    out_ += "    <encoding>\n      <software>" + proxml(software) + "</software>\n    </encoding>\n  </identification>\n";
    out_ += "  <part-list>\n";
    for (size_t c = 0; c < casti_.size(); ++c) {
        const std::string id = "P" + std::to_string(c + 1);
        const std::string jmeno = proxml(casti_[c].jmeno.empty() ? jmenonastroje(casti_[c].reg) : casti_[c].jmeno);
        // The channel and program of the part's track in --midi (MusicXML counts both from 1).
        const int kanal = kanalmidi(c) + 1;
        const int program = std::max(programmidi(casti_[c].reg), 0) + 1;
        out_ += "    <score-part id=\"" + id + "\">\n      <part-name>" + jmeno + "</part-name>\n";
        out_ += "      <score-instrument id=\"" + id + "-I1\">\n        <instrument-name>" + jmeno +
                "</instrument-name>\n      </score-instrument>\n";
        out_ += "      <midi-instrument id=\"" + id + "-I1\">\n        <midi-channel>" + std::to_string(kanal) +
                "</midi-channel>\n        <midi-program>" + std::to_string(program) +
                "</midi-program>\n      </midi-instrument>\n    </score-part>\n";
    }
    out_ += "  </part-list>\n";
}

// The first measure's attributes, and a later one's where its key or metre
// changes.
void Pisar::atributy(const Cast& cast, size_t m) {
    const TaktZapisu& t = takty_[m];
    const TaktZapisu* p = m > 0 ? &takty_[m - 1] : nullptr;
    // The pickup shows the metre of the bars after it.
    const TaktZapisu& metrum = m == 0 && predtakt_ ? takty_[1] : t;
    const bool tonina = !p || p->kvinty != t.kvinty;
    const bool cas = !p ? true : (m == 1 && predtakt_) ? false
                                                       : p->citatel != t.citatel || p->jmenovatel != t.jmenovatel;
    if (!tonina && !cas) return;
    out_ += "      <attributes>\n";
    if (m == 0) out_ += "        <divisions>" + std::to_string(z_.celanota / 4) + "</divisions>\n";
    if (tonina) out_ += "        <key>\n          <fifths>" + std::to_string(t.kvinty) + "</fifths>\n        </key>\n";
    if (cas) {
        out_ += "        <time>\n          <beats>" + std::to_string(metrum.citatel) + "</beats>\n          <beat-type>" +
                std::to_string(metrum.jmenovatel) + "</beat-type>\n        </time>\n";
    }
    if (m == 0) {
        if (cast.osnov > 1) out_ += "        <staves>" + std::to_string(cast.osnov) + "</staves>\n";
        for (int o = 0; o < cast.osnov; ++o) {
            const bool f = cast.basova[static_cast<size_t>(o)];
            out_ += cast.osnov > 1 ? "        <clef number=\"" + std::to_string(o + 1) + "\">\n" : "        <clef>\n";
            out_ += std::string("          <sign>") + (f ? "F" : "G") + "</sign>\n          <line>" + (f ? "4" : "2") +
                    "</line>\n        </clef>\n";
        }
    }
    out_ += "      </attributes>\n";
}

void Pisar::mezera(const Hlas& hlas, size_t h, int64_t od, int64_t po, bool pauza) {
    if (po <= od) return;
    if (!pauza) {
        Polozka p;
        p.druh = Polozka::Druh::posun;
        p.tik = od;
        p.text = "      <forward>\n        <duration>" + std::to_string(po - od) + "</duration>\n        <voice>" +
                 std::to_string(h + 1) + "</voice>\n        <staff>" + std::to_string(hlas.osnova + 1) +
                 "</staff>\n      </forward>\n";
        polozky_.push_back(std::move(p));
        return;
    }
    Prvek e;
    e.zacatek = od;
    e.delka = po - od;
    e.pauza = true;
    int64_t tik = od;
    for (const Kus& k : rozloz(po - od, z_.celanota, 0)) {
        nota(e, k, tik, false, false);
        tik += k.tiku;
    }
}

void Pisar::nota(const Prvek& e, const Kus& k, int64_t tik, bool tiestop, bool tiestart) {
    Polozka p;
    p.e = e;
    p.k = k;
    p.tik = tik;
    p.tiestop = tiestop;
    p.tiestart = tiestart;
    polozky_.push_back(std::move(p));
}

void Pisar::psanota(const Hlas& hlas, size_t h, const Polozka& p) {
    const Prvek& e = p.e;
    const Kus& k = p.k;
    const bool tiestop = p.tiestop, tiestart = p.tiestart;
    const size_t pocet = e.pauza ? 1 : e.noty.size();
    for (size_t i = 0; i < pocet; ++i) {
        out_ += "      <note>\n";
        if (e.delka == 0) out_ += "        <grace/>\n";
        if (i > 0) out_ += "        <chord/>\n";
        const ZapsanyTon* t = e.pauza ? nullptr : &z_.tony[e.noty[i]];
        if (!t) {
            out_ += "        <rest/>\n";
        } else {
            out_ += std::string("        <pitch>\n          <step>") + t->krok + "</step>\n";
            if (t->alter != 0) out_ += "          <alter>" + std::to_string(t->alter) + "</alter>\n";
            out_ += "          <octave>" + std::to_string(t->oktava) + "</octave>\n        </pitch>\n";
        }
        if (e.delka > 0) out_ += "        <duration>" + std::to_string(k.tiku) + "</duration>\n";
        if (tiestop) out_ += "        <tie type=\"stop\"/>\n";
        if (tiestart) out_ += "        <tie type=\"start\"/>\n";
        out_ += "        <voice>" + std::to_string(h + 1) + "</voice>\n";
        out_ += std::string("        <type>") + typynot[k.typ] + "</type>\n";
        for (int d = 0; d < k.tecek; ++d) out_ += "        <dot/>\n";
        // The accidental shown: where the alteration differs from what the
        // measure has in force for this staff and pitch; not on the second
        // half of a tied note.
        if (t && !tiestop) {
            const std::array<int, 3> klic = {hlas.osnova, t->krok, t->oktava};
            auto it = posuvky_.find(klic);
            const int platna = it == posuvky_.end() ? alterklice(kvinty_, t->krok) : it->second;
            if (platna != t->alter) {
                static const char* const jmena[] = {"flat-flat", "flat", "natural", "sharp", "double-sharp"};
                out_ += std::string("        <accidental>") + jmena[t->alter + 2] + "</accidental>\n";
                posuvky_[klic] = t->alter;
            }
        }
        if (k.skutecne != k.normalni) {
            out_ += "        <time-modification>\n          <actual-notes>" + std::to_string(k.skutecne) +
                    "</actual-notes>\n          <normal-notes>" + std::to_string(k.normalni) +
                    "</normal-notes>\n        </time-modification>\n";
        }
        out_ += "        <staff>" + std::to_string(hlas.osnova + 1) + "</staff>\n";
        // Beams and the tuplet's bracket on the first note of a chord.
        for (int u = 0; i == 0 && u < 4 && p.tramy[u]; ++u) {
            out_ += "        <beam number=\"" + std::to_string(u + 1) + "\">" + p.tramy[u] + "</beam>\n";
        }
        const bool tuplet = i == 0 && (p.tupletod || p.tupletdo);
        if (tiestop || tiestart || tuplet) {
            out_ += "        <notations>\n";
            if (tiestop) out_ += "          <tied type=\"stop\"/>\n";
            if (tiestart) out_ += "          <tied type=\"start\"/>\n";
            if (i == 0 && p.tupletod) out_ += "          <tuplet type=\"start\" bracket=\"yes\" show-number=\"actual\"/>\n";
            if (i == 0 && p.tupletdo) out_ += "          <tuplet type=\"stop\"/>\n";
            out_ += "        </notations>\n";
        }
        out_ += "      </note>\n";
    }
}

// Whether another voice of the staff has a note in [a, b), and whether
// this one lies above it.
bool jinyhlas(const Cast& cast, size_t h, int64_t a, int64_t b, bool& nad) {
    const Hlas& v = cast.hlasy[h];
    for (size_t g = 0; g < cast.hlasy.size(); ++g) {
        const Hlas& w = cast.hlasy[g];
        if (g == h || w.osnova != v.osnova) continue;
        for (size_t j = w.dalsi; j < w.prvky.size() && w.prvky[j].zacatek < b; ++j) {
            if (!w.prvky[j].pauza && w.prvky[j].konec() > a) {
                nad = v.median >= w.median;
                return true;
            }
        }
    }
    return false;
}

void Pisar::hlas(Cast& cast, size_t h, int64_t a, int64_t b, bool plni, bool zpet) {
    Hlas& v = cast.hlasy[h];
    // Elements that ended before this measure are done.
    while (v.dalsi < v.prvky.size()) {
        const Prvek& e = v.prvky[v.dalsi];
        if (e.delka == 0 ? e.zacatek >= a : e.konec() > a) break;
        ++v.dalsi;
    }
    size_t j = v.dalsi;
    // Rests alone say no more than the voice's silence.
    bool prazdny = true;
    for (size_t k = j; k < v.prvky.size() && v.prvky[k].zacatek < b && prazdny; ++k) prazdny = v.prvky[k].pauza;
    if (prazdny && !plni) return;
    if (zpet) out_ += "      <backup>\n        <duration>" + std::to_string(b - a) + "</duration>\n      </backup>\n";
    if (prazdny) {
        // A voice resting the whole measure under or over another on its
        // staff: its rest out of the way, above or below the staff.
        bool nad = true;
        std::string rest = "<rest measure=\"yes\"/>";
        if (jinyhlas(cast, h, a, b, nad)) {
            const bool f = cast.basova[static_cast<size_t>(v.osnova)];
            rest = std::string("<rest measure=\"yes\">\n          <display-step>") + (nad ? (f ? "C" : "A") : (f ? "E" : "C")) +
                   "</display-step>\n          <display-octave>" + (nad ? (f ? "4" : "5") : (f ? "2" : "4")) +
                   "</display-octave>\n        </rest>";
        }
        out_ += "      <note>\n        " + rest + "\n        <duration>" + std::to_string(b - a) +
                "</duration>\n        <voice>" + std::to_string(h + 1) + "</voice>\n        <staff>" +
                std::to_string(v.osnova + 1) + "</staff>\n      </note>\n";
        return;
    }
    polozky_.clear();
    int64_t pozice = a;
    bool nejaky = false;
    for (; j < v.prvky.size() && v.prvky[j].zacatek < b; ++j) {
        const Prvek& e = v.prvky[j];
        const int64_t x = std::max(e.zacatek, a);
        mezera(v, h, pozice, x, nejaky || plni);
        pozice = std::max(pozice, x);
        nejaky = true;
        if (!e.pauza && x == e.zacatek) {
            // A dynamics mark where the voice's volume changes.
            const ZapsanyTon& t = z_.tony[e.noty.front()];
            // Above the upper voice of a staff, below the others: two
            // voices' marks never overprint.
            const int misto = v.osnova * 2 + (v.horni ? 0 : 1);
            const auto napsana = dynamika_.find(misto);
            const bool volno = napsana == dynamika_.end() || napsana->second != x;
            if (t.sila != v.poslednisila && volno) {
                dynamika_[misto] = x;
                const int rychlost = rychlostmidi(t.sila);
                Polozka p;
                p.druh = Polozka::Druh::text;
                p.tik = x;
                p.text = std::string("      <direction placement=\"") + (v.horni ? "above" : "below") +
                         "\">\n        <direction-type>\n          <dynamics>\n            <" + znackadynamiky(rychlost) +
                         "/>\n          </dynamics>\n        </direction-type>\n        <voice>" + std::to_string(h + 1) +
                         "</voice>\n        <staff>" + std::to_string(v.osnova + 1) +
                         "</staff>\n        <sound dynamics=\"" + cislo(rychlost * 100.0 / 90.0) +
                         "\"/>\n      </direction>\n";
                polozky_.push_back(std::move(p));
            }
            v.poslednisila = t.sila;
        }
        if (e.delka == 0) {
            nota(e, Kus{7, 0, 1, 1, 0}, x, false, false);
            continue;
        }
        const int64_t y = std::min(e.konec(), b);
        const int64_t hodnota = e.pauza ? 0 : z_.tony[e.noty.front()].hodnota;
        const std::vector<Kus> kusy = rozloz(y - x, z_.celanota, hodnota);
        int64_t tik = x;
        for (size_t k = 0; k < kusy.size(); ++k) {
            const bool tiestop = !e.pauza && (k > 0 || x > e.zacatek);
            const bool tiestart = !e.pauza && (k + 1 < kusy.size() || y < e.konec());
            nota(e, kusy[k], tik, tiestop, tiestart);
            tik += kusy[k].tiku;
        }
        pozice = y;
    }
    mezera(v, h, pozice, b, plni);
    // Beams by the beats of the metre, brackets over the tuplets.
    const TaktZapisu& t = taktna(a);
    std::vector<Psane> psane;
    for (const Polozka& p : polozky_) {
        Psane x;
        x.druh = p.druh == Polozka::Druh::text ? Psane::Druh::nic
                 : p.druh == Polozka::Druh::posun ? Psane::Druh::mezera
                 : p.e.delka == 0                 ? Psane::Druh::nic
                 : p.e.pauza                      ? Psane::Druh::pauza
                                                  : Psane::Druh::nota;
        x.tik = p.tik;
        x.kus = p.k;
        psane.push_back(x);
    }
    const int64_t plny = t.jmenovatel > 0 ? z_.celanota * t.citatel / t.jmenovatel : t.delka;
    // A pickup holds the last beats of a bar.
    const int64_t zacatek = predtakt_ && a == 0 && t.delka < plny ? t.zacatek + t.delka - plny : t.zacatek;
    tramuj(psane, zacatek, t.doby, t.jmenovatel > 0 && z_.celanota % t.jmenovatel == 0 ? z_.celanota / t.jmenovatel : 0);
    tupletuj(psane, z_.celanota);
    for (size_t i = 0; i < polozky_.size(); ++i) {
        Polozka& p = polozky_[i];
        if (p.druh != Polozka::Druh::nota) {
            out_ += p.text;
            continue;
        }
        for (int u = 0; u < 4; ++u) p.tramy[u] = psane[i].tramy[u];
        p.tupletod = psane[i].tupletod;
        p.tupletdo = psane[i].tupletdo;
        psanota(v, h, p);
    }
}

// Tempo changes of the measure, in the first part: written after its
// voices, each reached by stepping back from the end of the measure, the
// latest first, so that no voice is moved.
void Pisar::tempo(int64_t a, int64_t b) {
    const std::vector<ZnackaTempa>& tempa = z_.tempa;
    size_t konec = dalsitempo_;
    while (konec < tempa.size() && tempa[konec].tik < b) ++konec;
    int64_t pozice = b;
    for (size_t i = konec; i-- > dalsitempo_;) {
        const ZnackaTempa& t = tempa[i];
        if (t.tik < a) continue;
        out_ += "      <backup>\n        <duration>" + std::to_string(pozice - t.tik) + "</duration>\n      </backup>\n";
        pozice = t.tik;
        std::string text;
        switch (t.druh) {
            case ZnackaTempa::Druh::ritardando: text = "rit."; break;
            case ZnackaTempa::Druh::accelerando: text = "accel."; break;
            case ZnackaTempa::Druh::atempo: text = "a tempo"; break;
            default: break;
        }
        if (t.druh == ZnackaTempa::Druh::plynule) {
            // A notation program shows a tempo given alone as a mark of its
            // own ("♩ = 62.09"); given with words, it shows the words, and
            // these are one no-break space.
            out_ += "      <direction>\n        <direction-type>\n          <words>&#160;</words>\n"
                    "        </direction-type>\n        <sound tempo=\"" + cislo(t.tempo) + "\"/>\n      </direction>\n";
            continue;
        }
        out_ += "      <direction placement=\"above\">\n";
        if (!text.empty()) {
            out_ += "        <direction-type>\n          <words>" + text + "</words>\n        </direction-type>\n";
        }
        const bool metronom = t.druh == ZnackaTempa::Druh::metronom || t.druh == ZnackaTempa::Druh::atempo;
        if (metronom) {
            // A compound metre beats in dotted quarters: 84 quarters a
            // minute are 56 of them.
            const bool slozene = taktna(t.tik).slozene && taktna(t.tik).jmenovatel == 8;
            const std::string doba = slozene ? "quarter</beat-unit>\n            <beat-unit-dot/>" : "quarter</beat-unit>";
            const std::string zaminutu = slozene ? cislo(t.metronom * 2.0 / 3.0) : std::to_string(t.metronom);
            out_ += "        <direction-type>\n          <metronome>\n            <beat-unit>" + doba +
                    "\n            <per-minute>" + zaminutu +
                    "</per-minute>\n          </metronome>\n        </direction-type>\n";
        }
        out_ += "        <sound tempo=\"" + (metronom ? std::to_string(t.metronom) : cislo(t.tempo)) + "\"/>\n      </direction>\n";
    }
    dalsitempo_ = konec;
}

void Pisar::takt(size_t c, size_t m) {
    const int64_t a = takty_[m].zacatek, b = a + takty_[m].delka;
    out_ += "    <measure number=\"" + std::to_string(predtakt_ ? m : m + 1) + "\"" +
            (predtakt_ && m == 0 ? " implicit=\"yes\"" : "") + ">\n";
    Cast& cast = casti_[c];
    atributy(cast, m);
    kvinty_ = takty_[m].kvinty;
    posuvky_.clear();
    int osnova = -1;
    bool prvni = true;
    for (size_t h = 0; h < cast.hlasy.size(); ++h) {
        // The first voice of each staff fills every measure.
        const bool plni = cast.hlasy[h].osnova != osnova;
        osnova = cast.hlasy[h].osnova;
        const size_t pred = out_.size();
        hlas(cast, h, a, b, plni, !prvni);
        if (out_.size() != pred) prvni = false;
    }
    if (c == 0) tempo(a, b);
    out_ += "    </measure>\n";
}

bool Pisar::pis(const std::string& nazev, const std::string& software, std::string& chyba) {
    if (z_.celanota < 4 || z_.celanota % 4 != 0 || z_.celanota > (int64_t{1} << 22)) {
        chyba = "a whole note of " + std::to_string(z_.celanota) + " ticks: sheet music needs a multiple of 4 "
                "up to 2^22";
        return false;
    }
    if (!rozdelcasti(z_, casti_, chyba)) return false;
    int64_t konec = 0;
    for (const ZapsanyTon& t : z_.tony) konec = std::max(konec, t.zacatek + std::max<int64_t>(t.delka, 1));
    takty_ = z_.takty;
    if (takty_.empty()) {
        // Bars of the one metre, from a pickup on.
        const Metrum m = vtikach(z_.metrum, z_.celanota);
        TaktZapisu t;
        t.citatel = m.citatel;
        t.jmenovatel = m.jmenovatel;
        t.doby.assign(static_cast<size_t>(std::max(1, m.citatel)), 1);
        t.kvinty = z_.kvinty;
        if (m.posun > 0) {
            t.delka = m.posun;
            takty_.push_back(t);
        }
        const int64_t zbyva = std::max<int64_t>(0, konec - m.posun);
        const int64_t taktu = static_cast<int64_t>(takty_.size()) + std::max<int64_t>(1, (zbyva + m.delka - 1) / m.delka);
        if (taktu > meze_.bunek / static_cast<int64_t>(casti_.size())) {
            chyba = "the score would need " + std::to_string(taktu) + " measures in " + std::to_string(casti_.size()) +
                    (casti_.size() == 1 ? " part" : " parts") + ", more than sheet music of " +
                    std::to_string(meze_.bunek) + " measures in all holds";
            return false;
        }
        t.delka = m.delka;
        for (t.zacatek = m.posun; static_cast<int64_t>(takty_.size()) < taktu; t.zacatek += m.delka) takty_.push_back(t);
    }
    predtakt_ = takty_.size() > 1 && takty_[0].delka < takty_[1].delka &&
                takty_[0].delka * takty_[0].jmenovatel != z_.celanota * takty_[0].citatel;
    const int64_t taktu = static_cast<int64_t>(takty_.size());
    if (taktu > meze_.bunek / static_cast<int64_t>(casti_.size())) {
        chyba = "the score would need " + std::to_string(taktu) + " measures in " + std::to_string(casti_.size()) +
                (casti_.size() == 1 ? " part" : " parts") + ", more than sheet music of " +
                std::to_string(meze_.bunek) + " measures in all holds";
        return false;
    }

    hlavicka(nazev, software);
    for (size_t c = 0; c < casti_.size(); ++c) {
        out_ += "  <part id=\"P" + std::to_string(c + 1) + "\">\n";
        for (size_t m = 0; m < takty_.size(); ++m) {
            takt(c, m);
            if (out_.size() > meze_.bajtu) {
                chyba = "the sheet music would pass " + std::to_string(meze_.bajtu >> 20) + " MiB";
                return false;
            }
        }
        out_ += "  </part>\n";
    }
    out_ += "</score-partwise>\n";
    return true;
}

}  // namespace

bool bajtymusicxml(const Zapis& zapis, const std::string& nazev, const std::string& software, std::string& out,
                   std::string& chyba, const MezeNotopisu& meze) {
    out.clear();
    Pisar pisar(zapis, out, meze);
    if (!pisar.pis(nazev, software, chyba)) {
        out.clear();
        return false;
    }
    return true;
}


bool bajtymusicxml(const Hudba& h, const std::string& nazev, const std::string& software, std::string& out,
                   std::string& chyba, const MezeNotopisu& meze) {
    Zapis z;
    if (!zapiszhudby(h, meze, z, chyba)) {
        out.clear();
        return false;
    }
    return bajtymusicxml(z, nazev, software, out, chyba, meze);
}

}  // namespace skladba
