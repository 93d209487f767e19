// The program as a user runs it: exit statuses, messages, the files it
// leaves behind, the lock on the mix file and interruption.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <csignal>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include "base/format.h"
#include "proces.h"
#include "studio.h"
#include "wavdata.h"

namespace skladba {
namespace {

using test::Studio;

using test::Beh;

Beh program(Studio& studio, const std::string& score, const std::vector<std::string>& args = {}) {
    studio.soubor("aktualni.txt", score);
    return test::skladba(studio.cesta(), args);
}

TEST(Program, RendersSilentlyAndCleansUp) {
    Studio studio;
    const Beh r = program(studio, "cdef");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "");
    const std::string wav = studio.obsah("aktualni.wav");
    // The header as a player reads it: PCM, mono, 22050 Hz, 16 bits.
    ASSERT_GE(wav.size(), 44u);
    EXPECT_EQ(wav.substr(0, 4) + wav.substr(8, 8), "RIFFWAVEfmt ");
    EXPECT_EQ(test::le(wav, 20, 2), 1u);
    EXPECT_EQ(test::le(wav, 22, 2), 1u);
    EXPECT_EQ(test::le(wav, 24, 4), 22050u);
    EXPECT_EQ(test::le(wav, 34, 2), 16u);
    EXPECT_EQ(wav.substr(36, 4), "data");
    EXPECT_EQ(test::le(wav, 40, 4) / 2, 33075u + 88200u);   // samples: the last note's start plus four seconds
    EXPECT_EQ(wav.size(), 44 + test::le(wav, 40, 4));
    EXPECT_FALSE(studio.existuje("_.tmp"));
}

struct ChybejiciSoubor {
    const char* remove;     // file to take away (or make short)
    const char* expected;   // what standard error says
};

class MissingFiles : public ::testing::TestWithParam<ChybejiciSoubor> {};

TEST_P(MissingFiles, AreReportedBeforeAnyRendering) {
    Studio studio;
    studio.soubor("aktualni.wav", "previous");
    studio.soubor("aktualni.txt", "cdef");
    const std::string what = GetParam().remove;
    if (what == "short template") {
        studio.soubor("rejstriky/wavhlavicka.nes", "RIFF");
    } else if (what == "zero template") {
        studio.soubor("rejstriky/wavhlavicka.nes", std::string(40, '\0'));
    } else if (what == "stereo template") {
        std::string sablona = studio.obsah("rejstriky/wavhlavicka.nes");
        sablona[22] = 2;
        studio.soubor("rejstriky/wavhlavicka.nes", sablona);
    } else {
        ::unlink((studio.cesta() + "/" + what).c_str());
    }
    const Beh r = test::skladba(studio.cesta());
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, std::string("skladba: ") + GetParam().expected + "\n");
    EXPECT_FALSE(studio.existuje("_.tmp"));
    EXPECT_EQ(studio.obsah("aktualni.wav"), "previous");
}

INSTANTIATE_TEST_SUITE_P(
    StartUp, MissingFiles,
    ::testing::Values(
        ChybejiciSoubor{"aktualni.txt", "cannot open the score aktualni.txt: No such file or directory"},
        ChybejiciSoubor{"rejstriky/rejstr1.nes",
                        "cannot load the register rejstriky/rejstr1.nes: No such file or directory"},
        ChybejiciSoubor{"rejstriky/wavhlavicka.nes",
                        "cannot open the WAV header template rejstriky/wavhlavicka.nes: No such file or directory"},
        ChybejiciSoubor{"short template",
                        "the WAV header template rejstriky/wavhlavicka.nes is shorter than 40 bytes"},
        ChybejiciSoubor{"zero template", "the WAV header template rejstriky/wavhlavicka.nes is not a "
                                         "RIFF/WAVE PCM header: \"RIFF\" is missing at byte 0"},
        ChybejiciSoubor{"stereo template", "the WAV header template rejstriky/wavhlavicka.nes is not for 16-bit "
                                           "mono PCM at 22050 Hz: its channels (bytes 22-23) is 2, not 1"}));

