#include "score/kontrola.h"

#include <cstdio>
#include <string>

#include "score/ctenar.h"

namespace skladba {

namespace {

constexpr int konec = -1;

bool jepismeno(int b) { return (b >= 'a' && b <= 'z') || (b >= 'A' && b <= 'Z'); }
bool jenota(int b) { return b == 'c' || b == 'd' || b == 'e' || b == 'f' || b == 'g' || b == 'a' || b == 'h'; }
bool jemezera(int b) { return b == ' ' || b == '\t'; }
bool jecislo(int b) { return b >= '0' && b <= '9'; }
bool jeoddelovac(int b) { return b == '.' || b == ','; }

// Letters that are commands of their own: in a word they do something.
bool jeprikaz(int b) {
    return jenota(b) || b == 'p' || b == 'o' || b == 's' || b == 't' || b == 'r' || b == 'T' || b == 'S' ||
           b == 'R';
}

// The score's bytes as the reader hands them out: zero bytes skipped, each
// with its offset, one byte of lookahead.
class Bajty {
public:
    int nahled() {
        if (!mam_) {
            int b = 0;
            do {
                b = isoubor.cti();
            } while (b == 0);
            nahled_ = b;
            nahledpozice_ = isoubor.pozice() - 1;
            mam_ = true;
        }
        return nahled_;
    }
    int dalsi() {
        const int b = nahled();
        mam_ = false;
        pozice_ = nahledpozice_;
        return b;
    }
    // The next byte exactly as it stands, a zero byte included (as the
    // accidentals of UTF-16LE read it); put back unless it is kept.
    int surovy() {
        if (mam_) return nahled_;
        const int b = isoubor.cti();
        nahled_ = b;
        nahledpozice_ = isoubor.pozice() - 1;
        mam_ = b != 0;   // a zero byte put back is skipped anyway
        return b;
    }
    void vezmi() {
        mam_ = false;
        pozice_ = nahledpozice_;
    }
    int64_t pozice() const { return pozice_; }
    int64_t pozicenahledu() const { return nahledpozice_; }

private:
    bool mam_ = false;
    int nahled_ = 0;
    int64_t nahledpozice_ = 0;
    int64_t pozice_ = 0;
};

std::string bajt(int b) {
    char buf[8];
    std::snprintf(buf, sizeof buf, "0x%02X", b);
    return buf;
}

std::string znak(int b) { return std::string(1, static_cast<char>(b)); }

class Kontrola {
public:
    Kontrola(size_t nejvic) : nejvic_(nejvic) {}

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
        if (jeprikaz(b) && prikazyslova_.find(static_cast<char>(b)) == std::string::npos) {
            prikazyslova_ += static_cast<char>(b);
        }
    }
    void konecslova();

    void komentar();
    // Reads the rest of a number as the reader does: digits, and a "." or
    // "," before more digits (one written after the number is swallowed).
    // Returns the offset of a swallowed separator at the end, or -1.
    int64_t zbytekcisla();
    void prikazscislem(int b, int64_t pozice);
    void oktava(int64_t pozice);
    void ostatni(int b, int64_t pozice);
    void utf8(int b, int64_t pozice);

