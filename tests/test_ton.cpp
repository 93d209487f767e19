// The note renderer: where each note starts, which segment it plays, the
// jitter, the mix file and its failures.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>
#include <random>
#include <vector>

#include "base/stav.h"
#include "platform/system.h"
#include "studio.h"
#include "synth/jadro.h"
#include "synth/mix.h"
#include "engine/ton.h"

namespace skladba {
namespace {

using test::segmenty;
using test::starty;
using test::Studio;

TEST(Render, CdefStartsEachNoteOneValueLater) {
    Studio studio;
    ASSERT_EQ(studio.hraj("cdef").status, 0);
    const auto notes = studio.noty();
    ASSERT_EQ(notes.size(), 4u);
    EXPECT_EQ(notes[0].start, 0);
    EXPECT_EQ(notes[1].start, 11025);
    EXPECT_EQ(notes[2].start, 22050);
    EXPECT_EQ(notes[3].start, 33075);
    EXPECT_EQ(segmenty(studio), (std::vector<int>{24, 26, 28, 29}));
    EXPECT_EQ(studio.vzorky().size(), 33075u + 88200u);
}

TEST(Render, RelativeOctaveRule) {
    Studio studio;
    studio.hraj("ac");
    EXPECT_EQ(segmenty(studio), (std::vector<int>{33, 36}));
    studio.hraj("ca");
    EXPECT_EQ(segmenty(studio), (std::vector<int>{24, 21}));
    studio.hraj("cg");
    EXPECT_EQ(segmenty(studio), (std::vector<int>{24, 31}));
    studio.hraj("hd");
    EXPECT_EQ(segmenty(studio), (std::vector<int>{35, 38}));
    studio.hraj("dh");
    EXPECT_EQ(segmenty(studio), (std::vector<int>{26, 23}));
    // An explicit octave suppresses the rule for one note only.
    studio.hraj("co2hc");
    EXPECT_EQ(segmenty(studio), (std::vector<int>{24, 47, 48}));
    // The octave stays within 0 to 60.
    studio.hraj("o3ao4pc");
    EXPECT_EQ(segmenty(studio), (std::vector<int>{57, 0, 60}));
    studio.hraj("ovdh");
    EXPECT_EQ(segmenty(studio), (std::vector<int>{2, 11}));
}

TEST(Render, RestsPlaySegmentZeroAndKeepTheLastLetter) {
    Studio studio;
    studio.hraj("apc");
    EXPECT_EQ(segmenty(studio), (std::vector<int>{33, 0, 36}));
    EXPECT_EQ(studio.noty()[2].start, 22050);
}

TEST(Render, NoJitterBeforeTheFirstStepBack) {
    Studio studio;
    studio.hraj("S2cccc");
    const auto notes = studio.noty();
    EXPECT_EQ(notes[3].start, 33075);
    // Nothing is drawn either: the draws after "-" begin with the first one.
    studio.hraj("S2cccc-cc");
    EXPECT_EQ(studio.noty()[2].start, 33075 + 41 - 22050);
}

TEST(Render, GeneratorSequenceFromStateOne) {
    Stav s;
    std::vector<int> draws;
    for (int i = 0; i < 5; ++i) draws.push_back(nahodne(s));
    EXPECT_EQ(draws, (std::vector<int>{41, 18467, 6334, 26500, 19169}));
}

// The clicks come out in time order, so the voice after "-" is sorted in.
TEST(Render, JitterFollowsTheGeneratorAndTheSetting) {
    Studio studio;
    // Setting 50: span 1764, half 882; the first draws are 41 and 18467.
    studio.hraj("cccc-cc");
    EXPECT_EQ(starty(studio), (std::vector<int64_t>{0, 11025, 22050, 33075 + 41 % 1764 - 882, 33075,
                                                    44100 + 18467 % 1764 - 882}));
    // Setting 2: span 44100, half 22050.
    studio.hraj("S2cccc-cc");
    EXPECT_EQ(starty(studio), (std::vector<int64_t>{0, 11025, 33075 + 41 - 22050, 22050, 33075,
                                                    44100 + 18467 - 22050}));
    // A jitter that could reach the beginning of the piece is dropped, also
    // one that would land exactly on it: the first draw, 41, is -22009 at S2,
    // and the cursor stands at 22009 (rests from register 0 leave no click).
    studio.hraj("S2 1c4-3d");
    EXPECT_EQ(starty(studio), (std::vector<int64_t>{0, 11025}));
    studio.hraj("R0 S2 4p 8p 16p 32p 64p 128p 256p 512p 1024p 11025p -0 4c");
    EXPECT_EQ(starty(studio), (std::vector<int64_t>{22009}));
    // Eighths get half the jitter.
    studio.hraj("cccc- 8c");
    EXPECT_EQ(starty(studio), (std::vector<int64_t>{0, 11025, 22050, 33075 + (41 % 1764 - 882) * 4 / 8, 33075}));
}

TEST(Render, HugeJitterSettingStillDraws) {
    Studio studio;
    studio.hraj("S100000 1c 4-3 c S50 c");
    // Span 0 gives no jitter but uses up the first draw, so the last note gets the second.
    EXPECT_EQ(starty(studio), (std::vector<int64_t>{0, 11025, 22050 + 18467 % 1764 - 882}));
}

// Two voices of three minutes each, the second written over the first: far
// more than the mix holds in memory at once, so the first voice is in the
// file by the time the second adds to it. Every note of both reaches the WAV.
TEST(Render, ASecondVoiceOverMinutesKeepsTheFirst) {
    std::string voice;
    for (int i = 0; i < 45; ++i) voice += "o1c";
    Studio studio;
    ASSERT_EQ(studio.hraj("R0 S0 t60 1" + voice + " -45 8p 1" + voice).status, 0);
    std::vector<Studio::Nota> expected;
    for (int64_t i = 0; i < 45; ++i) {
        expected.push_back({i * delkatonu, 24});
        expected.push_back({i * delkatonu + delkatonu / 8, 24});
    }
    const auto notes = studio.noty();
    ASSERT_EQ(notes.size(), expected.size());
    for (size_t i = 0; i < notes.size(); ++i) {
        EXPECT_EQ(notes[i].start, expected[i].start) << i;
        EXPECT_EQ(notes[i].segment, expected[i].segment) << i;
    }
}

// A piece may end exactly at the longest the mix holds, not a sample beyond.
TEST(Render, APieceMayFillTheMixToItsLastSample) {
    Studio studio;
    Meze meze;
    meze.skladba = 2 * int64_t{delkatonu};   // t30: a whole note is 176400 samples
    EXPECT_EQ(studio.hraj("t30 1c", meze).status, 0);
    EXPECT_NE(studio.hraj("t30 1c p", meze).zprava.find("piece too long"), std::string::npos);
}

// A register file that ends in half a sample: the odd byte is ignored, and
// the segment it would have begun keeps the earlier register's sound.
TEST(Render, TheOddLastByteOfARegisterIsIgnored) {
    Studio studio;
    studio.soubor("rejstriky/rejstr5.nes", test::registr(1, [](int, int) -> int16_t { return 0; }) + "\x7F");
    ASSERT_EQ(studio.hraj("R5 ov >c").status, 0);
    EXPECT_EQ(segmenty(studio), (std::vector<int>{1}));
}

// Registers load when a note needs them, in the order they were named: a
// shorter one leaves the segments beyond its end to those before it, a full
// one hides them (so a missing one hidden so is never needed).
TEST(Render, RegistersLoadInTheirOrderWhenANoteNeedsThem) {
    Studio studio;
    // R2 clicks its segment k as segment k + 20 would, R3 as k + 40.
    studio.soubor("rejstriky/rejstr2.nes", test::registr(10, [](int k, int i) -> int16_t {
                      return i == 0 ? static_cast<int16_t>(test::vyskaKliku(k + 20)) : 0; }));
    studio.soubor("rejstriky/rejstr3.nes", test::registr(5, [](int k, int i) -> int16_t {
                      return i == 0 ? static_cast<int16_t>(test::vyskaKliku(k + 40)) : 0; }));
    ASSERT_EQ(studio.hraj("R2 R3 ov >c g o1 >f").status, 0);
    EXPECT_EQ(segmenty(studio), (std::vector<int>{41, 27, 30}));
    ASSERT_EQ(studio.hraj("R7 R3 R1 ov >c").status, 0);
    EXPECT_EQ(segmenty(studio), (std::vector<int>{1}));
    EXPECT_EQ(studio.hraj("c R7 R3 ov >c").zprava,
              "aktualni.txt:1:3: cannot load register \"7\" from rejstriky/rejstr7.nes: No such file or directory");
}

TEST(Render, NotesOutsideTheRegisterAreScoreErrors) {
    Studio studio;
    Vysledek r = studio.hraj("o4a");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.zprava, "aktualni.txt:1:3: note out of the register's range: segment index 69 "
                        "(the register holds 0 to 68)");
    r = studio.hraj("ov<c");
    EXPECT_NE(r.zprava.find("1:4: note out of the register's range: segment index -1"), std::string::npos);
    r = studio.hraj("T99999999999c");
    EXPECT_NE(r.zprava.find("segment index 2147483671"), std::string::npos) << r.zprava;
    EXPECT_FALSE(studio.existuje("_.tmp"));
}

// A segment of random samples, the lowest first, and a block of random
// sums it is added to, far enough from the limits that no add leaves them.
struct Nahodne {
    std::vector<int16_t> segment = std::vector<int16_t>(delkatonu);
    std::vector<int32_t> start = std::vector<int32_t>(delkatonu);
    explicit Nahodne(unsigned seed) {
        std::mt19937 rng(seed);
        for (auto& v : segment) v = static_cast<int16_t>(rng());
        for (auto& v : start) v = static_cast<int32_t>(rng() % 2000000000) - 1000000000;
        segment[0] = -32768;
    }
};

TEST(Kernel, EveryBuildAddsTheSameBits) {
    const Nahodne n(7);
    const std::vector<int16_t>& segment = n.segment;
    const std::vector<int32_t>& start = n.start;
    for (int sila : {1, 3, 10, 31, 95, 99, 100}) {
        // Reference: the arithmetic written out one sample at a time.
        std::vector<int32_t> expected = start;
        uint32_t expected_peak = 0;
        for (int i = 0; i < delkatonu; ++i) {
            expected[i] += segment[i] * sila / 100;
            expected_peak = std::max(expected_peak, static_cast<uint32_t>(std::abs(int64_t{expected[i]})));
        }
        std::vector<int32_t> plain = start;
        EXPECT_EQ(jadro::pridejzakladni(segment.data(), sila, plain.data(), delkatonu), expected_peak);
        EXPECT_EQ(plain, expected) << sila;
        if (jadro::avx2dostupne()) {
            std::vector<int32_t> wide = start;
            EXPECT_EQ(jadro::pridejavx2(segment.data(), sila, wide.data(), delkatonu), expected_peak);
            EXPECT_EQ(wide, expected) << sila;
        }
        std::vector<int32_t> checked = start;
        uint32_t peak = 0;
        EXPECT_TRUE(jadro::pridejkontrolovane(segment.data(), sila, checked.data(), delkatonu, peak));
        EXPECT_EQ(checked, expected);
        EXPECT_EQ(peak, expected_peak);
    }
}

// One side's gain of a voice in the stereo field, applied by the add: both
// builds and the checked add round every sample as the arithmetic written
// out does, at the gains' limits, at full and lower volume, for every
// length (the wide build's tail).
TEST(Kernel, EveryBuildScalesASideTheSameBits) {
    Nahodne n(11);
    std::vector<int16_t>& segment = n.segment;
    const std::vector<int32_t>& start = n.start;
    segment[1] = 32767;
    segment[2] = -1;
    for (int g : {0, 1, 16384, 23170, 32767}) {
        for (int sila : {37, 100}) {
            for (int count : {delkatonu, 1, 15, 16, 17, 33}) {
                std::vector<int32_t> expected(start.begin(), start.begin() + count);
                uint32_t expected_peak = 0;
                for (int i = 0; i < count; ++i) {
                    expected[i] += ((segment[i] * g + 16384) >> 15) * sila / 100;
                    expected_peak = std::max(expected_peak, static_cast<uint32_t>(std::abs(int64_t{expected[i]})));
                }
                std::vector<int32_t> plain(start.begin(), start.begin() + count);
                EXPECT_EQ(jadro::pridejzeslabenezakladni(segment.data(), g, sila, plain.data(), count), expected_peak);
                EXPECT_EQ(plain, expected) << g << " " << sila << " " << count;
                std::vector<int32_t> wide(start.begin(), start.begin() + count);
                EXPECT_EQ(jadro::nejlepsizeslabene()(segment.data(), g, sila, wide.data(), count), expected_peak);
                EXPECT_EQ(wide, expected) << g << " " << sila << " " << count;
                std::vector<int32_t> checked(start.begin(), start.begin() + count);
                uint32_t peak = 0;
                EXPECT_TRUE(jadro::pridejkontrolovane(segment.data(), sila, checked.data(), count, peak, g));
                EXPECT_EQ(checked, expected) << g << " " << sila << " " << count;
            }
        }
    }
}

TEST(Kernel, CheckedAddRefusesSumsOutsideTheRange) {
    std::vector<int16_t> segment(delkatonu, 0);
    std::vector<int32_t> block(delkatonu, 0);
    uint32_t peak = 0;
    segment[7] = 20;
    block[7] = 2147483647 - 19;
    EXPECT_FALSE(jadro::pridejkontrolovane(segment.data(), 100, block.data(), delkatonu, peak));
    segment[7] = -5;
    block[7] = -2147483647 - 1 + 5;
    peak = 0;
    EXPECT_TRUE(jadro::pridejkontrolovane(segment.data(), 100, block.data(), delkatonu, peak));
    EXPECT_EQ(peak, 2147483648u);
}

// Mix I/O faults, injected through the I/O hooks. The runs keep the mix in
// the file from the start (a budget of 0), as a piece past the budget does.
Meze vsouboru(uint64_t pamet = 0) {
    Meze m;
    m.pametmixu = pamet;
    return m;
}

class MixFaults : public ::testing::Test {
protected:
    void TearDown() override { platform::obnovvolani(); }
    const Meze meze = vsouboru();
    static inline int writes = 0;
    static inline int failFirst = 0;
    // From now on every write to the mix file is counted in writes.
    // The path an open file descriptor names.
    static std::string cesta(int fd) {
        char path[256] = {};
        const std::string link = "/proc/self/fd/" + std::to_string(fd);
        return ::readlink(link.c_str(), path, sizeof path - 1) > 0 ? path : "";
    }
    static void pocitejzapisymixu() {
        writes = 0;
        platform::volani().pwrite = [](int fd, const void* buf, size_t n, off_t off) -> ssize_t {
            if (cesta(fd).find("_.tmp") != std::string::npos) ++writes;
            return ::pwrite(fd, buf, n, off);
        };
    }
};

TEST_F(MixFaults, ShortWriteIsRepeatedAndCounted) {
    writes = 0;
    failFirst = 2;
    platform::volani().pwrite = [](int fd, const void* buf, size_t n, off_t off) -> ssize_t {
        if (++writes <= failFirst) return ::pwrite(fd, buf, n / 2, off);
        return ::pwrite(fd, buf, n, off);
    };
    Studio studio;
    const Vysledek r = studio.hraj("c", meze);
    EXPECT_EQ(r.status, 0) << r.zprava;
    EXPECT_EQ(r.mix.chyby, 2);
    platform::obnovvolani();
    const auto with_retries = studio.obsah("aktualni.wav");
    studio.hraj("c", meze);
    EXPECT_EQ(studio.obsah("aktualni.wav"), with_retries);
}

TEST_F(MixFaults, PersistentWriteFailureStopsTheRun) {
    Studio studio;
    studio.soubor("aktualni.wav", "previous");
    platform::volani().pwrite = [](int, const void*, size_t, off_t) -> ssize_t {
        errno = ENOSPC;
        return -1;
    };
    const Vysledek r = studio.hraj("cde", meze);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.zprava, "cannot write the mix file _.tmp: No space left on device");
    EXPECT_FALSE(studio.existuje("_.tmp"));
    EXPECT_EQ(studio.obsah("aktualni.wav"), "previous");
}

