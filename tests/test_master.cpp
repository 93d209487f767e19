// --master through the program, with the registers of this build: 48 kHz
// stereo in 24 bits, the loudness and true peak an independent meter
// (ffmpeg's ebur128) reads, voices apart in the stereo field, the room's
// tail, and the same bytes every run.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <unistd.h>
#include <filesystem>
#include <string>
#include <vector>

#include "proces.h"

namespace skladba {
namespace {

namespace fs = std::filesystem;

// A scratch folder with the build's registers.
struct Slozka {
    std::string cesta;
    Slozka() {
        cesta = (fs::temp_directory_path() / ("skladba-master-" + std::to_string(::getpid()) + "-" +
                                              std::to_string(reinterpret_cast<uintptr_t>(this))))
                    .string();
        fs::create_directories(cesta);
    }
    ~Slozka() { fs::remove_all(cesta); }
    test::Beh skladba(std::vector<std::string> argumenty) const {
        argumenty.insert(argumenty.end(), {"--registers", SKLADBA_REGISTERS, "-q"});
        return test::skladba(cesta, argumenty);
    }
};

// A WAV of --master read back: its format and its frames as -1 to 1.
struct Stereo {
    int rate = 0, kanalu = 0, bitu = 0;
    std::vector<double> l, p;
};

Stereo precti(const std::string& bajty) {
    Stereo s;
    auto cislo = [&](size_t od, int n) {
        uint32_t v = 0;
        for (int i = n; i-- > 0;) v = v << 8 | static_cast<unsigned char>(bajty.at(od + i));
        return v;
    };
    if (bajty.size() < 44 || bajty.compare(0, 4, "RIFF") != 0) return s;
    s.kanalu = static_cast<int>(cislo(22, 2));
    s.rate = static_cast<int>(cislo(24, 4));
    s.bitu = static_cast<int>(cislo(34, 2));
    const size_t data = cislo(40, 4);
    for (size_t i = 44; i + 6 <= 44 + data && i + 6 <= bajty.size(); i += 6) {
        auto vzorek = [&](size_t od) { return static_cast<int32_t>(cislo(od, 3) << 8) / 256 / 8388608.0; };
        s.l.push_back(vzorek(i));
        s.p.push_back(vzorek(i + 3));
    }
    return s;
}

double db(double rms) { return 20 * std::log10(std::max(rms, 1e-12)); }

// The RMS level of both channels from second od to second po, dBFS.
double uroven(const Stereo& s, double od, double po) {
    double e = 0;
    size_t n = 0;
    for (size_t i = static_cast<size_t>(od * s.rate); i < s.l.size() && i < static_cast<size_t>(po * s.rate); ++i, ++n) {
        e += s.l[i] * s.l[i] + s.p[i] * s.p[i];
    }
    return n ? db(std::sqrt(e / (2.0 * n))) : -240;
}

// ffmpeg's EBU R128 meter: integrated loudness and true peak, or false
// where ffmpeg is missing.
bool zmer(const std::string& wav, double& lufs, double& tp) {
    const test::Beh r = test::spust({".", {"-hide_banner", "-nostats", "-i", wav, "-af", "ebur128=peak=true", "-f", "null", "-"},
                                     "", {}, 0, 0, "/usr/bin/ffmpeg"});
    // The summary at the end: "I:  -14.0 LUFS" ... "Peak:  -1.5 dBFS".
    const size_t i = r.err.rfind("I:");
    const size_t p = r.err.rfind("Peak:");
    if (i == std::string::npos || p == std::string::npos) return false;
    lufs = std::strtod(r.err.c_str() + i + 2, nullptr);
    tp = std::strtod(r.err.c_str() + p + 5, nullptr);
    return true;
}

// Every example: 48 kHz stereo in 24 bits at -14 LUFS, true peak at most
// -1 dBTP, as ffmpeg measures them; and the same bytes on a second run,
// written to standard output, also with the mixes in their files.
TEST(Master, ExamplesAreLoudAsSharedMusicAndNeverOverTheCeiling) {
    if (!fs::exists("/usr/bin/ffmpeg")) GTEST_SKIP() << "ffmpeg is not installed";
    Slozka s;
    for (const auto& e : fs::directory_iterator(SKLADBA_EXAMPLES)) {
        const std::string jmeno = e.path().stem().string();
        SCOPED_TRACE(jmeno);
        const std::string wav = s.cesta + "/" + jmeno + ".wav";
        const test::Beh r = s.skladba({e.path().string(), "--master", "-o", wav});
        ASSERT_EQ(r.status, 0) << r.err;
        const std::string bajty = test::precti(wav);
        const Stereo st = precti(bajty);
        EXPECT_EQ(st.rate, 48000);
        EXPECT_EQ(st.kanalu, 2);
        EXPECT_EQ(st.bitu, 24);
        double lufs = 0, tp = 0;
        ASSERT_TRUE(zmer(wav, lufs, tp));
        EXPECT_NEAR(lufs, -14.0, 0.5);
        EXPECT_LE(tp, -1.0);
        if (jmeno == "kanon") {
            const test::Beh znovu = s.skladba({e.path().string(), "--master", "-o", "-"});
            ASSERT_EQ(znovu.status, 0) << znovu.err;
            EXPECT_TRUE(znovu.out == bajty) << "a second run gave other bytes";
            // The mixes read back from their files master the same.
            const test::Beh zesouboru = s.skladba({e.path().string(), "--master", "--mix-memory", "0", "-o", "-"});
            ASSERT_EQ(zesouboru.status, 0) << zesouboru.err;
            EXPECT_TRUE(zesouboru.out == bajty) << "the mix files gave other bytes";
            // Nor does an environment that asks the resampler for another engine.
            test::Prikaz jinak;
            jinak.slozka = s.cesta;
            jinak.argumenty = {e.path().string(), "--master", "-o", "-", "--registers", SKLADBA_REGISTERS, "-q"};
            jinak.prostredi = {{"SOXR_USE_SIMD", "0"}, {"SOXR_USE_SIMD32", "0"}};
            const test::Beh bezsimd = test::spust(jinak);
            ASSERT_EQ(bezsimd.status, 0) << bezsimd.err;
            EXPECT_TRUE(bezsimd.out == bajty) << "the resampler's environment changed the bytes";
            // Another target.
            ASSERT_EQ(s.skladba({e.path().string(), "--master", "--loudness", "-20", "-o", wav}).status, 0);
            ASSERT_TRUE(zmer(wav, lufs, tp));
            EXPECT_NEAR(lufs, -20.0, 0.5);
        }
    }
}

// Loud high attacks at the very start and the very end, where the limiter
// works and the loudness is measured again through it, with a room and
// without one: the independent meter still reads the target.
TEST(Master, TheLimitersWorkAtTheEdgesKeepsTheLoudness) {
    if (!fs::exists("/usr/bin/ffmpeg")) GTEST_SKIP() << "ffmpeg is not installed";
    Slozka s;
    test::zapis(s.cesta + "/okraje.txt", "t120 R5 8 o3 c e g c o1 c c e e g g c c e e g g o3 c e g c");
    for (const char* prostor : {"0", "30"}) {
        SCOPED_TRACE(prostor);
        const std::string wav = s.cesta + "/o.wav";
        const test::Beh r = s.skladba({"okraje.txt", "--master", "--room", prostor, "-o", wav});
        ASSERT_EQ(r.status, 0) << r.err;
        double lufs = 0, tp = 0;
        ASSERT_TRUE(zmer(wav, lufs, tp));
        EXPECT_NEAR(lufs, -14.0, 0.3);
        EXPECT_LE(tp, -1.0);
    }
}

// Twenty-four seconds of rests between two notes, where only the room's tail
// rings: its quiet blocks are gated out of the loudness, as the
// independent meter gates them, so the notes come to the target.
TEST(Master, ASilenceInThePieceIsLeftOutOfItsLoudness) {
    if (!fs::exists("/usr/bin/ffmpeg")) GTEST_SKIP() << "ffmpeg is not installed";
    Slozka s;
    test::zapis(s.cesta + "/ticho.txt", "t60 R7 4 o1 c e p p p p p p p p p p p p p p p p p p p p p p p p g c");
    const std::string wav = s.cesta + "/t.wav";
    ASSERT_EQ(s.skladba({"ticho.txt", "--master", "--room", "60", "-o", wav}).status, 0);
    double lufs = 0, tp = 0;
    ASSERT_TRUE(zmer(wav, lufs, tp));
    EXPECT_NEAR(lufs, -14.0, 0.3);
}

// Four voices from low to high sit apart: left and right differ; with
// --pan off and no room the two sides are one.
TEST(Master, VoicesSpreadAcrossTheStereoField) {
    Slozka s;
    test::zapis(s.cesta + "/ctyri.txt",
                "R5 t90 S0 4 o2 c e g e c e g e -8 o1 g h d h g h d h -8 o1 e g h g e g h g -8 om c e g e c e g e");
    auto korelace = [&](const std::vector<std::string>& volby) {
        std::vector<std::string> a = {"ctyri.txt", "--master", "--room", "0", "-o", "ctyri.wav"};
        a.insert(a.end(), volby.begin(), volby.end());
        const test::Beh r = s.skladba(a);
        EXPECT_EQ(r.status, 0) << r.err;
        const Stereo st = precti(test::precti(s.cesta + "/ctyri.wav"));
        double lp = 0, ll = 0, pp = 0;
        for (size_t i = 0; i < st.l.size(); ++i) {
            lp += st.l[i] * st.p[i];
            ll += st.l[i] * st.l[i];
            pp += st.p[i] * st.p[i];
        }
        return lp / std::sqrt(ll * pp);
    };
    EXPECT_LT(korelace({}), 0.95);
    EXPECT_GT(korelace({"--pan", "off"}), 0.9999);
}

// A part's pan: directive places it, over the voices' own order: a part
// set hard left is silent on the right, its partner hard right the other way.
TEST(Master, APanDirectivePlacesItsPart) {
    Slozka s;
    test::zapis(s.cesta + "/pan.txt", "(part: Low) (pan: left) R5 t90 S0 4 o1 c e g e | -1 "
                                      "(part: High) (pan: 100) o2 c e g e |");
    ASSERT_EQ(s.skladba({"pan.txt", "--master", "--room", "0", "-o", "pan.wav"}).status, 0);
    const Stereo st = precti(test::precti(s.cesta + "/pan.wav"));
    ASSERT_FALSE(st.l.empty());
    test::zapis(s.cesta + "/levy.txt", "(part: Low) (pan: left) R5 t90 S0 4 o1 c e g e |");
    ASSERT_EQ(s.skladba({"levy.txt", "--master", "--room", "0", "-o", "levy.wav"}).status, 0);
    const Stereo levy = precti(test::precti(s.cesta + "/levy.wav"));
    double l = 0, p = 0;
    for (size_t i = 0; i < levy.l.size(); ++i) l += levy.l[i] * levy.l[i], p += levy.p[i] * levy.p[i];
    EXPECT_GT(l, 0);
    EXPECT_EQ(p, 0) << "a part hard left sounds nothing on the right";
    // Both parts: the sides differ (each part on its own side).
    double lp = 0, ll = 0, pp = 0;
    for (size_t i = 0; i < st.l.size(); ++i) lp += st.l[i] * st.p[i], ll += st.l[i] * st.l[i], pp += st.p[i] * st.p[i];
    EXPECT_LT(lp / std::sqrt(ll * pp), 0.9);
}

// One short note: after its fade the room rings on, well under the note
// and well above silence; without a room it stops.
TEST(Master, AShortNoteRingsOnInTheRoom) {
    Slozka s;
    test::zapis(s.cesta + "/jedna.txt", "R5 t120 8 o1 c p p p p p p p");
    auto dozvuk = [&](const char* prostor, double& nota) {
        const test::Beh r = s.skladba({"jedna.txt", "--master", "--release", "20", "--room", prostor, "-o", "j.wav"});
        EXPECT_EQ(r.status, 0) << r.err;
        const Stereo st = precti(test::precti(s.cesta + "/j.wav"));
        nota = uroven(st, 0.0, 0.25);
        // The note lasts 0.25 s and fades over 20 ms.
        return uroven(st, 0.35, 0.55);
    };
    double nota = 0;
    const double ocas = dozvuk("30", nota);
    EXPECT_GT(ocas, -70.0);
    EXPECT_LT(ocas, nota - 6.0);
    EXPECT_LT(dozvuk("0", nota), -100.0);
    // An empty score stays empty: a header and no frames.
    test::zapis(s.cesta + "/prazdna.txt", "");
    ASSERT_EQ(s.skladba({"prazdna.txt", "--master", "-o", "p.wav"}).status, 0);
    EXPECT_EQ(test::precti(s.cesta + "/p.wav").size(), 44u);
}

// The samples of the 24-bit WAV, as ffmpeg decodes them, are those of the
// FLAC written from the same frames (whose packing is libsndfile's): every
// byte of every sample in its place, at the loudest target, where the
// samples come nearest full scale either way.
TEST(Master, TheWavHoldsTheSamplesOfTheFlac) {
    if (!fs::exists("/usr/bin/ffmpeg")) GTEST_SKIP() << "ffmpeg is not installed";
    Slozka s;
    const std::string kanon = std::string(SKLADBA_EXAMPLES) + "/kanon.txt";
    ASSERT_EQ(s.skladba({kanon, "--master", "--loudness", "-6", "-o", "k.wav"}).status, 0);
    if (s.skladba({kanon, "--master", "--loudness", "-6", "-o", "k.flac"}).status != 0) GTEST_SKIP() << "no FLAC in this build";
    auto dekoduj = [&](const std::string& soubor) {
        return test::spust({s.cesta, {"-hide_banner", "-loglevel", "error", "-i", soubor, "-f", "s32le", "-"}, "", {}, 0, 0,
                            "/usr/bin/ffmpeg"});
    };
    const test::Beh wav = dekoduj("k.wav"), flac = dekoduj("k.flac");
    ASSERT_EQ(wav.status, 0) << wav.err;
    ASSERT_EQ(flac.status, 0) << flac.err;
    const Stereo st = precti(test::precti(s.cesta + "/k.wav"));
    ASSERT_GT(st.l.size(), 48000u);
    EXPECT_EQ(wav.out.size(), st.l.size() * 8);
    EXPECT_TRUE(wav.out == flac.out) << "the WAV's samples are not the FLAC's";
    double nejvic = 0, nejmene = 0;
    for (size_t i = 0; i < st.l.size(); ++i) {
        nejvic = std::max({nejvic, st.l[i], st.p[i]});
        nejmene = std::min({nejmene, st.l[i], st.p[i]});
    }
    EXPECT_GT(nejvic, 0.5);
    EXPECT_LT(nejmene, -0.5);
}

// The settings of --master are refused without it and out of range, before
// anything is rendered; --check says what each step does.
TEST(Master, SettingsAreCheckedAndTheCheckExplainsTheSteps) {
    Slozka s;
    test::zapis(s.cesta + "/k.txt", "c d e");
    for (const std::vector<std::string>& a : std::vector<std::vector<std::string>>{
             {"--room", "30"}, {"--master", "--room", "101"}, {"--master", "--room", "-1"},
             {"--master", "--loudness", "-5"}, {"--master", "--loudness", "-41"}, {"--master", "--pan", "left"}}) {
        std::vector<std::string> b = {"k.txt"};
        b.insert(b.end(), a.begin(), a.end());
        EXPECT_EQ(s.skladba(b).status, 2) << a.back();
    }
    EXPECT_FALSE(fs::exists(s.cesta + "/k.wav"));
    for (const std::vector<std::string>& a : std::vector<std::vector<std::string>>{
             {"--master", "--room", "100", "--loudness", "-6"}, {"--master", "--room", "0", "--loudness", "-40"}}) {
        std::vector<std::string> b = {"k.txt"};
        b.insert(b.end(), a.begin(), a.end());
        EXPECT_EQ(s.skladba(b).status, 0) << a.back();
    }
    const test::Beh r = s.skladba({"k.txt", "--master", "--check"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("room 30"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("-14.0 LUFS"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("48 kHz"), std::string::npos) << r.out;
}

}  // namespace
}  // namespace skladba
