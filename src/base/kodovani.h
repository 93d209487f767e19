// What a render's sound is written as: the WAV, or a compressed format made
// from the same 16-bit samples, with its quality and its tags.
#pragma once

#include <cstddef>
#include <string>

namespace skladba {

// The bytes of the UTF-8 character at s[i] (1 to 4), or 0 where what stands
// there is not one (a stray continuation byte, a sequence cut short, an
// overlong form, a surrogate, past U+10FFFF).
size_t znakutf8(const std::string& s, size_t i);

// Whether the whole of s is UTF-8.
bool jeutf8(const std::string& s);

enum class Format { wav, flac, vorbis, mp3, opus };

// --quality when it is not given: a middle setting, where the lossy formats
// sound clean and a piece stays a few hundred kilobytes a minute.
constexpr int vychozikvalita = 5;

struct Kodovani {
    Format format = Format::wav;
    int kvalita = vychozikvalita;   // 0 (smallest) to 10 (best), for the lossy formats
    std::string nazev;              // the title tag; empty: the score's first comment
    std::string autor;              // the artist tag; empty: none
    // Filled in by the run: the score's first comment as its bytes stand
    // (Windows-1250 or UTF-16LE, with its parentheses), and the score's
    // name, for a title when none was given.
    std::string komentar;
    std::string partitura;
};

}  // namespace skladba
