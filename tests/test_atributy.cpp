// Note attribute commands: values, dots, octaves, accidentals in both
// encodings, transposition, volume, jitter setting and comments.
#include <gtest/gtest.h>

#include "base/stav.h"
#include "studio.h"

namespace skladba {
namespace {

using test::segmenty;
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
    studio.hraj("16c");
    EXPECT_EQ(stav.momcas, 2756);
    studio.hraj("4.c");   // the separator belongs to the number
    EXPECT_EQ(stav.momcas, 11025);
    studio.hraj("c.d");
    EXPECT_EQ(studio.noty().back().start, 11025 + 5512);
    studio.hraj("c..d");   // each dot adds half of the current value again
    EXPECT_EQ(studio.noty().back().start, 11025 + 5512 + 5512);
    EXPECT_EQ(stav.hodnota, 4);
}

TEST(NoteValue, HugeValuesHaveLengthZero) {
    Studio studio;
    ASSERT_EQ(studio.hraj("99999999999c.d").status, 0);
    EXPECT_EQ(stav.hodnota, 2147483647);
    EXPECT_EQ(stav.momcas, 0);
}

TEST(Octave, ExplicitAndInvalidOctaves) {
    Studio studio;
    studio.hraj("acoxc");   // "ox" is no octave: the rule applies to the "c"
    EXPECT_EQ(segmenty(studio), (std::vector<int>{33, 36, 36}));
    studio.hraj("o5c");     // the "5" goes back to the loop as a note value
    EXPECT_EQ(stav.hodnota, 5);
    EXPECT_EQ(stav.momcas, 8820);
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
    for (const auto& [score, sila] : table) {
        studio.hraj(score);
        EXPECT_EQ(stav.sila, sila) << score;
    }
    studio.hraj("s 80");   // no number: volume 1, then a note value of 80
    EXPECT_EQ(stav.sila, 1);
    EXPECT_EQ(stav.hodnota, 80);
}

TEST(Jitter, SettingTakesEffectWithTheNextStepBackOrAtOnce) {
    Studio studio;
    studio.hraj("S7");
    EXPECT_EQ(stav.synchro, 0);
    studio.hraj("S7c-");
    EXPECT_EQ(stav.synchro, 7);
    studio.hraj("c-S9");
    EXPECT_EQ(stav.synchro, 9);
    studio.hraj("c-S0c-c-");   // off, and "-" leaves it off
    EXPECT_EQ(stav.synchro, 0);
    studio.hraj("c-S0c-S5c-");
    EXPECT_EQ(stav.synchro, 5);
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
