#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <tuple>
#include <vector>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>

#include "proces.h"
#include "registers/level.h"
#include "registers/pitch.h"
#include "registers/timbres.h"
#ifdef SKLADBA_HAVE_FLUIDSYNTH
#include "registers/soundfont.h"
#include "registers/soundfont_samples.h"
#include "sf2data.h"
#endif
#ifdef SKLADBA_HAVE_SAMPLES
#include <sndfile.h>

#include "registers/sample.h"
#endif

namespace reg = skladba::registers;
using skladba::test::TinySoundFont;

namespace {

std::string readAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// A fresh directory, removed with all it holds.
struct Scratch {
    Scratch() {
        std::string pattern = ::testing::TempDir() + "skladba-registers-XXXXXX";
        if (::mkdtemp(pattern.data()) != nullptr) path = pattern;
    }
    ~Scratch() {
        std::error_code ec;
        std::filesystem::remove_all(path, ec);
    }
    std::vector<std::string> names() const {
        std::vector<std::string> out;
        for (const auto& e : std::filesystem::directory_iterator(path)) out.push_back(e.path().filename().string());
        std::sort(out.begin(), out.end());
        return out;
    }
    std::string path;
};

constexpr double kPi = 3.14159265358979323846;

std::vector<int16_t> render(reg::Timbre timbre, int index) {
    std::vector<int16_t> samples(reg::kSegmentLength);
    reg::renderSegment(timbre, index, samples.data());
    return samples;
}

// Fundamental of a segment, measured from 0.25 s on, past every attack, with
// the tool's own pitch finder (tested below against tones of known pitch).
// A sampled instrument's pitch wavers (vibrato, the beating of a piano's
// unison strings), so its registers are measured over three seconds, the
// length of a held note.
double measurePitch(const std::vector<int16_t>& segment, int kWindow = 8192) {
    const std::vector<double> x(segment.begin() + reg::kSampleRate / 4, segment.begin() + reg::kSampleRate / 4 + kWindow);
    const double coarse =
        reg::estimateFundamental(std::vector<double>(x.begin(), x.begin() + 8192), reg::kSampleRate, 0);
    if (coarse <= 0.0) return 0.0;
    return reg::refinePitch(x.data(), kWindow, reg::kSampleRate, coarse);
}

// The pitch finder against tones whose pitch is known by construction: a
// sine, a sawtooth rich in harmonics, a tone whose second harmonic is far
// stronger than its fundamental, and two strings a few cents apart (their
// mean), over the keyboard's range.
TEST(PitchFinder, FindsTheKnownPitchOfTones) {
    // Harmonic h + 1 at amplitude a[h], none above the Nyquist frequency.
    const auto tone = [](double f, std::vector<double> a) {
        std::vector<double> x(reg::kSampleRate);
        for (std::size_t n = 0; n < x.size(); ++n) {
            const double t = 2.0 * kPi * f * static_cast<double>(n) / reg::kSampleRate;
            for (std::size_t h = 0; h < a.size() && (h + 1) * f < reg::kSampleRate / 2; ++h) {
                x[n] += a[h] * std::sin(static_cast<double>(h + 1) * t);
            }
        }
        return x;
    };
    for (double f : {65.41, 110.0, 261.63, 440.0, 987.77, 2093.0}) {
        SCOPED_TRACE(std::to_string(f) + " Hz");
        const std::vector<std::vector<double>> tones = {
            tone(f, {1.0}),
            tone(f, {1.0, 1 / 2.0, 1 / 3.0, 1 / 4.0, 1 / 5.0, 1 / 6.0, 1 / 7.0, 1 / 8.0}),
            tone(f, {0.2, 1.0, 0.5}),
        };
        for (const std::vector<double>& x : tones) {
            // A weak fundamental under a strong octave is found up to the
            // top of the piano's middle range; above it the finder hears the
            // octave's period.
            if (&x == &tones[2] && f > 1000.0) continue;
            const double coarse = reg::estimateFundamental(x, reg::kSampleRate, 0);
            ASSERT_NEAR(coarse, f, 0.01 * f);
            EXPECT_NEAR(reg::refinePitch(x.data(), 8192, reg::kSampleRate, coarse), f, 0.001 * f);
        }
        const double up = f * std::pow(2.0, 3.0 / 1200), down = f * std::pow(2.0, -3.0 / 1200);
        std::vector<double> pair(reg::kSampleRate);
        for (std::size_t n = 0; n < pair.size(); ++n) {
            const double t = 2.0 * kPi * static_cast<double>(n) / reg::kSampleRate;
            pair[n] = std::sin(up * t) + std::sin(down * t);
        }
        EXPECT_NEAR(reg::refinePitch(pair.data(), 1 << 14, reg::kSampleRate, f), f, 0.001 * f);
    }
}

std::vector<int16_t> segmentOf(const std::vector<int16_t>& samples, int k) {
    const auto start = samples.begin() + static_cast<std::ptrdiff_t>(k) * reg::kSegmentLength;
    return std::vector<int16_t>(start, start + reg::kSegmentLength);
}

// The checks every register the tool makes must pass, whatever its source:
// segment 0 silent; every other one sounding, rising from 0 in its first
// 2 ms no faster than over 1 ms (no click) and falling to 0 in its last
// 10 ms; the middle octave at the common loudness; nothing past the ceiling.
void expectSoundRegister(const std::vector<int16_t>& samples) {
    ASSERT_EQ(samples.size(), static_cast<std::size_t>(reg::kSegments) * reg::kSegmentLength);
    const std::vector<int16_t> rest = segmentOf(samples, 0);
    EXPECT_TRUE(std::all_of(rest.begin(), rest.end(), [](int16_t s) { return s == 0; }));
    constexpr int kOnset = reg::kSampleRate * 2 / 1000, kEnd = reg::kSampleRate / 100;
    double sumOfSquares = 0.0;
    for (int k = 1; k < reg::kSegments; ++k) {
        SCOPED_TRACE("segment " + std::to_string(k));
        const std::vector<int16_t> x = segmentOf(samples, k);
        int peak = 0;
        for (int16_t s : x) peak = std::max(peak, std::abs(s));
        EXPECT_GT(peak, 0);
        EXPECT_LE(peak, reg::kCeiling);
        for (int n = 0; n < kOnset; ++n) {
            ASSERT_LE(std::abs(x[n]), 1 + peak * 2.0 * (n + 1) / kOnset) << "sample " << n;
        }
        for (int m = 0; m < kEnd; ++m) {
            ASSERT_LE(std::abs(x[reg::kSegmentLength - 1 - m]), 1 + peak * 2.0 * (m + 1) / kEnd) << m << " before the end";
        }
        if (k < reg::kLoudnessFirst || k > reg::kLoudnessLast) continue;
        for (int n = 0; n < reg::kLoudnessWindow; ++n) sumOfSquares += static_cast<double>(x[n]) * x[n];
    }
    const double rms = std::sqrt(sumOfSquares / (12.0 * reg::kLoudnessWindow));
    EXPECT_NEAR(rms, reg::kLoudnessRms, 0.01 * reg::kLoudnessRms);
}

// Segments 21, 33 and 45: 220, 440 and 880 Hz within half a percent.
[[maybe_unused]] void expectInTune(const std::vector<int16_t>& samples) {
    for (int k : {21, 33, 45}) {
        const double expected = reg::segmentFrequency(k);
        EXPECT_NEAR(measurePitch(segmentOf(samples, k), 1 << 16), expected, 0.005 * expected) << "segment " << k;
    }
}

}  // namespace

