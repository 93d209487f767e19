#include "score/kontrola.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "base/format.h"

#include "score/ctenar.h"
#include "score/jazyk.h"

namespace skladba {

namespace {

constexpr int konec = -1;

bool jepismeno(int b) { return (b >= 'a' && b <= 'z') || (b >= 'A' && b <= 'Z'); }
bool jemezera(int b) { return b == ' ' || b == '\t'; }
bool jecislo(int b) { return b >= '0' && b <= '9'; }

// The score's bytes as the reader hands them out (dejznak: zero bytes
// skipped), each with its offset, and a look at the next one without
// taking it.
class Bajty {
public:
    explicit Bajty(Partitura& p) : p_(p) {}

    int dalsi() {
        const char c = dejznak(p_);
        if (c == konecsouboru && p_.konec()) return konec;
        pozice_ = p_.pozice() - 1;
        return static_cast<unsigned char>(c);
    }
    int nahled() {
        const Partitura::Znacka z = p_.znacka();
        const int64_t pozice = pozice_;
        const int b = dalsi();
        p_.vrat(z);
        pozice_ = pozice;
        return b;
    }
    // The next byte exactly as it stands, a zero byte included (as the
    // accidentals of UTF-16LE read it); taken only when vezmi says so.
    int surovy() {
        zpet_ = p_.znacka();
        const int b = dejsurovyznak(p_);
        if (b >= 0) pozice_ = p_.pozice() - 1;
        return b;
    }
    void vrat() { p_.vrat(zpet_); }
    // Takes the spaces and tabs that come next; the byte after them, not taken.
    int zamezerami() {
        int n = nahled();
        while (jemezera(n)) {
            dalsi();
            n = nahled();
        }
        return n;
    }
    // The argument of a command, read as the engine reads it.
    Parametr parametr(Argument a, int64_t& hloubka) { return ctiparametr(p_, a, hloubka); }
    // The text of bytes [od, po) as the reader sees it, at most nejvic bytes.
    std::string text(int64_t od, int64_t po, size_t nejvic) {
        const Partitura::Znacka z = p_.znacka();
        p_.vrat({od, false, 0});
        std::string t;
        while (t.size() < nejvic) {
            const char c = dejznak(p_);
            // The zero bytes of UTF-16LE are skipped up to the byte after po.
            if ((c == konecsouboru && p_.konec()) || p_.pozice() > po) break;
            t += c;
        }
        p_.vrat(z);
        return t;
    }
    int64_t pozice() const { return pozice_; }
    Partitura& partitura() { return p_; }

private:
    Partitura& p_;
    int64_t pozice_ = 0;
    Partitura::Znacka zpet_;
};

std::string bajt(int b) {
    char buf[8];
    std::snprintf(buf, sizeof buf, "0x%02X", b);
    return buf;
}

std::string znak(int b) { return std::string(1, static_cast<char>(b)); }

class Kontrola {
public:
    Kontrola(Partitura& p, const Syntaxe& syntaxe, size_t nejvic, std::vector<Povel>* povely)
        : nejvic_(nejvic), syntaxe_(syntaxe), in_(p), povely_(povely) {}

    void projdi();
    std::vector<Varovani> seznam;
    int64_t dalsich = 0;

private:
    void varuj(int64_t pozice, const std::string& text) {
        if (seznam.size() < nejvic_) {
            seznam.push_back({pozice, text});
        } else {
            ++dalsich;
        }
    }

    // Words: a run of letters outside comments. A word with a letter that is
    // no command, or that leaves a command without its number, is prose or
    // another notation, not music.
    void pismeno(int b, int64_t pozice, bool hudba) {
        if (slovo_.empty()) zacatekslova_ = pozice;
        if (slovo_.size() < 40) slovo_ += static_cast<char>(b);
        ++delkaslova_;
        if (!hudba) nehudba_ = true;
        if (syntaxe_.jeprikaz(b) && prikazyslova_.find(static_cast<char>(b)) == std::string::npos) {
            prikazyslova_ += static_cast<char>(b);
        }
    }
    void konecslova();

    // The argument of the command b at pozice, read as the engine reads it.
    Parametr parametr(int b, int64_t pozice) {
        const Parametr a = in_.parametr(syntaxe_.argument[b], hloubka_);
        if (povely_) povely_->push_back({pozice, a.po});
        return a;
    }
    void komentar(int64_t pozice);
    void hodnota(int b, int64_t pozice, int predchozi);
    void prikazscislem(int b, int64_t pozice);
    void oktava(int64_t pozice);
    void rejstrik(int64_t pozice);
    void zpet(int64_t pozice);
    void ostatni(int b, int64_t pozice);
    void utf8(int b, int64_t pozice);
    void krivkajakopauza(const Parametr& a, int64_t pozice);
    void posuvka(int b, int64_t pozice);

