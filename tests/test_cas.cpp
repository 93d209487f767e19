// Note values, the time cursor, tempo and tempo curves.
#include <gtest/gtest.h>

#include <cmath>

#include "base/stav.h"
#include "studio.h"

namespace skladba {
namespace {

using test::starty;
using test::Studio;

TEST(Tempo, DefaultsAndTheTempoCommand) {
    Studio studio;
    ASSERT_EQ(studio.hraj("c").status, 0);
    EXPECT_EQ(stav.tempo, 44100);
    EXPECT_EQ(stav.momcas, 11025);
    studio.hraj("8c");
    EXPECT_EQ(stav.momcas, 5512);
    studio.hraj("t100");
    EXPECT_EQ(stav.tempo, 52920);
    EXPECT_EQ(stav.puvodnitempo, 52920);
    studio.hraj("t7");
    EXPECT_EQ(stav.tempo, 756000);
    studio.hraj("t2000000c");   // faster than one sample per whole note: notes of length 0
    EXPECT_EQ(stav.tempo, 0);
    EXPECT_EQ(stav.momcas, 0);
}

TEST(Tempo, CurveOfTenPercentOverOneWholeNote) {
    Studio studio;
    ASSERT_EQ(studio.hraj("r10cccc").status, 0);
    EXPECT_NEAR(stav.delta, std::pow(1.1, 1.0 / 44100), 1e-15);
    EXPECT_EQ(starty(studio), (std::vector<int64_t>{0, 11157, 11157 + 11426, 11157 + 11426 + 11702}));
    EXPECT_EQ(stav.momcas, 46269);
    EXPECT_NEAR(stav.rittempo, 1.1, 1e-9);

    studio.hraj("r10ccccr0c");
    EXPECT_EQ(stav.tempo, 44100);
    EXPECT_EQ(stav.rittempo, 1.0);
    EXPECT_EQ(stav.momcas, 46269 + 11025);

    studio.hraj("r10ccccr-");   // "r-" reads as -0, the same as r0
    EXPECT_EQ(stav.tempo, 44100);
}

TEST(Tempo, SecondCurveStartsFromTheSpeedReached) {
    Studio studio;
    studio.hraj("r10cccc");
    const double reached = stav.rittempo;
    studio.hraj("r10ccccr-5");
    EXPECT_EQ(stav.tempo, static_cast<int>(44100 * reached));
    EXPECT_EQ(stav.rittempo, 1.0);
    EXPECT_EQ(stav.puvodnitempo, 44100);
}

TEST(StepBack, CountsHalvesAndTheClampAtZero) {
    Studio studio;
    studio.hraj("cccc-");
    EXPECT_EQ(stav.momcas, 33075);
    studio.hraj("cccc-3");
    EXPECT_EQ(stav.momcas, 11025);
    studio.hraj("cccc-0");
    EXPECT_EQ(stav.momcas, 44100);
    studio.hraj("cc-.");   // half a value first, then a whole one
    EXPECT_EQ(stav.momcas, 22050 - 5512 - 11025);
    studio.hraj("8c4-");   // 5512 back by 11025 stops at the start
    EXPECT_EQ(stav.momcas, 0);
    studio.hraj("c-99999999999");   // any count, at once
    EXPECT_EQ(stav.momcas, 0);
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
    EXPECT_EQ(studio.hraj("r-90cdef-99r0c").status, 0);
    EXPECT_EQ(stav.momcas, 11025);
}

TEST(StepBack, TurnsOnTheJitter) {
    Studio studio;
    studio.hraj("c");
    EXPECT_EQ(stav.synchro, 0);
    studio.hraj("c-");
    EXPECT_EQ(stav.synchro, 50);
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
