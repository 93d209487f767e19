// Note values, the time cursor, tempo and tempo curves.
#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <random>

#include "base/format.h"
#include "base/hudba.h"
#include "studio.h"

namespace skladba {
namespace {

using test::starty;
using test::Studio;

// Fractions of time come out in lowest terms, the sign on the numerator,
// whether their terms fit 64 bits (the fast reduction) or need 128 (sums
// of large terms): checked against plain Euclid at the edges of the fast
// path and at random.
TEST(Fractions, LowestTermsOnBothSidesOfSixtyFourBits) {
    using i128 = __int128;
    auto nsd = [](i128 a, i128 b) {
        if (a < 0) a = -a;
        while (b != 0) {
            const i128 t = a % b;
            a = b;
            b = t;
        }
        return a;
    };
    auto expect = [&](const Zlomek& z, i128 c, i128 j) {
        const i128 g = nsd(c, j);
        EXPECT_TRUE(z.c == c / g && z.j == j / g && z.presny) << z.text();
    };
    const int64_t big = std::numeric_limits<int64_t>::max() / 2;   // the largest term kept exact
    EXPECT_EQ(Zlomek(6, -4), Zlomek(-3, 2));
    expect(Zlomek(big, big - 1), big, big - 1);
    expect(Zlomek(-big + 1, big - 1), -1, 1);
    expect(Zlomek(int64_t{3} << 60, int64_t{9} << 58), 3 * 4, 9);
    // Sums whose cross products pass 64 bits, and reduce back into them.
    expect(Zlomek(big, 3) + Zlomek(big, 6), i128{big} * 9, 18);
    // Too fine to keep in 64 bits: rounded, and marked so.
    EXPECT_FALSE((Zlomek(1, big) - Zlomek(1, big - 1)).presny);
    std::mt19937_64 r(7);
    for (int i = 0; i < 20000; ++i) {
        const int bits = 1 + static_cast<int>(r() % 62);
        const int64_t mask = (int64_t{1} << bits) - 1;
        const int64_t a = static_cast<int64_t>(r() & static_cast<uint64_t>(mask)) * (r() % 2 ? 1 : -1);
        const int64_t b = 1 + static_cast<int64_t>(r() & static_cast<uint64_t>(mask >> 1));
        const int64_t d = 1 + static_cast<int64_t>(r() % 3840);
        expect(Zlomek(a, b), a, b);
        expect(Zlomek(a % 100000, d) + Zlomek(b % 100000, d * 3), i128{a % 100000} * 3 + b % 100000, i128{d} * 3);
    }
}

TEST(Tempo, DefaultsAndTheTempoCommand) {
    Studio studio;
    EXPECT_EQ(studio.kurzor("c"), 11025);
    EXPECT_EQ(studio.kurzor("8c"), 5512);
    EXPECT_EQ(studio.kurzor("t100 c"), 52920 / 4);
    EXPECT_EQ(studio.kurzor("t7 c"), 756000 / 4);
    // Faster than one sample per whole note: notes of length 0.
    EXPECT_EQ(studio.kurzor("t2000000 p"), 0);
}

TEST(Tempo, CurveOfTenPercentOverOneWholeNote) {
    Studio studio;
    ASSERT_EQ(studio.hraj("r10cccc").status, 0);
    EXPECT_EQ(starty(studio), (std::vector<int64_t>{0, 11157, 11157 + 11426, 11157 + 11426 + 11702}));
    EXPECT_EQ(studio.kurzor("r10cccc"), 46269);
    // "r0" returns to the tempo of the last "t" at once; "r-" reads as -0, the same.
    EXPECT_EQ(studio.kurzor("r10cccc r0 c"), 46269 + 11025);
    EXPECT_EQ(studio.kurzor("r10cccc r- c"), 46269 + 11025);
}

TEST(Tempo, SecondCurveStartsFromTheSpeedReached) {
    Studio studio;
    const int64_t lastBefore = studio.kurzor("r10cccc") - studio.kurzor("r10ccc");
    const int64_t firstAfter = studio.kurzor("r10cccc r-5 c") - studio.kurzor("r10cccc");
    // Not the 11025 of a fresh start: the new curve begins at the speed reached.
    EXPECT_NEAR(static_cast<double>(firstAfter), static_cast<double>(lastBefore), 0.01 * lastBefore);
    // And "r0" still returns to the tempo of the last "t".
    EXPECT_EQ(studio.kurzor("r10cccc r-5 cc r0 c") - studio.kurzor("r10cccc r-5 cc"), 11025);
}

TEST(StepBack, CountsHalvesAndTheClampAtZero) {
    Studio studio;
    EXPECT_EQ(studio.kurzor("pppp-"), 33075);
    EXPECT_EQ(studio.kurzor("pppp-3"), 11025);
    EXPECT_EQ(studio.kurzor("pppp-0"), 44100);
    EXPECT_EQ(studio.kurzor("cp-."), 22050 - 5512 - 11025);   // half a value first, then a whole one
    EXPECT_EQ(studio.kurzor("8p4-"), 0);                      // 5512 back by 11025 stops at the start
    EXPECT_EQ(studio.kurzor("p-99999999999"), 0);             // any count, at once
}

// A voice written back over a steep ritardando must land on the very sample
// where the same notes land when written straight on: the step back retraces
// each forward step in reverse (divide, then add) and leaves the curve where
// it was, so the note after it is in place too.
TEST(StepBack, UnderACurveLandsOnTheSameSample) {
    Studio studio;
    // Register 2: the impulse register with a silent segment 0, so rests leave no click.
    studio.soubor("rejstriky/rejstr2.nes", test::registr(pocetsegmentu, [](int k, int i) -> int16_t {
        return k > 0 && i == 0 ? static_cast<int16_t>(test::vyskaKliku(k)) : 0;
    }));
    ASSERT_EQ(studio.hraj("R2 S0 r300 1 c g a").status, 0);
    const auto straight = starty(studio);
    ASSERT_EQ(studio.hraj("R2 S0 r300 1 c p p p -3 g a").status, 0);
    EXPECT_EQ(starty(studio), straight);
    EXPECT_EQ(straight, (std::vector<int64_t>{0, 95433, 477164}));
}

TEST(StepBack, UnwindingAnAccelerandoFarStopsAtTheStart) {
    // Each unwound step of a steep accelerando is longer than the last; the
    // sum passes every integer and must clamp, not wrap.
    Studio studio;
    EXPECT_EQ(studio.kurzor("r-90cdef-99r0c"), 11025);
}

struct ChybnaPartitura {
    const char* score;
    const char* where;
    const char* message;
};

class ScoreErrors : public ::testing::TestWithParam<ChybnaPartitura> {};

TEST_P(ScoreErrors, StopTheRunAtTheCommand) {
    Studio studio;
    studio.soubor("aktualni.wav", "previous");
    const auto& p = GetParam();
    const Vysledek r = studio.hraj(p.score);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.zprava.rfind(std::string("aktualni.txt:") + p.where + ": ", 0), 0u) << r.zprava;
    EXPECT_NE(r.zprava.find(p.message), std::string::npos) << r.zprava;
    EXPECT_FALSE(studio.existuje("_.tmp"));
    EXPECT_EQ(studio.obsah("aktualni.wav"), "previous");
}

INSTANTIATE_TEST_SUITE_P(
    TimeAndTempo, ScoreErrors,
    ::testing::Values(
        ChybnaPartitura{"c\n  t0", "2:3", "tempo must be a positive number of quarter notes per minute"},
        ChybnaPartitura{"t-60", "1:1", "tempo must be a positive"},
        ChybnaPartitura{"t 120", "1:1", "tempo must be a positive"},
        ChybnaPartitura{"cd t", "1:4", "tempo must be a positive"},
        ChybnaPartitura{"r-100", "1:1", "invalid tempo curve"},
        ChybnaPartitura{"t9999999r10", "1:9", "invalid tempo curve"},
        ChybnaPartitura{"r10c-99999", "1:5", "step back too long under a tempo curve"},
        ChybnaPartitura{"r99999999999999999999999999999999c", "1:34", "piece too long"}));

TEST(PieceTooLong, AtTheNoteThatPassesTheLimit) {
    Studio studio;
    // Whole notes at t1 are 5292000 samples; the 102nd would end past sample 2^29.
    const Vysledek r = studio.hraj("t1 1" + std::string(101, 'p') + "\nxp");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.zprava.find("aktualni.txt:2:2: piece too long"), std::string::npos) << r.zprava;
    EXPECT_FALSE(studio.existuje("_.tmp"));
}

}  // namespace
}  // namespace skladba
