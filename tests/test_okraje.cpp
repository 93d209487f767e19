// Edges of the rules the tests elsewhere pass on either side of: each case
// at its limit, where a rule one step off would decide the other way.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include "midi.h"
#include "platform/system.h"
#include "proces.h"
#include "studio.h"
#include "synth/mix.h"
#include "zvuk.h"

namespace skladba {
namespace {

using test::Beh;
using test::Studio;

// The metre is the bar length most bars keep: more than half of them.
// Exactly half is no metre (4/4); one bar more is.
TEST(Edges, AMetreNeedsMoreThanHalfOfTheBars) {
    Studio studio;
    const std::pair<const char*, std::pair<int, int>> metra[] = {
        {"4 c | d e f | g a h | c d | e f g a h | c", {4, 4}},         // 3, 3, 2, 5: half in 3/4
        {"4 c | d e f | g a h | c d e | c d | e f g a h | c", {3, 4}},  // 3, 3, 3, 2, 5
    };
    for (const auto& [score, metrum] : metra) {
        studio.soubor("kus.txt", score);
        ASSERT_EQ(test::skladba(studio.cesta(), {"-q", "kus.txt", "--midi", "kus.mid"}).status, 0);
        EXPECT_EQ(test::prectimidi(studio.obsah("kus.mid")).metrum, metrum) << score;
    }
}

// A note the octave rule took from another voice is warned of when it lands
// more than an octave from its own voice's note before it: exactly an
// octave is not.
TEST(Edges, ALeapOfExactlyAnOctaveIsNotWarnedOf) {
    Studio studio;
    // The d (or e) takes the octave of om g, the bass's last note: om d is
    // 14 half tones under o1 e, its voice's note before it, om e 12.
    for (const auto& [pismeno, varuje] : {std::pair<const char*, bool>{"d", true}, {"e", false}}) {
        studio.soubor("kus.txt", std::string("t120 S0\n4 o1 a g f e | 1 -1\n4 om d e f g |\n4 ") + pismeno +
                                     " g a <h | 1 -1\n4 om c d e f |\n4 o1 c d c h |\n");
        const Beh r = test::skladba(studio.cesta(), {"--check", "kus.txt"});
        EXPECT_EQ(r.out.find("more than an octave") != std::string::npos, varuje) << pismeno << "\n" << r.out;
    }
}

// Under --release a note shorter than its four-second segment fades out by
// the segment's end; one of exactly four seconds rings to its end unfaded.
TEST(Edges, ANoteJustUnderFourSecondsKeepsItsFade) {
    Studio studio;
    studio.soubor("rejstriky/rejstr2.nes", test::registr(69, [](int, int) { return int16_t{10000}; }));
    for (const auto& [tempo, fades] : {std::pair<const char*, bool>{"t61", true}, {"t60", false}}) {
        studio.soubor("kus.txt", std::string("R2 ") + tempo + " 1a");
        const Beh r = test::skladba(studio.cesta(), {"-q", "--release", "100", "kus.txt"});
        ASSERT_EQ(r.status, 0) << r.err;
        const std::vector<int16_t> y = test::vzorkywav(studio.obsah("kus.wav"));
        ASSERT_EQ(y.size(), size_t{delkatonu}) << tempo;
        const int64_t delka = int64_t{delkatonu} * 60 / 61;   // the t61 whole note
        EXPECT_GT(y[static_cast<size_t>(delka) - 100], 30000) << tempo;
        EXPECT_EQ(std::abs(y.back()) < 3000, fades) << tempo << ": " << y.back();
    }
}

// The mix stays in memory while its notes reach no further than the budget
// (a whole number of blocks), and a note that reaches one sample past it
// moves the mix to its file: no block is held in memory past the budget.
TEST(Edges, TheMixLeavesMemoryOneSamplePastTheBudget) {
    Studio studio;
    constexpr int64_t blok = 32768;   // samples of a mix block
    Meze meze;
    meze.pametmixu = 4 * blok * sizeof(int32_t);
    for (const auto& [konec, vpameti] : {std::pair<int64_t, bool>{4 * blok, true}, {4 * blok + 1, false}}) {
        Rejstriky rejstriky;
        rejstriky.nastavslozku(studio.cesta() + "/rejstriky");
        ASSERT_TRUE(rejstriky.nactirejstrik('1'));
        Mix mix(meze);
        mix.otevri(studio.cesta() + "/kus.mix");
        mix.mixuj(rejstriky, konec - delkatonu, 30, 100);
        EXPECT_EQ(mix.vpameti(), vpameti) << konec;
        EXPECT_EQ(mix.vysledek().konecmixu, konec);
        mix.smazmix();
    }
}

// Everything that could stop a file of the run from being put in place is
// looked at before the WAV replaces the previous one: a folder standing
// where the MIDI file goes keeps the previous WAV.
TEST(Edges, ACompanionThatCannotBePutInPlaceKeepsThePreviousWav) {
    Studio studio;
    studio.soubor("aktualni.wav", "previous");
    studio.soubor("aktualni.txt", "cde");
    platform::volani().pwrite = [](int fd, const void* buf, size_t n, off_t off) -> ssize_t {
        if (off == 0 && platform::tentyzsoubor(fd, "aktualni.wav.part")) ::mkdir("kus.mid", 0755);
        return ::pwrite(fd, buf, n, off);
    };
    Nastaveni n;
    n.cesty.midi = "kus.mid";
    const Vysledek r = vyrob(n);
    platform::obnovvolani();
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.zprava.find("cannot write kus.mid"), std::string::npos) << r.zprava;
    EXPECT_EQ(studio.obsah("aktualni.wav"), "previous");
    EXPECT_FALSE(studio.existuje("aktualni.wav.part") || studio.existuje("kus.mid.part"));
}

// Sheet music: a pickup is measure 0 and the first full bar measure 1;
// without one the first bar is 1. A note its letter cannot spell within a
// double sharp or flat, in no key of the piece, takes the plainest name:
// with sharps when written with sharps, with flats when with flats.
TEST(Edges, SheetMusicNumbersThePickupAndSpellsWhatNoLetterCan) {
    Studio studio;
    const auto noty = [&](const std::string& score) {
        studio.soubor("kus.txt", score);
        const Beh r = test::skladba(studio.cesta(), {"-q", "kus.txt", "--musicxml", "kus.musicxml"});
        EXPECT_EQ(r.status, 0) << r.err;
        return studio.obsah("kus.musicxml");
    };
    std::string x = noty("4 c | d e f | g a h |");
    EXPECT_NE(x.find("<measure number=\"0\" implicit=\"yes\">"), std::string::npos);
    EXPECT_NE(x.find("<measure number=\"1\">"), std::string::npos);
    x = noty("4 c d e | f g a |");
    EXPECT_NE(x.find("<measure number=\"1\">"), std::string::npos);
    EXPECT_EQ(x.find("<measure number=\"0\""), std::string::npos);
    x = noty("4 o1 c d e f g a h o2 c o1 >>>c <<<e");
    EXPECT_NE(x.find("<step>D</step>\n          <alter>1</alter>"), std::string::npos) << "c triple sharp as D sharp";
    EXPECT_NE(x.find("<step>D</step>\n          <alter>-1</alter>"), std::string::npos) << "e triple flat as D flat";
}

}  // namespace
}  // namespace skladba