// A full disk takes what fits, then refuses the rest: the message gives the
// system's reason, not just "short".
TEST_F(MixFaults, FullDiskIsReportedAsSuch) {
    platform::volani().pwrite = [](int fd, const void* buf, size_t n, off_t off) -> ssize_t {
        constexpr off_t kapacita = 500000;
        if (off >= kapacita) {
            errno = ENOSPC;
            return -1;
        }
        return ::pwrite(fd, buf, std::min<off_t>(static_cast<off_t>(n), kapacita - off), off);
    };
    Studio studio;
    const Vysledek r = studio.hraj("cdefgah", meze);
    EXPECT_EQ(r.zprava, "cannot write the mix file _.tmp: No space left on device");
}

// A file that only ever takes part of a write is given up on, not written to
// byte by byte for ever.
TEST_F(MixFaults, WritesThatStayShortEnd) {
    platform::volani().pwrite = [](int fd, const void* b, size_t n, off_t off) { return ::pwrite(fd, b, n / 2, off); };
    Studio studio;
    const Vysledek r = studio.hraj("c", meze);
    EXPECT_EQ(r.zprava, "cannot write the mix file _.tmp: Input/output error");
    EXPECT_EQ(r.mix.chyby, platform::pokusyzapisu);
}

// Rests and silent notes add nothing, so they cost no mix I/O at all.
TEST_F(MixFaults, SilentNotesDoNoMixIo) {
    pocitejzapisymixu();
    Studio studio;
    ASSERT_EQ(studio.hraj("R0 1 pppp p. ", meze).status, 0);
    EXPECT_EQ(writes, 0);
    EXPECT_EQ(studio.vzorky().size(), 220500u + 88200u);   // the piece still ends where the dot ends
    ASSERT_EQ(studio.hraj("R0 1 pp c", meze).status, 0);   // a sounding note does
    EXPECT_GT(writes, 0);
}

