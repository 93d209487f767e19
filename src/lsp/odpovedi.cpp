#include "lsp/odpovedi.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <map>

#include "engine/prikazy.h"
#include "score/smernice.h"

namespace skladba::lsp {

namespace {

const std::string& textrozboru(const Rozbor& r) { return *r.text; }

json misto(const Mista& m, int64_t bajt) {
    const Misto x = m.misto(bajt);
    return {{"line", x.radek}, {"character", x.znak}};
}

// The bytes of one character of UTF-8 at an offset (at least one).
int64_t delkaznaku(const std::string& t, int64_t i) {
    const auto b = static_cast<unsigned char>(t[static_cast<size_t>(i)]);
    int64_t d = b >= 0xF0 ? 4 : b >= 0xE0 ? 3 : b >= 0xC0 ? 2 : 1;
    return std::min<int64_t>(d, static_cast<int64_t>(t.size()) - i);
}

// What a message quotes first ("\"fis\" is not one note"), or its first
// word where it quotes nothing ("s150 is as loud as s100").
std::string citace(const std::string& s) {
    const size_t q = s.find('"');
    if (q != std::string::npos) {
        const size_t k = s.find('"', q + 1);
        if (k != std::string::npos) return s.substr(q + 1, k - q - 1);
    }
    return s.substr(0, s.find(' '));
}

// The bytes a message is about: what it quotes where that stands at its
// place, else the command there, else the word or the one character; never
// past the end of the line.
int64_t konecmista(const Rozbor& r, const Mista& m, const Hlaseni& h) {
    const std::string& t = textrozboru(r);
    const int64_t n = static_cast<int64_t>(t.size());
    const int64_t od = std::clamp<int64_t>(h.pozice, 0, n);
    int64_t po = od;
    const std::string c = citace(h.text);
    if (!c.empty() && t.compare(static_cast<size_t>(od), c.size(), c) == 0) {
        po = od + static_cast<int64_t>(c.size());
    } else if (const Povel* p = r.povel(od); p && p->po > od) {
        po = p->po;
    } else if (od < n) {
        while (po < n && std::isalnum(static_cast<unsigned char>(t[static_cast<size_t>(po)]))) ++po;
        if (po == od) po = od + delkaznaku(t, od);
    }
    return std::max(od, std::min(po, m.konecradku(od)));
}

json diagnostika(const Rozbor& r, const Mista& m, const Hlaseni& h, int zavaznost) {
    return {{"range", rozsah(m, h.pozice, konecmista(r, m, h))},
            {"severity", zavaznost},
            {"source", "skladba"},
            {"message", platneutf8(h.text)}};
}

// A fix a warning names: "... write >f (...)", "... so write 2p.", "...;
// write t80", "write > for a sharp" replace what the warning quotes at its
// place; "(write o2c instead)" writes the octave before the note; "write
// the value before its note, 2g" turns "g2" round. Other uses of "write"
// ("write words inside a comment") name no edit.
struct Oprava {
    int64_t od = 0, po = 0;
    std::string text;
};

bool oprava(const Rozbor& r, const Hlaseni& h, Oprava& o) {
    const std::string& s = h.text;
    const std::string& t = textrozboru(r);
    const std::string konec = " instead)";
    // "g2": "write the value before its note, 2g", where the value is one digit.
    const std::string predtonem = "write the value before its note, ";
    const size_t v = s.rfind(predtonem);
    if (v != std::string::npos) {
        const std::string novy = s.substr(v + predtonem.size());
        const auto b = static_cast<size_t>(h.pozice);
        if (novy.size() != 2 || h.pozice <= 0 || b + 1 > t.size() || t[b - 1] != novy[1] || t[b] != novy[0] ||
            (b + 1 < t.size() && std::isdigit(static_cast<unsigned char>(t[b + 1])))) {
            return false;
        }
        o = {h.pozice - 1, h.pozice + 1, novy};
        return true;
    }
    const size_t w = s.rfind("write ");
    if (w == std::string::npos) return false;
    const size_t zacatek = w + 6;
    if (s.size() > konec.size() && s.compare(s.size() - konec.size(), konec.size(), konec) == 0 && w > 0 &&
        s[w - 1] == '(') {
        const std::string napis = s.substr(zacatek, s.size() - konec.size() - zacatek);
        if (napis.size() < 3 || napis[0] != 'o') return false;
        o = {h.pozice, h.pozice, napis.substr(0, 2)};
        return true;
    }
    const size_t mezera = s.find(' ', zacatek);
    const std::string novy = s.substr(zacatek, mezera == std::string::npos ? std::string::npos : mezera - zacatek);
    if (mezera != std::string::npos && s.compare(mezera, 2, " (") != 0 && s.compare(mezera, 5, " for ") != 0) {
        return false;
    }
    const std::string stary = citace(s);
    if (novy.empty() || stary.empty() || stary == novy || h.pozice < 0 || h.pozice > static_cast<int64_t>(t.size()) ||
        t.compare(static_cast<size_t>(h.pozice), stary.size(), stary) != 0) {
        return false;
    }
    o = {h.pozice, h.pozice + static_cast<int64_t>(stary.size()), novy};
    return true;
}

// Scientific pitch of a segment (segment 0 is C2): C4 for o1 c, with the
// sharp or flat the note was written with.
std::string vedecky(int segment, int posuvky) {
    static const char* const krizky[] = {"C", "C\xE2\x99\xAF", "D", "D\xE2\x99\xAF", "E", "F", "F\xE2\x99\xAF", "G",
                                         "G\xE2\x99\xAF", "A", "A\xE2\x99\xAF", "B"};
    static const char* const becka[] = {"C", "D\xE2\x99\xAD", "D", "E\xE2\x99\xAD", "E", "F", "G\xE2\x99\xAD", "G",
                                        "A\xE2\x99\xAD", "A", "B\xE2\x99\xAD", "B"};
    const int k = klavesa(segment);
    return std::string((posuvky < 0 ? becka : krizky)[k % 12]) + std::to_string(k / 12 - 1);
}

std::string jmenohodnoty(int64_t h) {
    switch (h) {
        case 1: return "whole";
        case 2: return "half";
        case 4: return "quarter";
        case 8: return "eighth";
        case 16: return "sixteenth";
        case 32: return "thirty-second";
        case 64: return "sixty-fourth";
        default: return "1/" + std::to_string(h);
    }
}

// How many dots made tecky of a value delka: 1/2, 3/4, 7/8 of it.
int pocettecek(const Zlomek& delka, const Zlomek& tecky) {
    if (tecky == Zlomek{}) return 0;
    Zlomek pridano, krok = delka;
    for (int n = 1; n <= 16; ++n) {
        krok = Zlomek(krok.c, krok.j * 2);
        pridano = pridano + krok;
        if (pridano == tecky) return n;
    }
    return 0;
}

// The comment a command stands for, without its parentheses.
std::string textkomentare(const std::string& t, const Povel& p) {
    const int64_t od = p.pozice + 1;
    int64_t po = p.po;
    if (po > od && t[static_cast<size_t>(po - 1)] == ')') --po;
    return po > od ? t.substr(static_cast<size_t>(od), static_cast<size_t>(po - od)) : "";
}

std::string orizni(std::string s) {
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back()))) s.pop_back();
    size_t i = 0;
    while (i < s.size() && std::isspace(static_cast<unsigned char>(s[i]))) ++i;
    s.erase(0, i);
    if (s.size() > 80) s = s.substr(0, 80) + "...";
    return platneutf8(s);
}