TEST(Program, RegisterCommandErrorsPointIntoTheScore) {
    Studio studio;
    Beh r = program(studio, "c\nd R9 e");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "skladba: aktualni.txt:2:3: cannot load register \"9\" from "
                     "rejstriky/rejstr9.nes: No such file or directory\n");
    r = program(studio, "cdR");
    EXPECT_EQ(r.err, "skladba: aktualni.txt:1:3: \"R\" needs a register character after it\n");
    // Inside the score, 0xFF is a register character like any other.
    r = program(studio, "cR\xFF" "d");
    EXPECT_EQ(r.err, "skladba: aktualni.txt:1:2: cannot load register 0xFF from "
                     "rejstriky/rejstr\\xFF.nes: No such file or directory\n");
    studio.soubor("rejstriky/rejstr\xFF.nes", studio.obsah("rejstriky/rejstr1.nes"));
    EXPECT_EQ(program(studio, "cR\xFF" "d").status, 0);
    EXPECT_FALSE(studio.existuje("_.tmp"));
    // Any byte may name a register; the message shows unprintable ones escaped.
    r = program(studio, "cR\x1b" "d");
    EXPECT_EQ(r.err, "skladba: aktualni.txt:1:2: cannot load register 0x1B from "
                     "rejstriky/rejstr\\x1B.nes: No such file or directory\n");
    // A named pipe has no size and cannot be read by position: a clear
    // error at once, not a wait for a writer or a silently unchanged register.
    ASSERT_EQ(::mkfifo((studio.cesta() + "/rejstriky/rejstr5.nes").c_str(), 0644), 0);
    r = program(studio, "cR5d");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "skladba: aktualni.txt:1:2: cannot load register \"5\" from "
                     "rejstriky/rejstr5.nes: Illegal seek\n");
}

TEST(Program, RegisterChangeAffectsLaterNotesOnly) {
    Studio studio;
    // Register 2 is just segment 0 and 1 (silence then a click of 7): the
    // rest of the wavetable keeps register 1.
    studio.soubor("rejstriky/rejstr2.nes", test::registr(2, [](int k, int i) -> int16_t {
        return k == 1 && i == 0 ? 7 : 0;
    }));
    ASSERT_EQ(program(studio, "ovd R2 ovd ovc o1c").status, 0);
    const auto notes = [&] {
        studio.hraj("ovd R2 ovd ovc o1c");
        return studio.noty();
    }();
    ASSERT_EQ(notes.size(), 3u);
    EXPECT_EQ(notes[0].segment, 2);    // before "R2"
    EXPECT_EQ(notes[1].segment, 2);    // segment 2 was not in register 2: kept
    EXPECT_EQ(notes[2].segment, 24);   // and "ovc" (segment 0) is silent in both
    EXPECT_EQ(notes[2].start, 33075);
}

TEST(Program, CommandLine) {
    Studio studio;
    Beh r = program(studio, "", {"--help"});
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find("usage: skladba"), std::string::npos);
    r = program(studio, "", {"-h"});
    EXPECT_EQ(r.status, 0);
    r = program(studio, "", {"--version"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out.rfind("skladba ", 0), 0u);
    for (const std::vector<std::string>& wrong : {std::vector<std::string>{"--frobnicate"},
                                                  std::vector<std::string>{"a.txt", "b.txt"},
                                                  std::vector<std::string>{"a.txt", "-o"},
                                                  std::vector<std::string>{"a.txt", "-o", ""}}) {
        r = program(studio, "", wrong);
        EXPECT_EQ(r.status, 2);
        EXPECT_NE(r.err.find("usage:"), std::string::npos) << r.err;
    }
    EXPECT_FALSE(studio.existuje("aktualni.wav"));
}

