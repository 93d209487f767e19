// A SoundFont made by the tests themselves, so that each can break or vary
// it in its own way.
#pragma once

#include <cmath>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

namespace skladba::test {

// Preset 0:0 "Tone" plays one instrument zone: a sine of 441 Hz at 22050 Hz
// (50 points a period, 2205 points), on key 69, looped over points 100 to
// 2200, taking the instrument generators given (number, amount) and one
// modulator from the velocity to each generator in `modulated`. With
// `plain`, preset 0:1 "Plain" plays the same tone for 4.5 s, once, from a
// sample of its own that has no loop.
struct TinySoundFont {
    std::vector<std::pair<uint16_t, uint16_t>> generators;
    std::vector<uint16_t> modulated;
    uint32_t start = 0, end = 2205;
    uint16_t version = 2;
    bool plain = false;

    static constexpr uint32_t kLoopStart = 100, kLoopEnd = 2200;
    static constexpr uint32_t kPlainPoints = 22050 * 9 / 2;

    std::string bytes() const {
        const auto put16 = [](std::string& s, unsigned v) {
            s += static_cast<char>(v & 0xFFu);
            s += static_cast<char>((v >> 8) & 0xFFu);
        };
        const auto put32 = [&](std::string& s, uint32_t v) {
            put16(s, v & 0xFFFFu);
            put16(s, v >> 16);
        };
        const auto chunk = [&](const char* id, std::string data) {
            if (data.size() % 2 != 0) data += '\0';
            std::string c = id;
            put32(c, static_cast<uint32_t>(data.size()));
            return c + data;
        };
        const auto name = [](const char* text) { return std::string(text).append(20 - std::strlen(text), '\0'); };
        const auto sine = [](uint32_t n) {
            return static_cast<uint16_t>(static_cast<int16_t>(12000 * std::sin(2 * 3.14159265358979323846 * n / 50)));
        };
        const unsigned presets = plain ? 2 : 1;
        // Each sample is followed by the 46 zero points a SoundFont keeps after one.
        std::string smpl, phdr, pbag, pgen, inst, ibag, imod, igen, shdr;
        for (uint32_t n = 0; n < 2205 + 46; ++n) put16(smpl, n < 2205 ? sine(n) : 0);
        const uint32_t plainStart = 2205 + 46;
        if (plain) {
            for (uint32_t n = 0; n < kPlainPoints + 46; ++n) put16(smpl, n < kPlainPoints ? sine(n) : 0);
        }
        const char* names[] = {"Tone", "Plain"};
        for (unsigned p = 0; p <= presets; ++p) {
            phdr += name(p < presets ? names[p] : "EOP");
            put16(phdr, p < presets ? p : 0), put16(phdr, 0), put16(phdr, p), put32(phdr, 0), put32(phdr, 0),
                put32(phdr, 0);
            inst += name(p < presets ? names[p] : "EOI");
            put16(inst, p);
        }
        for (unsigned p = 0; p <= presets; ++p) put16(pbag, p), put16(pbag, 0);
        for (unsigned p = 0; p < presets; ++p) put16(pgen, 41), put16(pgen, p);  // instrument p
        put32(pgen, 0);                                                           // the terminal record
        for (uint16_t target : modulated) {
            put16(imod, 2), put16(imod, target), put16(imod, 32767), put16(imod, 0), put16(imod, 0);
        }
        imod += std::string(10, '\0');
        std::vector<std::pair<uint16_t, uint16_t>> gens = generators;
        gens.insert(gens.end(), {{54, 1}, {53, 0}});  // looped, sample 0
        const auto toneGens = static_cast<unsigned>(gens.size());
        if (plain) gens.insert(gens.end(), {{54, 0}, {53, 1}});  // played once, sample 1
        for (const auto& [number, amount] : gens) put16(igen, number), put16(igen, amount);
        put32(igen, 0);
        const auto mods = static_cast<unsigned>(modulated.size());
        put16(ibag, 0), put16(ibag, 0);
        if (plain) put16(ibag, toneGens), put16(ibag, mods);
        put16(ibag, static_cast<unsigned>(gens.size())), put16(ibag, mods);
        const auto sample = [&](const char* text, uint32_t from, uint32_t to, uint32_t loopFrom, uint32_t loopTo) {
            shdr += name(text);
            put32(shdr, from), put32(shdr, to), put32(shdr, loopFrom), put32(shdr, loopTo), put32(shdr, 22050);
            shdr += static_cast<char>(69), shdr += '\0';
            put16(shdr, 0), put16(shdr, 1);
        };
        sample("sine", start, end, kLoopStart, kLoopEnd);
        if (plain) sample("long", plainStart, plainStart + kPlainPoints, plainStart + 8, plainStart + 16);
        shdr += std::string(46, '\0');
        std::string ifil;
        put16(ifil, version), put16(ifil, 1);
        const std::string body = std::string("sfbk") +
                                 chunk("LIST", "INFO" + chunk("ifil", ifil) + chunk("isng", "EMU8000") +
                                                   chunk("INAM", "Test")) +
                                 chunk("LIST", "sdta" + chunk("smpl", smpl)) +
                                 chunk("LIST", "pdta" + chunk("phdr", phdr) + chunk("pbag", pbag) +
                                                   chunk("pmod", std::string(10, '\0')) + chunk("pgen", pgen) +
                                                   chunk("inst", inst) + chunk("ibag", ibag) + chunk("imod", imod) +
                                                   chunk("igen", igen) + chunk("shdr", shdr));
        return chunk("RIFF", body);
    }
    std::string write(const std::string& path) const {
        std::ofstream(path, std::ios::binary) << bytes();
        return path;
    }
};

}  // namespace skladba::test