bool jekomentar(const Rozbor& r, const Povel& p) {
    return polozkapro(textrozboru(r)[static_cast<size_t>(p.pozice)]).druh == Druhprikazu::komentar;
}

// The directive a comment is, with what it says: ("part", "Violin I").
bool smernice(const Rozbor& r, const Povel& p, std::string& slovo, std::string& hodnota) {
    if (!jekomentar(r, p)) return false;
    const std::string k = textkomentare(textrozboru(r), p);
    slovo = klicoveslovo(k);
    if (slovo.empty()) return false;
    hodnota = orizni(k.substr(k.find(':') + 1));
    return true;
}

// The part a byte of the score is in: the last "part:" before it.
std::string cast(const Rozbor& r, int64_t bajt) {
    std::string nazev;
    for (const Povel& p : r.povely) {
        if (p.pozice >= bajt) break;
        std::string slovo, hodnota;
        if (smernice(r, p, slovo, hodnota) && slovo == "part") nazev = hodnota;
    }
    return nazev;
}

std::string jmenonastroje(char reg) {
    const PopisRejstriku p = popisrejstriku(reg);
    return jmenorejstriku(reg) + (p.nastroj ? std::string(" (") + p.nastroj + ")" : "");
}

// Bar and beat of a written start, from the metre the bar lines show; the
// bar of a pickup is 0.
std::string taktadoba(const Hudba& h, const Zlomek& zacatek) {
    Zlomek z = zacatek;
    int64_t takt = 1;
    if (h.predtakt > Zlomek{}) {
        if (z < h.predtakt) {
            takt = 0;
            z = h.takt - h.predtakt + z;
        } else {
            z = z - h.predtakt;
        }
    }
    if (takt > 0 && h.takt > Zlomek{}) {
        bool presne = false;
        const int64_t k = z.kolikrat(h.takt, presne);
        takt += k;
        z = z - h.takt * k;
    }
    const double doba = z.cislo() * h.metrum.jmenovatel + 1;
    return "bar " + std::to_string(takt) + ", beat " + desetinne(doba, 2);
}