// A mix budget that is not a whole number of mebibytes in range is a usage
// error that names the value given, before anything is rendered; both ends
// of the range are taken.
TEST(Program, MixMemoryOutOfRangeIsRefused) {
    Studio studio;
    const std::string range = "--mix-memory needs a whole number of mebibytes from 0 to 999999, not '";
    const std::string empty = "option '--mix-memory' needs a value that is not empty";
    const std::vector<std::pair<std::vector<std::string>, std::string>> wrong = {
        {{"--mix-memory", "-1"}, range + "-1'"},
        {{"--mix-memory", "lots"}, range + "lots'"},
        {{"--mix-memory", "1.5"}, range + "1.5'"},
        {{"--mix-memory", " 64"}, range + " 64'"},
        {{"--mix-memory", "1000000"}, range + "1000000'"},
        {{"--mix-memory", "18446744073709551616"}, range + "18446744073709551616'"},
        {{"--mix-memory", ""}, empty},
        {{"--mix-memory="}, empty},
        {{"--mix-memory"}, "option '--mix-memory' needs a value"},
    };
    for (const auto& [args, message] : wrong) {
        const Beh r = program(studio, "c", args);
        EXPECT_EQ(r.status, 2) << args.back();
        EXPECT_EQ(r.err.rfind("skladba: " + message + "\n", 0), 0u) << r.err;
        EXPECT_FALSE(studio.existuje("aktualni.wav"));
        EXPECT_FALSE(studio.existuje("_.tmp"));
    }
    for (const char* budget : {"0", "999999"}) {
        const Beh r = program(studio, "c", {"--mix-memory", budget});
        EXPECT_EQ(r.status, 0) << budget << ": " << r.err;
    }
}

TEST(Program, SecondRunInTheSameDirectoryIsRefused) {
    Studio studio;
    const int fd = ::open((studio.cesta() + "/_.tmp").c_str(), O_RDWR | O_CREAT, 0644);
    ASSERT_EQ(::write(fd, "busy", 4), 4);
    ASSERT_EQ(::flock(fd, LOCK_EX), 0);
    const Beh r = program(studio, "cdef");
    ::close(fd);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("another skladba run is using the mix file _.tmp"), std::string::npos) << r.err;
    EXPECT_EQ(studio.obsah("_.tmp"), "busy");   // the other run's mix is untouched
    EXPECT_FALSE(studio.existuje("aktualni.wav"));
}

TEST(Program, InterruptionRemovesTheMixAndKeepsThePreviousWav) {
    for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGUSR1, SIGXCPU}) {
        Studio studio;
        studio.soubor("aktualni.wav", "previous");
        std::string score;
        for (int i = 0; i < 40000; ++i) score += "cdefgfed-7";
        studio.soubor("aktualni.txt", score);
        test::Proces run(test::vslozce(studio.cesta()));
        for (int i = 0; i < 500 && !studio.existuje("_.tmp"); ++i) ::usleep(2000);
        ::usleep(50000);
        run.signal(sig);
        const Beh r = run.dokonci();
        EXPECT_EQ(r.status, 128 + sig) << r.err;
        EXPECT_FALSE(studio.existuje("_.tmp"));
        EXPECT_FALSE(studio.existuje("aktualni.wav.part"));
        EXPECT_EQ(studio.obsah("aktualni.wav"), "previous");
    }
}

// Running out of memory ends the run like any failure (whether it strikes
// while the notes are kept or while the MIDI file is made from them).
TEST(Program, OutOfMemoryIsAnErrorThatCleansUp) {
#ifdef SKLADBA_SANITIZED
    GTEST_SKIP() << "the sanitizers reserve more address space than the limit allows";
#endif
    Studio studio;
    studio.soubor("rejstriky/rejstr7.nes", test::registr(pocetsegmentu, [](int, int) -> int16_t { return 0; }));
    std::string score = "R7 64";
    for (int i = 0; i < 1000000; ++i) score += "c-";
    studio.soubor("aktualni.txt", score);
    test::Prikaz p = test::vslozce(studio.cesta(), {"-q", "aktualni.txt", "--midi", "kus.mid"});
    p.limitpameti = 100L << 20;   // a million silent notes at one time: quick, but each one kept
    const Beh r = test::spust(p);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "skladba: out of memory\n");
    EXPECT_FALSE(studio.existuje("_.tmp") || studio.existuje("aktualni.wav.part") || studio.existuje("kus.mid.part"));
}

}  // namespace
}  // namespace skladba
