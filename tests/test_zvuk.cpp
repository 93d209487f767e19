// The compressed outputs: chosen by the output's name or --format, decoded
// back by libsndfile to the WAV's samples (FLAC exactly, the lossy formats
// to the same length), with their tags, and refused before a render
// wherever a WAV would be.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>

#include "proces.h"
#include "studio.h"
#include "zvuk.h"

namespace skladba {
namespace {

namespace fs = std::filesystem;
using test::Beh;
using test::Studio;

#ifndef SKLADBA_HAVE_KODEK
#define PRESKOC_BEZ_KODEKU() GTEST_SKIP() << "built without libsndfile and libsoxr: no compressed outputs"
#else
#define PRESKOC_BEZ_KODEKU() (void)0
#endif

// A few seconds of clicks over two voices, with a first comment.
const char* const skladba = "(Ukolébavka  pro\n dva hlasy) t120 4 c e g > c | h g e c - 8 g a h c d e f g";

std::string windows1250(std::string utf8) {
    // The two letters the title uses: é is 0xE9 in Windows-1250.
    const std::string e = "\xC3\xA9";
    for (size_t i; (i = utf8.find(e)) != std::string::npos;) utf8.replace(i, e.size(), "\xE9");
    return utf8;
}

Beh vyrob(const Studio& s, const std::vector<std::string>& argumenty) {
    std::vector<std::string> a = {"kus.txt"};
    a.insert(a.end(), argumenty.begin(), argumenty.end());
    return test::skladba(s.cesta(), a);
}

TEST(Compressed, FlacDecodesToTheWavsSamplesWithItsTags) {
    PRESKOC_BEZ_KODEKU();
    Studio s;
    s.soubor("kus.txt", windows1250(skladba));
    ASSERT_EQ(vyrob(s, {}).status, 0);
    const std::vector<int16_t> wav = test::vzorkywav(s.obsah("kus.wav"));
    ASSERT_GT(wav.size(), 22050u);
    for (const char* jmeno : {"kus.flac", "KUS.FLAC"}) {
        const Beh r = vyrob(s, {"-o", jmeno, "--artist", "Anna Nováková"});
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(s.obsah(jmeno).substr(0, 4), "fLaC");
        const test::Dekodovany d = test::dekoduj(s.cesta() + "/" + jmeno);
        ASSERT_TRUE(d.otevren);
        EXPECT_EQ(d.rate, 22050);
        EXPECT_TRUE(d.vzorky == wav) << jmeno;
        EXPECT_EQ(d.nazev, "Ukolébavka pro dva hlasy");
        EXPECT_EQ(d.autor, "Anna Nováková");
        EXPECT_FALSE(s.existuje(std::string(jmeno) + ".part"));
    }
    // A score saved as UTF-16LE gives the same title; --title overrides it.
    std::string utf16;
    const std::string text = "(Ukol\xE9" "bavka) c d e";
    for (char c : text) utf16 += c, utf16 += '\0';
    s.soubor("kus.txt", utf16);
    ASSERT_EQ(vyrob(s, {"-o", "kus.flac"}).status, 0);
    EXPECT_EQ(test::dekoduj(s.cesta() + "/kus.flac").nazev, "Ukolébavka");
    ASSERT_EQ(vyrob(s, {"-o", "kus.flac", "--title", "Jiný název"}).status, 0);
    EXPECT_EQ(test::dekoduj(s.cesta() + "/kus.flac").nazev, "Jiný název");
    // The title: and composer: directives name it, before any comment;
    // --title and --artist still win.
    s.soubor("kus.txt", "(time: 3/4) (Ukol\xE9" "bavka) (title: Elegie) (composer: Jan Nov\xC3\xA1k) c d e");
    ASSERT_EQ(vyrob(s, {"-o", "kus.flac"}).status, 0);
    test::Dekodovany d = test::dekoduj(s.cesta() + "/kus.flac");
    EXPECT_EQ(d.nazev, "Elegie");
    EXPECT_EQ(d.autor, "Jan Novák");
    ASSERT_EQ(vyrob(s, {"-o", "kus.flac", "--title", "Jiný název", "--artist", "A"}).status, 0);
    d = test::dekoduj(s.cesta() + "/kus.flac");
    EXPECT_EQ(d.nazev, "Jiný název");
    EXPECT_EQ(d.autor, "A");
}

TEST(Compressed, LossyFormatsKeepTheLengthAndTags) {
    PRESKOC_BEZ_KODEKU();
    Studio s;
    s.soubor("kus.txt", windows1250(skladba));
    ASSERT_EQ(vyrob(s, {}).status, 0);
    const size_t delka = test::vzorkywav(s.obsah("kus.wav")).size();
    struct Pripad {
        const char* jmeno;
        const char* zacatek;   // the file's own signature (an MP3 frame's sync)
        int rate;
    };
    for (const Pripad& p : {Pripad{"kus.ogg", "OggS", 22050}, Pripad{"kus.mp3", "\xFF", 22050},
                            Pripad{"kus.opus", "OggS", 48000}}) {
        for (const char* kvalita : {"0", "10"}) {
            const Beh r = vyrob(s, {"-o", p.jmeno, "--quality", kvalita, "--artist", "A"});
            ASSERT_EQ(r.status, 0) << p.jmeno << ": " << r.err;
            EXPECT_EQ(s.obsah(p.jmeno).substr(0, std::strlen(p.zacatek)), p.zacatek) << p.jmeno;
            const test::Dekodovany d = test::dekoduj(s.cesta() + "/" + p.jmeno);
            ASSERT_TRUE(d.otevren) << p.jmeno;
            EXPECT_EQ(d.rate, p.rate);
            // The encoders' own delay and padding: an MP3 frame of 1152
            // samples (libsndfile takes the encoder delay off), an Opus frame
            // of 20 ms at 48 kHz.
            const double cekano = static_cast<double>(delka) * p.rate / 22050;
            EXPECT_NEAR(static_cast<double>(d.vzorky.size()), cekano, p.rate == 48000 ? 960 : 1152) << p.jmeno;
            EXPECT_EQ(d.nazev, "Ukolébavka pro dva hlasy") << p.jmeno;
            EXPECT_EQ(d.autor, "A") << p.jmeno;
        }
    }
}

TEST(Compressed, TagsAreUtf8WithoutControlsWhateverTheirSource) {
    PRESKOC_BEZ_KODEKU();
    Studio s;
    s.soubor("kus.txt", "c d e");
    // An option that is not UTF-8 is refused before anything is written.
    for (const char* volba : {"--title", "--artist"}) {
        const Beh r = vyrob(s, {"-o", "kus.flac", volba, "caf\xE9"});
        EXPECT_EQ(r.status, 2) << volba;
        EXPECT_NE(r.err.find(std::string(volba) + " needs UTF-8"), std::string::npos) << r.err;
    }
    EXPECT_FALSE(s.existuje("kus.flac") || s.existuje("kus.flac.part") || s.existuje("kus.flac.mix"));
    // A score named in Windows-1250 without a comment: the name, converted,
    // in every format. Control characters are dropped, tab kept.
    s.soubor("kol\xE9" "da.txt", "c d e");
    for (const char* pripona : {"flac", "ogg", "mp3", "opus"}) {
        const std::string jmeno = std::string("x.") + pripona;
        Beh r = test::skladba(s.cesta(), {"kol\xE9" "da.txt", "-o", jmeno, "--artist", "a\tb\x1B[31mc\x07\x7F\xC2\x9B" "1m\xC2\xA0"});
        ASSERT_EQ(r.status, 0) << jmeno << ": " << r.err;
        const test::Dekodovany d = test::dekoduj(s.cesta() + "/" + jmeno);
        EXPECT_EQ(d.nazev, "kol\xC3\xA9" "da") << jmeno;
        EXPECT_EQ(d.autor, "a\tb[31mc1m\xC2\xA0") << jmeno;
    }
}

// A piece without a note is an empty WAV, and a file of every other format
// that a decoder opens, never an empty or malformed one.
TEST(Compressed, AnEmptyPieceIsStillAFileOfItsFormat) {
    PRESKOC_BEZ_KODEKU();
    Studio s;
    s.soubor("kus.txt", "( nothing to play )");
    for (const char* pripona : {"flac", "ogg", "mp3", "opus"}) {
        const std::string jmeno = std::string("x.") + pripona;
        ASSERT_EQ(vyrob(s, {"-o", jmeno}).status, 0) << jmeno;
        const test::Dekodovany d = test::dekoduj(s.cesta() + "/" + jmeno);
        EXPECT_TRUE(d.otevren) << jmeno;
        EXPECT_LE(d.vzorky.size(), 960u) << jmeno;
    }
}

TEST(Compressed, TheFormatFollowsTheNameOrFormatAndNeverPassesForAnother) {
    PRESKOC_BEZ_KODEKU();
    Studio s;
    s.soubor("kus.txt", skladba);
    ASSERT_EQ(vyrob(s, {}).status, 0);
    const std::vector<int16_t> wav = test::vzorkywav(s.obsah("kus.wav"));
    // The score alone with --format: its name, that format's extension.
    ASSERT_EQ(vyrob(s, {"--format", "FLAC"}).status, 0);
    EXPECT_TRUE(test::dekoduj(s.cesta() + "/kus.flac").vzorky == wav);
    // Standard output, encoded whole before it is written.
    Beh r = vyrob(s, {"-o", "-", "--format", "flac"});
    ASSERT_EQ(r.status, 0) << r.err;
    test::zapis(s.cesta() + "/ven.flac", r.out);
    EXPECT_TRUE(test::dekoduj(s.cesta() + "/ven.flac").vzorky == wav);
    // --format wins over the extension; an .mp3 is never a WAV by accident.
    ASSERT_EQ(vyrob(s, {"-o", "x.mp3", "--format", "wav"}).status, 0);
    EXPECT_EQ(s.obsah("x.mp3").substr(0, 4), "RIFF");
    ASSERT_EQ(vyrob(s, {"-o", "y.mp3"}).status, 0);
    EXPECT_NE(s.obsah("y.mp3").substr(0, 4), "RIFF");
    // Any other name is the WAV it always was.
    ASSERT_EQ(vyrob(s, {"-o", "kus.raw"}).status, 0);
    EXPECT_EQ(s.obsah("kus.raw"), s.obsah("kus.wav"));
}

TEST(Compressed, RefusedBeforeRenderingAsTheWavIsAndThePreviousFileKept) {
    Studio s;
    s.soubor("kus.txt", skladba);
    const struct {
        std::vector<std::string> argumenty;
        int status;
        const char* zprava;
    } odmitnute[] = {
        {{"-o", "kus.aiff"}, 2, "not .aiff"},
        {{"-o", "kus.m4a"}, 2, "not .m4a"},
        {{"--format", "aac"}, 2, "--format takes wav, flac, ogg, mp3 or opus"},
        {{"-o", "kus.ogg", "--quality", "11"}, 2, "--quality needs a whole number from 0"},
        {{"-o", "kus.flac", "--quality", "5"}, 2, "FLAC is lossless"},
        {{"-o", "kus.wav", "--title", "x"}, 2, "carries no tags"},
        {{"-o", "chybi/kus.flac"}, 1, "there is no folder chybi"},
        {{"-o", "odkaz.flac"}, 1, "symbolic link"},
    };
    fs::create_symlink("cil.flac", s.cesta() + "/odkaz.flac");
    for (const auto& o : odmitnute) {
        const Beh r = vyrob(s, o.argumenty);
        EXPECT_EQ(r.status, o.status) << o.argumenty[1];
        EXPECT_NE(r.err.find(o.zprava), std::string::npos) << r.err;
    }
    EXPECT_FALSE(s.existuje("cil.flac"));
    EXPECT_FALSE(s.existuje("kus.aiff"));
    EXPECT_FALSE(s.existuje("kus.flac"));
    PRESKOC_BEZ_KODEKU();
    // A score that fails keeps the previous file and leaves no .part.
    ASSERT_EQ(vyrob(s, {"-o", "kus.opus", "--midi", "kus.mid"}).status, 0);
    EXPECT_TRUE(s.existuje("kus.mid"));
    const std::string predtim = s.obsah("kus.opus");
    s.soubor("kus.txt", "c d R5 e");
    const Beh r = vyrob(s, {"-o", "kus.opus"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(s.obsah("kus.opus"), predtim);
    EXPECT_FALSE(s.existuje("kus.opus.part"));
}

}  // namespace
}  // namespace skladba
