// What a render's sound is written as: the WAV, or a compressed format made
// from the same 16-bit samples, with its quality and its tags.
#pragma once

#include <cstdint>
#include <string>

namespace skladba {

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

// Where the samples of a render go, block by block, in the machine's byte
// order, to be written as a WAV or encoded; dokonci once all are in.
class Odber {
public:
    virtual ~Odber() = default;
    virtual void pridej(const int16_t* vzorky, int pocet) = 0;
    virtual void dokonci() = 0;
};

}  // namespace skladba
