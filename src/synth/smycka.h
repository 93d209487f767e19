// Sustain loops: a small text file beside a register (rejstrX.smycky beside
// rejstrX.nes) that names, for each segment, the stretch a note repeats to
// sound longer than its four seconds. The register file itself is
// untouched; the loop file names it by its size and checksum, so that one
// made for another register is refused instead of looping the wrong sound.
//
//   skladba-smycky 2
//   rejstrik rejstr8.nes 12171600 5f1c0a33d2b9e7a1
//   1 -
//   24 61740 85995 1102 0 1.5
//   25 63011 85990 1102 3.25 0
//
// After the two header lines, one line per segment: its index and either
// "-" (no loop) or the loop's first sample, the sample after its last, the
// crossfade length, all in samples of the segment, how fast the note dies
// away once it repeats the loop, in dB per second (0 for a sound that
// holds, as an organ's; a piano's goes on fading as it did while it was
// recorded), and the level in dB a note held past the segment is played at
// (a sustaining register's held notes are leveled by their held sound, as
// its segments are by their first second). A segment without a line has no loop. The crossfade blends
// the end of the loop into the samples just before its start, so the seam
// joins sound to sound.
//
// Version 1 files, whose lines end at the crossfade, are still read: their
// loops hold their level, at the segment's own.
#pragma once

#include <cstdint>
#include <string>

#include "base/format.h"

namespace skladba {

constexpr const char* priponasmycek = ".smycky";
constexpr int verzesmycek = 2;

struct Smycka {
    int32_t od = 0;        // first sample of the loop
    int32_t po = 0;        // the sample after its last; po <= od: no loop
    int32_t prolnuti = 0;  // crossfade, at most od and at most the loop's length
    double pokles = 0.0;   // dB per second the note falls by from the loop's start on; 0 holds
    double uroven = 0.0;   // dB the whole held note is raised (or lowered) by
    bool je() const { return po > od; }
};

struct Smycky {
    int64_t velikost = 0;      // the register's size in bytes
    uint64_t soucet = 0;       // and checksum (kontrolnisoucet)
    std::string rejstrik;      // its file name, as written
    Smycka smycka[pocetsegmentu];
};

// The loop file of a register: its path with .nes replaced (or .smycky added).
std::string cestasmycek(const std::string& rejstrik);

// 64-bit FNV-1a over bytes, continued from h.
uint64_t kontrolnisoucet(const void* bytes, size_t size, uint64_t h = 14695981039346656037ull);

// Reads a loop file's text; false with chyba saying what is wrong (and on
// which line) when it is not one.
bool prectismycky(const std::string& text, Smycky& s, std::string& chyba);
std::string zapissmycky(const Smycky& s);

// Samples [od, od + pocet) of a note that plays segment (delkatonu samples)
// with loop s: the segment up to the loop's end, then the loop over and
// over, its crossfade at every seam; from utlum the note fades to silence at
// zni along 1 - (3x^2 - 2x^3), as a note cut short does. With s.pokles,
// each repeat of the loop is that many dB per second of the loop's length
// softer than the one before: the recording falls at that rate inside the
// loop too, so the note goes on falling smoothly across the seams. The
// whole note is played s.uroven dB up.
void vzorkysmycky(const int16_t* segment, const Smycka& s, int64_t od, int pocet, int64_t utlum, int64_t zni,
                  int16_t* out);

}  // namespace skladba
