#include "output/musicxml.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <numeric>
#include <set>

#include "base/format.h"
#include "base/nota.h"
#include "output/hodnoty.h"
#include "output/midi.h"
#include "output/xml.h"

namespace skladba {

namespace {

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

// The instrument a register's part is named after: R1 to R4 the synthesised
// ones, R5 to R9 the General MIDI ones, and "Register X" for any other.
std::string jmenonastroje(char reg) {
    if (const char* nastroj = popisrejstriku(reg).nastroj) return nastroj;
    const std::string r = jmenorejstriku(reg);   // "R0", "R 0x1B"
    return "Register " + r.substr(r[1] == ' ' ? 2 : 1);
}

// A stretch of one voice in one part: a chord (notes of one start and
// length), a rest, or a grace note (no length).
struct Prvek {
    int64_t zacatek = 0, delka = 0;
    std::vector<uint32_t> noty;   // indices into Zapis::tony
    bool pauza = false;
    int64_t konec() const { return zacatek + delka; }
};

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

// One MusicXML voice of a part: the lines that never overlap, in time order.
struct Hlas {
    std::vector<Prvek> prvky;
    std::map<int64_t, int64_t> useky;   // start -> end of each line
    std::vector<int> klavesy;
    int osnova = 0;                     // staff, from 0
    size_t dalsi = 0;                   // first element not yet written
    int poslednisila = -1;
    int median = 60;                    // the middle of its keys
    bool horni = true;                  // the upper voice of its staff: marks above it
};

struct Cast {
    char reg;
    std::vector<Hlas> hlasy;
    int osnov = 1;
    std::vector<bool> basova;           // per staff: bass clef
    std::string jmeno;                  // as a directive names it; empty: after its instrument
};

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
    bool rozdelcasti(std::string& chyba);
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

// Voices one part may hold at once: sixteen staves of four.
constexpr size_t nejvichlasu = 64;

bool Pisar::rozdelcasti(std::string& chyba) {
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
    std::vector<Cast> casti;
    for (Cast& c : casti_) {
        for (Cast& d : rozdelnaosnovy(std::move(c))) casti.push_back(std::move(d));
    }
    casti_ = std::move(casti);
    return true;
}

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
    const TaktZapisu& t = takty_[&taktna(a) - takty_.data()];
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
    if (!rozdelcasti(chyba)) return false;
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


}  // namespace skladba
