#include "score/kontrolahudby.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>

#include "base/format.h"
#include "score/jazyk.h"

namespace skladba {

namespace {

// The bar a voice keeps: the length most of its bars last; of two as
// common, the piece's bar, else the shorter.
Zlomek taktvhlasu(const std::vector<const CaraTaktu*>& t, const Zlomek& takt) {
    std::vector<std::pair<Zlomek, int64_t>> pocty;
    for (size_t i = 1; i < t.size(); ++i) {
        const Zlomek d = t[i]->kde - t[i - 1]->kde;
        auto it = std::find_if(pocty.begin(), pocty.end(), [&](const auto& p) { return p.first == d; });
        if (it == pocty.end()) {
            pocty.push_back({d, 1});
        } else {
            ++it->second;
        }
    }
    std::pair<Zlomek, int64_t> nej = pocty.front();
    for (const auto& p : pocty) {
        if (p.second > nej.second || (p.second == nej.second && nej.first != takt && (p.first == takt || p.first < nej.first))) {
            nej = p;
        }
    }
    return nej.first;
}

// Each voice's bars against the bar it keeps. A stretch of whole bars is a
// bar line left out (at the end of a line, or under a note that crosses
// it); a bar line off the voice's bars is warned of once, and the bars are
// counted again from it, unless the note before it crosses where the bar
// ended: then the bar line is only written after that note instead of left
// out, and the bars go on as they were.
void zkontrolujtakty(const Hudba& h, std::vector<Varovani>& out) {
    const std::vector<std::vector<const CaraTaktu*>> takty = h.taktyhlasu();
    std::vector<std::vector<const Udalost*>> hlasy(takty.size());
    for (const Udalost& e : h.udalosti) {
        if (e.hlas >= 0 && static_cast<size_t>(e.hlas) < hlasy.size() && !(e.tecka && e.prodlouzila)) {
            hlasy[static_cast<size_t>(e.hlas)].push_back(&e);
        }
    }
    for (size_t v = 0; v < takty.size(); ++v) {
        const std::vector<const CaraTaktu*>& t = takty[v];
        if (t.size() < 2) continue;
        const Zlomek takt = taktvhlasu(t, h.takt);
        Zlomek kotva = t[0]->kde;   // where the voice's bars are counted from
        for (size_t i = 1; i < t.size(); ++i) {
            bool presne = false;
            const int64_t n = (t[i]->kde - kotva).kolikrat(takt, presne);
            if (presne && n >= 1) {
                kotva = t[i]->kde;
                continue;
            }
            const Zlomek hranice = kotva + takt * n;   // the last bar line due before this one
            const Udalost* pres = nullptr;
            if (n >= 1) {
                for (const Udalost* e : hlasy[v]) {
                    if (e->zacatek < hranice && hranice < e->konec() && e->konec() <= t[i]->kde) pres = e;
                }
            }
            if (pres) {
                out.push_back({t[i]->pozice, "this bar line stands " + (t[i]->kde - hranice).text() +
                                                 " of a whole note after the bar line that the note before it "
                                                 "crosses, where a bar of this voice (" + takt.text() +
                                                 ") ends: a note across a bar line is written by leaving that bar "
                                                 "line out, so leave this one out"});
            } else {
                // After a bar line written past the note that crosses it, a
                // bar of the right length still ends off the bars.
                bool cely = false;
                (t[i]->kde - t[i - 1]->kde).kolikrat(takt, cely);
                out.push_back({t[i]->pozice, cely ? "this bar line stands " + (t[i]->kde - hranice).text() +
                                                        " of a whole note after a bar of this voice (" + takt.text() +
                                                        ") ends: a note or a value missing or extra?"
                                                  : "this bar lasts " + (t[i]->kde - t[i - 1]->kde).text() +
                                                        " of a whole note, the bars of this voice " + takt.text() +
                                                        ": a note or a value missing or extra?"});
                kotva = t[i]->kde;
            }
        }
    }
}

// A note the relative octave rule placed after a note of another voice,
// more than an octave from the note before it in its own voice; with the
// octave to write that brings it nearest that note.
void zkontrolujoktavy(const Hudba& h, std::vector<Varovani>& out) {
    static const char* const znaky = "vm1234";
    std::vector<const Udalost*> posledni(static_cast<size_t>(std::max(0, h.hlasu)), nullptr);
    const Udalost* napsana = nullptr;   // the note the rule follows: the last one written
    for (const Udalost& e : h.udalosti) {
        if (!e.pismeno || e.segment == 0) continue;
        if (e.hlas >= 0 && e.hlas < h.hlasu) {
            const Udalost* p = posledni[static_cast<size_t>(e.hlas)];
            const int w = e.segment - e.transpozice;   // as written, without T
            const int pw = p ? p->segment - p->transpozice : 0;
            if (p && napsana && p != napsana && !e.oktava && std::abs(w - pw) > 12) {
                const int pismeno = cislopismene(e.znak);
                const int oktava = w - pismeno - e.posuvky + 1;
                int nej = oktava;
                for (int o = 0; o <= 60; o += 12) {
                    const int x = o + pismeno + e.posuvky - 1;
                    const int seg = x + e.transpozice;
                    if (seg < 1 || seg >= pocetsegmentu) continue;
                    if (std::abs(x - pw) < std::abs(nej + pismeno + e.posuvky - 1 - pw)) nej = o;
                }
                if (nej != oktava && nej >= 0 && nej <= 60 && nej % 12 == 0) {
                    std::string napis = std::string("o") + znaky[nej / 12];
                    for (int i = 0; i < std::abs(e.posuvky) && i < 8; ++i) napis += e.posuvky > 0 ? '>' : '<';
                    napis += e.znak;
                    out.push_back({e.pozice, "this " + std::string(1, e.znak) + " plays " + jmenotonu(e.segment) +
                                                 ", more than an octave " + (w < pw ? "below" : "above") +
                                                 " the note before it in its voice (" + jmenotonu(p->segment) +
                                                 "): without an o, a note takes the octave of the last note written, "
                                                 "here " + jmenotonu(napsana->segment) + " in another voice (write " +
                                                 napis + " instead)"});
                }
            }
            posledni[static_cast<size_t>(e.hlas)] = &e;
        }
        napsana = &e;
    }
}

// What the engine made of each note and step back: notes on the silent
// segment 0 or on a segment a register holds as silence, notes whose value
// outlasts their recording, step backs that pass the start of the piece,
// cross a change of tempo or land inside a dotted note, dots that lengthen
// only the top of a chord. Walks the events and step backs in the order of
// the score; positions are the events' own, exact.
class Noty {
public:
    explicit Noty(std::vector<Varovani>& out) : out_(out) {}