    size_t nejvic_;
    const Syntaxe& syntaxe_;
    Bajty in_;
    std::vector<Povel>* povely_;
    int64_t hloubka_ = 0;     // comment nesting, kept across comments like the engine's
    bool utf16_ = false;
    int predchozi_ = 0;       // the note letter directly before this byte, or 0
    std::string slovo_;
    int64_t delkaslova_ = 0;
    int64_t zacatekslova_ = 0;
    bool nehudba_ = false;
    std::string prikazyslova_;
    bool notabyla_ = false;   // a note letter came before
    bool o4_ = false;         // o4 at the start was warned about
};

// German and English names of sharps and flats: "fis", "es", "as", "eb".
std::string posuvkaslova(const std::string& s) {
    if (s.size() < 2 || !jepismenonoty(s[0])) return "";
    const std::string zbytek = s.substr(1);
    const std::string nota = s.substr(0, 1);
    if (zbytek == "is") return "for " + nota + " sharp write >" + nota;
    if (zbytek == "es" || zbytek == "s" || zbytek == "b") return "for " + nota + " flat write <" + nota;
    return "";
}

void Kontrola::konecslova() {
    if (slovo_.empty()) return;
    const std::string s = delkaslova_ > static_cast<int64_t>(slovo_.size()) ? slovo_ + "..." : slovo_;
    if (nehudba_ && delkaslova_ == 1) {
        const int b = static_cast<unsigned char>(slovo_[0]);
        if (b == 'b') {
            varuj(zacatekslova_, "\"b\" is not a note and is ignored: B flat is <h, B natural h");
        } else if (b >= 'A' && b <= 'H') {
            varuj(zacatekslova_, "\"" + s + "\" is not a command and is ignored: notes are lower case (" +
                                     (b == 'B' ? std::string("h") : znak(b - 'A' + 'a')) + ")");
        } else {
            varuj(zacatekslova_, "\"" + s + "\" is not a command and is ignored");
        }
    } else if (nehudba_) {
        const std::string posuvka = posuvkaslova(slovo_);
        if (!posuvka.empty()) {
            varuj(zacatekslova_, "\"" + s + "\" is not one note: " + posuvka +
                                     " (a sharp or flat comes before its note)");
        } else {
            std::string prikazy;
            for (char c : prikazyslova_) prikazy += std::string(prikazy.empty() ? "" : " ") + c;
            varuj(zacatekslova_, "\"" + s + "\" is not music" +
                                     (prikazy.empty() ? "" : ", yet " + prikazy + " in it " +
                                                                 (prikazyslova_.size() == 1 ? "is a command" : "are commands")) +
                                     ": write words inside a comment, ( " + s + " )");
        }
    }
    slovo_.clear();
    prikazyslova_.clear();
    delkaslova_ = 0;
    nehudba_ = false;
}

void Kontrola::komentar(int64_t pozice) {
    const Parametr a = parametr('(', pozice);
    // A comment stops at a 0xFF byte as if the score ended there, and the
    // nesting it leaves open swallows the comments after it.
    if (hloubka_ != 0 && !in_.partitura().konec()) {
        varuj(a.po - 1, "byte 0xFF (\"\xCB\x99\" in Windows-1250) ends a comment here and upsets the "
                        "comments after it: leave it out");
    }
    // A comment still open at the end of the score takes all of it.
    if (hloubka_ != 0 && in_.partitura().konec()) {
        const std::string zbytek = in_.text(pozice, a.po, size_t{1} << 30);
        size_t radku = 1;
        for (const char c : zbytek) radku += c == '\n';
        if (!zbytek.empty() && zbytek.back() == '\n') --radku;
        varuj(pozice, "this comment is never closed: it swallows the rest of the score, " + std::to_string(radku) +
                          (radku == 1 ? " line" : " lines") + " (" + std::to_string(zbytek.size()) +
                          " bytes): close it with )");
    }
}

void Kontrola::hodnota(int b, int64_t pozice, int predchozi) {
    if (predchozi != 0) {
        varuj(pozice, "the value " + znak(b) + " after the " + (predchozi == 'p' ? "rest" : "note") + " " +
                          znak(predchozi) + " applies to the notes after it, not to " + znak(predchozi) +
                          ": write the value before its note, " + znak(b) + znak(predchozi));
    }
    const Parametr a = parametr(b, pozice);
    if (a.zapsane.oddelovac >= 0) {
        varuj(a.zapsane.oddelovac,
              "a dot written directly after a number is part of the number: write the dot after the note (4c.)");
    }
}

// "r" with the number of a note value where a rest was likely meant: r is
// the rest in other notations, the tempo curve here.
void Kontrola::krivkajakopauza(const Parametr& a, int64_t pozice) {
    if (!a.zapsane.cifry || a.zapsane.minus) return;
    const double x = a.cislo;
    const bool hodnota = x == 1 || x == 2 || x == 4 || x == 8 || x == 16 || x == 32 || x == 64;
    if (!hodnota) return;
    const std::string cislo = in_.text(a.od, a.po, 12);
    const std::string pauza = std::to_string(static_cast<int>(x)) + "p";
    if (a.zapsane.oddelovac >= 0) {
        varuj(pozice, "\"r" + cislo + "\" starts a tempo curve (" + std::to_string(static_cast<int>(x)) +
                          " percent slower per whole note; the dot is part of its number), not a rest: a rest is p, "
                          "so write " + pauza + ".");
        return;
    }
    const Partitura::Znacka tady = in_.partitura().znacka();
    const int n = in_.zamezerami();
    in_.partitura().vrat(tady);
    if (n == '|') {
        varuj(pozice, "\"r" + cislo + "\" starts a tempo curve, " + cislo + " percent slower per whole note, not a rest: "
                      "a rest is p, so write " + pauza);
    }
}

void Kontrola::prikazscislem(int b, int64_t pozice) {
    const Parametr a = parametr(b, pozice);
    if (a.zapsane.zapsano()) {
        pismeno(b, pozice, true);   // its number (or a minus or separator) follows at once
        if (b == 'r') krivkajakopauza(a, pozice);
        if (b == 's' && a.zapsane.cifry && (a.cislo > 100 || a.cislo <= -1)) {
            const std::string cislo = in_.text(a.od, a.po, 12);
            varuj(pozice, a.cislo > 100 ? "s" + cislo + " is as loud as s100: the volume goes from 0 to 100, so write "
                                          "s100 (to make this voice stand out, make the others softer)"
                                        : "s" + cislo + " is as soft as s0: the volume goes from 0 to 100, so write s0");
        }
        return;
    }
    int n = in_.nahled();
    // Left without its number, a command in a word ("es", "Andante") makes
    // the word no music; the word's warning says what to write.
    const bool veslove = !slovo_.empty();
    pismeno(b, pozice, !veslove && !jepismeno(n));
    if (jepismeno(n)) return;
    konecslova();
    if (veslove) return;
    const std::string c = znak(b);
    if (jemezera(n)) {
        n = in_.zamezerami();
        if (jecislo(n) || n == '-') {
            // The number as written, for the message; it is left where it
            // is, for the reader takes it as a note value (or the "-" as a
            // step back).
            const Partitura::Znacka tady = in_.partitura().znacka();
            std::string cislo;
            while ((jecislo(in_.nahled()) || (cislo.empty() && in_.nahled() == '-')) && cislo.size() < 12) {
                cislo += static_cast<char>(in_.dalsi());
            }
            in_.partitura().vrat(tady);
            const std::string co = b == 's' ? "s with no number (the softest volume)"
                                 : b == 't' ? "t with no number, which is an error"
                                            : c + " with no number";
            const std::string pak = n == '-' ? " and then a step back of " + cislo.substr(1) + " values"
                                             : " and then the note value " + cislo;
            varuj(pozice, "a space between " + c + " and its number: \"" + c + " " + cislo + "\" is read as " + co +
                              (b == 't' ? "" : pak) + "; write " + c + cislo);
            return;
        }
    }
    if (b == 's') varuj(pozice, "s with no number sets the softest volume (s0, 1 percent): write s and 0 to 100, as s80");
}

void Kontrola::oktava(int64_t pozice) {
    const Parametr a = parametr('o', pozice);
    if (a.je && a.znak == '4' && !notabyla_ && !o4_) {
        // A piece that starts in o4 is likely written with MML's octaves.
        o4_ = true;
        varuj(pozice, "o4 is the highest octave here: its c is C7, three octaves above middle C, which is o1; if "
                      "you meant the octave of middle C, as o4 is in MML, write o1 (and o2 for MML's o5)");
    }
    if (a.je) {
        pismeno('o', pozice, true);
        if (jepismeno(a.znak)) pismeno(a.znak, a.po - 1, true);
        return;
    }
    int n = in_.nahled();
    if (jepismeno(n)) {
        pismeno('o', pozice, false);   // "o" before a letter that is no octave does nothing
        return;
    }
    pismeno('o', pozice, true);
    konecslova();
    if (jecislo(n)) {
        varuj(pozice, "o" + znak(n) + " is not an octave: the octaves are ov, om, o1, o2, o3 and o4, so o is ignored and " +
                          (n == '0' ? std::string("0 is ignored") : znak(n) + " starts a note value") +
                          "; middle C is o1 (MML's o4 is o1 here, its o5 o2)");
        return;
    }
    if (!jemezera(n)) return;
    n = in_.zamezerami();
    if (n >= 0 && oktavapro(static_cast<char>(n)) >= 0) {
        varuj(pozice, "a space between o and its octave: \"o " + znak(n) + "\" is read as nothing and then " +
                          (jecislo(n) ? "a note value" : "\"" + znak(n) + "\"") + "; write o" + znak(n));
    }
}

void Kontrola::rejstrik(int64_t pozice) {
    pismeno('R', pozice, true);
    const Parametr a = parametr('R', pozice);
    if (!a.je) return;
    const int n = static_cast<unsigned char>(a.znak);
    if (jecislo(n) && jecislo(in_.nahled())) {
        // "R10": one character names the register, the digits after it are
        // read on their own.
        // Zeros right after it are no command and are said here, not again
        // on their own; the digits after them are a note value.
        std::string nuly;
        while (in_.nahled() == '0' && nuly.size() < 12) nuly += static_cast<char>(in_.dalsi());
        const Partitura::Znacka tady = in_.partitura().znacka();
        std::string hodnota;
        while (jecislo(in_.nahled()) && hodnota.size() < 12) hodnota += static_cast<char>(in_.dalsi());
        in_.partitura().vrat(tady);
        const std::string co = hodnota.empty() ? "a " + nuly + ", which is ignored"
                             : nuly.empty()    ? "the note value " + hodnota
                                               : "an ignored " + nuly + " and the note value " + hodnota;
        varuj(pozice, "\"R" + znak(n) + nuly + hodnota + "\" is register " + znak(n) + " and then " + co +
                          ": a register is named by one character (R1 to R9, or a letter); for register " + znak(n) +
                          " and then a value, write R" + znak(n) + " " + (hodnota.empty() ? "and the value" : hodnota));
    }
    if (jepismeno(n)) {
        pismeno(n, a.po - 1, true);
    } else if (jemezera(n) || n == '\n' || n == '\r') {
        konecslova();
        varuj(pozice, "a space after R is taken as the register character: write the register right after it, as R4");
    }
}

void Kontrola::zpet(int64_t pozice) {
    const Parametr a = parametr('-', pozice);
    if (!a.je) return;
    const std::string pocet = in_.text(a.od, a.po, 12);
    const int po = in_.nahled();
    if (jepismenonoty(po) || po == 'p') {
        varuj(a.od, "-" + pocet + znak(po) + " steps back " + pocet + " values and then plays " + znak(po) + "; if " +
                        pocet + " is meant as the value of " + znak(po) + ", write - " + pocet + znak(po));
    }
}

// "> c" and "< a": in MML an octave up and down; here the sharp and the flat
// of the next note, whatever stands between.
void Kontrola::posuvka(int b, int64_t pozice) {
    if (!jemezera(in_.nahled())) return;
    const int n = in_.zamezerami();
    const std::string nota = jepismenonoty(n) ? znak(n) : b == '>' ? "c" : "a";
    const bool krizek = b == '>';
    varuj(pozice, "a space after " + znak(b) + ": here " + znak(b) + " is the " + (krizek ? "sharp" : "flat") +
                      " of the next note (\"" + znak(b) + " " + nota + "\" plays " + nota + (krizek ? " sharp" : " flat") +
                      "), not an octave " + (krizek ? "up" : "down") + " as in MML: write " + znak(b) + nota +
                      " for " + nota + (krizek ? " sharp" : " flat") + ", or the octave itself (" +
                      (krizek ? "o2" : "om") + ") to change the octave");
}

void Kontrola::utf8(int b, int64_t pozice) {
    // A lead byte and its continuation bytes, read as they stand.
    const int navic = b >= 0xF0 ? 3 : b >= 0xE0 ? 2 : 1;
    std::string bajty(1, static_cast<char>(b));
    uint32_t kod = static_cast<uint32_t>(b & (0x3F >> navic));
    for (int i = 0; i < navic; ++i) {
        const int n = in_.surovy();
        if (n < 0x80 || n > 0xBF) {
            in_.vrat();
            varuj(pozice, "byte " + bajt(b) + " is not a command and is ignored");
            return;
        }
        bajty += static_cast<char>(n);
        kod = kod << 6 | static_cast<uint32_t>(n & 0x3F);
    }
    const std::string kodovani = "a score is Windows-1250 or UTF-16LE text";
    if (kod == 0x10D) {
        varuj(pozice, "\"\xC4\x8D\" saved as UTF-8 is ignored (" + kodovani + "): write > for a sharp");
    } else if (kod == 0x11B) {
        varuj(pozice, "\"\xC4\x9B\" saved as UTF-8 is ignored (" + kodovani + "): write < for a flat");
    } else if (kod == 0xFEFF) {
        varuj(pozice, "the score starts with a UTF-8 byte-order mark: " + kodovani +
                          ", so save it as one of those, or write only ASCII outside comments");
    } else {
        varuj(pozice, "\"" + bajty + "\" looks like UTF-8 and is ignored: " + kodovani +
                          "; outside comments write only ASCII");
    }
}

void Kontrola::ostatni(int b, int64_t pozice) {
    if (b == ')') {
        varuj(pozice, "\")\" without a \"(\" before it is ignored");
    } else if (b == 0xFF) {
        varuj(pozice, "byte 0xFF (\"\xCB\x99\" in Windows-1250) ends a comment when one follows: leave it out");
    } else if (b >= 0xC2 && b <= 0xF4 && !utf16_) {
        utf8(b, pozice);
    } else if (utf16_ && (pozice & 1) == 1) {
        // The high byte of a UTF-16LE character outside ASCII: its low byte
        // was read as a command of its own.
        varuj(pozice - 1, "a character outside ASCII is read here as its low byte and " + bajt(b) +
                              ": in a UTF-16LE score write only ASCII, \xC4\x8D and \xC4\x9B, even in comments");
    } else if (b >= 0x21 && b < 0x7F) {
        varuj(pozice, "\"" + znak(b) + "\" is not a command and is ignored");
    } else {
        varuj(pozice, "byte " + bajt(b) + " is not a command and is ignored");
    }
}

void Kontrola::projdi() {
    // UTF-16LE: a byte-order mark, or a zero as the second byte.
    Partitura& p = in_.partitura();
    p.pretoc();
    const int b0 = p.cti();
    const int b1 = p.cti();
    utf16_ = (b0 == 0xFF && b1 == 0xFE) || (b0 > 0 && b1 == 0);
    p.pretoc();

    for (;;) {
        const int b = in_.dalsi();
        if (b == konec) break;
        const int64_t pozice = in_.pozice();
        if (!jepismeno(b)) konecslova();
        const int predchozi = predchozi_;
        predchozi_ = 0;
        if (jepismenonoty(b) || b == 'p') {
            if (b != 'p') notabyla_ = true;
            parametr(b, pozice);
            pismeno(b, pozice, true);
            predchozi_ = b;
            continue;
        }
        if (syntaxe_.jeprikaz(b)) {
            switch (syntaxe_.argument[b]) {
                case Argument::komentar: komentar(pozice); break;
                case Argument::hodnota: hodnota(b, pozice, predchozi); break;
                case Argument::cislo: prikazscislem(b, pozice); break;
                case Argument::oktava: oktava(pozice); break;
                case Argument::rejstrik: rejstrik(pozice); break;
                case Argument::zpet: zpet(pozice); break;
                case Argument::surovy: parametr(b, pozice); break;
                case Argument::zadny:
                    parametr(b, pozice);
                    if (b == '>' || b == '<') posuvka(b, pozice);
                    break;
            }
            continue;
        }
        switch (b) {
            case '#':
                varuj(pozice, std::string("\"#\" is not a sharp and is ignored: a sharp comes before its note, ") +
                                  (predchozi != 0 && predchozi != 'p' ? ">" + znak(predchozi) : ">c"));
                break;
            case ' ': case '\t': case '\n': case '\v': case '\f':
                break;
            case 0xFF: case 0xFE:
                if (utf16_ && pozice < 2) break;   // the byte-order mark
                ostatni(b, pozice);
                break;
            default:
                if (jepismeno(b)) {
                    pismeno(b, pozice, false);
                } else {
                    ostatni(b, pozice);
                }
        }
    }
    konecslova();
}

}  // namespace

std::vector<Varovani> zkontrolujpismo(Partitura& p, const Syntaxe& syntaxe, size_t nejvic, int64_t& dalsich,
                                     std::vector<Povel>* povely) {
    Kontrola k(p, syntaxe, nejvic, povely);
    k.projdi();
    p.pretoc();
    dalsich = k.dalsich;
    return std::move(k.seznam);
}

}  // namespace skladba
