// Voices left out of the mix (the editor's mute and solo): the notes are
// placed as ever and add nothing, and with the full score's peak the voices
// left sounding keep the samples they have in the full render.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "output/vyroba.h"
#include "studio.h"
#include "wavdata.h"

namespace skladba {
namespace {

using test::Studio;

// Two voices on a register that sounds its whole four seconds: the upper
// one from the start, the lower stepped back to its third second, so that
// it is silent for the first two.
const char* const dvahlasy = "R2 t120 S0 4 o2 c d e f g a h c -4 o1 c e g c";
constexpr int64_t nizsizacina = 2 * zaklad;

struct Vystup {
    Vysledek r;
    std::vector<int16_t> vzorky;
};

class Ztlumeni : public ::testing::Test {
protected:
    void SetUp() override {
        // A tone that never falls silent within its segment, each pitch its own.
        studio.soubor("rejstriky/rejstr2.nes", test::registr(pocetsegmentu, [](int k, int i) -> int16_t {
            return k == 0 ? 0 : static_cast<int16_t>(((i * (k + 3)) % 400) - 200);
        }));
    }

    Vystup hraj(const std::string& score, const std::vector<bool>& vynechat = {}, double maximum = 0) {
        studio.soubor("kus.txt", score);
        Nastaveni n;
        n.cesty.partitura = n.cesty.jmenopartitury = "kus.txt";
        n.hudba = true;
        n.vynechat = vynechat;
        n.pevnemaximum = maximum;
        Vystup v;
        n.cesty.vystup = "kus.wav";
        v.r = vyrob(n);
        v.vzorky = test::vzorkywav(studio.obsah("kus.wav"));
        return v;
    }

    // The notes of one voice of the full render (or all but its), by their
    // index in the music.
    static std::vector<bool> hlas(const Vysledek& r, int32_t h, bool jen = true) {
        std::vector<bool> p;
        for (const Udalost& e : r.hudba.udalosti) p.push_back(e.pismeno && (e.hlas == h) == jen);
        return p;
    }

    Studio studio;
};

TEST_F(Ztlumeni, AMutedVoiceIsSilentAndTheOthersKeepTheirSamples) {
    const Vystup plna = hraj(dvahlasy);
    ASSERT_EQ(plna.r.status, 0) << plna.r.zprava;
    ASSERT_EQ(plna.r.hudba.hlasu, 2);
    const int32_t nizsi = plna.r.hudba.udalosti.back().hlas;
    const Vystup bez = hraj(dvahlasy, hlas(plna.r, nizsi), plna.r.mix.maximum);
    ASSERT_EQ(bez.r.status, 0) << bez.r.zprava;
    // The piece keeps its length; every note is still placed and reported.
    ASSERT_EQ(bez.vzorky.size(), plna.vzorky.size());
    EXPECT_EQ(bez.r.noty, plna.r.noty);
    // Where the lower voice is silent, the samples are the full render's.
    ASSERT_GT(plna.vzorky.size(), static_cast<size_t>(nizsizacina));
    EXPECT_TRUE(std::equal(plna.vzorky.begin(), plna.vzorky.begin() + nizsizacina, bez.vzorky.begin()));
    EXPECT_NE(bez.vzorky, plna.vzorky);
    // What is left is the upper voice alone, at the full score's level.
    const Vystup horni = hraj("R2 t120 S0 4 o2 c d e f g a h c", {}, plna.r.mix.maximum);
    ASSERT_LE(horni.vzorky.size(), bez.vzorky.size());
    EXPECT_TRUE(std::equal(horni.vzorky.begin(), horni.vzorky.end(), bez.vzorky.begin()));
    EXPECT_TRUE(std::all_of(bez.vzorky.begin() + static_cast<long>(horni.vzorky.size()), bez.vzorky.end(),
                            [](int16_t s) { return s == 0; }));

    // The solo of the lower voice is the rest: the two add up to the full
    // render, to the rounding of each sample.
    const Vystup solo = hraj(dvahlasy, hlas(plna.r, nizsi, false), plna.r.mix.maximum);
    ASSERT_EQ(solo.vzorky.size(), plna.vzorky.size());
    int nejvic = 0;
    for (size_t i = 0; i < plna.vzorky.size(); ++i) {
        nejvic = std::max(nejvic, std::abs(solo.vzorky[i] + bez.vzorky[i] - plna.vzorky[i]));
    }
    EXPECT_LE(nejvic, 1);
}

// With a release the notes are mixed when their length is known; a muted
// one adds nothing there either.
TEST_F(Ztlumeni, AMutedVoiceIsSilentWithARelease) {
    studio.soubor("kus.txt", dvahlasy);
    Nastaveni n;
    n.cesty.partitura = n.cesty.jmenopartitury = "kus.txt";
    n.cesty.vystup = "kus.wav";
    n.hudba = true;
    n.dozvukms = 50;
    const Vysledek plna = vyrob(n);
    ASSERT_EQ(plna.status, 0) << plna.zprava;
    n.vynechat = hlas(plna, 0, false);
    n.vynechat[0] = true;   // the first note of the upper voice too
    const Vysledek ticho = vyrob(n);
    ASSERT_EQ(ticho.status, 0) << ticho.zprava;
    const std::vector<int16_t> v = test::vzorkywav(studio.obsah("kus.wav"));
    // Only the upper voice from its second note on: nothing before it.
    ASSERT_GT(v.size(), static_cast<size_t>(zaklad / 2));
    EXPECT_TRUE(std::all_of(v.begin(), v.begin() + zaklad / 2, [](int16_t s) { return s == 0; }));
    EXPECT_TRUE(std::any_of(v.begin() + zaklad / 2, v.end(), [](int16_t s) { return s != 0; }));
}

}  // namespace
}  // namespace skladba