TEST(RegisterNames, ParseKnownTimbresOnly) {
    for (reg::Timbre timbre : reg::kTimbres) {
        reg::Timbre parsed = timbre == reg::Timbre::organ ? reg::Timbre::piano : reg::Timbre::organ;
        ASSERT_TRUE(reg::parseTimbre(reg::timbreName(timbre), parsed));
        EXPECT_EQ(parsed, timbre);
    }
    reg::Timbre untouched = reg::Timbre::flute;
    for (const char* bad : {"", "Organ", "organs", "harp", "string "}) {
        EXPECT_FALSE(reg::parseTimbre(bad, untouched)) << bad;
    }
    EXPECT_EQ(untouched, reg::Timbre::flute);
}

TEST(RegisterPitchTable, FollowsEqualTemperament) {
    EXPECT_DOUBLE_EQ(reg::segmentFrequency(33), 440.0);
    EXPECT_DOUBLE_EQ(reg::segmentFrequency(21), 220.0);
    EXPECT_DOUBLE_EQ(reg::segmentFrequency(45), 880.0);
    EXPECT_NEAR(reg::segmentFrequency(24), 261.6255653, 1e-6);
    for (int k = 2; k < reg::kSegments; ++k) {
        EXPECT_NEAR(reg::segmentFrequency(k) / reg::segmentFrequency(k - 1), std::pow(2.0, 1.0 / 12.0), 1e-12)
            << "segment " << k;
    }
}

class EachTimbre : public ::testing::TestWithParam<reg::Timbre> {};

TEST_P(EachTimbre, SegmentZeroIsSilent) {
    const std::vector<int16_t> silence = render(GetParam(), 0);
    EXPECT_TRUE(std::all_of(silence.begin(), silence.end(), [](int16_t s) { return s == 0; }));
}

