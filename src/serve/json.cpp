#include "serve/json.h"

#include <algorithm>
#include <cstdio>
#include <vector>

#include "base/format.h"
#include "engine/prikazy.h"

namespace skladba {

// A JSON string. Valid UTF-8 passes as it is; any other byte (a score may
// be Windows-1250, a file name any bytes) becomes U+FFFD, so that the
// answer always parses.
std::string jsontext(const std::string& s) {
    std::string o = "\"";
    for (size_t i = 0; i < s.size();) {
        const auto b = static_cast<unsigned char>(s[i]);
        if (b < 0x80) {
            if (b == '"') o += "\\\"";
            else if (b == '\\') o += "\\\\";
            else if (b == '\n') o += "\\n";
            else if (b < 0x20 || b == 0x7F) {
                char buf[8];
                std::snprintf(buf, sizeof buf, "\\u%04x", b);
                o += buf;
            } else {
                o += static_cast<char>(b);
            }
            ++i;
            continue;
        }
        const size_t navic = b >= 0xF0 && b <= 0xF4 ? 3 : b >= 0xE0 && b <= 0xEF ? 2 : b >= 0xC2 && b <= 0xDF ? 1 : 0;
        bool platny = navic > 0 && i + navic < s.size();
        for (size_t k = 1; platny && k <= navic; ++k) platny = (static_cast<unsigned char>(s[i + k]) & 0xC0) == 0x80;
        if (platny && navic == 2) {
            const auto c = static_cast<unsigned char>(s[i + 1]);
            platny = !(b == 0xE0 && c < 0xA0) && !(b == 0xED && c >= 0xA0);   // overlong, surrogates
        }
        if (platny && navic == 3) {
            const auto c = static_cast<unsigned char>(s[i + 1]);
            platny = !(b == 0xF0 && c < 0x90) && !(b == 0xF4 && c >= 0x90);   // overlong, past U+10FFFF
        }
        if (platny) {
            o.append(s, i, navic + 1);
            i += navic + 1;
        } else {
            o += "\xEF\xBF\xBD";
            ++i;
        }
    }
    return o + "\"";
}

namespace {

std::string jsonhlaseni(const Hlaseni& h) {
    return "{\"at\":" + std::to_string(h.pozice) + ",\"line\":" + std::to_string(h.radek) +
           ",\"col\":" + std::to_string(h.sloupec) + ",\"text\":" + jsontext(h.text) + "}";
}

// A number of seconds to the millisecond.
std::string sekundy(double s) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.3f", s);
    return buf;
}

// What the page draws of a good render beside its files: every note as the
// piano roll draws it, with its voice and written start; the beats in
// seconds (the bar lines are jsontakty's); the voices with their registers
// and ranges, and those its WAV leaves out.
std::string jsonhudba(const Vysledek& r, const std::vector<int>& ztlumeno) {
    const Hudba& h = r.hudba;
    // The written start of each note by the byte it stands at.
    std::vector<std::pair<int64_t, double>> zacatky;
    for (const Udalost& e : h.udalosti) {
        if (e.hraje()) zacatky.push_back({e.pozice, e.zacatek.cislo()});
    }
    std::sort(zacatky.begin(), zacatky.end());
    auto zacatek = [&](int64_t pozice) {
        auto it = std::lower_bound(zacatky.begin(), zacatky.end(), std::make_pair(pozice, -1e300));
        return it != zacatky.end() && it->first == pozice ? it->second : -1.0;
    };
    // Each note: start and value in samples, segment, the bytes of the
    // score it comes from, its voice (from 1; 0: none) and where it starts
    // in whole notes as written.
    std::string o = ",\"noteList\":[";
    o.reserve(o.size() + r.seznamnot.size() * 56);
    char buf[64];
    for (size_t i = 0; i < r.seznamnot.size(); ++i) {
        const Nota& n = r.seznamnot[i];
        std::snprintf(buf, sizeof buf, ",%d,%.12g]", n.hlas + 1, zacatek(n.pozice));
        o += (i ? ",[" : "[") + std::to_string(n.start) + "," + std::to_string(n.krok) + "," +
             std::to_string(n.segment) + "," + std::to_string(n.pozice) + "," + std::to_string(n.po) + buf;
    }
    o += "]";
    std::vector<double> takty, doby;
    h.mrizka(takty, doby);
    o += ",\"beats\":[";
    for (size_t i = 0; i < doby.size(); ++i) o += (i ? "," : "") + sekundy(doby[i]);
    o += "],\"meter\":[" + std::to_string(h.metrum.citatel) + "," + std::to_string(h.metrum.jmenovatel) + "]";
    struct Hlas {
        std::string rejstriky;
        int nejnizsi = 1000, nejvyssi = -1;
        int64_t pocet = 0, prvni = -1;
    };
    std::vector<Hlas> hlasy(static_cast<size_t>(std::max(0, h.hlasu)));
    for (const Udalost& e : h.udalosti) {
        if (e.hlas < 0 || static_cast<size_t>(e.hlas) >= hlasy.size() || !e.hraje()) continue;
        Hlas& v = hlasy[static_cast<size_t>(e.hlas)];
        if (v.rejstriky.find(e.reg) == std::string::npos) v.rejstriky += e.reg;
        v.nejnizsi = std::min<int>(v.nejnizsi, e.segment);
        v.nejvyssi = std::max<int>(v.nejvyssi, e.segment);
        if (v.prvni < 0) v.prvni = e.pozice;
        ++v.pocet;
    }
    o += ",\"voices\":[";
    for (size_t i = 0; i < hlasy.size(); ++i) {
        const Hlas& v = hlasy[i];
        std::string rejstriky;
        for (size_t k = 0; k < v.rejstriky.size(); ++k) rejstriky += (k ? "," : "") + jsontext(jmenorejstriku(v.rejstriky[k]));
        o += std::string(i ? "," : "") + "{\"voice\":" + std::to_string(i + 1) + ",\"registers\":[" + rejstriky +
             "],\"notes\":" + std::to_string(v.pocet) + ",\"at\":" + std::to_string(v.prvni);
        if (v.pocet > 0) {
            o += ",\"low\":" + jsontext(jmenotonu(v.nejnizsi)) + ",\"high\":" + jsontext(jmenotonu(v.nejvyssi)) +
                 ",\"lowKey\":" + std::to_string(klavesa(v.nejnizsi)) + ",\"highKey\":" + std::to_string(klavesa(v.nejvyssi));
        }
        o += "}";
    }
    o += "],\"silent\":[";
    for (size_t i = 0; i < ztlumeno.size(); ++i) o += (i ? "," : "") + std::to_string(ztlumeno[i]);
    return o + "]";
}

// The bar lines of the music as written, in seconds of the WAV, from 0 (the
// start of the first bar, or of the pickup) on.
std::string jsontakty(const Hudba& h) {
    std::vector<double> takty, doby;
    h.mrizka(takty, doby);
    std::string o = "[0";
    char buf[32];
    for (const double t : takty) {
        std::snprintf(buf, sizeof buf, ",%.4f", t);
        o += buf;
    }
    return o + "]";
}

}  // namespace

