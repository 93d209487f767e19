#include "output/midi.h"

#include <algorithm>
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

// The time base of the file.
struct CasMidi {
    int32_t deleni = 0;     // ticks per quarter note
    int32_t tempo = 0;      // microseconds per quarter note
};

// The time base for a piece: celatempa is the one whole-note length in
// samples its notes were all placed at, or 0 when there was none.
CasMidi casmidi(int64_t celatempa) {
    const int64_t ctvrtka = celatempa / 4;   // samples; whole notes are made of four
    if (ctvrtka > 0) {
        const int64_t tempo = (2 * ctvrtka * mikrosekundzakrok + vzorkuzakrok) / (2 * vzorkuzakrok);
        // The tempo must fit its three bytes; a quarter shorter than 960
        // samples gets one tick a sample.
        if (tempo >= 1 && tempo < (int64_t{1} << 24)) {
            return {static_cast<int32_t>(std::min<int64_t>(deleninoty, ctvrtka)), static_cast<int32_t>(tempo)};
        }
    }
    return {11025, 500000};
}

// The tick nearest to a sample.
int64_t tikmidi(const CasMidi& cas, int64_t vzorek) {
    // vzorek / zaklad seconds, at tempo / deleni microseconds a tick.
    const int64_t citatel = vzorek * mikrosekundzakrok * cas.deleni;
    const int64_t jmenovatel = vzorkuzakrok * cas.tempo;
    return (2 * citatel + jmenovatel) / (2 * jmenovatel);
}

struct Udalost {
    int64_t tik;
    uint8_t zapnuti;   // 0: note off, 1: note on (offs first at the same tick)
    uint8_t klavesa;
    uint8_t rychlost;
};

std::string stopa(const std::vector<Nota>& noty, char reg, int kanal, const CasMidi& cas, bool mrizka) {
    std::vector<Udalost> udalosti;
    for (const Nota& n : noty) {
        if (n.reg != reg) continue;
        const auto klavesa = static_cast<uint8_t>(n.segment + 36);
        const int64_t start = mrizka ? n.kurzor : n.start;
        const int64_t zacatek = tikmidi(cas, start);
        // A note of no length still sounds for a tick, so that its note off
        // comes after its note on.
        const int64_t konec = std::max(zacatek + 1, tikmidi(cas, start + n.delka));
        udalosti.push_back({zacatek, 1, klavesa, static_cast<uint8_t>(rychlostmidi(n.sila))});
        udalosti.push_back({konec, 0, klavesa, 64});
    }
    std::stable_sort(udalosti.begin(), udalosti.end(), [](const Udalost& a, const Udalost& b) {
        return a.tik != b.tik ? a.tik < b.tik : a.zapnuti < b.zapnuti;
    });
    // Two voices may hold one key at once (a unison, a canon); a player
    // releases the key at the first note off it gets. So a key struck again
    // while it sounds is released just before, and of notes that overlap
    // only the last release is written.
    int zni[128] = {};
    std::vector<Udalost> vysledne;
    vysledne.reserve(udalosti.size() + 8);
    for (const Udalost& u : udalosti) {
        int& z = zni[u.klavesa];
        if (u.zapnuti) {
            if (z > 0) vysledne.push_back({u.tik, 0, u.klavesa, 64});
            ++z;
            vysledne.push_back(u);
        } else if (--z == 0) {
            vysledne.push_back(u);
        }
    }
    udalosti.swap(vysledne);
    std::string out;
    pistext(out, 0x03, jmenorejstriku(reg));
    const int program = programmidi(reg);
    if (program >= 0) {
        pisvlq(out, 0);
        out += static_cast<char>(0xC0 | kanal);
        out += static_cast<char>(program);
    }
    int64_t tik = 0;
    for (const Udalost& u : udalosti) {
        int64_t krok = u.tik - tik;
        // A gap longer than a delta time can say is bridged by empty text
        // events.
        while (krok > nejdelsikrok) {
            pisvlq(out, static_cast<uint32_t>(nejdelsikrok));
            out.append("\xFF\x01\x00", 3);
            krok -= nejdelsikrok;
        }
        pisvlq(out, static_cast<uint32_t>(krok));
        out += static_cast<char>((u.zapnuti ? 0x90 : 0x80) | kanal);
        out += static_cast<char>(u.klavesa);
        out += static_cast<char>(u.rychlost);
        tik = u.tik;
    }
    piskonec(out);
    return out;
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

int programmidi(char reg) {
    switch (reg) {
        case '1': return 16;   // the organ of drawn stops: drawbar organ
        case '2': return 73;   // flute
        case '3': return 25;   // the bright plucked string: steel-string guitar
        case '4': return 0;    // piano: acoustic grand piano
        case '5': return 0;    // acoustic grand piano
        case '6': return 19;   // church organ
        case '7': return 48;   // string ensemble
        case '8': return 73;   // flute
        case '9': return 24;   // nylon-string guitar
        default: return -1;
    }
}

std::string bajtymidi(const std::vector<Nota>& noty, int64_t celatempa, const PopisMidi& popis) {
    const std::string& nazev = popis.nazev;
    const char vychozireg = popis.vychozireg;
    const CasMidi cas = casmidi(celatempa);
    std::vector<char> rejstriky;
    for (const Nota& n : noty) {
        if (std::find(rejstriky.begin(), rejstriky.end(), n.reg) == rejstriky.end()) rejstriky.push_back(n.reg);
    }
    if (rejstriky.empty()) rejstriky.push_back(vychozireg);

    std::string out = "MThd";
    pis32(out, 6);
    pis16(out, 1);                                              // format 1: tracks played together
    pis16(out, static_cast<uint32_t>(rejstriky.size() + 1));    // the tempo track and one per register
    pis16(out, static_cast<uint32_t>(cas.deleni));              // ticks per quarter note

    std::string tempo;
    pistext(tempo, 0x03, nazev);
    tempo.append("\x00\xFF\x51\x03", 4);
    tempo += static_cast<char>(cas.tempo >> 16 & 0xFF);
    tempo += static_cast<char>(cas.tempo >> 8 & 0xFF);
    tempo += static_cast<char>(cas.tempo & 0xFF);
    // The time signature: numerator, the denominator as a power of two, MIDI
    // clocks (24 a quarter) per beat, and 32nd notes per quarter.
    int mocnina = 0;
    while ((1 << mocnina) < popis.metrum.jmenovatel && mocnina < 6) ++mocnina;
    tempo.append("\x00\xFF\x58\x04", 4);
    tempo += static_cast<char>(popis.metrum.citatel);
    tempo += static_cast<char>(mocnina);
    tempo += static_cast<char>(96 >> mocnina);
    tempo += static_cast<char>(8);
    piskonec(tempo);
    pisstopu(out, tempo);
    for (size_t i = 0; i < rejstriky.size(); ++i) {
        pisstopu(out, stopa(noty, rejstriky[i], kanalmidi(i), cas, popis.mrizka));
    }
    return out;
}

}  // namespace skladba