    void projdi(const Hudba& h) {
        size_t k = 0;
        for (size_t i = 0; i <= h.udalosti.size(); ++i) {
            for (; k < h.zpet.size() && h.zpet[k].pred <= i; ++k) zpet(h.zpet[k]);
            if (i < h.udalosti.size()) udalost(h.udalosti[i]);
        }
        pripis(dlouhe_);
        for (const auto& t : tiche_) pripis(t.second);
    }

private:
    // A warning said once for many places: at the first, with a count of
    // the others added at the end.
    struct Opakovane {
        size_t index = SIZE_MAX;   // in out_
        int64_t dalsich = 0;       // the places after the first
    };
    void varujjednou(Opakovane& o, int64_t pozice, const std::string& text) {
        if (o.index != SIZE_MAX) {
            ++o.dalsich;
            return;
        }
        o.index = out_.size();
        out_.push_back({pozice, text});
    }
    void pripis(const Opakovane& o) {
        if (o.index == SIZE_MAX || o.dalsich == 0) return;
        out_[o.index].text += " (and " + std::to_string(o.dalsich) + " more note" + (o.dalsich == 1 ? "" : "s") +
                              " like it)";
    }

    void udalost(const Udalost& e) {
        if (e.pismeno && e.segment == 0) {
            out_.push_back({e.pozice, "this note falls on segment 0, the register's silence, and plays nothing (ov c, "
                                      "or a note transposed down to it): the lowest note that sounds is ov >c"});
        }
        if (e.ticho) {
            varujjednou(tiche_[static_cast<unsigned char>(e.reg) << 8 | e.segment], e.pozice,
                        "this note plays " + jmenotonu(e.segment) + ", which " + jmenorejstriku(e.reg) +
                            " holds as silence (its samples there are all zero), so it sounds nothing: play it in "
                            "another octave or from another register");
        }
        if (e.hraje()) dlouha(e);
        manoty_ = true;
        if (e.tecka) {
            // A dot after the top note of a chord stacked with plain step
            // backs lengthens that note alone.
            const Posledni& p = posledni_;
            if (p.tecek == 0 && p.naakordu && p.pismeno && p.podpismeno && p.podtecek == 0 &&
                p.podhodnota == p.hodnota) {
                out_.push_back({e.pozice, "this dot lengthens only the last note of the chord before it: the notes "
                                          "stacked under it with - keep their plain value (with --release and in "
                                          "MIDI they end sooner); to dot the whole chord, dot each note and step "
                                          "back a value and a half between them: c. -. e. -. g."});
            }
            ++posledni_.tecek;
        } else {
            zacatekposledni_ = e.zacatek;
            const Posledni pod = posledni_;
            posledni_ = Posledni{e.hodnota, 0, e.pismeno, akordkrok_, pod.hodnota, pod.tecek, pod.pismeno};
        }
        akordkrok_ = false;
    }

