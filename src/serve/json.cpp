#include "serve/json.h"

#include <charconv>
#include <cstdint>
#include <cstddef>
#include <cstdio>
#include <vector>

#include "base/format.h"
#include "base/utf8.h"
#include "engine/prikazy.h"
#include "score/smernice.h"

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
        uint32_t kod = 0;
        const size_t delka = znakutf8(s, i, kod);
        if (delka > 0) {
            o.append(s, i, delka);
            i += delka;
        } else {
            o += "\xEF\xBF\xBD";
            ++i;
        }
    }
    return o + "\"";
}

namespace {

// Numbers written as printf's "%lld" and "%.Nf"/"%.Ng" write them, without
// its locale and format parsing: an edit's answer holds thousands. Each
// writes at p, within end, and returns where it stopped.
char* napis(char* p, char* end, long long x) { return std::to_chars(p, end, x).ptr; }

char* napis(char* p, char* end, double x, std::chars_format f, int presnost) {
    const std::to_chars_result r = std::to_chars(p, end, x, f, presnost);
    if (r.ec == std::errc()) return r.ptr;
    *p = '0';   // no number of the music is that long
    return p + 1;
}

void pripis(std::string& o, double x, std::chars_format f, int presnost) {
    char buf[64];
    o.append(buf, static_cast<size_t>(napis(buf, buf + sizeof buf, x, f, presnost) - buf));
}

std::string jsonhlaseni(const Hlaseni& h) {
    return "{\"at\":" + std::to_string(h.pozice) + ",\"line\":" + std::to_string(h.radek) +
           ",\"col\":" + std::to_string(h.sloupec) + ",\"text\":" + jsontext(h.text) + "}";
}

// What the page draws of a good render beside its files: every note as the
// piano roll draws it, with its voice and written start; the beats in
// seconds (the bar lines are jsontakty's); the voices with their registers
// and ranges, and those its WAV leaves out.
// noty: the render's note list (jsonnoty), or where the page holds the
// same one, what names the render it came with.
std::string jsonhudba(const Hudba& h, const std::vector<int>& ztlumeno, const std::string& noty) {
    std::string o = noty;
    std::vector<double> takty, doby;
    h.mrizka(takty, doby);
    o += ",\"beats\":[";
    for (size_t i = 0; i < doby.size(); ++i) {
        if (i) o += ',';
        pripis(o, doby[i], std::chars_format::fixed, 3);   // to the millisecond
    }
    o += "],\"meter\":[" + std::to_string(h.metrum.citatel) + "," + std::to_string(h.metrum.jmenovatel) + "]";
    const std::vector<SouhrnHlasu> hlasy = souhrnhlasu(h);
    o += ",\"voices\":[";
    for (size_t i = 0; i < hlasy.size(); ++i) {
        const SouhrnHlasu& v = hlasy[i];
        std::string rejstriky;
        for (size_t k = 0; k < v.rejstriky.size(); ++k) rejstriky += (k ? "," : "") + jsontext(jmenorejstriku(v.rejstriky[k]));
        o += std::string(i ? "," : "") + "{\"voice\":" + std::to_string(i + 1) + ",\"registers\":[" + rejstriky +
             "],\"notes\":" + std::to_string(v.notu) + ",\"at\":" + std::to_string(v.prvninota);
        if (v.notu > 0) {
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
// start of the first bar, or of the pickup) on, to a millionth of a second:
// the page finds the bar a note begins by them, so a bar line must never be
// rounded past the start of its first note.
std::string jsontakty(const Hudba& h) {
    std::vector<double> takty, doby;
    h.mrizka(takty, doby);
    std::string o = "[0";
    for (const double t : takty) {
        o += ',';
        pripis(o, t, std::chars_format::fixed, 6);
    }
    return o + "]";
}

// Each note: start and value in samples, segment, the bytes of the score
// it comes from, its voice (from 1; 0: none) and where it starts in whole
// notes as written; one JSON array a note.
std::vector<std::string> jsonnoty(const Hudba& h) {
    std::vector<std::string> noty;
    noty.reserve(h.udalosti.size());
    for (const Udalost& e : h.udalosti) {
        if (!e.hraje()) continue;
        char buf[192];
        char* const end = buf + sizeof buf;
        char* p = buf;
        *p++ = '[';
        for (const long long x : {static_cast<long long>(e.start), static_cast<long long>(e.krok),
                                  static_cast<long long>(e.segment), static_cast<long long>(e.pozice),
                                  static_cast<long long>(e.po), static_cast<long long>(e.hlas) + 1}) {
            p = napis(p, end, x);
            *p++ = ',';
        }
        p = napis(p, end - 1, e.zacatek.cislo(), std::chars_format::general, 12);
        *p++ = ']';
        noty.emplace_back(buf, p);
    }
    return noty;
}

std::string jsonpole(std::vector<std::string>::const_iterator od, std::vector<std::string>::const_iterator po) {
    std::string o = "[";
    for (auto i = od; i != po; ++i) {
        if (i != od) o += ',';
        o += *i;
    }
    return o + "]";
}

}  // namespace

std::string jsonulozeni(const Uloziste::Ulozeni& u) {
    return "{\"saved\":" + std::string(u.ulozeno ? "true" : "false") + ",\"conflict\":" +
           (u.konflikt ? "true" : "false") + ",\"version\":" + jsontext(u.verze) + ",\"error\":" +
           jsontext(u.chyba) + "}";
}

std::string jsonvykresleni(const Vykresleni& v, Seznamnot* posledni, uint64_t stranky) {
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
        o += ",\"wav\":\"/out/" + cislo + ".wav\"";
        for (const Vystup& s : vystupy) o += std::string(",\"") + s.klic + "\":\"/out/" + cislo + "." + s.pripona + "\"";
        if (v.zmixu) {
            // The page's audio patched: the sums of the samples that changed
            // and the peak that scales them all.
            std::snprintf(buf, sizeof buf, "%.17g", v.maximum);
            o += ",\"patch\":{\"from\":" + std::to_string(v.zmenaod) + ",\"to\":" + std::to_string(v.zmenapo) +
                 ",\"whole\":" + (v.cely ? "true" : "false") + ",\"base\":" + std::to_string(v.zaklad) + ",\"peak\":" + buf + ",\"sums\":\"/out/" + cislo + ".sums\"}";
        }
        o += ",\"bars\":" + jsontakty(r.hudba);
        std::vector<std::string> noty = jsonnoty(r.hudba);
        std::string seznam;
        if (posledni && stranky != 0 && posledni->cislo == stranky) {
            // The page holds the list it was last sent: only the notes
            // between those the two lists begin and end with are sent, and
            // the number of each of those kept.
            const std::vector<std::string>& stare = posledni->noty;
            size_t zacatek = 0, konec = 0;
            while (zacatek < noty.size() && zacatek < stare.size() && noty[zacatek] == stare[zacatek]) ++zacatek;
            while (konec < noty.size() - zacatek && konec < stare.size() - zacatek &&
                   noty[noty.size() - 1 - konec] == stare[stare.size() - 1 - konec]) {
                ++konec;
            }
            seznam = ",\"noteEdit\":{\"of\":" + std::to_string(stranky) + ",\"head\":" + std::to_string(zacatek) +
                     ",\"tail\":" + std::to_string(konec) + ",\"notes\":" +
                     jsonpole(noty.begin() + static_cast<std::ptrdiff_t>(zacatek),
                              noty.end() - static_cast<std::ptrdiff_t>(konec)) + "}";
        } else {
            seznam = ",\"noteList\":" + jsonpole(noty.begin(), noty.end());
        }
        if (posledni) {
            posledni->cislo = v.cislo;
            posledni->noty = std::move(noty);
        }
        o += jsonhudba(r.hudba, v.ztlumeno, seznam);
    }
    return o + "}";
}

// The score language as the engine's command table has it, for the page's
// colours: each command byte with its kind and what it reads after itself,
// and the octave characters. A byte above 0x7F stands for a letter of
// Windows-1250, an argument "raw" for the UTF-16LE letter whose code unit
// is the byte followed by 0x01.
std::string jsonjazyk() {
    static const char* const argumenty[] = {"none", "number", "value", "octave", "register", "back", "raw", "comment"};
    std::string o = "{\"commands\":[";
    bool prvni = true;
    for (const Polozka& p : seznamprikazu()) {
        o += prvni ? "{" : ",{";
        prvni = false;
        o += "\"byte\":" + std::to_string(p.znak) + ",\"kind\":\"" + jmenodruhu(p.druh) +
             "\",\"argument\":\"" + argumenty[static_cast<int>(p.argument)] + "\",\"text\":" + jsontext(p.popis) + "}";
    }
    o += "],\"octaves\":\"";
    for (int c = 0x21; c < 0x7F; ++c) {
        if (oktavapro(static_cast<char>(c)) >= 0) o += static_cast<char>(c);
    }
    // The keywords of directives: a comment that starts with one and a colon.
    o += "\",\"directives\":[";
    for (const KlicoveSlovo& k : klicovaslova()) o += std::string(&k == &klicovaslova().front() ? "" : ",") + "\"" + k.slovo + "\"";
    return o + "]}";
}

}  // namespace skladba