TEST_P(EachTimbre, MeetsTheSoundChecksAtTheCommonLevel) {
    std::vector<int16_t> samples;
    for (int k = 0; k < reg::kSegments; ++k) {
        const std::vector<int16_t> x = render(GetParam(), k);
        samples.insert(samples.end(), x.begin(), x.end());
    }
    expectSoundRegister(samples);
}

TEST_P(EachTimbre, NoToneCarriesAnOffset) {
    // A constant offset thumps when the note ends and eats headroom.
    for (int k = 1; k < reg::kSegments; ++k) {
        const std::vector<int16_t> x = render(GetParam(), k);
        const auto lastSecond = x.end() - reg::kSampleRate;
        const double mean = std::accumulate(lastSecond, x.end(), 0.0) / reg::kSampleRate;
        EXPECT_LT(std::abs(mean), 30.0) << "segment " << k;
    }
}

TEST_P(EachTimbre, RenderingIsRepeatable) { EXPECT_EQ(render(GetParam(), 40), render(GetParam(), 40)); }

INSTANTIATE_TEST_SUITE_P(Registers, EachTimbre, ::testing::ValuesIn(reg::kTimbres),
                         [](const auto& info) { return std::string(reg::timbreName(info.param)); });

// Tuning is checked across the whole range: a plucked string's loop gets
// short at the top, where a rounded delay would be far out of tune.
class Tuning : public ::testing::TestWithParam<std::tuple<reg::Timbre, int>> {};

TEST_P(Tuning, FundamentalWithinHalfPercent) {
    const auto [timbre, index] = GetParam();
    const double expected = 440.0 * std::pow(2.0, (index - 33) / 12.0);
    EXPECT_NEAR(measurePitch(render(timbre, index)), expected, expected * 0.005);
}

INSTANTIATE_TEST_SUITE_P(Registers, Tuning,
                         ::testing::Combine(::testing::ValuesIn(reg::kTimbres),
                                            ::testing::Values(1, 24, 33, 60, 68)),
                         [](const auto& info) {
                             return std::string(reg::timbreName(std::get<0>(info.param))) + "_segment" +
                                    std::to_string(std::get<1>(info.param));
                         });

// A register that would sound nothing, or nothing in its middle octave
// (whose loudness sets its gain), is refused with the reason; one quiet
// outside the middle octave is a register.
TEST(RegisterLevel, ARegisterThatWouldBeSilentIsNoRegister) {
    std::vector<int16_t> samples(static_cast<size_t>(reg::kSegments) * reg::kSegmentLength, 0);
    EXPECT_EQ(reg::silenceReason(samples), "the register would be silent: every segment is zero");
    samples[static_cast<size_t>(60) * reg::kSegmentLength + 100] = 5;
    EXPECT_NE(reg::silenceReason(samples).find("middle octave (segments 24 to 35"), std::string::npos);
    samples[static_cast<size_t>(35) * reg::kSegmentLength + reg::kSegmentLength - 1] = -1;
    EXPECT_EQ(reg::silenceReason(samples), "");
}

TEST(RegisterFile, HoldsEverySegmentLittleEndian) {
    const std::string path = ::testing::TempDir() + "skladba_register_test.nes";
    std::string error;
    ASSERT_TRUE(reg::writeRegisterFile(reg::Timbre::string, path, error)) << error;
    std::ifstream in(path, std::ios::binary);
    const std::vector<unsigned char> bytes((std::istreambuf_iterator<char>(in)), {});
    std::remove(path.c_str());
    ASSERT_EQ(bytes.size(), 12171600u);

    for (int index : {0, 1, 33, 68}) {
        const std::vector<int16_t> expected = render(reg::Timbre::string, index);
        const unsigned char* segment = &bytes[2 * static_cast<std::size_t>(index) * reg::kSegmentLength];
        for (int n = 0; n < reg::kSegmentLength; ++n) {
            const auto sample = static_cast<int16_t>(segment[2 * n] | (segment[2 * n + 1] << 8));
            ASSERT_EQ(sample, expected[n]) << "segment " << index << " sample " << n;
        }
    }
}