// Runs score with standard input from /dev/null (not a terminal, so no key
// wait may block the run) and its standard output in out.
Vysledek hrajSVystupem(Studio& studio, const std::string& score, std::string& out, const Meze& meze = vsouboru()) {
    const int saved_stdin = ::dup(0);
    const int null = ::open("/dev/null", O_RDONLY);
    ::dup2(null, 0);
    ::close(null);
    ::testing::internal::CaptureStdout();
    const Vysledek r = studio.hraj(score, meze);
    out = ::testing::internal::GetCapturedStdout();
    ::dup2(saved_stdin, 0);
    ::close(saved_stdin);
    return r;
}

TEST_F(MixFaults, ReadBackMismatchIsReportedAndFailsTheRun) {
    // The sums at samples 1 and 11026 read back 7 higher than written; the
    // file itself holds what was written. A read-back is the read of just
    // what was written last.
    static off_t zapsanood = -1;
    static size_t zapsano = 0;
    platform::volani().pwrite = [](int fd, const void* buf, size_t n, off_t off) -> ssize_t {
        zapsanood = off;
        zapsano = n;
        return ::pwrite(fd, buf, n, off);
    };
    platform::volani().pread = [](int fd, void* buf, size_t n, off_t off) -> ssize_t {
        const ssize_t got = ::pread(fd, buf, n, off);
        if (off != zapsanood || n != zapsano) return got;   // corrupt the read-back only
        for (const off_t at : {off_t{4 * 1}, off_t{4 * 11026}}) {
            if (at >= off && at + 4 <= off + got) static_cast<int32_t*>(buf)[(at - off) / 4] += 7;
        }
        return got;
    };
    Studio studio;
    std::string out;
    const Vysledek r = hrajSVystupem(studio, "pc", out);
    EXPECT_EQ(out, "\n problem 0 7 1\n problem 0 7 11026");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.zprava.find("did not read back as written (2 sums differed)"), std::string::npos);
    EXPECT_TRUE(studio.existuje("aktualni.wav"));
    EXPECT_FALSE(studio.existuje("_.tmp"));
}