    // What the register really sounds of the note: its segment's sound (a
    // register whose keys were released early ends sooner than its four
    // seconds), or its whole value through a sustain loop.
    void dlouha(const Udalost& e) {
        const int64_t zvuk = e.nahrano > 0 ? e.nahrano : delkatonu;
        if (e.trva <= zvuk) return;
        const std::string sekund = desetinne2(static_cast<double>(e.trva) / zaklad);
        const std::string zni = desetinne2(static_cast<double>(zvuk) / zaklad);
        const std::string nahravka = std::to_string(delkatonu / zaklad);
        const bool cely = zvuk + zaklad / 20 >= delkatonu;
        varujjednou(dlouhe_, e.pozice,
                    "this note lasts " + sekund + " s by its value, but " +
                        (cely ? "its recording holds " + nahravka + " s: it falls silent after " + nahravka + " s"
                              : jmenorejstriku(e.reg) + " sounds " + jmenotonu(e.segment) + " for only " + zni +
                                    " s: it falls silent after " + zni + " s") +
                        "; --release holds a note for its value where its register has sustain loops "
                        "(skladba-registers writes them beside the register); or repeat the note");
    }
    static std::string desetinne2(double x) {
        char b[32];
        std::snprintf(b, sizeof b, "%.2f", x);
        return b;
    }

    void zpet(const KrokZpet& k) {
        const Zlomek nula;
        if (k.kam < nula) {
            if (k.odkud <= nula) {
                out_.push_back({k.pozice, "a step back at the start of the piece goes nowhere: the cursor stops at "
                                          "the start; to turn on the start jitter without stepping back, write -0"});
            } else {
                const Zlomek pred = nula - k.kam;
                const std::string kolik = pred < Zlomek{4}
                                              ? (pred.j <= 1024 ? pred.text() : desetinne(pred.cislo(), 3)) + " of a whole note"
                                              : desetinne(pred.cislo(), 3) + " whole notes";
                bool cele = false;
                const int64_t pocet = k.odkud.kolikrat(Zlomek{1, k.hodnota}, cele);
                out_.push_back({k.pozice, "this step back goes " + kolik + " before the start of the piece, where the "
                                          "cursor stops: what follows starts later than its values say; " +
                                              (cele && pocet >= 1 ? "to step back to the start, write -" + std::to_string(pocet)
                                                                  : std::string("step back no further than the start"))});
            }
        } else if (k.zmenatempa != 0 && k.kam < k.tempo && k.tempo <= k.odkud) {
            out_.push_back({k.pozice, k.zmenatempa == 2
                              ? "this step back crosses an r that changed the tempo curve: a step back unwinds the "
                                "curve as it runs now, so what follows does not land where the notes it steps over "
                                "began; write the voices phrase by phrase, stepping back no further than the last r"
                              : "this step back crosses a t that changed the tempo: it steps back at the new tempo, so "
                                "what follows does not land where the notes it steps over began; write the voices "
                                "phrase by phrase, stepping back no further than the last t"});
        }
        const Zlomek kam = k.nastart || k.kam < nula ? nula : k.kam;   // the cursor stops at the start
        // A plain step back after a dotted note goes back one value, to the
        // middle of the note, not to its start.
        if (manoty_ && posledni_.tecek == 1 && k.jednou && k.hodnota == posledni_.hodnota &&
            kam > zacatekposledni_ && kam < k.odkud) {
            out_.push_back({k.pozice, "this step back of one value lands inside the dotted note before it, not at "
                                      "its start: to stack a chord on a dotted note, step back a value and a half, -."});
        }
        akordkrok_ = false;
        if (manoty_ && kam < zacatekposledni_) {
            manoty_ = false;   // another voice begins
        } else if (manoty_ && kam == zacatekposledni_) {
            akordkrok_ = true;
        }
    }

    std::vector<Varovani>& out_;
    bool manoty_ = false;        // a note or rest since the start or the last step back that left it
    Zlomek zacatekposledni_;     // where the last note or rest began
    // The last note or rest (not a dot): its value, its dots, whether it
    // is a note, and the note it was stacked on with a step back ("c - e").
    struct Posledni {
        int64_t hodnota = 0;
        int tecek = 0;
        bool pismeno = false;
        bool naakordu = false;
        int64_t podhodnota = 0;
        int podtecek = 0;
        bool podpismeno = false;
    } posledni_;
    bool akordkrok_ = false;     // the last step back stacked a chord on the last note
    Opakovane dlouhe_;                   // notes longer than their recording
    std::map<int, Opakovane> tiche_;     // per register and segment
};

}  // namespace

std::vector<Varovani> zkontrolujhudbu(const Hudba& h, size_t nejvic, int64_t& dalsich) {
    std::vector<Varovani> out;
    zkontrolujtakty(h, out);
    zkontrolujoktavy(h, out);
    Noty(out).projdi(h);
    std::stable_sort(out.begin(), out.end(), [](const Varovani& a, const Varovani& b) { return a.pozice < b.pozice; });
    dalsich = out.size() > nejvic ? static_cast<int64_t>(out.size() - nejvic) : 0;
    if (out.size() > nejvic) out.resize(nejvic);
    return out;
}


}  // namespace skladba
