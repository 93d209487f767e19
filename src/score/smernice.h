// Directives: a comment whose first word is one of a few keywords followed by
// a colon, "(title: Elegy)", "(time: 6/8)", "(key: E minor)", "(part: Viola)",
// says something about the music for the outputs that show it (sheet music,
// the MIDI file, tags, the page). The engine skips it as the comment it is,
// so the sound never changes. The one list of keywords and the one reader of
// a directive's text, for the engine's record of the music, the check of a
// score, the editor and a language server alike.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace skladba {

enum class DruhSmernice : uint8_t { nazev, autor, metrum, tonina, cast, pan };

struct KlicoveSlovo {
    const char* slovo;       // as written before the colon: "title"
    DruhSmernice druh;
    const char* popis;       // what it does, with its accepted forms
};

// Every keyword, in the order the README lists them.
const std::vector<KlicoveSlovo>& klicovaslova();

// A directive as read.
struct Smernice {
    DruhSmernice druh = DruhSmernice::nazev;
    std::string text;            // after the colon, UTF-8, spaces collapsed, trimmed
    // Where in the comment's text the keyword and the value begin (bytes
    // from just after the opening parenthesis), for an editor.
    size_t odklice = 0, odhodnoty = 0;
    // time: N/D with its beat groups (empty: the metre's own).
    int citatel = 0, jmenovatel = 0;
    std::vector<int> skupiny;
    // key: fifths (sharps +, flats -) and whether it is minor.
    int kvinty = 0;
    bool moll = false;
    // pan: -1 (left) to 1 (right).
    double pan = 0;
    // Why the value cannot be read, naming the forms that can; empty when read.
    std::string chyba;
};

// Reads the text of a comment (what stands between its parentheses, as the
// score's bytes) as a directive. False when its first word is no keyword
// followed by a colon: then it is a plain comment. True with s.chyba set
// when the value cannot be read.
bool ctismernici(const std::string& komentar, Smernice& s);

// The bytes of a comment as UTF-8: as they stand when they are UTF-8, else
// as Windows-1250 (a UTF-16LE letter of U+0100 to U+01FF, read with its zero
// bytes skipped as its low byte then 0x01, as that letter).
std::string textkomentare(const std::string& bajty);

// "6/8", "7/8 2+2+3": a metre as a directive writes it.
std::string textmetra(int citatel, int jmenovatel, const std::vector<int>& skupiny);
// "E minor", "B♭ major": a key as the outputs name it.
std::string texttoniny(int kvinty, bool moll);

}  // namespace skladba