TEST(RegisterFile, ReportsPathAndReasonOnFailure) {
    const std::string missing = ::testing::TempDir() + "no-such-dir/r.nes";
    std::string error;
    EXPECT_FALSE(reg::writeRegisterFile(reg::Timbre::organ, missing, error));
    EXPECT_EQ(error, "cannot write " + missing + ": " + std::strerror(ENOENT));

    // Neither a device nor a symbolic link is written through or replaced.
    const Scratch dir;
    const std::string target = dir.path + "/target", link = dir.path + "/link.nes";
    ASSERT_EQ(::symlink(target.c_str(), link.c_str()), 0);
    EXPECT_FALSE(reg::writeRegisterFile(reg::Timbre::organ, link, error));
    EXPECT_EQ(error, "refusing to write " + link + ": it is a symbolic link (remove it or name another output)");
    EXPECT_EQ(dir.names(), std::vector<std::string>{"link.nes"});
    if (!std::ifstream("/dev/full")) GTEST_SKIP() << "/dev/full not available";
    EXPECT_FALSE(reg::writeRegisterFile(reg::Timbre::organ, "/dev/full", error));
    EXPECT_EQ(error, "refusing to write /dev/full: it is not a regular file");
    EXPECT_TRUE(std::ifstream("/dev/full"));
}

// A write that fails half way (here: past the file size limit) leaves
// neither the register nor its temporary file, and an old register whole.
TEST(RegisterFile, AFailedWriteLeavesTheOldFileAlone) {
    const Scratch dir;
    const std::string path = dir.path + "/r.nes";
    std::ofstream(path) << "old";
    rlimit saved{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    rlimit small = saved;
    small.rlim_cur = 1 << 20;
    const auto previous = std::signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    std::string error;
    const bool written = reg::writeRegisterFile(reg::Timbre::organ, path, error);
    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previous);
    EXPECT_FALSE(written);
    EXPECT_EQ(error, "cannot write " + path + ": " + std::strerror(EFBIG));
    EXPECT_EQ(dir.names(), std::vector<std::string>{"r.nes"});
    EXPECT_EQ(readAll(path), "old");
}

TEST(Pitch, ReadsNoteNamesAndFrequenciesWithinTheRange) {
    const std::pair<const char*, double> good[] = {
        {"a4", 440.0},   {"A4", 440.0},       {"a3", 220.0},       {"C#3", 138.5913},   {"ebb2", 73.4162},
        {"h3", 246.9417}, {"bb3", 233.0819},  {"c-1", 0.0},        {"440", 440.0},      {"261.63Hz", 261.63},
        {"c2", 65.4064}, {"g#7", 3322.4376},
    };
    for (const auto& [text, expected] : good) {
        double f = 0.0;
        std::string error;
        if (expected == 0.0) {  // c-1 reads, but is far below the register
            EXPECT_FALSE(reg::parsePitch(text, f, error)) << text;
            EXPECT_NE(error.find("outside the register's range"), std::string::npos) << error;
            continue;
        }
        ASSERT_TRUE(reg::parsePitch(text, f, error)) << text << ": " << error;
        EXPECT_NEAR(f, expected, 1e-3) << text;
    }
    for (const char* bad : {"", "x4", "a", "c#b4", "4a", "a4x", "a44 ", "1.2.3", "hz", "c9", "b1", "20"}) {
        double f = 0.0;
        std::string error;
        EXPECT_FALSE(reg::parsePitch(bad, f, error)) << bad;
        EXPECT_NE(error.find(std::string("'") + bad + "'"), std::string::npos) << error;
    }
}

TEST(Pitch, EachSegmentTakesTheNearestZoneAndTiesTheHigher) {
    const std::vector<double> zones = {880.0, 220.0};  // a5 (segment 45), a3 (segment 21)
    for (int k = 1; k < reg::kSegments; ++k) {
        EXPECT_EQ(reg::nearestZone(zones, k), k >= 33 ? 0 : 1) << "segment " << k;
    }
    EXPECT_EQ(reg::nearestZone({300.0}, 68), 0);
}

// Runs skladba-registers with `args` (a shell word list).
struct ToolRun {
    int status = -1;
    std::string err;
};

ToolRun runTool(const std::string& args) {
    // One file per test process: ctest runs tests side by side.
    const std::string err = ::testing::TempDir() + "skladba-registers-stderr-" + std::to_string(::getpid());
    const std::string command = std::string("'") + SKLADBA_REGISTERS_BINARY + "' " + args + " >/dev/null 2>'" + err + "'";
    const int raw = std::system(command.c_str());
    ToolRun run{WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, readAll(err)};
    std::remove(err.c_str());
    return run;
}

#ifdef SKLADBA_HAVE_FLUIDSYNTH
TEST(SoundFontRegister, IsInTuneAndPassesTheSoundChecks) {
    if (std::string(SKLADBA_TEST_SOUNDFONT).empty()) GTEST_SKIP() << "TimGM6mb.sf2 is not installed (timgm6mb-soundfont)";
    reg::SoundFontOptions options;
    options.soundfont = SKLADBA_TEST_SOUNDFONT;
    options.preset = "0:0";
    reg::Segments segments;
    reg::SoundFontReport report;
    std::string error;
    ASSERT_TRUE(reg::renderSoundFont(options, segments, report, error)) << error;
    reg::LevelReport level;
    const std::vector<int16_t> samples = reg::levelRegister(segments, level);
    expectSoundRegister(samples);
    expectInTune(samples);
}