// A device that stores two sums 7 too high, once each: one at the start of
// a piece far longer than the mix cache holds, so that it is written while
// notes are still being mixed, and the last sum of the piece, written only
// after the last note. Both are reported in the order found; the WAV is made
// from what the file held, also where a later note, stepped back to the
// start, added over the wrong sum.
class MixFaultsPastBudget : public MixFaults, public ::testing::WithParamInterface<Meze> {};

TEST_P(MixFaultsPastBudget, MismatchesFoundWhileMixingAndAfterTheLastNote) {
    constexpr int64_t last = 40 * int64_t{delkatonu} - 1;
    static constexpr off_t targets[] = {4 * 1, 4 * last};
    writes = 0;   // which targets have been corrupted, one bit each
    platform::volani().pwrite = [](int fd, const void* buf, size_t n, off_t off) -> ssize_t {
        std::vector<char> bytes(static_cast<const char*>(buf), static_cast<const char*>(buf) + n);
        for (int t = 0; t < 2; ++t) {
            const off_t at = targets[t];
            if ((writes >> t & 1) || at < off || at + 4 > off + static_cast<off_t>(n)) continue;
            int32_t sum;
            std::memcpy(&sum, &bytes[static_cast<size_t>(at - off)], 4);
            sum += 7;
            std::memcpy(&bytes[static_cast<size_t>(at - off)], &sum, 4);
            writes |= 1 << t;
        }
        return ::pwrite(fd, bytes.data(), n, off);
    };
    Studio studio;
    std::string out;
    // Forty whole notes of four seconds each, then one more at the start.
    const Vysledek r = hrajSVystupem(studio, "t60 1" + std::string(40, 'c') + " -40 c", out, GetParam());
    EXPECT_EQ(out, "\n problem 0 7 1\n problem 0 7 " + std::to_string(last));
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.zprava.find("(2 sums differed)"), std::string::npos) << r.zprava;
    const auto samples = studio.vzorky();
    ASSERT_EQ(samples.size(), static_cast<size_t>(last + 1));
    EXPECT_NE(samples[1], 0);
    EXPECT_NE(samples[last], 0);
    EXPECT_FALSE(studio.existuje("_.tmp"));
}

