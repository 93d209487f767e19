// The score reader: the only code that touches the score stream. Commands ask
// it for the next significant byte (dejznak), put the last byte back
// (vratznak), read a raw byte (dejsurovyznak) or a decimal number (dejcislo).
//
// Zero bytes are skipped before every character, which is what lets one
// reader take a score saved as 8-bit text or as UTF-16LE: in UTF-16LE every
// ASCII character is its byte followed by a zero byte.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/system.h"

namespace skladba {

// What dejznak returns at the end of the score. A 0xFF byte inside the score
// reads the same.
constexpr char konecsouboru = '\xFF';

// The most read from a score that is not a regular file (a pipe, a terminal,
// a device), which is held in memory whole: an endless stream such as
// /dev/zero is refused at this size instead of being read for ever.
constexpr int64_t nejvetsiproud = int64_t{64} << 20;

// The score stream: a read position, an end-of-file indicator that is set by
// a read that finds no more bytes and cleared by any seek, and a window of
// the file buffered in memory (a regular file is never held whole).
class Partitura {
public:
    // Opens the score at path, "-" meaning standard input; jmeno is how
    // messages name it. False with errno set when it cannot be opened; a
    // ChybaSouboru when a score that is not a regular file cannot be read or
    // is too large.
    bool otevri(const std::string& path, const std::string& jmeno);
    // Reads the score from bytes in memory, which must outlive the reading.
    void otevritext(const std::string& text, const std::string& jmeno);
    void zavri();
    bool jeotevrena() const { return soubor_.otevren() || vpameti_; }

    int cti();                       // next raw byte 0..255, or -1 at the end
    bool konec() const { return eof_; }
    int64_t pozice() const { return zacatek_ + index_; }
    int64_t velikost() const { return velikost_; }
    void zpet();                     // seek one byte back (no-op at 0)
    void pretoc();                   // back to the first byte, for a second pass

    // Where the reader stands: its position, its end-of-file indicator and
    // the last byte it handed out. A reader that looks ahead keeps one and
    // returns to it.
    struct Znacka {
        int64_t pozice = 0;
        bool konec = false;
        char posledni = 0;
    };
    Znacka znacka() const { return {pozice(), eof_, posledniznak_}; }
    void vrat(const Znacka& z);

    // Line and column of a byte offset: lines counted by line feeds, columns
    // by non-zero bytes since the last line feed, both from 1.
    void umisteni(int64_t offset, int64_t& radek, int64_t& sloupec) const;
    // The same for many offsets in one pass over the score.
    struct Misto {
        int64_t radek = 1, sloupec = 1;
    };
    std::vector<Misto> umisteni(std::vector<int64_t> offsets) const;

private:
    static constexpr int delkaokna = 1 << 16;

    // The last byte handed out by dejznak or dejsurovyznak (the end marker
    // after the end): what vratznak decides on. Only they touch it.
    friend char dejznak(Partitura& p);
    friend void vratznak(Partitura& p);
    friend int dejsurovyznak(Partitura& p);
    char podej(char c) {
        posledniznak_ = c;
        return c;
    }

    void zacni(const std::string& jmeno);
    void nactipamet();

    std::string jmeno_;
    platform::Soubor soubor_;
    bool vpameti_ = false;              // the whole score is in memory: pamet_, or the caller's text
    std::vector<unsigned char> pamet_;
    unsigned char okno_[delkaokna];
    const unsigned char* data_ = okno_; // okno_, or pamet_ when held whole
    int64_t zacatek_ = 0;   // file offset of data_[0]
    int64_t delka_ = 0;     // valid bytes in data_
    int64_t index_ = 0;     // read position within data_
    int64_t velikost_ = 0;  // bytes in the score
    int64_t posun_ = 0;     // file offset of the score's first byte
    bool eof_ = false;
    char posledniznak_ = 0;
};

// The next significant byte: zero bytes are skipped; the end marker at the end.
char dejznak(Partitura& p);
// Puts the last byte handed out back (nothing after the end marker).
void vratznak(Partitura& p);

// What a number was written as, for a reader that looks at the text (the
// check of a score): whether it had digits, and where a separator written
// after its digits was swallowed.
struct ZapsaneCislo {
    bool minus = false;         // it began with "-"
    bool cifry = false;         // at least one digit
    int64_t oddelovac = -1;     // offset of a "." or "," it ended with, or -1
    // Whether anything of a number stood there: a minus, a separator or digits.
    bool zapsano() const { return minus || cifry || oddelovac >= 0; }
};
// A decimal number: an optional leading minus, digits, "." or "," as the
// separator; the byte that ends it is put back. Without digits it is 0.
double dejcislo(Partitura& p, ZapsaneCislo* zapsane = nullptr);
// One byte exactly as it stands in the file, zero bytes included; -1 (and
// the end-of-file indicator set) when the score has ended.
int dejsurovyznak(Partitura& p);

inline bool jecislice(char c) { return c >= '0' && c <= '9'; }

}  // namespace skladba