std::string jsonulozeni(const Uloziste::Ulozeni& u) {
    return "{\"saved\":" + std::string(u.ulozeno ? "true" : "false") + ",\"conflict\":" +
           (u.konflikt ? "true" : "false") + ",\"version\":" + jsontext(u.verze) + ",\"error\":" +
           jsontext(u.chyba) + "}";
}

std::string jsonvykresleni(const Vykresleni& v) {
    if (v.nahrazeno) return "{\"superseded\":true}";
    const Vysledek& r = v.vysledek;
    const std::string cislo = std::to_string(v.cislo);
    std::string o = "{\"superseded\":false,\"id\":" + cislo + ",\"ok\":" + (r.status == 0 ? "true" : "false");
    char buf[64];
    std::snprintf(buf, sizeof buf, ",\"ms\":%.1f,\"rate\":%d", v.sekund * 1000, zaklad);
    o += buf;
    o += ",\"samples\":" + std::to_string(r.vzorku) + ",\"notes\":" + std::to_string(r.noty);
    o += ",\"warnings\":[";
    for (size_t i = 0; i < r.mistavarovani.size(); ++i) o += (i ? "," : "") + jsonhlaseni(r.mistavarovani[i]);
    o += "]";
    // The line that counts the warnings left out, as it stands.
    if (r.varovani.size() > r.mistavarovani.size()) o += ",\"more\":" + jsontext(r.varovani.back());
    if (r.status != 0) {
        o += ",\"error\":{\"message\":" + jsontext(r.zprava) + ",\"place\":" +
             (r.mistochyby.pozice >= 0 ? jsonhlaseni(r.mistochyby) : "null") + "}";
    }
    o += ",\"summary\":[";
    for (size_t i = 0; i < r.souhrn.size(); ++i) o += (i ? "," : "") + jsontext(r.souhrn[i]);
    o += "]";
    if (r.status == 0) {
        o += ",\"wav\":\"/out/" + cislo + ".wav\",\"svg\":\"/out/" + cislo + ".svg\",\"midi\":\"/out/" + cislo + ".mid\"" +
             ",\"musicxml\":\"/out/" + cislo + ".musicxml\"";
        if (v.zmixu) {
            // The page's audio patched: the sums of the samples that changed
            // and the peak that scales them all.
            std::snprintf(buf, sizeof buf, "%.17g", v.maximum);
            o += ",\"patch\":{\"from\":" + std::to_string(v.zmenaod) + ",\"to\":" + std::to_string(v.zmenapo) +
                 ",\"whole\":" + (v.cely ? "true" : "false") + ",\"base\":" + std::to_string(v.zaklad) + ",\"peak\":" + buf + ",\"sums\":\"/out/" + cislo + ".sums\"}";
        }
        o += ",\"bars\":" + jsontakty(r.hudba);
        o += jsonhudba(r, v.ztlumeno);
    }
    return o + "}";
}

// The score language as the engine's command table has it, for the page's
// colours: each command byte with its kind and what it reads after itself,
// and the octave characters. A byte above 0x7F stands for a letter of
// Windows-1250, an argument "raw" for the UTF-16LE letter whose code unit
// is the byte followed by 0x01.
std::string jsonjazyk() {
    static const char* const druhy[] = {"note", "rest", "value", "octave", "accidental",
                                        "command", "register", "back", "bar", "comment"};
    static const char* const argumenty[] = {"none", "number", "value", "octave", "register", "back", "raw", "comment"};
    std::string o = "{\"commands\":[";
    bool prvni = true;
    for (const Polozka& p : seznamprikazu()) {
        o += prvni ? "{" : ",{";
        prvni = false;
        o += "\"byte\":" + std::to_string(p.znak) + ",\"kind\":\"" + druhy[static_cast<int>(p.druh)] +
             "\",\"argument\":\"" + argumenty[static_cast<int>(p.argument)] + "\",\"text\":" + jsontext(p.popis) + "}";
    }
    o += "],\"octaves\":\"";
    for (int c = 0x21; c < 0x7F; ++c) {
        if (oktavapro(static_cast<char>(c)) >= 0) o += static_cast<char>(c);
    }
    return o + "\"}";
}

}  // namespace skladba