TEST(SoundFontRegister, PresetIsChosenByNumberOrByOneName) {
    const std::vector<reg::Preset> presets = {
        {0, 0, "Grand Piano"}, {0, 1, "Bright Grand Piano"}, {0, 19, "Church Organ"}, {8, 19, "Church Organ 2"}};
    reg::Preset chosen;
    std::string error;
    ASSERT_TRUE(reg::choosePreset(presets, "8:19", chosen, error)) << error;
    EXPECT_EQ(chosen.name, "Church Organ 2");
    ASSERT_TRUE(reg::choosePreset(presets, "BRIGHT", chosen, error)) << error;
    EXPECT_EQ(chosen.program, 1);
    ASSERT_TRUE(reg::choosePreset(presets, "church organ", chosen, error)) << error;  // whole name wins
    EXPECT_EQ(chosen.bank, 0);
    EXPECT_FALSE(reg::choosePreset(presets, "piano", chosen, error));
    EXPECT_EQ(error, "the preset name 'piano' is ambiguous; it matches:\n  0:0 Grand Piano\n  0:1 Bright Grand Piano");
    EXPECT_FALSE(reg::choosePreset(presets, "0:2", chosen, error));
    EXPECT_FALSE(reg::choosePreset(presets, "harp", chosen, error));
}

// A SoundFont whose tables would make the synthesizer read outside its own
// is refused before a note is played, and so is one the synthesizer cannot
// load: in one line, without the library's own complaints.
TEST(SoundFontRegister, RefusesWhatTheSynthesizerCannotPlay) {
    const Scratch dir;
    TinySoundFont keyNumber, rootKey, modulated, tiny, version1;
    keyNumber.generators = {{46, 32767}};
    rootKey.generators = {{58, 32767}};
    modulated.modulated = {46};
    tiny.end = 2;
    version1.version = 1;
    const std::string whole = TinySoundFont{}.bytes();
    const std::vector<std::pair<std::string, std::string>> cases = {
        {keyNumber.bytes(), ": instrument \"Tone\" sets its key number to 32767, outside 0 to 127\n"},
        {rootKey.bytes(), ": instrument \"Tone\" sets its root key to 32767, outside 0 to 127\n"},
        {modulated.bytes(), ": instrument \"Tone\" has a modulator that changes its key number\n"},
        {tiny.bytes(), ": sample \"sine\" holds 2 points, fewer than 8\n"},
        {whole.substr(0, 1000), ": the file is cut short: it ends at byte 1000 of " + std::to_string(whole.size()) + "\n"},
        {version1.bytes(), " ("},  // the synthesizer's own reason
    };
    for (const auto& [bytes, why] : cases) {
        SCOPED_TRACE(why);
        const std::string sf = dir.path + "/bad.sf2";
        std::ofstream(sf, std::ios::binary) << bytes;
        const ToolRun run = runTool("soundfont " + sf + " 0:0 " + dir.path + "/r.nes");
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(run.err.rfind("skladba-registers: " + sf + ": not a SoundFont skladba-registers can read" + why, 0), 0u)
            << run.err;
        EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
        EXPECT_EQ(dir.names(), std::vector<std::string>{"bad.sf2"});
    }
}

// A preset that sounds key 60 alone, with a long release: every other
// segment is played from that key, at its pitch, and none holds the tail
// of the note played before it (which would count it as sounding; played
// untuned, so that no retuning hides it).
TEST(SoundFontRegister, KeysThePresetLacksArePlayedFromTheNearestKeyItHas) {
    const Scratch dir;
    TinySoundFont font;
    font.generators = {{43, 60 | 60 << 8}, {38, 2400}};  // keys 60 to 60; a release of four seconds
    reg::SoundFontOptions options;
    options.soundfont = font.write(dir.path + "/one.sf2");
    options.preset = "0:0";
    options.tune = false;
    reg::Segments segments;
    reg::SoundFontReport report;
    std::string error;
    ASSERT_TRUE(reg::renderSoundFont(options, segments, report, error)) << error;
    std::vector<int> others;
    for (int k = 1; k < reg::kSegments; ++k) {
        if (k != 24) others.push_back(k);
    }
    EXPECT_EQ(report.borrowed, others);
    EXPECT_TRUE(report.silent.empty());
    reg::LevelReport level;
    const std::vector<int16_t> samples = reg::levelRegister(segments, level);
    expectSoundRegister(samples);
    expectInTune(samples);
}

