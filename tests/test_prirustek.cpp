// Renders made from the last one, as the editor makes them while the
// composer types: after every keystroke the result is the whole render's,
// byte for byte.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "output/prirustek.h"
#include "output/vyroba.h"
#include "proces.h"
#include "studio.h"
#include "synth/smycka.h"

namespace skladba {
namespace {

using test::Studio;

// Keystrokes of every kind: letters, rests and dots, values, octaves,
// accidentals, step backs, tempos and a curve, registers, volumes, the
// start jitter, bar lines.
const std::vector<std::string> klavesy = {
    "c", "d", "e", "f", "g", "a", "h", "c", "e", "g", "p", ".", "4", "8", "2", "1", "16", "o1", "o2", "o3",
    "o+", ">", "<", "-4", "-2", "-1", "t100", "t60", "r40", "R2", "R3", "R4", "s60", "s100", "S2", "T1", "|", " "};

const char* const zaklad_ =
    "R2 t120 4 o2 c d e f | g a h c | -1 o1 c e g c | R3 c. 8 d e 4 f | -1 s80 o3 c p g e | R4 o1 2 c g |";

class Prirustky : public ::testing::Test {
protected:
    void SetUp() override {
        // Tones that sound their whole four seconds, each pitch its own and
        // each register its own colour; register 4 holds only the lower 40
        // segments, so that the upper ones keep the register before it.
        studio.soubor("rejstriky/rejstr2.nes", test::registr(pocetsegmentu, [](int k, int i) -> int16_t {
            return k == 0 ? 0 : static_cast<int16_t>(((i * (k + 3)) % 400) - 200);
        }));
        studio.soubor("rejstriky/rejstr3.nes", test::registr(pocetsegmentu, [](int k, int i) -> int16_t {
            return k == 0 ? 0 : static_cast<int16_t>((i / (k + 5)) % 2 ? 900 : -700);
        }));
        const std::string rejstr4 = test::registr(40, [](int k, int i) -> int16_t {
            return k == 0 ? 0 : static_cast<int16_t>(((i * (k + 7)) % 1000) - 500);
        });
        studio.soubor("rejstriky/rejstr4.nes", rejstr4);
        // Loops for register 2, so that a long note with a release repeats one.
        Smycky s;
        s.rejstrik = "rejstr2.nes";
        const std::string r2 = studio.obsah("rejstriky/rejstr2.nes");
        s.velikost = static_cast<int64_t>(r2.size());
        s.soucet = kontrolnisoucet(r2.data(), r2.size());
        for (int k = 1; k < pocetsegmentu; ++k) s.smycka[k] = {20000, 60000, 1000};
        studio.soubor("rejstriky/rejstr2.smycky", zapissmycky(s));
        hlavicka = nactihlavicku(std::string("rejstriky/") + sablonahlavicky);
    }

    // The whole render, as the command line makes it (in process: the same
    // run sequence writing the same file).
    Vysledek cely(const std::string& score, int dozvukms, std::string& wav) {
        studio.soubor("aktualni.txt", score);
        Nastaveni n;
        n.dozvukms = dozvukms;
        Vysledek r = vyrob(n);
        wav = r.status == 0 ? studio.obsah("aktualni.wav") : "";
        return r;
    }

