// Note attribute commands: values, dots, octaves, accidentals in both
// encodings, transposition, volume, jitter setting and comments.
#include <gtest/gtest.h>

#include "studio.h"

namespace skladba {
namespace {

using test::segmenty;
using test::starty;
using test::Studio;

std::string utf16(const std::string& ascii) {
    std::string out;
    for (char c : ascii) {
        out += c;
        out += '\0';
    }
    return out;
}

TEST(NoteValue, DigitsDotsAndTheirLengths) {
    Studio studio;
    EXPECT_EQ(studio.kurzor("16c"), 2756);
    EXPECT_EQ(studio.kurzor("4.c"), 11025);   // the separator belongs to the number
    EXPECT_EQ(studio.kurzor("c."), 11025 + 5512);
    // Each dot adds half of the current value again, and the value stays.
    EXPECT_EQ(studio.kurzor("c..c"), 11025 + 5512 + 5512 + 11025);
    // A value too large to be anything else has length 0, dotted or not.
    EXPECT_EQ(studio.kurzor("99999999999p."), 0);
}

TEST(Octave, ExplicitAndInvalidOctaves) {
    Studio studio;
    studio.hraj("acoxc");   // "ox" is no octave: the rule applies to the "c"
    EXPECT_EQ(segmenty(studio), (std::vector<int>{33, 36, 36}));
    EXPECT_EQ(studio.kurzor("o5p"), 8820);   // the "5" goes back to the loop as a note value
    studio.hraj("o2oxc");   // the invalid "ox" clears the flag set by "o2"
    EXPECT_EQ(segmenty(studio), (std::vector<int>{36}));
    studio.hraj("omc" "o3c");
    EXPECT_EQ(segmenty(studio), (std::vector<int>{12, 48}));
}

TEST(Accidentals, AllSpellingsOfSharpAndFlat) {
    Studio studio;
    for (const std::string& sharp : {std::string(">c"), std::string("\xE8" "c"),
                                      std::string("\x0D\x01" "c\0", 4)}) {
        studio.hraj(sharp);
        EXPECT_EQ(segmenty(studio), std::vector<int>{25});
    }
    for (const std::string& flat : {std::string("<c"), std::string("\xEC" "c"),
                                     std::string("\x1B\x01" "c\0", 4)}) {
        studio.hraj(flat);
        EXPECT_EQ(segmenty(studio), std::vector<int>{23});
    }
    studio.hraj(">>c<d");   // accumulate, and last for one note only
    EXPECT_EQ(segmenty(studio), (std::vector<int>{26, 25}));
}

TEST(Accidentals, LineBreaksAndOtherSecondBytesFallThrough) {
    Studio studio;
    studio.hraj("c\r\nd\r\n");
    const auto text = studio.obsah("aktualni.wav");
    EXPECT_EQ(segmenty(studio), (std::vector<int>{24, 26}));
    studio.hraj(utf16("c\r\nd\r\n"));
    EXPECT_EQ(studio.obsah("aktualni.wav"), text);
    studio.hraj("\x0D" "c");   // the byte after a carriage return is put back
    EXPECT_EQ(segmenty(studio), std::vector<int>{24});
    EXPECT_EQ(studio.hraj("c\x0D").status, 0);         // ends the score
    EXPECT_EQ(studio.hraj("c\x0D\xFF" "d").status, 0);  // a raw 0xFF is consumed, not put back
    EXPECT_EQ(segmenty(studio), (std::vector<int>{24, 26}));
}

TEST(Encodings, Utf16ScoreRendersExactlyLikeWindows1250) {
    // "ěc čd" with octave, value, volume and a second voice.
    const std::string cp1250 = "o2 8 s80 \xEC" "c \xE8" "d e- f g (komentář) a";
    std::string wide;
    for (unsigned char c : cp1250) {
        if (c == 0xEC) wide += std::string("\x1B\x01", 2);
        else if (c == 0xE8) wide += std::string("\x0D\x01", 2);
        else if (c == 0xC3 || c == 0x99 || c == 0xA1) wide += std::string(1, static_cast<char>(c)) + '\x01';
        else wide += std::string(1, static_cast<char>(c)) + '\0';
    }
    Studio studio;
    ASSERT_EQ(studio.hraj(cp1250).status, 0);
    const std::string expected = studio.obsah("aktualni.wav");
    ASSERT_EQ(studio.hraj(wide).status, 0);
    EXPECT_EQ(studio.obsah("aktualni.wav"), expected);
    ASSERT_EQ(studio.hraj("\xFF\xFE" + wide).status, 0);
    EXPECT_EQ(studio.obsah("aktualni.wav"), expected);
}

TEST(Encodings, OtherCzechLettersReadAsTheirBytes) {
    Studio studio;
    studio.hraj(std::string("\x61\x01", 2));   // U+0161 plays an "a"
    EXPECT_EQ(segmenty(studio), std::vector<int>{33});
}

TEST(Transpose, ShiftsEveryFollowingNote) {
    Studio studio;
    studio.hraj("T-2cdT2c");
    EXPECT_EQ(segmenty(studio), (std::vector<int>{22, 24, 26}));
}

TEST(Volume, LogarithmicScale) {
    Studio studio;
    const std::pair<const char*, int> table[] = {
        {"s0", 1},  {"s1", 1},   {"s10", 1},   {"s25", 3},  {"s50", 10},
        {"s75", 31}, {"s99", 95}, {"s100", 100}, {"s150", 100}, {"s-5", 1},
        {"s99999999999", 100}};
    for (const auto& [setting, sila] : table) {
        EXPECT_EQ(studio.hlasitost(setting), sila) << setting;
    }
    // No number: volume 1, then a note value of 80.
    EXPECT_EQ(studio.hlasitost("s 80"), 1);
    EXPECT_EQ(studio.kurzor("s 80 c"), 44100 / 80);
}

// "S" while the jitter is off waits for the next "-"; while it is on, it
// acts at once. The first draw is 41: setting S gives 41 % (88200 / S) - 44100 / S.
TEST(Jitter, SettingTakesEffectWithTheNextStepBackOrAtOnce) {
    Studio studio;
    studio.hraj("S7 cc-c");
    EXPECT_EQ(starty(studio), (std::vector<int64_t>{0, 11025 + 41 - 6300, 11025}));
    studio.hraj("cc-S9c");
    EXPECT_EQ(starty(studio), (std::vector<int64_t>{0, 11025 + 41 - 4900, 11025}));
    // S0 switches it off at once, a "-" leaves it off, and a later S5 waits for the next "-".
    studio.hraj("R0 cc-S0 p c- p c");
    EXPECT_EQ(starty(studio), (std::vector<int64_t>{0, 11025, 22050, 33075}));
    studio.hraj("R0 cc-S0 p S5 c-c");
    EXPECT_EQ(starty(studio), (std::vector<int64_t>{0, 11025, 22050 + 41 - 8820, 22050}));
}

TEST(Comments, NestAndSkipEverything) {
    Studio studio;
    studio.hraj("(a (b) c)d");
    EXPECT_EQ(segmenty(studio), std::vector<int>{26});
    studio.hraj("(never closed c d e");
    EXPECT_TRUE(segmenty(studio).empty());
    // A 0xFF inside a comment ends it with the depth left at 1, so the next
    // comment needs one more ")".
    studio.hraj("(x\xFF" "c(y)d)e");
    EXPECT_EQ(segmenty(studio), (std::vector<int>{24, 28}));
}

}  // namespace
}  // namespace skladba