// The command of a letter last read before a byte offset, as written
// ("t90", "s80"), or empty: the engine's state is what the score set last
// in the order of writing, whatever the voice.
std::string posledniprikaz(const Rozbor& r, char pismeno, int64_t pred) {
    const std::string& t = textrozboru(r);
    std::string o;
    for (const Povel& p : r.povely) {
        if (p.pozice >= pred) break;
        if (t[static_cast<size_t>(p.pozice)] == pismeno) {
            o = t.substr(static_cast<size_t>(p.pozice), static_cast<size_t>(p.po - p.pozice));
        }
    }
    return o;
}

std::string tempo(const Rozbor& r, const Udalost& e) {
    const std::string t = posledniprikaz(r, 't', e.pozice);
    std::string o = "\xE2\x99\xA9 = " + (t.size() > 1 ? t.substr(1) : std::string("120"));
    if (e.krivka) o += ", under the tempo curve " + posledniprikaz(r, 'r', e.pozice);
    return o;
}

const char* const horni[] = {"\xE2\x81\xB0", "\xC2\xB9", "\xC2\xB2", "\xC2\xB3", "\xE2\x81\xB4",
                             "\xE2\x81\xB5", "\xE2\x81\xB6", "\xE2\x81\xB7", "\xE2\x81\xB8", "\xE2\x81\xB9"};

std::string horniindex(int n) {
    std::string o = n < 0 ? "\xE2\x81\xBB" : "";
    for (char c : std::to_string(std::abs(n))) o += horni[c - '0'];
    return o;
}

// The semantic token types: one per kind of word of the command table, in
// its order, as the protocol's standard types editors colour; then the
// numbers commands take and the directives.
const std::map<std::string, std::string> typydruhu = {
    {"note", "variable"}, {"rest", "enumMember"}, {"value", "number"},    {"octave", "type"},
    {"accidental", "operator"}, {"command", "keyword"}, {"register", "class"}, {"back", "event"},
    {"bar", "decorator"}, {"comment", "comment"},
};
constexpr int tokencisla = pocetdruhu;
constexpr int tokensmernice = pocetdruhu + 1;

// Registers in the folder: their characters, in order.
std::string rejstrikyve(const std::string& slozka) {
    std::string o;
    if (slozka.empty()) return o;
    std::error_code chyba;
    for (const auto& s : std::filesystem::directory_iterator(slozka, chyba)) {
        const std::string jmeno = s.path().filename().string();
        if (jmeno.size() == 11 && jmeno.compare(0, 6, "rejstr") == 0 && jmeno.compare(7, 4, ".nes") == 0) {
            o += jmeno[6];
        }
    }
    std::sort(o.begin(), o.end());
    return o;
}

// What the number of a command takes, for completion.
const std::map<char, const char*> rozsahy = {
    {'t', "t120: quarter notes a minute, 1 and more"},
    {'s', "s80: volume, 0 (softest) to 100"},
    {'o', "ov om o1 o2 o3 o4: the octave of the next note; o1 c is middle C (C4)"},
    {'T', "T-2: transposition in semitones, up or down"},
    {'S', "S50: start jitter after a step back; 0 none, 2 the most"},
    {'r', "r10: tempo curve, percent slower a whole note (r-10 faster, r0 ends it)"},
    {'-', "-4: back four values (-. half a value)"},
    {'1', "value 1 2 4 8 16 32 64 (any divisor: 12 for triplet eighths)"},
};

}  // namespace

json rozsah(const Mista& m, int64_t od, int64_t po) { return {{"start", misto(m, od)}, {"end", misto(m, po)}}; }