    // Types kroku random keystrokes into the score, each render made from
    // the last and compared with the whole render; every tenth also with
    // the command line's own bytes.
    void pis(int dozvukms, unsigned seed, int kroku) {
        std::mt19937 nahoda(seed);
        auto cislo = [&](size_t n) { return n == 0 ? size_t{0} : static_cast<size_t>(nahoda() % n); };
        // The score as the words typed, so that a deletion takes a whole word.
        std::vector<std::string> slova;
        for (size_t i = 0, j; i < std::strlen(zaklad_); i = j + 1) {
            j = std::string(zaklad_).find(' ', i);
            if (j == std::string::npos) j = std::strlen(zaklad_);
            slova.push_back(std::string(zaklad_).substr(i, j - i));
        }
        Prirustek prirustek(uint64_t{256} << 20);
        int castecnych = 0;
        for (int krok = 0; krok < kroku; ++krok) {
            const unsigned druh = nahoda() % 10;
            if (druh < 3 && slova.size() > 8) {
                slova.erase(slova.begin() + static_cast<long>(cislo(slova.size())));
            } else if (druh < 6) {
                // A letter changed in place: the commonest edit.
                std::string& s = slova[cislo(slova.size())];
                if (s.size() == 1 && std::strchr("cdefgahp", s[0])) s = std::string(1, "cdefgahp"[cislo(8)]);
            } else if (slova.size() < 80) {
                slova.insert(slova.begin() + static_cast<long>(cislo(slova.size() + 1)), klavesy[cislo(klavesy.size())]);
            }
            std::string score;
            for (const std::string& s : slova) score += s + " ";
            SCOPED_TRACE("keystroke " + std::to_string(krok) + ", score: " + score);
            std::string wav;
            const Vysledek r = cely(score, dozvukms, wav);
            Nastaveni n;
            n.text = &score;
            n.dozvukms = dozvukms;
            const Prirustek::Zmena z = prirustek.vykresli(n);
            ASSERT_EQ(z.vysledek.status, r.status) << z.vysledek.zprava << " / " << r.zprava;
            if (r.status != 0) {
                EXPECT_EQ(z.vysledek.zprava, r.zprava);
                continue;
            }
            ASSERT_TRUE(z.drzi);
            EXPECT_EQ(z.vysledek.mix.maximum, r.mix.maximum);
            ASSERT_TRUE(prirustek.wav(hlavicka) == wav) << "the render made from the last differs";
            if (!z.cely) ++castecnych;
            if (krok % 10 == 0) {
                std::vector<std::string> args;
                if (dozvukms > 0) args = {"--release", std::to_string(dozvukms)};
                const test::Beh b = test::skladba(studio.cesta(), args);
                ASSERT_EQ(b.status, 0) << b.err;
                ASSERT_TRUE(test::precti(studio.cesta() + "/aktualni.wav") == wav);
            }
        }
        // Most keystrokes leave time where it was and mix only a stretch.
        EXPECT_GT(castecnych, kroku / 3);
    }

    Studio studio;
    Hlavicka hlavicka;
};

TEST_F(Prirustky, EveryKeystrokeEqualsTheWholeRender) { pis(0, 1, 200); }

TEST_F(Prirustky, EveryKeystrokeWithAReleaseAndLoopsEqualsTheWholeRender) { pis(150, 2, 150); }

// The segments a render read are kept for the next render only while their
// register file stays the same: one rewritten between two keystrokes (even
// at the same size) is read again.
TEST_F(Prirustky, ARegisterRewrittenBetweenKeystrokesIsReadAgain) {
    Prirustek prirustek(uint64_t{256} << 20);
    auto porovnej = [&](const std::string& score) {
        std::string wav;
        ASSERT_EQ(cely(score, 0, wav).status, 0);
        Nastaveni n;
        n.text = &score;
        ASSERT_EQ(prirustek.vykresli(n).vysledek.status, 0);
        ASSERT_TRUE(prirustek.wav(hlavicka) == wav) << score;
    };
    porovnej("R2 o2 4 c d R3 e f R2 g a");
    porovnej("R2 o2 4 c d R3 e g R2 g a");
    int16_t (*const jine[])(int, int) = {
        [](int s, int i) -> int16_t { return static_cast<int16_t>(((i * (s + 11)) % 300) - 150); },
        [](int s, int i) -> int16_t { return static_cast<int16_t>(((i * (s + 12)) % 300) - 150); },
        [](int s, int i) -> int16_t { return static_cast<int16_t>((i / (s + 2)) % 2 ? 400 : -400); },
    };
    for (auto* vzorky : jine) {
        studio.soubor("rejstriky/rejstr3.nes", test::registr(pocetsegmentu, vzorky));
        porovnej("R2 o2 4 c d R3 e g R2 g a");
        porovnej("R2 o2 4 c e R3 e g R2 g a");
    }
}

}  // namespace
}  // namespace skladba