// The mix file from the start, and a mix held in 1 MiB (some 12 seconds)
// that moves to the file during the piece: the spilled sums go through the
// same write and read-back.
INSTANTIATE_TEST_SUITE_P(Budgets, MixFaultsPastBudget, ::testing::Values(vsouboru(0), vsouboru(1 << 20)));

// Held in memory, spilled to the file part way, or in the file from the
// start: the same WAV, with voices written over one another far apart (the
// second voice goes back over the spill), and a piece within the budget
// writes nothing to the mix file, which is still created and locked.
TEST_F(MixFaults, BudgetChangesNoByte) {
    pocitejzapisymixu();
    const std::string score = "t120 4 " + std::string(80, 'c') + " -80 8 " + std::string(80, 'e') + " p -3 gah";
    Studio studio;
    const Vysledek r0 = studio.hraj(score, Meze{});
    ASSERT_EQ(r0.status, 0) << r0.zprava;
    EXPECT_EQ(writes, 0);
    const auto vpameti = studio.obsah("aktualni.wav");
    for (const uint64_t pamet : {uint64_t{0}, uint64_t{1} << 20, uint64_t{3} << 20}) {
        writes = 0;
        const Vysledek r = studio.hraj(score, vsouboru(pamet));
        ASSERT_EQ(r.status, 0) << r.zprava;
        EXPECT_GT(writes, 0) << pamet;
        EXPECT_EQ(studio.obsah("aktualni.wav"), vpameti) << pamet;
        EXPECT_FALSE(studio.existuje("_.tmp"));
    }
}