json diagnostiky(const Rozbor& r, const Mista& m) {
    json o = json::array();
    const Vysledek& v = r.vysledek;
    for (const Hlaseni& h : v.mistavarovani) o.push_back(diagnostika(r, m, h, 2));
    if (v.varovani.size() > v.mistavarovani.size() && !v.mistavarovani.empty()) {
        // The line that counts the warnings left out, at the last one shown.
        const std::string& radek = v.varovani.back();
        const size_t d = radek.find(": and ");
        Hlaseni h = v.mistavarovani.back();
        h.text = d == std::string::npos ? radek : radek.substr(d + 2);
        json x = diagnostika(r, m, h, 3);
        o.push_back(x);
    }
    if (v.status != 0) {
        if (v.mistochyby.pozice >= 0) {
            o.push_back(diagnostika(r, m, v.mistochyby, 1));
        } else {
            o.push_back({{"range", rozsah(m, 0, 0)}, {"severity", 1}, {"source", "skladba"},
                         {"message", platneutf8(v.zprava)}});
        }
    }
    return o;
}

json akce(const Rozbor& r, const Mista& m, const std::string& uri, int64_t od, int64_t po) {
    json o = json::array();
    for (const Hlaseni& h : r.vysledek.mistavarovani) {
        const int64_t konec = konecmista(r, m, h);
        if (konec < od || h.pozice > po) continue;
        Oprava x;
        if (!oprava(r, h, x)) continue;
        const std::string text = platneutf8(x.text);
        json uprava = {{"range", rozsah(m, x.od, x.po)}, {"newText", text}};
        o.push_back({{"title", x.od == x.po ? "Write " + text + " here" : "Write " + text},
                     {"kind", "quickfix"},
                     {"isPreferred", true},
                     {"diagnostics", json::array({diagnostika(r, m, h, 2)})},
                     {"edit", {{"changes", {{uri, json::array({uprava})}}}}}});
    }
    return o;
}

json popis(const Rozbor& r, const Mista& m, int64_t bajt) {
    // On the sharps and flats written before a note: that note.
    const std::string& t = textrozboru(r);
    int64_t nota = bajt;
    auto posuvka = [&](int64_t i) {
        return i < static_cast<int64_t>(t.size()) && (t[static_cast<size_t>(i)] == '>' || t[static_cast<size_t>(i)] == '<');
    };
    while (posuvka(nota)) ++nota;
    const Udalost* e = r.udalost(nota);
    if (e && e->pozice != nota && nota != bajt) e = nullptr;
    if (!e) return nullptr;
    const Hudba& h = r.vysledek.hudba;
    std::string o;
    const int tecek = pocettecek(e->delka, e->tecky);
    if (e->pismeno && e->segment > 0) {
        o = "**" + vedecky(e->segment, e->posuvky) + "** \xC2\xB7 `" + jmenotonu(e->segment) + "`";
    } else if (e->pismeno) {
        o = "**silent** (segment 0)";
    } else {
        o = e->tecka ? (e->prodlouzila ? "**dot** (lengthens the note before it)" : "**rest** (a dot)") : "**rest**";
    }
    if (!e->tecka) {
        // "quarter, dotted (`4.`)", "half, dotted 2 times (`2..`)"
        std::string tecky = tecek == 0 ? "" : tecek == 1 ? ", dotted" : ", dotted " + std::to_string(tecek) + " times";
        o += " \xE2\x80\x94 " + jmenohodnoty(e->hodnota) + tecky + " (`" + std::to_string(e->hodnota) +
             std::string(static_cast<size_t>(tecek), '.') + "`)";
    }
    o += "\n\n" + taktadoba(h, e->zacatek) + " \xC2\xB7 " + popiscasu(static_cast<double>(e->start) / zaklad, 2);
    const std::string nazevcasti = cast(r, e->pozice);
    const std::string sila = posledniprikaz(r, 's', e->pozice);
    o += "\n\nvoice " + std::to_string(e->hlas + 1) + " \xC2\xB7 part " +
         (nazevcasti.empty() ? "by register" : nazevcasti) + " \xC2\xB7 " + jmenonastroje(e->reg);
    o += "\n\nvolume " + (sila.empty() ? std::string("s100") : sila) + " (" + std::to_string(e->sila) +
         " %) \xC2\xB7 tempo " + tempo(r, *e);
    return {{"contents", {{"kind", "markdown"}, {"value", platneutf8(o)}}},
            {"range", rozsah(m, e->pozice, std::max(e->po, e->pozice + 1))}};
}

