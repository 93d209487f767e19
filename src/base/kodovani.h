// What a render's sound is written as: the WAV, or a compressed format made
// from the same 16-bit samples, with its quality and its tags.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace skladba {

enum class Format { wav, flac, vorbis, mp3, opus };

// --master: the render made ready to share. 48 kHz stereo, the voices placed
// across the stereo field, a room around them and the loudness of finished
// recordings (output/master.h). Off: the renderer's own mono sound.
struct Master {
    bool zapnuto = false;
    int prostor = 30;            // --room 0 (dry) to 100 (a large hall)
    double hlasitost = -14.0;    // --loudness: integrated loudness in LUFS
    bool panorama = true;        // --pan off: every voice in the centre
    // A render that leaves voices out (mute and solo in the editor) keeps
    // the full score's scale (Nastaveni::pevnemaximum, the peak of both its
    // channels) and this gain in dB, so that the voices left sound as they
    // do in the whole; unset, the gain is measured from the render itself.
    bool pevnyzisk = false;
    double zisk = 0.0;
    // Where a render leaves the scale and the gain it used, for the renders
    // that leave voices out of it later.
    struct Mereni {
        double maximum = 0.0;
        double zisk = 0.0;
        bool hotovo = false;
    };
    std::shared_ptr<Mereni> mereni;
};

// --quality when it is not given: a middle setting, where the lossy formats
// sound clean and a piece stays a few hundred kilobytes a minute.
constexpr int vychozikvalita = 5;

struct Kodovani {
    Format format = Format::wav;
    int kvalita = vychozikvalita;   // 0 (smallest) to 10 (best), for the lossy formats
    std::string nazev;              // the title tag; empty: the score's first comment
    std::string autor;              // the artist tag; empty: none
    Master master;
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

// The same for the 48 kHz stereo of --master: frames of two 24-bit samples
// (left, right) held in 32-bit integers.
class OdberStereo {
public:
    virtual ~OdberStereo() = default;
    virtual void pridej(const int32_t* ramce, int pocet) = 0;
    virtual void dokonci() = 0;
};

}  // namespace skladba
