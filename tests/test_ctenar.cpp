// The score reader: zero bytes, putting back, the end marker and numbers.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>

#include "base/stav.h"
#include "score/ctenar.h"
#include "studio.h"

namespace skladba {
namespace {

class Ctenar : public ::testing::Test {
protected:
    void cti(const std::string& bytes) {
        studio.soubor("score", bytes);
        p = std::make_unique<Partitura>();
        ASSERT_TRUE(p->otevri("score", "score"));
    }
    char dejznak() { return skladba::dejznak(*p); }
    void vratznak() { skladba::vratznak(*p); }
    double dejcislo() { return skladba::dejcislo(*p); }

    // Reads a number and returns it with the character that comes next.
    std::pair<double, char> cislo(const std::string& bytes) {
        cti(bytes);
        double v = dejcislo();
        return {v, dejznak()};
    }

    test::Studio studio;
    std::unique_ptr<Partitura> p;
};

TEST_F(Ctenar, SkipsZeroBytesSoUtf16ReadsLikeText) {
    cti(std::string("\xFF\xFE" "c\0d\0", 6));
    EXPECT_EQ(dejznak(), '\xFF');   // the byte-order mark comes out as two plain bytes
    EXPECT_EQ(dejznak(), '\xFE');
    EXPECT_EQ(dejznak(), 'c');
    EXPECT_EQ(dejznak(), 'd');
    EXPECT_EQ(dejznak(), konecsouboru);
    EXPECT_TRUE(p->konec());
    EXPECT_EQ(dejznak(), konecsouboru);   // and stays at the end
}

TEST_F(Ctenar, PutBackStopsAtTheStartAndNeverPutsBackTheEndMarker) {
    cti("a\xFF" "b");
    vratznak();   // position 0: nothing to put back
    EXPECT_EQ(dejznak(), 'a');
    EXPECT_EQ(dejznak(), konecsouboru);   // a 0xFF byte inside the score
    vratznak();   // the end marker is never put back, even in mid-file
    EXPECT_EQ(dejznak(), 'b');
    EXPECT_EQ(dejznak(), konecsouboru);
    vratznak();   // nor at the end
    EXPECT_EQ(dejznak(), konecsouboru);
    cti("ab");
    EXPECT_EQ(dejznak(), 'a');
    EXPECT_EQ(dejznak(), 'b');
    vratznak();   // the seek clears the end-of-file indicator
    EXPECT_EQ(dejznak(), 'b');
    EXPECT_EQ(dejznak(), konecsouboru);
    EXPECT_TRUE(p->konec());
}

TEST_F(Ctenar, PutBackAcrossTheBufferBoundary) {
    std::string big(70000, ' ');
    big[65535] = 'x';
    big[65536] = 'y';
    cti(big);
    char znak = 0;
    for (int i = 0; i < 65536; ++i) znak = dejznak();
    EXPECT_EQ(znak, 'x');
    EXPECT_EQ(dejznak(), 'y');
    vratznak();
    vratznak();
    EXPECT_EQ(dejznak(), 'x');
}

TEST_F(Ctenar, NumbersFollowTheSeparatorAndSignRules) {
    EXPECT_EQ(cislo("-12,5x"), std::make_pair(-12.5, 'x'));
    EXPECT_EQ(cislo("007c"), std::make_pair(7.0, 'c'));
    EXPECT_EQ(cislo(".5c"), std::make_pair(0.5, 'c'));
    EXPECT_EQ(cislo("5.c"), std::make_pair(5.0, 'c'));   // the separator is consumed
    EXPECT_DOUBLE_EQ(cislo("1.2.3").first, 12.3);        // a second separator starts over
    EXPECT_EQ(cislo(" 80").second, ' ');                 // no digits: 0, the space put back
    EXPECT_EQ(cislo(" 80").first, 0.0);
    EXPECT_EQ(cislo("5-3"), std::make_pair(5.0, '-'));   // a minus only counts first
}

TEST_F(Ctenar, MinusWithoutDigitsIsNegativeZero) {
    auto [v, next] = cislo("-x");
    EXPECT_EQ(v, 0.0);
    EXPECT_TRUE(std::signbit(v));
    EXPECT_EQ(next, 'x');
}

TEST_F(Ctenar, NumberAtTheEndOfTheScorePutsNothingBack) {
    cti("42");
    EXPECT_EQ(dejcislo(), 42.0);
    EXPECT_TRUE(p->konec());
    EXPECT_EQ(dejznak(), konecsouboru);
}

TEST_F(Ctenar, UtfSixteenNumbers) {
    EXPECT_EQ(cislo(std::string("-\0" "1\0" "2\0" ",\0" "5\0" "x\0", 12)), std::make_pair(-12.5, 'x'));
}

TEST_F(Ctenar, LongFractionsKeepTheirValue) {
    EXPECT_DOUBLE_EQ(cislo("0.1234567890123").first, 0.1234567890123);
    EXPECT_DOUBLE_EQ(cislo("2." + std::string(400, '5')).first, 2.5555555555555555);
    EXPECT_EQ(cislo("." + std::string(400, '0') + "1").first, 0.0);
    EXPECT_TRUE(std::isinf(cislo(std::string(400, '9')).first));
    EXPECT_TRUE(std::isinf(cislo(std::string(400, '9') + "." + std::string(400, '9')).first));
    // A large whole part followed by a long fraction stays near its value.
    const auto [v, next] = cislo("1" + std::string(300, '0') + "." + std::string(300, '0') + "c");
    EXPECT_NEAR(v / 1e300, 1.0, 1e-12);
    EXPECT_EQ(next, 'c');
}

TEST(NaCele, TruncatesAndSaturates) {
    EXPECT_EQ(nacele(2.9), 2);
    EXPECT_EQ(nacele(-2.9), -2);
    EXPECT_EQ(nacele(99999999999.0), 2147483647);
    EXPECT_EQ(nacele(-99999999999.0), -2147483647 - 1);
    EXPECT_EQ(nacele(INFINITY), 2147483647);
    EXPECT_EQ(nacele(NAN), 0);
}

TEST_F(Ctenar, LinesAndColumnsCountNonZeroBytes) {
    cti(std::string("ab\ncd\0e", 7));
    int64_t line = 0, column = 0;
    p->umisteni(6, line, column);   // the "e"
    EXPECT_EQ(line, 2);
    EXPECT_EQ(column, 3);
    p->umisteni(0, line, column);
    EXPECT_EQ(line, 1);
    EXPECT_EQ(column, 1);
}

}  // namespace
}  // namespace skladba