json oktavy(const Rozbor& r, const Mista& m, int64_t od, int64_t po) {
    json o = json::array();
    for (const Udalost& e : r.vysledek.hudba.udalosti) {
        if (e.pozice < od || e.pozice >= po) continue;
        if (!e.pismeno || e.oktava || e.segment == 0) continue;
        const int oktava = klavesa(e.segment) / 12 - 1;
        o.push_back({{"position", misto(m, e.pozice + 1)},
                     {"label", horniindex(oktava)},
                     {"tooltip", vedecky(e.segment, e.posuvky) + ", " + jmenotonu(e.segment)}});
    }
    return o;
}

json legenda() {
    json typy = json::array();
    for (int d = 0; d < pocetdruhu; ++d) typy.push_back(typydruhu.at(jmenodruhu(static_cast<Druhprikazu>(d))));
    typy.push_back("parameter");   // tokencisla
    typy.push_back("macro");       // tokensmernice
    return {{"tokenTypes", typy}, {"tokenModifiers", json::array()}};
}

json tokeny(const Rozbor& r, const Mista& m) {
    const std::string& t = textrozboru(r);
    const int64_t n = static_cast<int64_t>(t.size());
    std::vector<int64_t> data;
    Misto predchozi;
    // One token, split where it crosses a line break.
    auto pridej = [&](int64_t od, int64_t po, int typ) {
        while (od < po) {
            const int64_t konec = std::min(po, m.konecradku(od));
            if (konec > od) {
                const Misto x = m.misto(od);
                data.push_back(x.radek - predchozi.radek);
                data.push_back(x.radek == predchozi.radek ? x.znak - predchozi.znak : x.znak);
                data.push_back(m.jednotek(od, konec));
                data.push_back(typ);
                data.push_back(0);
                predchozi = x;
            }
            od = konec;
            if (od < n && t[static_cast<size_t>(od)] == '\r') ++od;
            if (od < n && t[static_cast<size_t>(od)] == '\n') ++od;
            if (od == konec) break;
        }
    };
    for (const Povel& p : r.povely) {
        if (p.pozice >= n) continue;
        const Polozka& polozka = polozkapro(t[static_cast<size_t>(p.pozice)]);
        if (!polozka.prikaz || polozka.znak >= 0x80 || polozka.znak < 0x20) continue;
        const int typ = static_cast<int>(polozka.druh);
        const int64_t po = std::min(p.po, n);
        std::string slovo, hodnota;
        if (polozka.argument == Argument::cislo) {
            pridej(p.pozice, p.pozice + 1, typ);
            pridej(p.pozice + 1, po, tokencisla);
        } else if (smernice(r, p, slovo, hodnota)) {
            pridej(p.pozice, po, tokensmernice);
        } else {
            pridej(p.pozice, std::max(po, p.pozice + 1), typ);
        }
    }
    return {{"data", data}};
}

json doplneni(const Rozbor& r, int64_t bajt) {
    const std::string& t = textrozboru(r);
    json o = json::array();
    const std::string rejstriky = rejstrikyve(r.rejstriky);
    auto rejstrik = [&](char c, bool cely) {
        const PopisRejstriku p = popisrejstriku(c);
        o.push_back({{"label", std::string("R") + c},
                     {"kind", 12},
                     {"detail", p.nastroj ? p.nastroj : "register"},
                     {"documentation", "rejstr" + std::string(1, c) + ".nes in " + platneutf8(r.rejstriky)},
                     {"insertText", cely ? std::string("R") + c : std::string(1, c)}});
    };
    const char pred = bajt > 0 ? t[static_cast<size_t>(bajt - 1)] : 0;
    if (pred == 'R') {
        for (char c : rejstriky) rejstrik(c, false);
        return o;
    }
    // Inside a comment that has only a word begun: the directives.
    int64_t i = bajt;
    while (i > 0 && std::isalpha(static_cast<unsigned char>(t[static_cast<size_t>(i - 1)]))) --i;
    while (i > 0 && t[static_cast<size_t>(i - 1)] == ' ') --i;
    if (i > 0 && t[static_cast<size_t>(i - 1)] == '(') {
        for (const KlicoveSlovo& k : klicovaslova()) {
            o.push_back({{"label", std::string(k.slovo) + ":"}, {"kind", 14}, {"detail", k.popis},
                         {"insertText", std::string(k.slovo) + ": "}});
        }
        return o;
    }
    for (const Polozka& p : seznamprikazu()) {
        if (p.znak < 0x20 || p.znak >= 0x7F || (p.znak > '1' && p.znak <= '9')) continue;
        const char c = static_cast<char>(p.znak);
        json x = {{"label", std::string(1, c)}, {"kind", p.druh == Druhprikazu::prikaz ? 14 : 12}, {"detail", p.popis}};
        if (rozsahy.count(c)) x["documentation"] = rozsahy.at(c);
        if (c == '1') x["label"] = "1 2 4 8 16";
        if (c == '1') x["insertText"] = "4";
        o.push_back(x);
    }
    for (char c : rejstriky) rejstrik(c, true);
    for (const KlicoveSlovo& k : klicovaslova()) {
        const std::string smernice = "(" + std::string(k.slovo) + ": )";
        o.push_back({{"label", smernice}, {"kind", 14}, {"detail", k.popis}, {"insertText", smernice}});
    }
    return o;
}

