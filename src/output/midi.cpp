#include "output/midi.h"

#include <algorithm>
#include <array>
#include <cmath>

#include "base/format.h"

namespace skladba {

namespace {

// A second holds 22050 samples and 10^6 microseconds: 441 samples are
// 20000 microseconds, the smallest whole numbers of both.
constexpr int64_t vzorkuzakrok = 441;
constexpr int64_t mikrosekundzakrok = 20000;
static_assert(zaklad * mikrosekundzakrok == 1000000 * vzorkuzakrok, "the sample rate of the conversion");

constexpr int32_t deleninoty = 960;
// The largest delta time a file can hold (four bytes of seven bits).
constexpr int64_t nejdelsikrok = 0x0FFFFFFF;

void pis16(std::string& out, uint32_t v) {
    out += static_cast<char>(v >> 8 & 0xFF);
    out += static_cast<char>(v & 0xFF);
}

void pis32(std::string& out, uint32_t v) {
    pis16(out, v >> 16);
    pis16(out, v & 0xFFFF);
}

// A variable-length quantity: seven bits a byte, the high bit on all but
// the last.
void pisvlq(std::string& out, uint32_t v) {
    char buf[5];
    int n = 0;
    buf[n++] = static_cast<char>(v & 0x7F);
    while ((v >>= 7) != 0) buf[n++] = static_cast<char>(0x80 | (v & 0x7F));
    while (n > 0) out += buf[--n];
}

void pistext(std::string& out, uint8_t typ, const std::string& text) {
    pisvlq(out, 0);
    out += '\xFF';
    out += static_cast<char>(typ);
    pisvlq(out, static_cast<uint32_t>(text.size()));
    out += text;
}

void piskonec(std::string& out) { out.append("\x00\xFF\x2F\x00", 4); }

void pisstopu(std::string& out, const std::string& stopa) {
    out += "MTrk";
    pis32(out, static_cast<uint32_t>(stopa.size()));
    out += stopa;
}

constexpr int64_t tikunacelou = 4 * deleninoty;
// A note may start this far from where the WAV plays it before the file
// gets a tempo event that brings it back.
constexpr double odchylkaus = 200.0;

// A tempo event: from tick tik on, tempo microseconds a quarter.
struct Tempo {
    int64_t tik;
    int64_t tempo;
};

// The tempo map: at every written position the file's clock meets the
// cursor of the WAV, within odchylkaus; a change is written where the clock
// would drift further, and at every "t" and every change of a curve.
std::vector<Tempo> mapatemp(const Hudba& h) {
    std::vector<Tempo> mapa;
    std::vector<int64_t> vynutit;
    for (const ZmenaTempa& z : h.tempa) vynutit.push_back(z.kde.tiku(tikunacelou));
    std::sort(vynutit.begin(), vynutit.end());
    std::vector<std::pair<int64_t, double>> body;   // tick, microseconds in the WAV
    for (const auto& [kde, vzorek] : h.body) {
        const int64_t t = kde.tiku(tikunacelou);
        if (t < 0) continue;
        const double us = static_cast<double>(vzorek) * 1e6 / zaklad;
        if (body.empty() || body.back().first < t) body.push_back({t, us});
    }
    int64_t tempo = 500000;
    double cas = body.empty() ? 0.0 : body.front().second;   // the file's clock at the current point
    if (!body.empty() && body.front().first > 0) {
        // Before the first note (a score that starts after a rest is still
        // at 0): the first stretch's pace.
        cas = 0;
    }
    int64_t tik = 0;
    for (size_t i = 0; i < body.size(); ++i) {
        const int64_t dalsi = body[i].first;
        if (dalsi > tik) {
            cas += static_cast<double>(tempo) * static_cast<double>(dalsi - tik) / deleninoty;
            tik = dalsi;
        }
        if (i + 1 == body.size()) break;
        const int64_t dt = body[i + 1].first - tik;
        if (dt <= 0) continue;
        const double cil = body[i + 1].second;
        const double idealni = (cil - cas) * deleninoty / static_cast<double>(dt);
        const bool vynucena = std::binary_search(vynutit.begin(), vynutit.end(), tik);
        const double odhad = cas + static_cast<double>(tempo) * static_cast<double>(dt) / deleninoty;
        if (mapa.empty() || vynucena || std::fabs(odhad - cil) > odchylkaus) {
            const int64_t nove = std::clamp<int64_t>(std::llround(idealni), 1, (int64_t{1} << 24) - 1);
            if (mapa.empty() || nove != tempo) {
                tempo = nove;
                if (!mapa.empty() && mapa.back().tik == tik) {
                    mapa.back().tempo = tempo;
                } else {
                    mapa.push_back({tik, tempo});
                }
            }
        }
    }
    if (mapa.empty()) mapa.push_back({0, 500000});
    mapa.front().tik = 0;
    return mapa;
}

// For notation programs (--midi-grid): a tempo event at every "t" and where
// each curve starts and ends, and none between; the notes under a curve
// keep the tempo it starts at.
std::vector<Tempo> mapanamrizce(const Hudba& h) {
    std::vector<Tempo> mapa;
    for (const ZmenaTempa& z : h.tempa) {
        if (!(z.ctvrtek > 0.01 && z.ctvrtek < 1e7)) continue;
        const int64_t tempo = std::clamp<int64_t>(std::llround(60e6 / z.ctvrtek), 1, (int64_t{1} << 24) - 1);
        const int64_t tik = std::max<int64_t>(0, z.kde.tiku(tikunacelou));
        if (!mapa.empty() && mapa.back().tik == tik) {
            mapa.back().tempo = tempo;
        } else if (mapa.empty() || mapa.back().tempo != tempo) {
            mapa.push_back({tik, tempo});
        }
    }
    if (mapa.empty()) mapa.push_back({0, 500000});
    mapa.front().tik = 0;
    return mapa;
}

// The time signature event of a bar of delka whole notes in metre m: the
// metre's own for a whole bar, a bar as long as it is for a pickup or a bar
// cut short; its clocks a beat (24 a quarter, 36 a dotted quarter).
std::string casovyznak(const Zlomek& delka, const ZmenaMetra& m) {
    int citatel = m.citatel, jmenovatel = m.jmenovatel;
    bool slozene = m.slozene();
    if (delka != m.takt()) {
        // In the metre's denominator where that writes it whole, else in
        // the bar's own.
        const Zlomek n = delka * jmenovatel;
        if (n.j == 1) {
            citatel = static_cast<int>(std::min<int64_t>(n.c, 255));
        } else {
            citatel = static_cast<int>(std::min<int64_t>(delka.c, 255));
            jmenovatel = static_cast<int>(std::min<int64_t>(delka.j, 64));
        }
        slozene = false;
    }
    int mocnina = 0;
    while ((1 << mocnina) < jmenovatel && mocnina < 6) ++mocnina;
    const int hodiny = std::max(1, (96 >> mocnina) * (slozene ? 3 : 1));
    std::string b = "\xFF\x58\x04";
    b += static_cast<char>(std::max(1, citatel));
    b += static_cast<char>(mocnina);
    b += static_cast<char>(std::min(hodiny, 255));
    b += static_cast<char>(8);
    return b;
}

// Microseconds a quarter at a tick.
int64_t tempona(const std::vector<Tempo>& mapa, int64_t tik) {
    auto it = std::upper_bound(mapa.begin(), mapa.end(), tik, [](int64_t t, const Tempo& x) { return t < x.tik; });
    return it == mapa.begin() ? mapa.front().tempo : std::prev(it)->tempo;
}

struct Zprava {
    int64_t tik;
    uint8_t zapnuti;   // 0: note off, 1: note on (offs first at the same tick)
    uint8_t klavesa;
    uint8_t rychlost;
    size_t stopa;
    int kanal;
};

// A delta time, bridging a gap longer than one can say with empty text events.
void piskrok(std::string& out, int64_t krok) {
    while (krok > nejdelsikrok) {
        pisvlq(out, static_cast<uint32_t>(nejdelsikrok));
        out.append("\xFF\x01\x00", 3);
        krok -= nejdelsikrok;
    }
    pisvlq(out, static_cast<uint32_t>(krok));
}

}  // namespace


int rychlostmidi(int sila) {
    const double r = std::round(127.0 * std::sqrt(std::clamp(sila, 0, 100) / 100.0));
    return std::clamp(static_cast<int>(r), 1, 127);
}

int kanalmidi(size_t n) {
    const int k = static_cast<int>(n % 15);
    return k < 9 ? k : k + 1;
}

int programmidi(char reg) { return popisrejstriku(reg).program; }

std::string bajtymidi(const Hudba& h, const PopisMidi& popis) {
    const std::vector<Tempo> mapa = popis.mrizka ? mapanamrizce(h) : mapatemp(h);
    // One track per voice and register, in the order they first sound; a
    // channel per register.
    std::vector<char> rejstriky;
    std::vector<std::pair<char, int32_t>> stopy;
    for (const Udalost& e : h.udalosti) {
        if (!e.hraje()) continue;
        if (std::find(rejstriky.begin(), rejstriky.end(), e.reg) == rejstriky.end()) rejstriky.push_back(e.reg);
        const std::pair<char, int32_t> s{e.reg, e.hlas};
        if (std::find(stopy.begin(), stopy.end(), s) == stopy.end()) stopy.push_back(s);
    }
    if (stopy.empty()) {
        rejstriky.push_back(popis.vychozireg);
        stopy.push_back({popis.vychozireg, -1});
    }
    std::stable_sort(stopy.begin(), stopy.end(), [&](const auto& a, const auto& b) {
        const auto ra = std::find(rejstriky.begin(), rejstriky.end(), a.first);
        const auto rb = std::find(rejstriky.begin(), rejstriky.end(), b.first);
        return ra != rb ? ra < rb : a.second < b.second;
    });
    auto kanalrejstriku = [&](char reg) {
        return kanalmidi(static_cast<size_t>(std::find(rejstriky.begin(), rejstriky.end(), reg) - rejstriky.begin()));
    };

    // Notes on the ticks of their written values; with the start jitter
    // (unless mrizka), moved by it as the WAV plays them.
    std::vector<Zprava> udalosti;
    for (const Udalost& e : h.udalosti) {
        if (!e.hraje()) continue;
        const size_t stopa = static_cast<size_t>(
            std::find(stopy.begin(), stopy.end(), std::make_pair(e.reg, e.hlas)) - stopy.begin());
        int64_t zacatek = e.zacatek.tiku(tikunacelou);
        int64_t konec = e.konec().tiku(tikunacelou);
        if (!popis.mrizka && e.start != e.kurzor) {
            const double us = static_cast<double>(e.start - e.kurzor) * 1e6 / zaklad;
            const int64_t posun = std::llround(us * deleninoty / static_cast<double>(tempona(mapa, zacatek)));
            zacatek += posun;
            konec += posun;
        }
        zacatek = std::max<int64_t>(0, zacatek);
        // A note of no length still sounds for a tick, so that its note off
        // comes after its note on.
        konec = std::max(zacatek + 1, konec);
        const int kanal = kanalrejstriku(e.reg);
        const auto k = static_cast<uint8_t>(klavesa(e.segment));
        udalosti.push_back({zacatek, 1, k, static_cast<uint8_t>(rychlostmidi(e.sila)), stopa, kanal});
        udalosti.push_back({konec, 0, k, 64, stopa, kanal});
    }
    std::stable_sort(udalosti.begin(), udalosti.end(), [](const Zprava& a, const Zprava& b) {
        return a.tik != b.tik ? a.tik < b.tik : a.zapnuti < b.zapnuti;
    });
    // Two voices may hold one key of a channel at once (a unison, a canon);
    // a player releases the key at the first note off it gets. So a key
    // struck again while it sounds is released just before, and of notes
    // that overlap only the last release is written.
    // Per track, as a reader pairs them.
    std::vector<std::array<int, 128>> zni(stopy.size());
    for (auto& z : zni) z.fill(0);
    std::vector<std::string> obsahy(stopy.size());
    std::vector<int64_t> tiky(stopy.size(), 0);
    for (size_t i = 0; i < stopy.size(); ++i) {
        std::string& out = obsahy[i];
        const char reg = stopy[i].first;
        pistext(out, 0x03, jmenorejstriku(reg) + (stopy[i].second >= 0 ? " voice " + std::to_string(stopy[i].second + 1) : ""));
        const int program = programmidi(reg);
        if (program >= 0) {
            pisvlq(out, 0);
            out += static_cast<char>(0xC0 | kanalrejstriku(reg));
            out += static_cast<char>(program);
        }
    }
    auto pis = [&](const Zprava& u) {
        std::string& out = obsahy[u.stopa];
        piskrok(out, u.tik - tiky[u.stopa]);
        tiky[u.stopa] = u.tik;
        out += static_cast<char>((u.zapnuti ? 0x90 : 0x80) | u.kanal);
        out += static_cast<char>(u.klavesa);
        out += static_cast<char>(u.rychlost);
    };
    for (const Zprava& u : udalosti) {
        int& z = zni[u.stopa][u.klavesa];
        if (u.zapnuti) {
            if (z > 0) pis({u.tik, 0, u.klavesa, 64, u.stopa, u.kanal});
            ++z;
            pis(u);
        } else if (--z == 0) {
            pis(u);
        }
    }

    std::string out = "MThd";
    pis32(out, 6);
    pis16(out, 1);                                              // format 1: tracks played together
    pis16(out, static_cast<uint32_t>(stopy.size() + 1));        // the tempo track and one per voice
    pis16(out, static_cast<uint32_t>(deleninoty));              // ticks per quarter note

    // The tempo track: the title, the composer, a time signature at every
    // bar whose metre is not the bar's before it (a pickup is a bar of its
    // own), the tempo map and, on the grid, the curves' words as markers.
    struct Meta {
        int64_t tik;
        int poradi;          // at one tick: the signature first, the marker, the tempo
        std::string bajty;
    };
    std::vector<Meta> meta;
    {
        // The pickup, then the metre of the bars after it, then each change.
        Takt t;
        t.metrum = h.metra.empty() ? -1 : 0;
        const ZmenaMetra prvni = h.metrumtaktu(t);
        if (h.predtakt > Zlomek{}) meta.push_back({0, 0, casovyznak(h.predtakt, prvni)});
        meta.push_back({h.predtakt.tiku(tikunacelou), 0, casovyznak(prvni.takt(), prvni)});
        for (size_t i = 1; i < h.metra.size(); ++i) {
            meta.push_back({h.metra[i].kde.tiku(tikunacelou), 0, casovyznak(h.metra[i].takt(), h.metra[i])});
        }
    }
    // The key signatures of key: directives: fifths, and 1 for minor.
    for (const ZmenaToniny& k : h.toniny) {
        std::string b = "\xFF\x59\x02";
        b += static_cast<char>(static_cast<int8_t>(k.kvinty));
        b += static_cast<char>(k.moll ? 1 : 0);
        meta.push_back({k.kde.tiku(tikunacelou), 0, b});
    }
    for (const Tempo& t : mapa) {
        std::string b = "\xFF\x51\x03";
        b += static_cast<char>(t.tempo >> 16 & 0xFF);
        b += static_cast<char>(t.tempo >> 8 & 0xFF);
        b += static_cast<char>(t.tempo & 0xFF);
        meta.push_back({t.tik, 2, b});
    }
    if (popis.mrizka) {
        for (const ZmenaTempa& z : h.tempa) {
            if (z.druh != ZmenaTempa::Druh::krivka) continue;
            const std::string slovo = z.ritard > 0 ? "rit." : "accel.";
            meta.push_back({z.kde.tiku(tikunacelou), 1, "\xFF\x06" + std::string(1, static_cast<char>(slovo.size())) + slovo});
        }
    }
    std::stable_sort(meta.begin(), meta.end(),
                     [](const Meta& a, const Meta& b) { return a.tik != b.tik ? a.tik < b.tik : a.poradi < b.poradi; });
    std::string tempo;
    pistext(tempo, 0x03, h.nazev.empty() ? popis.nazev : h.nazev);
    if (!h.autor.empty()) pistext(tempo, 0x02, h.autor);
    int64_t tik = 0;
    for (const Meta& m : meta) {
        piskrok(tempo, std::max<int64_t>(0, m.tik - tik));
        tik = std::max(tik, m.tik);
        tempo += m.bajty;
    }
    piskonec(tempo);
    pisstopu(out, tempo);
    for (std::string& s : obsahy) {
        piskonec(s);
        pisstopu(out, s);
    }
    return out;
}

}  // namespace skladba