// A register loaded again plays the segments read at its first load while
// its file is unchanged, and reads them again once the file has changed;
// the bytes are those of a run that keeps nothing (a budget of 0).
TEST_F(MixFaults, RegisterSegmentsAreReadOnceWhileTheirFileIsUnchanged) {
    static int cteni = 0;
    static std::string prepsat;   // a register to fill with silence after its next read
    platform::volani().pread = [](int fd, void* buf, size_t n, off_t off) -> ssize_t {
        const ssize_t r = ::pread(fd, buf, n, off);
        if (n == size_t{delkatonu} * 2 && cesta(fd).find("rejstr1.nes") != std::string::npos) {
            ++cteni;
            if (!prepsat.empty()) {
                const int64_t velikost = platform::velikost(fd);
                const int w = ::open(prepsat.c_str(), O_WRONLY);
                const std::string ticho(static_cast<size_t>(velikost), '\0');
                EXPECT_EQ(::pwrite(w, ticho.data(), ticho.size(), 0), static_cast<ssize_t>(ticho.size()));
                ::close(w);
                prepsat.clear();
            }
        }
        return r;
    };
    Studio studio;
    // A file of its own, not the shared one the studio links to.
    const std::string kliky = studio.obsah("rejstriky/rejstr1.nes");
    const std::string r1 = studio.cesta() + "/rejstriky/rejstr1.nes";
    ASSERT_EQ(::unlink(r1.c_str()), 0);
    studio.soubor("rejstriky/rejstr1.nes", kliky);

    const std::string score = "R1 c R0 c R1 c R0 c R1 c";
    cteni = 0;
    ASSERT_EQ(studio.hraj(score, Meze{}).status, 0);
    EXPECT_EQ(cteni, 1);
    const auto drzene = studio.obsah("aktualni.wav");
    EXPECT_EQ(studio.noty().size(), 5u);
    cteni = 0;
    ASSERT_EQ(studio.hraj(score, vsouboru(0)).status, 0);
    EXPECT_EQ(cteni, 3);
    EXPECT_EQ(studio.obsah("aktualni.wav"), drzene);

    prepsat = r1;
    cteni = 0;
    ASSERT_EQ(studio.hraj(score, Meze{}).status, 0);
    EXPECT_EQ(cteni, 2);
    EXPECT_EQ(studio.noty().size(), 3u);   // the later R1 notes play the silence written over it
}

}  // namespace
}  // namespace skladba
