// Sustain loops through the real program with the registers this build
// makes: a note held past its segment under --release keeps its level and
// pitch and joins its loop without a click; the shipped registers are even
// across the keyboard; a loop file made for another register is refused.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "proces.h"
#include "registers/level.h"
#include "sf2data.h"
#include "registers/pitch.h"
#include "synth/smycka.h"
#include "wavdata.h"

#ifdef SKLADBA_HAVE_FLUIDSYNTH
#include <fluidsynth.h>
#endif

namespace skladba::test {
namespace {

namespace fs = std::filesystem;

const std::string kRegisters = SKLADBA_REGISTERS;

std::vector<int16_t> segmentOf(const std::string& registerFile, int k) {
    const std::string bytes = precti(registerFile);
    std::vector<int16_t> s(delkatonu);
    for (int i = 0; i < delkatonu; ++i) s[i] = static_cast<int16_t>(le(bytes, (static_cast<size_t>(k) * delkatonu + i) * 2, 2));
    return s;
}

double rms(const int16_t* x, int n) {
    double sum = 0.0;
    for (int i = 0; i < n; ++i) sum += static_cast<double>(x[i]) * x[i];
    return std::sqrt(sum / n);
}

int largestStep(const int16_t* x, int n) {
    int top = 0;
    for (int i = 0; i + 1 < n; ++i) top = std::max(top, std::abs(x[i + 1] - x[i]));
    return top;
}

// RMS levels in dB of the 50 ms frames of y from `od` to `po` seconds,
// each relative to the RMS of y's first half second.
std::vector<double> frameLevels(const std::vector<double>& y, double od, double po) {
    std::vector<double> o;
    double first = 0.0;
    for (int i = 0; i < zaklad / 2; ++i) first += y[i] * y[i];
    first /= zaklad / 2;
    const int frame = zaklad / 20;
    for (int at = static_cast<int>(std::lround(od * zaklad)); at + frame <= std::lround(po * zaklad); at += frame) {
        double sum = 0.0;
        for (int i = 0; i < frame; ++i) sum += y[at + i] * y[at + i];
        o.push_back(10.0 * std::log10(std::max(sum / frame, 1e-12) / first));
    }
    return o;
}

#ifdef SKLADBA_HAVE_FLUIDSYNTH
// `seconds` of MIDI key `key` held on preset 0:`program` of `soundfont` by
// FluidSynth itself at the registers' rate, reverb and chorus off, mono.
std::vector<double> fluidSynthHolds(const std::string& soundfont, int program, int key, double seconds) {
    fluid_settings_t* settings = new_fluid_settings();
    fluid_settings_setnum(settings, "synth.sample-rate", zaklad);
    fluid_settings_setint(settings, "synth.reverb.active", 0);
    fluid_settings_setint(settings, "synth.chorus.active", 0);
    fluid_synth_t* synth = new_fluid_synth(settings);
    const int font = fluid_synth_sfload(synth, soundfont.c_str(), 1);
    fluid_synth_set_interp_method(synth, -1, FLUID_INTERP_HIGHEST);
    fluid_synth_program_select(synth, 0, font, 0, program);
    fluid_synth_noteon(synth, 0, key, 100);
    const int n = static_cast<int>(seconds * zaklad);
    std::vector<float> l(n), r(n);
    fluid_synth_write_float(synth, n, l.data(), 0, 1, r.data(), 0, 1);
    delete_fluid_synth(synth);
    delete_fluid_settings(settings);
    std::vector<double> y(n);
    for (int i = 0; i < n; ++i) y[i] = 0.5 * (static_cast<double>(l[i]) + r[i]);
    return y;
}
#endif

// A folder with the build's header template and registers: a score there
// plays as it would in build/work.
struct Folder {
    std::string dir;
    Folder() {
        char name[] = "/tmp/skladba-smycky-XXXXXX";
        dir = mkdtemp(name);
    }
    ~Folder() { fs::remove_all(dir); }
};

// What a held note is checked against, register by register: `t30 Rn 1a`
// (a whole note of 8 s, segment 33) with --release 100. With `level`, a
// sound that holds keeps its level within 2 dB of its first second.
void expectHeldNote(const std::string& registers, char reg, bool level = true) {
    Folder f;
    zapis(f.dir + "/kus.txt", std::string("t30 R") + reg + " 1a");
    const Beh b = skladba(f.dir, {"--registers", registers, "--release", "100", "kus.txt"});
    ASSERT_EQ(b.status, 0) << b.err;
    const std::vector<int16_t> y = vzorkywav(precti(f.dir + "/kus.wav"));
    // It sounds its 8 s, then fades over 100 ms.
    ASSERT_EQ(y.size(), size_t{8 * zaklad + zaklad / 10});
    EXPECT_GT(rms(&y[8 * zaklad - 2205], 2205), 0.0);

    const double first = rms(y.data(), zaklad);
    for (int at = zaklad / 2; level && at + zaklad / 20 <= zaklad * 78 / 10; at += zaklad / 20) {
        const double db = 20.0 * std::log10(rms(&y[at], zaklad / 20) / first);
        ASSERT_LT(std::fabs(db), 2.0) << "R" << reg << ": the 50 ms frame at " << at / double(zaklad) << " s is "
                                      << db << " dB from the first second";
    }
    // The pitch stays right through the loop.
    const std::vector<double> late(y.begin() + 7 * zaklad, y.begin() + 7 * zaklad + zaklad / 2);
    EXPECT_NEAR(registers::refinePitch(late.data(), zaklad / 2, zaklad, 440.0) / 440.0, 1.0, 0.005) << "R" << reg;

    // At the seams the note steps no further than its segment does in its
    // own four seconds (the mix's own samples, made from the segment and
    // its loop as the program makes them).
    const std::string nes = registers + "/rejstr" + reg + ".nes";
    Smycky loops;
    std::string why;
    ASSERT_TRUE(prectismycky(precti(cestasmycek(nes)), loops, why)) << why;
    const Smycka& s = loops.smycka[33];
    ASSERT_TRUE(s.je()) << "R" << reg << " has no loop for segment 33";
    const std::vector<int16_t> seg = segmentOf(nes, 33);
    const int within = largestStep(seg.data(), delkatonu);
    std::vector<int16_t> note(8 * zaklad);
    vzorkysmycky(seg.data(), s, 0, static_cast<int>(note.size()), 8 * zaklad, 8 * zaklad + 1, note.data());
    for (int64_t seam = s.po; seam + 2 < static_cast<int64_t>(note.size()); seam += s.po - s.od) {
        const int64_t from = seam - s.prolnuti - 1;
        EXPECT_LE(largestStep(&note[from], static_cast<int>(seam + 2 - from)), within) << "R" << reg << " seam at " << seam;
    }
}

class HeldNote : public ::testing::TestWithParam<char> {};

// The levels of the registers made from a SoundFont are those of the
// instrument (FollowsTheSoundFontItWasMadeFrom): here their pitch and seams.
TEST_P(HeldNote, KeepsItsPitchAndSeamsForEightSeconds) {
    if (!fs::exists(kRegisters + "/rejstr" + GetParam() + ".smycky")) GTEST_SKIP() << "this build has no R" << GetParam();
    expectHeldNote(kRegisters, GetParam(), GetParam() < '5');
}

// A held C4 of each register made from a General MIDI preset follows the
// same key held by FluidSynth on that preset: within 3 dB in at least 90 %
// of the 50 ms frames from 1 to 7.5 s, both relative to their first half
// second. The piano and the guitar die away as they do there, the organ,
// strings and flute hold.
TEST(HeldNote, FollowsTheSoundFontItWasMadeFrom) {
#ifndef SKLADBA_HAVE_FLUIDSYNTH
    GTEST_SKIP() << "built without libfluidsynth";
#else
    const std::string soundfont = SKLADBA_GM_SOUNDFONT;
    if (soundfont.empty() || !fs::exists(kRegisters + "/rejstr5.nes")) GTEST_SKIP() << "this build has no R5 to R9";
    const std::pair<char, int> presets[] = {{'5', 0}, {'6', 19}, {'7', 48}, {'8', 73}, {'9', 24}};
    for (const auto& [reg, program] : presets) {
        Folder f;
        zapis(f.dir + "/kus.txt", std::string("t30 R") + reg + " 1 o1 c");
        const Beh b = skladba(f.dir, {"--registers", kRegisters, "--release", "100", "kus.txt"});
        ASSERT_EQ(b.status, 0) << b.err;
        const std::vector<int16_t> wav = vzorkywav(precti(f.dir + "/kus.wav"));
        const std::vector<double> ours(wav.begin(), wav.end());
        const std::vector<double> a = frameLevels(ours, 1.0, 7.5);
        const std::vector<double> z = frameLevels(fluidSynthHolds(soundfont, program, 60, 8.0), 1.0, 7.5);
        ASSERT_EQ(a.size(), z.size());
        int near = 0;
        std::string line = std::string("R") + reg + " (ours/FluidSynth, dB):";
        for (size_t i = 0; i < a.size(); ++i) {
            near += std::fabs(a[i] - z[i]) <= 3.0;
            if (i % 20 == 0) {
                char cell[48];
                std::snprintf(cell, sizeof cell, " %.1fs %.1f/%.1f", 1.0 + i * 0.05, a[i], z[i]);
                line += cell;
            }
        }
        std::printf("%s; %d of %zu frames within 3 dB\n", line.c_str(), near, a.size());
        EXPECT_GE(near * 10, static_cast<int>(a.size()) * 9) << line;
    }
#endif
}

// Held C3, C4, C5 and C6 of a sustaining register, one after another in one
// render: what each note sounds past its recording (4 to 7.5 s) is as loud
// as its recording was from 1 to 3.9 s, within 1.5 dB, and the four held
// notes (1 to 7.5 s) lie within 3 dB of each other (K-weighted).
TEST(HeldNote, SustainingRegistersGoOnAsLoudAsTheirRecordingAndEvenAcrossOctaves) {
    int checked = 0;
    for (char reg : {'6', '7', '8'}) {
        if (!fs::exists(kRegisters + "/rejstr" + reg + ".smycky")) continue;
        ++checked;
        Folder f;
        zapis(f.dir + "/kus.txt", std::string("t30 R") + reg + " 1 om c 1 o1 c 1 o2 c 1 o3 c");
        const Beh b = skladba(f.dir, {"--registers", kRegisters, "--release", "100", "kus.txt"});
        ASSERT_EQ(b.status, 0) << b.err;
        const std::vector<int16_t> y = vzorkywav(precti(f.dir + "/kus.wav"));
        ASSERT_GE(y.size(), size_t{32 * zaklad});
        std::string line = std::string("R") + reg + " held C3 to C6, 1-3.9 s / 4-7.5 s / 1-7.5 s:";
        double lo = 1e9, hi = -1e9;
        for (int note = 0; note < 4; ++note) {
            const int16_t* held = &y[static_cast<size_t>(8 * note) * zaklad];
            const double recorded = registers::loudness(held + zaklad, zaklad * 29 / 10);
            const double looped = registers::loudness(held + 4 * zaklad, zaklad * 7 / 2);
            const double whole = registers::loudness(held + zaklad, zaklad * 13 / 2);
            char cell[64];
            std::snprintf(cell, sizeof cell, " %.1f/%.1f/%.1f LUFS (%.1f dB RMS)", recorded, looped, whole,
                          20.0 * std::log10(rms(held + zaklad, zaklad * 13 / 2)));
            line += cell;
            EXPECT_NEAR(looped, recorded, 1.5) << line;
            lo = std::min(lo, whole);
            hi = std::max(hi, whole);
        }
        std::printf("%s\n", line.c_str());
        EXPECT_LE(hi - lo, 3.0) << line;
    }
    if (checked == 0) GTEST_SKIP() << "this build has no SoundFont registers";
}

INSTANTIATE_TEST_SUITE_P(Registers, HeldNote, ::testing::Values('2', '5', '6', '7', '8', '9'),
                         [](const auto& info) { return std::string("R") + info.param; });

// C3 to C6 (segments 12, 24, 36, 48) of every register made from a
// SoundFont, by the first second's K-weighted loudness.
TEST(EvenRegisters, EveryOctaveFromC3ToC6WithinThreeDecibels) {
    int checked = 0;
    for (char reg = '5'; reg <= '9'; ++reg) {
        const std::string nes = kRegisters + "/rejstr" + reg + ".nes";
        if (!fs::exists(nes)) continue;
        ++checked;
        double lo = 1e9, hi = -1e9;
        std::string line = std::string("R") + reg + ":";
        for (int k : {12, 24, 36, 48}) {
            const std::vector<int16_t> seg = segmentOf(nes, k);
            const double l = registers::firstSecondLoudness(seg.data());
            char cell[64];
            std::snprintf(cell, sizeof cell, " %.1f LUFS (%.1f dBFS RMS)", l,
                          20.0 * std::log10(rms(seg.data(), zaklad) / 32768.0));
            line += cell;
            lo = std::min(lo, l);
            hi = std::max(hi, l);
        }
        std::printf("%s\n", line.c_str());
        EXPECT_LE(hi - lo, 3.0) << line;
    }
    if (checked == 0) GTEST_SKIP() << "this build has no SoundFont registers";
}

// A register changed after its loops were made: with --release the run
// stops naming both files; without it the loops are not used and it plays.
TEST(LoopFile, MadeForAnotherRegisterIsRefused) {
    Folder f;
    fs::copy_file(kRegisters + "/wavhlavicka.nes", f.dir + "/wavhlavicka.nes");
    fs::copy_file(kRegisters + "/rejstr2.smycky", f.dir + "/rejstr2.smycky");
    std::string bytes = precti(kRegisters + "/rejstr2.nes");
    bytes[delkatonu * 2 * 33 + 1000] ^= 1;
    zapis(f.dir + "/rejstr2.nes", bytes);
    zapis(f.dir + "/kus.txt", "R2 1a");
    const Beh b = skladba(f.dir, {"--registers", ".", "--release", "100", "kus.txt"});
    EXPECT_NE(b.status, 0);
    EXPECT_NE(b.err.find("the loop file ./rejstr2.smycky does not belong to ./rejstr2.nes"), std::string::npos)
        << b.err;
    EXPECT_EQ(skladba(f.dir, {"--registers", ".", "kus.txt"}).status, 0);
    // Without the loop file the register plays, a held note cut at four seconds.
    fs::remove(f.dir + "/rejstr2.smycky");
    zapis(f.dir + "/kus.txt", "t30 R2 1a");
    EXPECT_EQ(skladba(f.dir, {"--registers", ".", "--release", "100", "kus.txt"}).status, 0);
    EXPECT_EQ(vzorkywav(precti(f.dir + "/kus.wav")).size(), size_t{delkatonu});
}

// A damaged loop file (or a folder in its place) fails no render that
// plays no loop; under --release the render fails and names the file.
TEST(LoopFile, ADamagedOneIsReadOnlyWhenALoopIsNeeded) {
    Folder f;
    fs::copy_file(kRegisters + "/wavhlavicka.nes", f.dir + "/wavhlavicka.nes");
    fs::copy_file(kRegisters + "/rejstr2.nes", f.dir + "/rejstr2.nes");
    zapis(f.dir + "/kus.txt", "R2 1a");
    for (const bool slozka : {false, true}) {
        fs::remove_all(f.dir + "/rejstr2.smycky");
        if (slozka) fs::create_directory(f.dir + "/rejstr2.smycky");
        else zapis(f.dir + "/rejstr2.smycky", "not a loop file\n");
        const Beh bez = skladba(f.dir, {"--registers", ".", "kus.txt"});
        EXPECT_EQ(bez.status, 0) << bez.err;
        const Beh s = skladba(f.dir, {"--registers", ".", "--release", "100", "kus.txt"});
        EXPECT_EQ(s.status, 1);
        EXPECT_NE(s.err.find("cannot read the loop file ./rejstr2.smycky"), std::string::npos) << s.err;
    }
}

// Every number of a loop file is whole digits with nothing after it, and a
// loop has at least one sample: what is not is refused, never guessed at.
TEST(LoopFile, RefusesWhatIsNotExactlyItsForm) {
    const std::string hlavicka = "skladba-smycky 1\nrejstrik r.nes 100 0123456789abcdef\n";
    Smycky loops;
    std::string why;
    ASSERT_TRUE(prectismycky(hlavicka + "24 2204 2205 0\n25 -\n", loops, why)) << why;
    EXPECT_EQ(loops.smycka[24].po - loops.smycka[24].od, 1);
    EXPECT_EQ(loops.smycka[24].pokles, 0.0);
    for (const std::string& spatne : {std::string("skladba-smycky 1x\nrejstrik r.nes 100 0123456789abcdef\n"),
                                      hlavicka + "24 2204.5 3000 0\n", hlavicka + "24 2204 3000 0 9\n",
                                      hlavicka + "24 2204 2204 0\n", hlavicka + "24 -5 3000 0\n",
                                      hlavicka + "24x -\n", hlavicka + "69 -\n"}) {
        EXPECT_FALSE(prectismycky(spatne, loops, why)) << spatne;
    }
}

// Version 2 adds how fast a held note falls, in dB a second, and the level
// it is played at to every loop; version 1 lines (without them) are read
// only from version 1 files, their loops holding their level.
TEST(LoopFile, VersionTwoCarriesTheFallAndVersionOneIsStillRead) {
    const std::string hlavicka = "skladba-smycky 2\nrejstrik r.nes 100 0123456789abcdef\n";
    Smycky loops;
    std::string why;
    ASSERT_TRUE(prectismycky(hlavicka + "24 2204 3000 10 6.25 0\n25 2204 3000 10 0 -1.5\n", loops, why)) << why;
    EXPECT_EQ(loops.smycka[24].pokles, 6.25);
    EXPECT_EQ(loops.smycka[25].pokles, 0.0);
    EXPECT_EQ(loops.smycka[25].uroven, -1.5);
    ASSERT_TRUE(prectismycky(zapissmycky(loops), loops, why)) << why;
    EXPECT_EQ(loops.smycka[24].pokles, 6.25);
    EXPECT_EQ(loops.smycka[25].uroven, -1.5);
    // A register whose name has a space in it keeps its loop file.
    loops.rejstrik = "moje varhany.nes";
    ASSERT_TRUE(prectismycky(zapissmycky(loops), loops, why)) << why;
    EXPECT_EQ(loops.rejstrik, "moje varhany.nes");
    EXPECT_EQ(loops.smycka[24].pokles, 6.25);
    for (const std::string& spatne : {hlavicka + "24 2204 3000 10\n", hlavicka + "24 2204 3000 10 -1 0\n",
                                      hlavicka + "24 2204 3000 10 .5 0\n", hlavicka + "24 2204 3000 10 1000.1 0\n",
                                      hlavicka + "24 2204 3000 10 1 20.5\n", hlavicka + "24 2204 3000 10 1 --1\n",
                                      std::string("skladba-smycky 3\nrejstrik r.nes 100 0123456789abcdef\n"),
                                      std::string("skladba-smycky 2\nrejstrik 100 0123456789abcdef\n"),
                                      hlavicka + "24 2204 3000 10 nan 0\n", hlavicka + "24 2204 3000 10 1 inf\n",
                                      hlavicka + "24 2204 3000 10 1e3 0\n", hlavicka + "24 2204 3000 10 1 0 0\n",
                                      hlavicka + "24 2204 999999999 10 1 0\n", hlavicka + "24 2204 3000 2205 1 0\n",
                                      hlavicka + "24 2204 2300 97 1 0\n"}) {
        EXPECT_FALSE(prectismycky(spatne, loops, why)) << spatne;
    }
    // A note held on a loop that falls 6 dB a second: each repeat of the
    // 1 s loop is 6 dB softer, and its seam joins without a step in level.
    std::vector<int16_t> segment(delkatonu);
    for (int i = 0; i < delkatonu; ++i) {
        segment[i] = static_cast<int16_t>(std::lround(20000.0 * std::pow(10.0, -6.0 * i / zaklad / 20.0) *
                                                       std::sin(2.0 * 3.14159265358979 * 441.0 * i / zaklad)));
    }
    const Smycka s{2 * zaklad, 3 * zaklad, 1000, 6.0};
    std::vector<int16_t> note(8 * zaklad);
    vzorkysmycky(segment.data(), s, 0, static_cast<int>(note.size()), 8 * zaklad, 8 * zaklad + 1, note.data());
    EXPECT_EQ(std::vector<int16_t>(note.begin(), note.begin() + 3 * zaklad - 1000),
              std::vector<int16_t>(segment.begin(), segment.begin() + 3 * zaklad - 1000));
    for (int second = 3; second < 7; ++second) {
        const double fall = 20.0 * std::log10(rms(&note[(second + 1) * zaklad - 2000], 1000) /
                                              rms(&note[(second + 1) * zaklad + 1000], 1000));
        EXPECT_NEAR(fall, 6.0 * 3000 / zaklad, 0.1) << "across the seam at " << second + 1 << " s";
    }
}

// A loop's level may raise a loud recording past full scale: its samples
// clip there, never wrap round to the other sign. A note held for ten
// minutes on the steepest fall goes to silence and stays there.
TEST(LoopFile, RaisedLoopsClipAndFallingOnesEndInSilence) {
    std::vector<int16_t> segment(delkatonu);
    for (int i = 0; i < delkatonu; ++i) segment[i] = static_cast<int16_t>(i % 50 < 25 ? 32000 : -32000);
    const Smycka hlasita{zaklad, 2 * zaklad, 100, 0.0, 20.0};
    std::vector<int16_t> note(3 * zaklad);
    vzorkysmycky(segment.data(), hlasita, 0, static_cast<int>(note.size()), 3 * zaklad, 3 * zaklad + 1, note.data());
    for (size_t i = 0; i < note.size(); ++i) {
        ASSERT_EQ(note[i], i % 50 < 25 ? 32767 : -32768) << "sample " << i;
    }
    const Smycka klesa{zaklad, 2 * zaklad, 100, 1000.0, 20.0};
    const int64_t deset = int64_t{600} * zaklad;
    std::vector<int16_t> kus(delkatonu);
    for (int64_t od = 0; od < deset; od += delkatonu) {
        vzorkysmycky(segment.data(), klesa, od, delkatonu, deset, deset + 1, kus.data());
        if (od >= 2 * delkatonu) {
            ASSERT_EQ(kus, std::vector<int16_t>(delkatonu, 0)) << "at " << od / zaklad << " s";
        }
    }
}

// A held note recorded at 44.1 kHz, a4 with two harmonics and a slow
// tremolo, as 16-bit WAV; with smplod < smplpo, a smpl chunk loops those
// samples of it.
void writeRecording(const std::string& path, uint32_t smplod = 0, uint32_t smplpo = 0, double dbPerSecond = 0.0) {
    constexpr int rate = 44100;
    constexpr int frames = rate * 5;
    std::string data;
    for (int n = 0; n < frames; ++n) {
        const double t = static_cast<double>(n) / rate;
        double v = 0.0;
        for (int h = 1; h <= 3; ++h) v += std::sin(2.0 * 3.14159265358979 * h * 440.0 * t) / h;
        v *= 0.3 * std::min(1.0, t / 0.02) * (1.0 + 0.02 * std::sin(2.0 * 3.14159265358979 * 5.0 * t)) *
             std::pow(10.0, -dbPerSecond * t / 20.0);
        const auto w = static_cast<uint16_t>(static_cast<int16_t>(std::lround(v * 32767.0)));
        data += static_cast<char>(w & 0xFF);
        data += static_cast<char>(w >> 8);
    }
    const auto u32 = [](uint32_t v) {
        std::string b(4, '\0');
        for (int i = 0; i < 4; ++i) b[i] = static_cast<char>(v >> (8 * i));
        return b;
    };
    std::string chunks = "fmt " + u32(16) + std::string("\x01\x00\x01\x00", 4) + u32(rate) + u32(rate * 2) +
                         std::string("\x02\x00\x10\x00", 4) + "data" + u32(static_cast<uint32_t>(data.size())) + data;
    if (smplpo > smplod) {
        std::string smpl = u32(0) + u32(0) + u32(1000000000u / rate) + u32(69) + u32(0) + u32(0) + u32(0) + u32(1) +
                           u32(0) + u32(0) + u32(0) + u32(smplod) + u32(smplpo) + u32(0) + u32(0);
        chunks += "smpl" + u32(static_cast<uint32_t>(smpl.size())) + smpl;
    }
    zapis(path, "RIFF" + u32(static_cast<uint32_t>(chunks.size() + 4)) + "WAVE" + chunks);
}

// Makes register 1 of dir with the tool (`arguments`, then rejstr1.nes);
// returns what it printed.
std::string makeRegister(const std::string& dir, const std::vector<std::string>& arguments) {
    fs::copy_file(kRegisters + "/wavhlavicka.nes", dir + "/wavhlavicka.nes", fs::copy_options::overwrite_existing);
    Prikaz tool;
    tool.program = SKLADBA_REGISTERS_BINARY;
    tool.slozka = dir;
    tool.argumenty = arguments;
    tool.argumenty.push_back("rejstr1.nes");
    const Beh run = spust(tool);
    EXPECT_EQ(run.status, 0) << run.err;
    return run.out;
}

// Makes register 1 of dir from the recording with the tool's extra options;
// returns what the tool printed.
std::string makeFromRecording(const std::string& dir, const std::vector<std::string>& options) {
    std::vector<std::string> arguments = {"sample"};
    arguments.insert(arguments.end(), options.begin(), options.end());
    arguments.insert(arguments.end(), {"a4.wav", "a4"});
    return makeRegister(dir, arguments);
}

Smycka loopOf(const std::string& dir, int k) {
    Smycky loops;
    std::string why;
    EXPECT_TRUE(prectismycky(precti(dir + "/rejstr1.smycky"), loops, why)) << why;
    return loops.smycka[k];
}

}  // namespace

// Notes whose value and fade fit in their segment play byte for byte as
// without loops; only the note that outlasts its segment changes.
TEST(LoopFile, LeavesNotesThatFitTheirSegmentAlone) {
    Folder f;
    for (const char* name : {"wavhlavicka.nes", "rejstr2.nes", "rejstr2.smycky"}) {
        fs::copy_file(kRegisters + "/" + name, f.dir + "/" + name);
    }
    const auto render = [&](const std::string& score) {
        zapis(f.dir + "/kus.txt", score);
        const Beh b = skladba(f.dir, {"--registers", ".", "--release", "100", "kus.txt"});
        EXPECT_EQ(b.status, 0) << b.err;
        return precti(f.dir + "/kus.wav");
    };
    // The loud first note sets the peak, and so the WAV's scale, in both;
    // the dotted whole e lasts 6 s by its value.
    const std::string fits = "t60 R2 4a s50 2c 1e.";
    const std::string looped = render(fits);
    fs::rename(f.dir + "/rejstr2.smycky", f.dir + "/stranou");
    const std::string plain = render(fits);
    // Both end with the dot's rest and its fade; only the looped e sounds to 9 s.
    const std::vector<int16_t> l = vzorkywav(looped), p = vzorkywav(plain);
    ASSERT_EQ(l.size(), size_t{9 * zaklad + zaklad / 10});
    ASSERT_EQ(p.size(), l.size());
    EXPECT_GT(rms(&l[8 * zaklad], zaklad / 2), 100.0);
    EXPECT_EQ(rms(&p[8 * zaklad], zaklad / 2), 0.0);
    // Up to where the long note passes its loop's start, nothing differs.
    Smycky loops;
    std::string why;
    ASSERT_TRUE(prectismycky(precti(f.dir + "/stranou"), loops, why)) << why;
    const size_t e = 3 * zaklad;   // o2 e, segment 40, starts after 4a 2c at t60
    const size_t od = e + static_cast<size_t>(loops.smycka[40].od);
    EXPECT_EQ(looped.substr(0, 44 + 2 * od).substr(44), plain.substr(0, 44 + 2 * od).substr(44));
}

// The warning about a note longer than its sound follows what the register
// really sounds: a register whose notes end at 3.1 s warns for a note of
// 3.81 s; a looped register under --release does not warn at all.
TEST(LongNoteWarning, FollowsWhatTheRegisterSounds) {
    Folder f;
    fs::copy_file(kRegisters + "/wavhlavicka.nes", f.dir + "/wavhlavicka.nes");
    std::string bytes(static_cast<size_t>(bajturejstriku), '\0');
    for (int k = 1; k < pocetsegmentu; ++k) {
        for (int i = 0; i < zaklad * 31 / 10; ++i) {
            const auto v = static_cast<uint16_t>(static_cast<int16_t>(8000.0 * std::sin(0.1 * i)));
            bytes[(static_cast<size_t>(k) * delkatonu + i) * 2] = static_cast<char>(v & 0xFF);
            bytes[(static_cast<size_t>(k) * delkatonu + i) * 2 + 1] = static_cast<char>(v >> 8);
        }
    }
    zapis(f.dir + "/rejstr1.nes", bytes);
    zapis(f.dir + "/kus.txt", "t63 1a");
    Beh b = skladba(f.dir, {"--registers", ".", "--check", "kus.txt"});
    EXPECT_NE(b.out.find("this note lasts 3.81 s by its value, but R1 sounds o1 a for only 3.1"), std::string::npos)
        << b.out;

    if (!fs::exists(kRegisters + "/rejstr8.smycky")) GTEST_SKIP() << "this build has no R8";
    zapis(f.dir + "/kus.txt", "t30 R8 1a");
    b = skladba(f.dir, {"--registers", kRegisters, "--check", "kus.txt"});
    EXPECT_NE(b.out.find("its recording holds 4 s: it falls silent after 4 s"), std::string::npos) << b.out;
    b = skladba(f.dir, {"--registers", kRegisters, "--release", "100", "--check", "kus.txt"});
    EXPECT_EQ(b.out.find("falls silent"), std::string::npos) << b.out;
    EXPECT_NE(b.out.find("0:08.1"), std::string::npos) << b.out;
}

// A register made from a recording: its loops are found in the sustain, or
// given by hand (--loop, in seconds of the recording), or taken from the
// WAV's own smpl loop; a loop given is moved to each segment's speed.
TEST(RecordedRegister, HoldsItsNoteThroughALoopFoundOrGiven) {
#ifndef SKLADBA_HAVE_SAMPLES
    GTEST_SKIP() << "built without libsndfile or libsoxr";
#endif
    Folder f;
    writeRecording(f.dir + "/a4.wav");
    makeFromRecording(f.dir, {});
    expectHeldNote(f.dir, '1');

    makeFromRecording(f.dir, {"--loop", "1.0-1.5"});
    Smycka s = loopOf(f.dir, 33);
    EXPECT_NEAR(s.od, zaklad, 100);
    EXPECT_EQ(s.po - s.od, zaklad / 2);
    s = loopOf(f.dir, 21);   // an octave down: half the speed, twice as long
    EXPECT_NEAR(s.od, 2 * zaklad, 200);
    EXPECT_NEAR(s.po - s.od, zaklad, 1);

    writeRecording(f.dir + "/a4.wav", 44100 * 3 / 2, 44100 * 5 / 2);
    makeFromRecording(f.dir, {});
    s = loopOf(f.dir, 33);
    EXPECT_NEAR(s.od, zaklad * 3 / 2, 100);
    EXPECT_NEAR(s.po - s.od, zaklad, 1);
}


// A recording that dies away 6 dB a second makes a decaying register, its
// held notes going on falling at that rate; marked sustaining by hand, its
// held notes keep the level its loop starts at.
TEST(RecordedRegister, DecayingOrSustainingAsFoundOrAsGiven) {
#ifndef SKLADBA_HAVE_SAMPLES
    GTEST_SKIP() << "built without libsndfile or libsoxr";
#endif
    Folder f;
    writeRecording(f.dir + "/a4.wav", 0, 0, 6.0);
    const auto heldFall = [&] {
        zapis(f.dir + "/kus.txt", "t30 R1 1a");
        const Beh b = skladba(f.dir, {"--registers", ".", "--release", "100", "kus.txt"});
        EXPECT_EQ(b.status, 0) << b.err;
        const std::vector<int16_t> y = vzorkywav(precti(f.dir + "/kus.wav"));
        return 20.0 * std::log10(rms(&y[3 * zaklad], zaklad / 2) / rms(&y[7 * zaklad], zaklad / 2));
    };
    std::string out = makeFromRecording(f.dir, {});
    EXPECT_NE(out.find("held notes: decaying (the middle octave falls "), std::string::npos) << out;
    EXPECT_NEAR(loopOf(f.dir, 33).pokles, 6.0, 0.3);
    EXPECT_NEAR(heldFall(), 24.0, 1.5);
    out = makeFromRecording(f.dir, {"--sustaining"});
    EXPECT_NE(out.find("held notes: sustaining, as given"), std::string::npos) << out;
    EXPECT_EQ(loopOf(f.dir, 33).pokles, 0.0);
    EXPECT_LT(heldFall(), 6.0);
    writeRecording(f.dir + "/a4.wav");
    out = makeFromRecording(f.dir, {"--decaying"});
    EXPECT_NE(out.find("held notes: decaying, as given"), std::string::npos) << out;
    EXPECT_NE(makeFromRecording(f.dir, {}).find("held notes: sustaining ("), std::string::npos);
}

// A register played from a SoundFont loops each segment on its sample's own
// loop, moved to the segment's speed: the sine's loop (less the 50 points
// the instrument moves its start by) is 2050 points of a 441 Hz tone, each
// segment retuned to its equal-tempered pitch.
TEST(SoundFontLoops, TakesItsSamplesOwnLoop) {
#ifndef SKLADBA_HAVE_FLUIDSYNTH
    GTEST_SKIP() << "built without libfluidsynth";
#endif
    Folder f;
    TinySoundFont font;
    font.generators = {{2, 50}};  // the loop starts 50 points later
    font.write(f.dir + "/tone.sf2");
    const std::string out = makeRegister(f.dir, {"soundfont", "tone.sf2", "0:0"});
    EXPECT_NE(out.find("sustain loops from the samples' own loops: segments 1 to 68\n"), std::string::npos) << out;
    EXPECT_EQ(out.find("found in the sound"), std::string::npos) << out;
    for (const auto& [k, hz] : {std::pair{33, 440.0}, {21, 220.0}, {57, 1760.0}, {4, 440.0 * std::pow(2.0, -29 / 12.0)}}) {
        const Smycka s = loopOf(f.dir, k);
        EXPECT_NEAR(s.po - s.od, (TinySoundFont::kLoopEnd - TinySoundFont::kLoopStart - 50) * 441.0 / hz, 1.0)
            << "segment " << k;
    }
    expectHeldNote(f.dir, '1');
}

// Where the preset's sample has no loop (it plays once), the loop is found
// in the sound, and the tool says so and why; so it is with --find-loops.
TEST(SoundFontLoops, AreFoundWhereTheSampleHasNone) {
#ifndef SKLADBA_HAVE_FLUIDSYNTH
    GTEST_SKIP() << "built without libfluidsynth";
#endif
    Folder f;
    TinySoundFont font;
    font.plain = true;
    font.write(f.dir + "/tone.sf2");
    std::string out = makeRegister(f.dir, {"soundfont", "tone.sf2", "0:1"});
    EXPECT_NE(out.find("sustain loops found in the sound: segments 1 to 68 (its sample has no loop)\n"),
              std::string::npos)
        << out;
    expectHeldNote(f.dir, '1');
    out = makeRegister(f.dir, {"soundfont", "--find-loops", "tone.sf2", "0:0"});
    EXPECT_NE(out.find("sustain loops found in the sound: segments 1 to 68 (--find-loops)\n"), std::string::npos)
        << out;
}

}  // namespace skladba::test
