// The program with score files, as a musician and a script use it: output
// names, the register folder, pipes, watch mode; and as an attacker meets
// it: links and special files planted under its names, endless input,
// signals at the last moment, failing writes.
#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <set>
#include <sys/stat.h>
#include <unistd.h>

#include "base/format.h"
#include "platform/system.h"
#include "proces.h"
#include "studio.h"
#include "wavdata.h"

namespace skladba {
namespace {

namespace fs = std::filesystem;
using test::Beh;
using test::Studio;

const std::string skladba = "c d e f - g\n";

// A folder a score run can use: the header template and the default
// register linked from the studio's.
void slozkarejstriku(const Studio& studio, const std::string& slozka) {
    fs::create_directories(studio.cesta() + "/" + slozka);
    for (const char* soubor : {"wavhlavicka.nes", "rejstr1.nes"}) {
        fs::copy(studio.cesta() + "/rejstriky/" + soubor, studio.cesta() + "/" + slozka + "/" + soubor,
                 fs::copy_options::copy_symlinks);
    }
}

// A command line for what only a shell sets up (closed descriptors, a terminal).
Beh vshellu(const Studio& studio, const std::string& prikaz) {
    test::Prikaz p = test::vslozce(studio.cesta(), {"-c", prikaz});
    p.program = "/bin/sh";
    return test::spust(p);
}

TEST(ScoreFile, RendersBesideItselfLikeTheRunWithoutArguments) {
    Studio studio;
    studio.soubor("aktualni.txt", skladba);
    ASSERT_EQ(test::skladba(studio.cesta()).status, 0);
    slozkarejstriku(studio, "songs/rejstriky");
    studio.soubor("songs/kanon.txt", skladba);
    studio.soubor("songs/bez-pripony", skladba);
    Beh r = test::skladba(studio.cesta(), {"songs/kanon.txt"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(studio.obsah("songs/kanon.wav"), studio.obsah("aktualni.wav"));
    r = test::skladba(studio.cesta(), {"--output=elsewhere.wav", "songs/bez-pripony"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(studio.obsah("elsewhere.wav"), studio.obsah("aktualni.wav"));
    r = test::skladba(studio.cesta(), {"songs/bez-pripony", "-o", "-"});
    EXPECT_EQ(r.out, studio.obsah("aktualni.wav"));
    r = test::skladba(studio.cesta(), {"-", "--registers", "songs/rejstriky"}, skladba);
    EXPECT_EQ(r.out, studio.obsah("aktualni.wav"));
    // Nothing else is left: no mix file, no temporary WAV.
    std::set<std::string> left;
    for (const auto& e : fs::directory_iterator(studio.cesta() + "/songs")) left.insert(e.path().filename());
    EXPECT_EQ(left, (std::set<std::string>{"bez-pripony", "kanon.txt", "kanon.wav", "rejstriky"}));
    EXPECT_FALSE(studio.existuje("songs/bez-pripony.wav"));
}

// The WAV takes the score's name with its last extension replaced.
// A name with an escape sequence or a newline reaches the terminal quoted,
// as a shell would read it back, and FILE:LINE:COL stays on one line.
TEST(ScoreFile, NamesWithControlCharactersAreQuoted) {
    Studio studio;
    studio.soubor("a\x1b[31mb\nc.txt", "t0 c\n");
    const Beh r = test::skladba(studio.cesta(), {"a\x1b[31mb\nc.txt"});
    EXPECT_EQ(r.err.rfind("skladba: 'a'$'\\033''[31mb'$'\\n''c.txt':1:1: ", 0), 0u) << r.err;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    const Beh z = test::skladba(studio.cesta(), {"it's\tgone.txt"});
    EXPECT_NE(z.err.find("'it'\\''s'$'\\t''gone.txt': No such file"), std::string::npos) << z.err;
}

TEST(ScoreFile, TheWavIsNamedAfterTheScore) {
    Studio studio;
    for (const auto& [score, wav] : {std::pair{"x.txt", "x.wav"}, {"v.1.txt", "v.1.wav"}, {".skryty", ".skryty.wav"},
                                     {"bez", "bez.wav"}}) {
        studio.soubor(score, "c");
        EXPECT_EQ(test::skladba(studio.cesta(), {score}).status, 0) << score;
        EXPECT_TRUE(studio.existuje(wav)) << score;
    }
}

TEST(ScoreFile, ErrorsNameTheScoreAndKeepThePreviousWav) {
    Studio studio;
    slozkarejstriku(studio, "songs/rejstriky");
    studio.soubor("songs/kanon.wav", "previous");
    studio.soubor("songs/kanon.txt", "c\nd t0");
    Beh r = test::skladba(studio.cesta(), {"songs/kanon.txt"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "skladba: songs/kanon.txt:2:3: tempo must be a positive number of quarter notes per minute\n");
    EXPECT_EQ(studio.obsah("songs/kanon.wav"), "previous");
    r = test::skladba(studio.cesta(), {"-", "-o", "x.wav"}, "c t0");
    EXPECT_EQ(r.err, "skladba: <stdin>:1:3: tempo must be a positive number of quarter notes per minute\n");
    // Output refused before anything is rendered.
    r = test::skladba(studio.cesta(), {"songs/kanon.txt", "-o", "songs/kanon.txt"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("it is the score itself"), std::string::npos) << r.err;
    EXPECT_EQ(studio.obsah("songs/kanon.txt"), "c\nd t0");
    // A score read from standard input is the score all the same, and
    // standard output open on the score is no place for the WAV.
    studio.soubor("songs/kanon.wav.mix", "c\nd t0");
    for (const char* presmerovani : {" - --midi songs/kanon.txt < songs/kanon.txt",
                                     " songs/kanon.txt -o - 1<>songs/kanon.txt",
                                     " - -o songs/kanon.wav < songs/kanon.wav.mix"}) {
        r = vshellu(studio, SKLADBA_BINARY + std::string(presmerovani));
        EXPECT_EQ(r.status, 1) << presmerovani;
        EXPECT_NE(r.err.find("refusing to"), std::string::npos) << r.err;
    }
    EXPECT_EQ(studio.obsah("songs/kanon.txt") + studio.obsah("songs/kanon.wav.mix"), "c\nd t0c\nd t0");
    r = test::skladba(studio.cesta(), {"songs/kanon.txt", "-o", "no/such/folder.wav"});
    EXPECT_EQ(r.err, "skladba: cannot write no/such/folder.wav: there is no folder no/such\n");
    r = test::skladba(studio.cesta(), {"songs/missing.txt"});
    EXPECT_EQ(r.err, "skladba: cannot open the score songs/missing.txt: No such file or directory\n");
}

// The first folder that exists is used whole, even when it lacks the
// register a score asks for; the error names the path tried.
TEST(ScoreFile, RegisterFolderLookupOrder) {
    Studio studio;
    slozkarejstriku(studio, "songs/rejstriky");
    slozkarejstriku(studio, "env");
    slozkarejstriku(studio, "option");
    fs::copy(studio.cesta() + "/rejstriky/rejstr1.nes", studio.cesta() + "/env/rejstr5.nes",
             fs::copy_options::copy_symlinks);
    studio.soubor("songs/kanon.txt", "c R5 d");
    test::Prikaz p = test::vslozce(studio.cesta(), {"songs/kanon.txt", "--registers", "option"});
    p.prostredi = {{"SKLADBA_REJSTRIKY", studio.cesta() + "/env"}};
    EXPECT_NE(test::spust(p).err.find("from option/rejstr5.nes: No such file"), std::string::npos);
    p.argumenty = {"songs/kanon.txt"};
    EXPECT_NE(test::spust(p).err.find("from songs/rejstriky/rejstr5.nes: No such file"), std::string::npos);
    fs::remove_all(studio.cesta() + "/songs/rejstriky");
    EXPECT_EQ(test::spust(p).status, 0);   // the environment's folder has register 5
    p.prostredi = {{"SKLADBA_REJSTRIKY", ""}};
    const Beh r = test::spust(p);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("cannot find the registers: none of these is a folder: songs/rejstriky"),
              std::string::npos) << r.err;
    EXPECT_EQ(test::skladba(studio.cesta(), {"--registers", "songs/kanon.txt", "songs/kanon.txt"}).err,
              "skladba: cannot use the registers in songs/kanon.txt: Not a directory\n");
}

// A folder holding only the registers a score plays is enough: the default
// register is needed only by a note that plays it.
TEST(ScoreFile, RegisterFolderNeedsOnlyTheRegistersPlayed) {
    Studio studio;
    studio.soubor("aktualni.txt", skladba);
    ASSERT_EQ(test::skladba(studio.cesta()).status, 0);
    fs::create_directories(studio.cesta() + "/songs/rejstriky");
    for (const auto& [z, na] : {std::pair{"wavhlavicka.nes", "wavhlavicka.nes"}, {"rejstr1.nes", "rejstr4.nes"}}) {
        fs::copy(studio.cesta() + "/rejstriky/" + z, studio.cesta() + "/songs/rejstriky/" + na,
                 fs::copy_options::copy_symlinks);
    }
    studio.soubor("songs/kanon.txt", "t120 S50 R4 " + skladba);
    Beh r = test::skladba(studio.cesta(), {"songs/kanon.txt"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(studio.obsah("songs/kanon.wav"), studio.obsah("aktualni.wav"));
    studio.soubor("songs/kanon.txt", "t120 " + skladba);
    r = test::skladba(studio.cesta(), {"songs/kanon.txt"});
    EXPECT_EQ(r.err, "skladba: cannot load the register songs/rejstriky/rejstr1.nes: No such file or directory\n");
}

TEST(ScoreFile, StandardOutputIsNeverATerminalAndWatchNeedsAFile) {
    Studio studio;
    studio.soubor("k.txt", skladba);
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"--watch"}, {"--watch", "-"}, {"--watch", "k.txt", "-o", "-"}}) {
        EXPECT_EQ(test::skladba(studio.cesta(), args).status, 2);
    }
    // Under `script`, standard output is a terminal. Where script is found
    // but opens no terminal, that fails here: the refusal went untested.
    if (std::system("command -v script >/dev/null 2>&1") != 0) GTEST_SKIP() << "no script(1)";
    const Beh r = vshellu(studio, "script -qec '[ -t 1 ] || exit 99; exec " SKLADBA_BINARY " k.txt -o -' /dev/null");
    ASSERT_NE(r.status, 99) << "script(1) gave no terminal";
    EXPECT_EQ(r.status, 2) << r.out << r.err;
    EXPECT_NE(r.out.find("refusing to write a WAV to the terminal"), std::string::npos) << r.out << r.err;
}

// Closed standard streams are refused before anything is opened (a WAV for
// standard output went into the mix file); a file on standard input is read
// from where its caller left it; a WAV on standard output needs a current
// folder that takes its mix file only when the mix leaves memory.
TEST(ScoreFile, StandardStreamsAndTheCurrentFolder) {
    Studio studio;
    studio.soubor("k.txt", skladba);
    studio.soubor("posunuta.txt", "t0 read by the caller\n" + skladba);
    studio.soubor("dlouha.txt", "t60 1c 1d 1e 1f");
    ASSERT_EQ(test::skladba(studio.cesta(), {"k.txt"}).status, 0);
    const std::string cmd = SKLADBA_BINARY " - --registers " + studio.cesta() + "/rejstriky ";
    for (const auto& [prikaz, zprava] : std::initializer_list<std::pair<std::string, std::string>>{
             {"echo c | " + cmd + ">&-", "standard output is closed: give it a file, a pipe or /dev/null (>/dev/null)"},
             {cmd + "-o x.wav <&-", "standard input is closed: give it a file, a pipe or /dev/null (</dev/null)"},
             {"echo c | " + cmd + "-o x.wav 2>&-", ""},
             {SKLADBA_BINARY " /dev/stdin --registers " + studio.cesta() + "/rejstriky < k.txt",
              "cannot name the WAV after /dev/stdin: it is not a regular file; name the WAV with -o FILE"},
             {"mkdir pryc && cd pryc && rmdir ../pryc && exec " + cmd + "--mix-memory 1 < ../dlouha.txt",
              "the piece outgrew the memory --mix-memory gives its mix: cannot create the mix file skladba-"}}) {
        const Beh r = vshellu(studio, prikaz);
        EXPECT_EQ(r.status, 1) << prikaz;
        EXPECT_EQ(r.err.substr(0, zprava.size() + 9), zprava.empty() ? "" : "skladba: " + zprava) << prikaz;
    }
    EXPECT_EQ(vshellu(studio, "{ read -r radek; exec " + cmd + "; } < posunuta.txt").out, studio.obsah("k.wav"));
    // A mix that stays in memory needs no file there.
    EXPECT_EQ(vshellu(studio, "mkdir pryc && cd pryc && rmdir ../pryc && exec " + cmd + "< ../k.txt").out, studio.obsah("k.wav"));
    std::set<std::string> zbylo;
    for (const auto& e : fs::directory_iterator(studio.cesta())) zbylo.insert(e.path().filename());
    EXPECT_EQ(zbylo, (std::set<std::string>{"dlouha.txt", "k.txt", "k.wav", "posunuta.txt", "rejstriky"}));
}

TEST(ScoreFile, WatchRendersEachSaveAndKeepsTheLastGoodWav) {
    Studio studio;
    studio.soubor("w.txt", "c");
    test::Proces watch(test::vslozce(studio.cesta(), {"--watch", "w.txt"}));
    for (int i = 0; i < 300 && !studio.existuje("w.wav"); ++i) ::usleep(10000);
    const std::string prvni = studio.obsah("w.wav");
    ASSERT_FALSE(prvni.empty());
    // An editor that saves by renaming a new file over the old one.
    studio.soubor("w.new", "cdef");
    ::rename((studio.cesta() + "/w.new").c_str(), (studio.cesta() + "/w.txt").c_str());
    for (int i = 0; i < 300 && studio.obsah("w.wav") == prvni; ++i) ::usleep(10000);
    std::string druhy = studio.obsah("w.wav");
    EXPECT_NE(druhy, prvni);
    // An editor that empties the score and writes it 250 ms later: the
    // empty score is never rendered over the WAV.
    studio.soubor("w.txt", "");
    ::usleep(250000);
    studio.soubor("w.txt", "cdefg");
    for (int i = 0; i < 300 && studio.obsah("w.wav") == druhy; ++i) ::usleep(10000);
    EXPECT_NE(studio.obsah("w.wav"), druhy);
    druhy = studio.obsah("w.wav");
    // Emptied for good: the WAV stays, and that is said.
    studio.soubor("w.txt", "");
    ::usleep(1500000);
    EXPECT_EQ(studio.obsah("w.wav"), druhy);
    studio.soubor("w.txt", "c t0");
    ::usleep(600000);
    watch.signal(SIGINT);
    const Beh r = watch.dokonci();
    EXPECT_EQ(r.status, 130);
    EXPECT_EQ(studio.obsah("w.wav"), druhy);   // the failing save kept the previous WAV
    EXPECT_NE(r.err.find("w.wav: 0:04.0, 1 note, rendered in"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("w.wav: 0:05.5, 4 notes, rendered in"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("w.wav: 0:06.0, 5 notes, rendered in"), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find("0 notes"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("skladba: w.txt is empty: w.wav keeps the last render until the score has notes again"),
              std::string::npos) << r.err;
    EXPECT_NE(r.err.find("skladba: w.txt:1:3: tempo must be"), std::string::npos) << r.err;
    EXPECT_FALSE(studio.existuje("w.wav.mix"));
    EXPECT_FALSE(studio.existuje("w.wav.part"));
}

// A link or a second hard link planted under a name of the program's own
// scratch files never gets written through: the name is replaced, and the
// file it pointed to stays as it was.
TEST(Attack, PlantedLinksUnderScratchNamesLeaveTheirTargetsAlone) {
    for (const char* jmeno : {"_.tmp", "aktualni.wav.part"}) {
        for (bool tvrdy : {false, true}) {
            Studio studio;
            studio.soubor("aktualni.txt", skladba);
            const std::string cil = studio.cesta() + "/target";
            studio.soubor("target", "someone else's file");
            const std::string odkaz = studio.cesta() + "/" + jmeno;
            ASSERT_EQ(tvrdy ? ::link(cil.c_str(), odkaz.c_str()) : ::symlink(cil.c_str(), odkaz.c_str()), 0);
            const Beh r = test::skladba(studio.cesta());
            EXPECT_EQ(r.status, 0) << jmeno << " " << r.err;
            EXPECT_EQ(studio.obsah("target"), "someone else's file") << jmeno << (tvrdy ? " hard" : " symbolic");
            EXPECT_EQ(platform::druh(odkaz.c_str()), platform::Druh::zadny);
            EXPECT_EQ(platform::druh((studio.cesta() + "/aktualni.wav").c_str()), platform::Druh::obycejny);
        }
    }
}

TEST(Attack, SpecialFilesNeverMakeARunWait) {
    Studio studio;
    studio.soubor("aktualni.txt", skladba);
    ASSERT_EQ(::mkfifo((studio.cesta() + "/aktualni.wav.part").c_str(), 0644), 0);
    ASSERT_EQ(::mkfifo((studio.cesta() + "/_.tmp").c_str(), 0644), 0);
    EXPECT_EQ(test::skladba(studio.cesta()).status, 0);
    // A link as the output itself is refused, its target untouched.
    studio.soubor("target", "keep");
    ASSERT_EQ(::symlink("target", (studio.cesta() + "/linked.wav").c_str()), 0);
    Beh r = test::skladba(studio.cesta(), {"aktualni.txt", "-o", "linked.wav"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("refusing to write linked.wav: it is a symbolic link"), std::string::npos) << r.err;
    EXPECT_EQ(studio.obsah("target"), "keep");
    // A score that is a named pipe waits for its writer, as any reader does.
    ASSERT_EQ(::mkfifo((studio.cesta() + "/pipe.txt").c_str(), 0644), 0);
    {
        test::Proces run(test::vslozce(studio.cesta(), {"pipe.txt", "-o", "pipe.wav"}));
        ::usleep(200000);
        test::zapis(studio.cesta() + "/pipe.txt", skladba);
        EXPECT_EQ(run.dokonci().status, 0);
        EXPECT_EQ(studio.obsah("pipe.wav"), studio.obsah("aktualni.wav"));
    }
    // An endless score is read up to a limit, then refused.
    r = test::skladba(studio.cesta(), {"/dev/zero", "-o", "zero.wav", "--registers", "rejstriky"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("the score /dev/zero is larger than 64 MiB"), std::string::npos) << r.err;
    EXPECT_FALSE(studio.existuje("zero.wav.mix"));
}

// Exit status 0 exactly when the new WAV replaced the old one, wherever in
// the run the signal falls.
TEST(Attack, TheExitStatusTellsTheTruthWhateverTheSignalsTiming) {
    Studio studio;
    studio.soubor("aktualni.txt", std::string(200, 'c'));
    ASSERT_EQ(test::skladba(studio.cesta()).status, 0);
    const std::string novy = studio.obsah("aktualni.wav");
    for (int zpozdeni = 0; zpozdeni < 60; ++zpozdeni) {
        studio.soubor("aktualni.wav", "previous");
        test::Proces run(test::vslozce(studio.cesta()));
        ::usleep(static_cast<useconds_t>(500 * zpozdeni));
        run.signal(zpozdeni % 2 ? SIGINT : SIGQUIT);
        const Beh r = run.dokonci();
        const std::string wav = studio.obsah("aktualni.wav");
        if (r.status == 0) {
            EXPECT_EQ(wav, novy) << zpozdeni;
        } else {
            EXPECT_TRUE(r.status == 130 || r.status == 131) << r.status;
            EXPECT_EQ(wav, "previous") << zpozdeni;
        }
        EXPECT_FALSE(studio.existuje("_.tmp"));
        EXPECT_FALSE(studio.existuje("aktualni.wav.part"));
    }
}

// Names of the run's own temporary files are never taken for a score or an
// output, so a run can neither empty a score nor rename over another run's.
TEST(Attack, TemporaryNamesAreNeverScoresOrOutputs) {
    Studio studio;
    studio.soubor("y.wav.mix", skladba);
    Beh r = test::skladba(studio.cesta(), {"y.wav.mix", "-o", "y.wav"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("the run would use its name, y.wav.mix, for a temporary file"), std::string::npos) << r.err;
    EXPECT_EQ(studio.obsah("y.wav.mix"), skladba);
    studio.soubor("k.txt", skladba);
    for (const char* jmeno : {"x.wav.part", "x.wav.mix", "_.tmp"}) {
        r = test::skladba(studio.cesta(), {"k.txt", "-o", jmeno});
        EXPECT_EQ(r.status, 1) << jmeno;
        EXPECT_NE(r.err.find("are skladba's own temporary files"), std::string::npos) << r.err;
    }
    // A name that has no room for ".part" is refused before the render, not after.
    r = test::skladba(studio.cesta(), {"k.txt", "-o", std::string(250, 'n') + ".wav"});
    EXPECT_NE(r.err.find(".wav: its name, 254 characters long, leaves no room for the \".part\""), std::string::npos)
        << r.err;
}

// Another program that swaps the temporary WAV for a link while it is being
// written does not get its link (or file) renamed into place.
TEST(Attack, ASwappedTemporaryWavIsNeverPutInPlace) {
    Studio studio;
    studio.soubor("aktualni.wav", "previous");
    studio.soubor("victim", "keep");
    platform::volani().pwrite = [](int fd, const void* buf, size_t n, off_t off) -> ssize_t {
        if (off == 0 && platform::tentyzsoubor(fd, "aktualni.wav.part")) {
            ::rename("aktualni.wav.part", "moved-away");
            ::symlink("victim", "aktualni.wav.part");
        }
        return ::pwrite(fd, buf, n, off);
    };
    const Vysledek r = studio.hraj(skladba);
    platform::obnovvolani();
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.zprava.find("another program replaced its temporary file"), std::string::npos) << r.zprava;
    EXPECT_EQ(studio.obsah("aktualni.wav"), "previous");
    EXPECT_EQ(studio.obsah("victim"), "keep");
    // The link is the other program's: left where it stands, not removed.
    EXPECT_EQ(platform::druh((studio.cesta() + "/aktualni.wav.part").c_str()), platform::Druh::odkaz);
}

// The WAV being written is its owner's only, however private the score;
// it gets the umask's mode only once complete.
TEST(Attack, ATemporaryWavIsReadableByItsOwnerOnly) {
    Studio studio;
    static unsigned pripsani = 0;
    pripsani = 0;
    platform::volani().pwrite = [](int fd, const void* buf, size_t n, off_t off) -> ssize_t {
        struct stat st {};
        if (off == 0 && ::fstat(fd, &st) == 0) pripsani = st.st_mode & 0777;
        return ::pwrite(fd, buf, n, off);
    };
    const Vysledek r = studio.hraj(skladba);
    platform::obnovvolani();
    ASSERT_EQ(r.status, 0) << r.zprava;
    EXPECT_EQ(pripsani, 0600u);
    struct stat st {};
    ASSERT_EQ(::stat((studio.cesta() + "/aktualni.wav").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, platform::pravanovych());
}

TEST(Attack, WritesThatFailSayWhy) {
    Studio studio;
    studio.soubor("aktualni.txt", std::string(20, 'c'));
    studio.soubor("aktualni.wav", "previous");
    test::Prikaz p = test::vslozce(studio.cesta(), {"--mix-memory", "0"});
    p.limitsouboru = 1 << 20;   // the mix outgrows it
    const Beh r = test::spust(p);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "skladba: cannot write the mix file _.tmp: File too large\n");
    EXPECT_EQ(studio.obsah("aktualni.wav"), "previous");
    EXPECT_FALSE(studio.existuje("_.tmp"));
}

// --release: a note sounds for its value (dots included), fades out over the
// release and stops; without it every note rings for its whole segment.
TEST(Release, NotesStopAfterTheirValueAndAFade) {
    Studio studio;
    studio.soubor("rejstriky/rejstr7.nes", test::registr(pocetsegmentu, [](int k, int) -> int16_t {
        return k > 0 ? 1000 : 0;   // a steady tone: the envelope shows as it is
    }));
    auto vzorky = [&](const std::string& score, std::vector<std::string> args) {
        studio.soubor("r.txt", "R7 " + score);
        args.push_back("r.txt");
        EXPECT_EQ(test::skladba(studio.cesta(), args).status, 0);
        return test::vzorkywav(studio.obsah("r.wav"));
    };
    EXPECT_EQ(vzorky("c", {}).size(), 88200u);
    for (const auto& [score, delka] : {std::pair<std::string, size_t>{"c", 11025}, {"c.", 11025 + 5512}}) {
        const auto s = vzorky(score, {"--release", "100"});
        ASSERT_EQ(s.size(), delka + 2205) << score;   // the piece ends where the fade ends
        EXPECT_EQ(s[delka - 1], 32752) << score;      // full until the value (and its dot) ends
        for (size_t i = delka + 1; i < s.size(); ++i) ASSERT_LE(s[i], s[i - 1]) << score << " " << i;
        EXPECT_LT(s.back(), 40) << score;
    }
    // A note that reaches the end of its segment fades out inside it.
    const auto dlouha = vzorky("t64 1 c", {"--release", "500"});
    ASSERT_EQ(dlouha.size(), 88200u);
    EXPECT_LT(dlouha.back(), 40);
    // A note waiting for its release keeps the register it was written with.
    const auto zmena = vzorky("c R1 d", {"--release", "100"});
    EXPECT_GT(zmena[100], 0);
    EXPECT_EQ(zmena[100], zmena[11000]);
    EXPECT_EQ(test::skladba(studio.cesta(), {"r.txt", "--release", "4"}).status, 2);
}

}  // namespace
}  // namespace skladba
