// The constants of the three file formats skladba reads and writes: register
// files, the mix file and the WAV. Defined here once; the engine, the
// synthesis, the WAV writer, the register tool and the tests all take them
// from this header.
#pragma once

#include <cstddef>
#include <cstdint>

namespace skladba {

// Time is counted in samples at this rate, in registers, the mix and the WAV.
constexpr int zaklad = 22050;

// Register files: no header; signed 16-bit little-endian mono samples at
// zaklad per second; pocetsegmentu segments of delkatonu samples (four
// seconds), one per semitone. Segment 33 sounds A 440 Hz, segment 24 middle
// C; segment 0 is what rests mix in, so it should be silence. Bytes past the
// last segment are ignored.
constexpr int delkatonu = zaklad * 4;
constexpr int pocetsegmentu = 69;
constexpr int indexa440 = 33;
constexpr int64_t bajturejstriku = int64_t{pocetsegmentu} * delkatonu * 2;
// Register rejstrX.nes, for the register character X, in the register folder.
constexpr const char* predponarejstriku = "rejstr";
constexpr const char* priponarejstriku = ".nes";

// The mix file: one signed 32-bit little-endian sum per sample, the sum for
// sample i at byte 4 * i, no header. Its format addresses it with signed
// 32-bit byte offsets, so no sample may lie at or past 2^31 / 4.
constexpr int64_t nejdelsiskladba = 536870912;

// The WAV: a 44-byte RIFF/WAVE PCM header, then 16-bit mono samples. The
// header is taken from a template of sablonabajtu bytes in the register
// folder; its tags must stand at these offsets.
constexpr const char* sablonahlavicky = "wavhlavicka.nes";
constexpr size_t sablonabajtu = 40;
constexpr size_t delkahlavicky = 44;
struct ZnackaHlavicky {
    size_t kde;
    const char* text;
};
constexpr ZnackaHlavicky znackyhlavicky[] = {{0, "RIFF"}, {8, "WAVE"}, {12, "fmt "}, {36, "data"}};
// Its format fields, little-endian, must describe the samples written:
// 16-bit PCM, one channel, zaklad samples per second.
struct PoleHlavicky {
    size_t kde;
    size_t bajtu;
    uint32_t hodnota;
    const char* jmeno;
};
constexpr PoleHlavicky polehlavicky[] = {
    {16, 4, 16, "format chunk size"},
    {20, 2, 1, "audio format (1: PCM)"},
    {22, 2, 1, "channels"},
    {24, 4, zaklad, "sample rate"},
    {28, 4, zaklad * 2, "byte rate"},
    {32, 2, 2, "block align"},
    {34, 2, 16, "bits per sample"},
};
// The largest absolute sum the mix held becomes this output value.
constexpr float maxsignal = 32752.0f;

}  // namespace skladba
