// The words of the score language that both the engine and the check of a
// score need: what each command reads after its character, read the one way
// for both, the letter numbers of the notes and the octave characters.
//
// Which characters are commands, and with which argument, is said once, in
// the engine's command table (engine/prikazy.cpp); the table hands the check
// a Syntaxe built from it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "score/ctenar.h"

namespace skladba {

// What a command character reads after itself.
enum class Argument : uint8_t {
    zadny,      // nothing: notes, the rest, the dot, sharps and flats, the bar line
    cislo,      // a number right after it: "t", "r", "s", "S", "T"
    hodnota,    // a number beginning with the command's own digit: the note value
    oktava,     // one octave character (v m 1 2 3 4); any other is left to the command loop
    rejstrik,   // any one byte: the register character of "R"
    zpet,       // "-": a "." for half a value, else a count if a digit follows
    surovy,     // the next byte exactly as it stands, taken only when it is 0x01
                // (the second byte of a UTF-16LE c-caron or e-caron)
    komentar,   // everything up to the matching ")"
};

// An argument as it was read.
struct Parametr {
    double cislo = 0.0;      // cislo, hodnota; zpet: the count (when je)
    bool je = false;         // oktava, surovy: it was there (and taken); zpet: a count was written;
                             // rejstrik: a byte came before the end of the score
    bool pul = false;        // zpet: "-." steps back half a value first
    char znak = 0;           // oktava, rejstrik: the character
    int oktava = 0;          // oktava: its base in semitones
    ZapsaneCislo zapsane;    // cislo, hodnota, zpet: how the number was written
    char prikaz = 0;         // the command's own character: a note letter, "p", "." ...
    int64_t od = 0;          // offsets of the argument's bytes in the score, [od, po)
    int64_t po = 0;
    std::string text;        // komentar: its bytes inside the parentheses, the first nejdelsitext of them
};

// The most of a comment's text a directive reads (score/smernice.h).
constexpr size_t nejdelsitext = 1024;

// Reads the argument of a command whose character was just read. hloubka is
// the nesting depth of comments, which a comment cut short by a 0xFF byte
// leaves above 0 for the comments after it.
Parametr ctiparametr(Partitura& p, Argument a, int64_t& hloubka);

// For each byte: whether it is a command, and what it reads after itself.
struct Syntaxe {
    bool prikaz[256] = {};
    Argument argument[256] = {};
    bool jeprikaz(int b) const { return b >= 0 && b < 256 && prikaz[b]; }
};

// Semitones above the octave base, counting "c" as 1; 0 for anything else
// ("p", the rest, included).
int cislopismene(char letter);
// Whether a byte is a note letter: a c d e f g h.
inline bool jepismenonoty(int b) { return b >= 0 && b < 128 && cislopismene(static_cast<char>(b)) > 0; }
// The octave base of an octave character (ov 0, om 12, o1 24 ... o4 60), or
// -1 for a character that is no octave.
int oktavapro(char c);

}  // namespace skladba