json symboly(const Rozbor& r, const Mista& m) {
    const std::string& t = textrozboru(r);
    const int64_t n = static_cast<int64_t>(t.size());
    json o = json::array();
    auto symbol = [&](const std::string& jmeno, int druh, int64_t od, int64_t po, int64_t vyber) {
        o.push_back({{"name", jmeno.empty() ? "(empty)" : jmeno},
                     {"kind", druh},
                     {"range", rozsah(m, od, po)},
                     {"selectionRange", rozsah(m, od, vyber)}});
    };
    auto prazdne = [&](int64_t od, int64_t po) {
        for (int64_t i = od; i < po; ++i) {
            if (!std::isspace(static_cast<unsigned char>(t[static_cast<size_t>(i)]))) return false;
        }
        return true;
    };
    // Sections run from their comment to the next; parts from their
    // directive to the next part.
    struct Zacatek {
        std::string jmeno;
        int64_t od, po;
    };
    std::vector<Zacatek> oddily, casti;
    for (const Povel& p : r.povely) {
        if (p.pozice >= n || !jekomentar(r, p)) continue;
        std::string slovo, hodnota;
        if (smernice(r, p, slovo, hodnota)) {
            if (slovo == "part") casti.push_back({hodnota, p.pozice, p.po});
            continue;
        }
        const int64_t konec = m.konecradku(p.pozice);
        if (p.po <= konec && prazdne(m.zacatekradku(p.pozice), p.pozice) && prazdne(p.po, konec)) {
            oddily.push_back({orizni(textkomentare(t, p)), p.pozice, p.po});
        }
    }
    for (const auto* seznam : {&casti, &oddily}) {
        for (size_t i = 0; i < seznam->size(); ++i) {
            const Zacatek& z = (*seznam)[i];
            const int64_t konec = i + 1 < seznam->size() ? (*seznam)[i + 1].od : n;
            symbol(z.jmeno, seznam == &casti ? 5 : 3, z.od, std::max(konec, z.po), z.po);
        }
    }
    // Voices: from their first note to their last.
    const Hudba& h = r.vysledek.hudba;
    struct Hlas {
        int64_t od = -1, po = 0, vyber = 0;
        std::string rejstriky;
    };
    std::vector<Hlas> hlasy(static_cast<size_t>(std::max(0, h.hlasu)));
    for (const Udalost& e : h.udalosti) {
        if (e.hlas < 0 || e.hlas >= h.hlasu) continue;
        Hlas& v = hlasy[static_cast<size_t>(e.hlas)];
        if (v.od < 0) v.od = e.pozice, v.vyber = std::max(e.po, e.pozice + 1);
        v.po = std::max(v.po, std::max(e.po, e.pozice + 1));
        if (e.hraje() && v.rejstriky.find(e.reg) == std::string::npos) v.rejstriky += e.reg;
    }
    for (size_t i = 0; i < hlasy.size(); ++i) {
        const Hlas& v = hlasy[i];
        if (v.od < 0) continue;
        std::string jmeno = "voice " + std::to_string(i + 1);
        for (size_t k = 0; k < v.rejstriky.size(); ++k) jmeno += (k ? ", " : " ") + jmenorejstriku(v.rejstriky[k]);
        symbol(jmeno, 8, v.od, v.po, v.vyber);
    }
    return o;
}

int64_t vzorekod(const Rozbor& r, int64_t bajt) {
    for (const Udalost& e : r.vysledek.hudba.udalosti) {
        if (e.po > bajt || e.pozice >= bajt) return e.kurzor;
    }
    return r.vysledek.hudba.vzorku;
}

}  // namespace skladba::lsp