    size_t nejvic_;
    Bajty in_;
    int64_t hloubka_ = 0;     // comment nesting, kept across comments like the engine's
    bool utf16_ = false;
    int predchozi_ = 0;       // the note letter directly before this byte, or 0
    std::string slovo_;
    int64_t delkaslova_ = 0;
    int64_t zacatekslova_ = 0;
    bool nehudba_ = false;
    std::string prikazyslova_;
};

// German and English names of sharps and flats: "fis", "es", "as", "eb".
std::string posuvkaslova(const std::string& s) {
    if (s.size() < 2 || !jenota(s[0])) return "";
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

void Kontrola::komentar() {
    ++hloubka_;
    for (;;) {
        const int b = in_.dalsi();
        if (b == konec) return;
        if (b == '(') ++hloubka_;
        if (b == ')') --hloubka_;
        if (b == 0xFF) {
            varuj(in_.pozice(), "byte 0xFF (\"\xCB\x99\" in Windows-1250) ends a comment here and upsets the "
                                "comments after it: leave it out");
            return;
        }
        if (hloubka_ == 0) return;
    }
}

int64_t Kontrola::zbytekcisla() {
    for (;;) {
        const int b = in_.nahled();
        if (jecislo(b)) {
            in_.dalsi();
            continue;
        }
        if (!jeoddelovac(b)) return -1;
        in_.dalsi();
        const int64_t oddelovac = in_.pozice();
        if (!jecislo(in_.nahled())) return oddelovac;
    }
}

void Kontrola::prikazscislem(int b, int64_t pozice) {
    int n = in_.nahled();
    if (n == '-' || jecislo(n) || jeoddelovac(n)) {
        pismeno(b, pozice, true);
        if (n == '-') in_.dalsi();
        zbytekcisla();
        return;
    }
    // Left without its number, a command in a word ("es", "Andante") makes
    // the word no music; the word's warning says what to write.
    const bool veslove = !slovo_.empty();
    pismeno(b, pozice, !veslove && !jepismeno(n));
    if (jepismeno(n)) return;
    konecslova();
    if (veslove) return;
    const std::string c = znak(b);
    if (jemezera(n)) {
        while (jemezera(n)) {
            in_.dalsi();
            n = in_.nahled();
        }
        if (jecislo(n) || n == '-') {
            // The number as written, for the message; the reader takes it
            // as a note value (or the "-" as a step back).
            std::string cislo;
            while ((jecislo(in_.nahled()) || (cislo.empty() && in_.nahled() == '-')) && cislo.size() < 12) {
                cislo += static_cast<char>(in_.dalsi());
            }
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
    int n = in_.nahled();
    const bool znakoktavy = n == 'v' || n == 'm' || (n >= '1' && n <= '4');
    if (znakoktavy) {
        pismeno('o', pozice, true);
        in_.dalsi();
        if (jepismeno(n)) pismeno(n, in_.pozice(), true);
        return;
    }
    if (jepismeno(n)) {
        pismeno('o', pozice, false);   // "o" before a letter that is no octave does nothing
        return;
    }
    pismeno('o', pozice, true);
    konecslova();
    if (jecislo(n)) {
        varuj(pozice, "o" + znak(n) + " is not an octave: the octaves are ov, om, o1, o2, o3 and o4, so o is ignored and " +
                          znak(n) + " starts a note value");
        return;
    }
    if (!jemezera(n)) return;
    while (jemezera(n)) {
        in_.dalsi();
        n = in_.nahled();
    }
    if (n == 'v' || n == 'm' || (n >= '1' && n <= '4')) {
        varuj(pozice, "a space between o and its octave: \"o " + znak(n) + "\" is read as nothing and then " +
                          (jecislo(n) ? "a note value" : "\"" + znak(n) + "\"") + "; write o" + znak(n));
    }
}

void Kontrola::utf8(int b, int64_t pozice) {
    // A lead byte and its continuation bytes, read as they stand.
    const int navic = b >= 0xF0 ? 3 : b >= 0xE0 ? 2 : 1;
    std::string bajty(1, static_cast<char>(b));
    uint32_t kod = static_cast<uint32_t>(b & (0x3F >> navic));
    for (int i = 0; i < navic; ++i) {
        const int n = in_.surovy();
        if (n < 0x80 || n > 0xBF) {
            varuj(pozice, "byte " + bajt(b) + " is not a command and is ignored");
            return;
        }
        in_.vezmi();
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
    const int b0 = isoubor.cti();
    const int b1 = isoubor.cti();
    utf16_ = (b0 == 0xFF && b1 == 0xFE) || (b0 > 0 && b1 == 0);
    isoubor.pretoc();

    for (;;) {
        const int b = in_.dalsi();
        if (b == konec) break;
        const int64_t pozice = in_.pozice();
        if (!jepismeno(b)) konecslova();
        const int predchozi = predchozi_;
        predchozi_ = 0;
        if (jenota(b) || b == 'p') {
            pismeno(b, pozice, true);
            predchozi_ = b;
            continue;
        }
        switch (b) {
            case '(':
                komentar();
                break;
            case '0': case '1': case '2': case '3': case '4':
            case '5': case '6': case '7': case '8': case '9': {
                if (predchozi != 0) {
                    varuj(pozice, "the value " + znak(b) + " after the " + (predchozi == 'p' ? "rest" : "note") +
                                      " " + znak(predchozi) + " applies to the notes after it, not to " +
                                      znak(predchozi) + ": write the value before its note, " + znak(b) +
                                      znak(predchozi));
                }
                const int64_t oddelovac = zbytekcisla();
                if (oddelovac >= 0) {
                    varuj(oddelovac, "a dot written directly after a number is part of the number: write the dot "
                                     "after the note (4c.)");
                }
                break;
            }
            case 's': case 't': case 'r': case 'T': case 'S':
                prikazscislem(b, pozice);
                break;
            case 'o':
                oktava(pozice);
                break;
            case 'R': {
                pismeno('R', pozice, true);
                const int n = in_.dalsi();
                if (jepismeno(n)) {
                    pismeno(n, in_.pozice(), true);
                } else if (jemezera(n) || n == '\n' || n == '\r') {
                    konecslova();
                    varuj(pozice, "a space after R is taken as the register character: write the register "
                                  "right after it, as R4");
                }
                break;
            }
            case '-': {
                const int n = in_.nahled();
                if (n == '.') {
                    in_.dalsi();
                } else if (jecislo(n)) {
                    in_.dalsi();
                    const int64_t zacatek = in_.pozice();
                    std::string pocet(1, static_cast<char>(n));
                    while (jecislo(in_.nahled()) && pocet.size() < 12) pocet += static_cast<char>(in_.dalsi());
                    zbytekcisla();
                    const int po = in_.nahled();
                    if (jenota(po) || po == 'p') {
                        varuj(zacatek, "-" + pocet + znak(po) + " steps back " + pocet + " values and then plays " +
                                           znak(po) + "; if " + pocet + " is meant as the value of " + znak(po) +
                                           ", write - " + pocet + znak(po));
                    }
                }
                break;
            }
            case 0x0D:
            case 0x1B:
                // Sharp and flat of UTF-16LE when a 0x01 byte follows; else a
                // carriage return, or nothing.
                if (in_.surovy() == 0x01) in_.vezmi();
                break;
            case '#':
                varuj(pozice, std::string("\"#\" is not a sharp and is ignored: a sharp comes before its note, ") +
                                  (predchozi != 0 && predchozi != 'p' ? ">" + znak(predchozi) : ">c"));
                break;
            case '>': case '<': case 0xE8: case 0xEC: case '.': case '|':
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

std::vector<Varovani> zkontrolujpismo(size_t nejvic, int64_t& dalsich) {
    isoubor.pretoc();
    Kontrola k(nejvic);
    k.projdi();
    isoubor.pretoc();
    dalsich = k.dalsich;
    return std::move(k.seznam);
}

}  // namespace skladba