// Layered samples (a stereo pair, two instruments stacked) give the note a
// loop only when they loop at one length, in samples of the segment: here
// 1000 points at 44100 Hz at their own pitch (500 samples) against 500
// points at 22050 Hz a fifth up, less the 2 cents the sample is corrected
// down by (333.8 samples); and not while a sample played once sounds on.
TEST(SoundFontRegister, LayeredSamplesLoopOnlyWhenTheyAgree) {
    reg::PlayedSample wide;
    wide.start = 0, wide.loopStart = 2000, wide.loopEnd = 3000, wide.end = 3100, wide.rate = 44100, wide.mode = 1;
    wide.rootKey = 69;
    reg::PlayedSample other = wide;
    other.loopStart = 1000, other.loopEnd = 1500, other.end = 1600, other.rate = 22050, other.rootKey = 62,
    other.correction = -2;
    reg::SampleLoop loop = reg::sampleLoop({wide, wide}, 69, 0.0, 0.0, reg::kSegmentLength);
    EXPECT_NEAR(loop.length, 500.0, 1e-9);
    EXPECT_EQ(loop.earliest, 1000);
    EXPECT_EQ(loop.none, "");
    EXPECT_NEAR(reg::sampleLoop({other}, 69, 0.0, 0.0, reg::kSegmentLength).length, 500 / std::pow(2.0, 698 / 1200.0),
                1e-9);
    loop = reg::sampleLoop({wide, other}, 69, 0.0, 0.0, reg::kSegmentLength);
    EXPECT_EQ(loop.length, 0.0);
    EXPECT_EQ(loop.none, "its layered samples loop at different lengths");
    reg::PlayedSample once = wide;
    once.mode = 0, once.end = 4 * 44100 * 2;
    EXPECT_EQ(reg::sampleLoop({wide, once}, 69, 0.0, 0.0, reg::kSegmentLength).none,
              "a sample that plays once sounds through the segment");
    EXPECT_EQ(reg::sampleLoop({once}, 69, 0.0, 0.0, reg::kSegmentLength).none, "its sample has no loop");
}
#else
TEST(SoundFontRegister, IsInTuneAndPassesTheSoundChecks) { GTEST_SKIP() << "built without libfluidsynth"; }
TEST(SoundFontRegister, PresetIsChosenByNumberOrByOneName) { GTEST_SKIP() << "built without libfluidsynth"; }
TEST(SoundFontRegister, RefusesWhatTheSynthesizerCannotPlay) { GTEST_SKIP() << "built without libfluidsynth"; }
TEST(SoundFontRegister, KeysThePresetLacksArePlayedFromTheNearestKeyItHas) { GTEST_SKIP() << "built without libfluidsynth"; }
TEST(SoundFontRegister, LayeredSamplesLoopOnlyWhenTheyAgree) { GTEST_SKIP() << "built without libfluidsynth"; }
#endif

#ifdef SKLADBA_HAVE_SAMPLES
// `seconds` of sound at `rate`, sample n given by `sample`, in `format`,
// written a block at a time.
template <typename Sample>
std::string writeSound(const std::string& path, int rate, int format, double seconds, Sample sample, int channels = 1) {
    SF_INFO info{};
    info.samplerate = rate;
    info.channels = channels;
    info.format = format;
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    if (file == nullptr) return path;
    const auto frames = static_cast<std::size_t>(seconds * rate);
    std::vector<double> block;
    for (std::size_t n = 0; n < frames; ++n) {
        block.insert(block.end(), channels, sample(n));
        if (block.size() >= 65536 || n + 1 == frames) {
            sf_writef_double(file, block.data(), static_cast<sf_count_t>(block.size() / channels));
            block.clear();
        }
    }
    sf_close(file);
    return path;
}

// A plucked-sounding note: `frequency` with two harmonics, dying away,
// after `lead` seconds of silence, as 24-bit stereo FLAC at 44.1 kHz.
std::string writeRecording(const std::string& path, double frequency, double seconds, double lead = 0.0,
                           double amplitude = 0.5) {
    constexpr int kRate = 44100;
    return writeSound(path, kRate, SF_FORMAT_FLAC | SF_FORMAT_PCM_24, seconds, [&](std::size_t n) {
        const double t = static_cast<double>(n) / kRate - lead;
        double v = 0.0;
        for (int h = 1; h <= 3; ++h) v += std::sin(2.0 * kPi * h * frequency * t) / h;
        return t < 0.0 ? 0.0 : amplitude * 0.5 * v * std::exp(-1.5 * t);
    }, 2);
}

// An a4 recording with a third of a second of silence before it, and an a3
// zone for the lower segments.
TEST(SampleRegister, TwoZonesAreInTuneAndPassTheSoundChecks) {
    const Scratch dir;
    const std::vector<reg::Zone> zones = {{writeRecording(dir.path + "/a4.flac", 440.0, 3.0, 0.3), "a4"},
                                          {writeRecording(dir.path + "/a3.flac", 220.0, 3.0), "220"}};
    reg::Segments segments;
    std::vector<reg::ZoneReport> reports;
    std::string error;
    ASSERT_TRUE(reg::renderSamples(zones, segments, reports, error)) << error;
    EXPECT_EQ(reports[1].first, 1);  // a3 serves up to the midpoint, where a4 takes over
    EXPECT_EQ(reports[1].last, 26);
    EXPECT_EQ(reports[0].first, 27);
    EXPECT_EQ(reports[0].last, 68);
    reg::LevelReport report;
    const std::vector<int16_t> samples = reg::levelRegister(segments, report);
    expectSoundRegister(samples);
    expectInTune(samples);
    // The leading silence is dropped: the note starts with its segment.
    const std::vector<int16_t> a = segmentOf(samples, 33);
    EXPECT_LT(std::max_element(a.begin(), a.end()) - a.begin(), reg::kSampleRate / 20);
}

TEST(SampleRegister, AutoFindsTheFundamental) {
    const Scratch dir;
    const std::vector<reg::Zone> zones = {{writeRecording(dir.path + "/tone.flac", 440.0, 2.0, 0.1), "auto"}};
    reg::Segments segments;
    std::vector<reg::ZoneReport> reports;
    std::string error;
    ASSERT_TRUE(reg::renderSamples(zones, segments, reports, error)) << error;
    EXPECT_TRUE(reports[0].estimated);
    EXPECT_NEAR(reports[0].frequency, 440.0, 0.44);
}

// A recording at 655 kHz with a minute of silence before its note: the
// silence is let go as it is read, and the note is held at the rate its
// segments need, so the tool stays far below the 300 MB a minute of it
// would take.
TEST(SampleRegister, AHighRateRecordingIsHeldInBoundedMemory) {
#ifdef SKLADBA_SANITIZED
    GTEST_SKIP() << "the sanitizers' own memory hides the tool's";
#endif
    const Scratch dir;
    constexpr int kRate = 655350;
    writeSound(dir.path + "/high.flac", kRate, SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 61.0, [](std::size_t n) {
        return n < 60u * kRate ? 0.0 : 0.5 * std::sin(2.0 * kPi * 220.0 * static_cast<double>(n) / kRate);
    });
    skladba::test::Prikaz tool;
    tool.program = SKLADBA_REGISTERS_BINARY;
    tool.slozka = dir.path;
    tool.argumenty = {"sample", "high.flac", "a3", "r.nes"};
    const skladba::test::Beh run = skladba::test::spust(tool);
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_LT(run.pametkb, 150 * 1024);
}
#else
TEST(SampleRegister, TwoZonesAreInTuneAndPassTheSoundChecks) { GTEST_SKIP() << "built without libsndfile or libsoxr"; }
TEST(SampleRegister, AutoFindsTheFundamental) { GTEST_SKIP() << "built without libsndfile or libsoxr"; }
TEST(SampleRegister, AHighRateRecordingIsHeldInBoundedMemory) { GTEST_SKIP() << "built without libsndfile or libsoxr"; }
#endif

// Bad input: a clear message naming the file and the reason, status 1
// (2 for usage), and no register, partial or temporary, left behind.
TEST(RegisterTool, RefusesBadInputAndLeavesNoFile) {
    const Scratch dir;
    const std::string out = dir.path + "/r.nes";
    std::ofstream(dir.path + "/junk.bin") << std::string(4000, 'x');
    struct Case {
        std::string args;
        std::string message;
        int status;
    };
    std::vector<Case> cases = {{"organ", "missing FILE", 2}, {"harp " + out, "unknown timbre 'harp'", 2}};
#ifdef SKLADBA_HAVE_FLUIDSYNTH
    const std::string sf = SKLADBA_TEST_SOUNDFONT;
    cases.push_back({"soundfont " + dir.path + "/junk.bin 0:0 " + out, dir.path + "/junk.bin: not a SoundFont skladba-registers can read", 1});
    if (!sf.empty()) {
        cases.push_back({"soundfont " + sf + " 0:200 " + out, sf + ": no preset 0:200", 1});
        cases.push_back({"soundfont " + sf + " 7:0 " + out, sf + ": no preset 7:0", 1});
        cases.push_back({"soundfont " + sf + " piano " + out, "ambiguous; it matches:\n  0:0 Piano 1\n", 1});
        cases.push_back({"soundfont --velocity 0 " + sf + " 0:0 " + out, "--velocity needs a whole number", 2});
    }
#endif
#ifdef SKLADBA_HAVE_SAMPLES
    const std::string tone = writeRecording(dir.path + "/tone.flac", 440.0, 1.0);
    cases.push_back({"sample " + dir.path + "/junk.bin a4 " + out, dir.path + "/junk.bin: not an audio file", 1});
    cases.push_back({"sample " + writeRecording(dir.path + "/silent.flac", 440.0, 1.0, 0.0, 0.0) + " a4 " + out,
                     "silent.flac: the recording is silent", 1});
    cases.push_back({"sample " + writeRecording(dir.path + "/short.flac", 440.0, 0.03) + " a4 " + out,
                     "short.flac: the recording is 30 ms long, shorter than 50 ms", 1});
    cases.push_back({"sample " + writeRecording(dir.path + "/long.flac", 440.0, 601.0, 601.0) + " a4 " + out,
                     "long.flac: the recording is 10.0 minutes long, longer than ten minutes", 1});
    cases.push_back({"sample " + tone + " x4 " + out, tone + ": cannot read the pitch 'x4'", 1});
    cases.push_back({"sample " + tone + " c9 " + out, tone + ": the pitch 'c9' lies outside the register's range", 1});
    cases.push_back({"sample " + tone + " a4 --zone " + tone + "=20 " + out, tone + ": the pitch '20' lies outside", 1});
    cases.push_back({"sample " + tone + " a4 " + dir.path + "/none/r.nes",
                     "cannot write " + dir.path + "/none/r.nes: No such file or directory", 1});
    const auto wave = [&](const char* name, auto sample) {
        return writeSound(dir.path + "/" + name, 44100, SF_FORMAT_WAV | SF_FORMAT_FLOAT, 1.0, sample);
    };
    const auto sine = [](double f) { return [f](std::size_t n) { return 0.5 * std::sin(2.0 * kPi * f * n / 44100.0); }; };
    cases.push_back({"sample " + wave("nan.wav", [&](std::size_t n) { return n == 9000 ? std::nan("") : sine(440)(n); }) +
                         " a4 " + out, "nan.wav: the recording holds samples that are not numbers (NaN or infinity)", 1});
    cases.push_back({"sample " + wave("high.wav", sine(5000)) + " auto " + out, "high.wav: no clear pitch found", 1});
    unsigned noise = 1;
    cases.push_back({"sample " + wave("noise.wav", [&](std::size_t) { return ((noise = noise * 1103515245u + 12345u) >> 16) / 65536.0 - 0.5; }) +
                         " auto " + out, "noise.wav: no clear pitch found", 1});
    cases.push_back({"sample --zone= " + tone + " a4 " + out, "option '--zone' needs a value that is not empty", 2});
#endif
    const std::vector<std::string> before = dir.names();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args);
        const ToolRun run = runTool(c.args);
        EXPECT_EQ(run.status, c.status);
        EXPECT_NE(run.err.find(c.message), std::string::npos) << run.err;
        EXPECT_EQ(dir.names(), before);
    }
}

// Every signal that ends the tool removes the register it was writing;
// SIGPIPE is ignored, so that register is finished.
TEST(RegisterTool, AnInterruptionLeavesNoPartFile) {
#ifdef SKLADBA_HAVE_FLUIDSYNTH
    const Scratch dir;
    TinySoundFont{}.write(dir.path + "/tone.sf2");
    for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGPIPE, SIGXCPU, SIGALRM, SIGUSR1, SIGUSR2, SIGVTALRM, SIGPROF}) {
        SCOPED_TRACE(sig);
        skladba::test::Prikaz tool;
        tool.program = SKLADBA_REGISTERS_BINARY;
        tool.slozka = dir.path;
        tool.argumenty = {"soundfont", "tone.sf2", "0:0", "r.nes"};
        skladba::test::Proces run(tool);
        for (int i = 0; i < 2500 && !std::filesystem::exists(dir.path + "/r.nes.part"); ++i) ::usleep(2000);
        run.signal(sig);
        const skladba::test::Beh r = run.dokonci();
        EXPECT_EQ(r.status, sig == SIGPIPE ? 0 : 128 + sig) << r.err;
        const std::vector<std::string> left =
            sig == SIGPIPE ? std::vector<std::string>{"r.nes", "r.smycky", "tone.sf2"} : std::vector<std::string>{"tone.sf2"};
        EXPECT_EQ(dir.names(), left);
        std::filesystem::remove(dir.path + "/r.nes");
        std::filesystem::remove(dir.path + "/r.smycky");
    }
#else
    GTEST_SKIP() << "built without libfluidsynth";
#endif
}
