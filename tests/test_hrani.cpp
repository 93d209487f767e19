// skladba play against a PulseAudio of the test's own, with a null sink at
// the renderer's rate: what the sink plays is recorded from its monitor and
// compared with the render; on a terminal (a pseudo-terminal here) the
// status line and the keys. Skipped where pulseaudio or parec is missing.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <functional>
#include <poll.h>
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/system.h"
#include "proces.h"
#include "studio.h"
#include "zvuk.h"

namespace skladba {
namespace {

using test::Beh;
using test::Studio;

const char* const pulseaudio = "/usr/bin/pulseaudio";
const char* const parec = "/usr/bin/parec";

// Eight bars of 4/4 at 120, each of other notes: 16 seconds, and 4 more
// for the last notes to ring.
std::string kus() {
    const std::string pismena = "cdefgah";
    std::string s = "R2 t120 4 ";
    for (int takt = 0; takt < 8; ++takt) {
        for (int doba : {0, 2, 4, 2}) s += std::string(1, pismena[(takt + doba) % 7]) + " ";
        s += "| ";
    }
    return s;
}

// The private sound server, for the whole suite.
class Hrani : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        if (::access(pulseaudio, X_OK) != 0 || ::access(parec, X_OK) != 0) return;
        slozka_ = new Studio;
        test::Prikaz p;
        p.program = pulseaudio;
        p.slozka = slozka_->cesta();
        p.argumenty = {"-n", "--daemonize=no", "--exit-idle-time=-1", "--disallow-exit", "--use-pid-file=no",
                       "--load=module-null-sink sink_name=nul rate=22050 channels=1",
                       "--load=module-native-protocol-unix auth-anonymous=1"};
        p.prostredi = prostredi();
        server_ = new test::Proces(p);
        for (int i = 0; i < 100 && ::access((slozka_->cesta() + "/pulse/native").c_str(), F_OK) != 0; ++i) {
            platform::spi(50);
        }
    }
    static void TearDownTestSuite() {
        if (server_) {
            server_->signal(SIGTERM);
            server_->dokonci();
        }
        delete server_;
        delete slozka_;
        server_ = nullptr;
        slozka_ = nullptr;
    }
    void SetUp() override {
        if (!server_) GTEST_SKIP() << "pulseaudio and parec (pulseaudio, pulseaudio-utils) are not installed";
        if (::access((slozka_->cesta() + "/pulse/native").c_str(), F_OK) != 0) {
            GTEST_SKIP() << "the test's own pulseaudio did not start";
        }
        // A register that never falls silent and never repeats itself, so
        // that the first sample heard is where playing started and every
        // stretch of the recording has one place in the render.
        s.soubor("rejstriky/rejstr2.nes", test::registr(69, [](int k, int i) {
            return static_cast<int16_t>(1000 + k + (static_cast<uint32_t>(i) * 2654435761u >> 20) % 2000);
        }));
        s.soubor("kus.txt", kus());
        ASSERT_EQ(test::skladba(s.cesta(), {"kus.txt"}).status, 0);
        wav = test::vzorkywav(s.obsah("kus.wav"));
        ASSERT_EQ(std::count(wav.begin(), wav.end(), int16_t{0}), 0);
    }
    static std::vector<std::pair<std::string, std::string>> prostredi() {
        return {{"XDG_RUNTIME_DIR", slozka_->cesta()}, {"HOME", slozka_->cesta()}, {"PULSE_SERVER", ""}};
    }
    test::Prikaz hrat(const std::vector<std::string>& dalsi) const {
        std::vector<std::string> a = {"play", "kus.txt"};
        a.insert(a.end(), dalsi.begin(), dalsi.end());
        test::Prikaz p = test::vslozce(s.cesta(), a);
        p.prostredi = prostredi();
        return p;
    }
    // The sink's monitor recorded for as long as it lives (a reader asking
    // for 10 ms also keeps the null sink's own latency that short, as a
    // sound card's is).
    class Zaznam {
    public:
        explicit Zaznam(const Hrani& h) : h_(h), parec_(prikaz(h)) { platform::spi(500); }
        std::vector<int16_t> vzorky() {
            platform::spi(300);
            parec_.signal(SIGINT);
            parec_.dokonci();
            const std::string b = h_.s.obsah("zaznam.raw");
            std::vector<int16_t> v;
            for (size_t i = 0; i + 1 < b.size(); i += 2) {
                v.push_back(static_cast<int16_t>(static_cast<unsigned char>(b[i]) |
                                                 static_cast<unsigned char>(b[i + 1]) << 8));
            }
            return v;
        }

    private:
        static test::Prikaz prikaz(const Hrani& h) {
            test::Prikaz z;
            z.program = parec;
            z.slozka = h.s.cesta();
            z.argumenty = {"-d", "nul.monitor", "--format=s16le", "--channels=1", "--rate=22050",
                           "--file-format=raw", "--latency-msec=10", "zaznam.raw"};
            z.prostredi = prostredi();
            return z;
        }
        const Hrani& h_;
        test::Proces parec_;
    };
    // Plays with these options, recording the sink: the samples heard.
    std::vector<int16_t> nahraj(const std::vector<std::string>& dalsi, Beh& r) const {
        Zaznam zaznam(*this);
        r = test::spust(hrat(dalsi));
        return zaznam.vzorky();
    }
    // Where the recorded sound starts in the render, the recording being
    // the render from there to its end: -1 when it is not. The render never
    // holds a zero sample, so the silence before and after, and any gap
    // where the server ran dry, are left out of the recording first. On a
    // loaded machine the recorder may drop a block of the monitor: the
    // recording then goes on further in the render, and at most 2% of it
    // may be missing so.
    int64_t vrenderu(std::vector<int16_t> zaznam) const {
        zaznam.erase(std::remove(zaznam.begin(), zaznam.end(), int16_t{0}), zaznam.end());
        constexpr size_t okno = 32;
        auto najdi = [&](size_t i, size_t od) -> size_t {   // rec[i, i + okno) in the render from od
            if (i + okno > zaznam.size()) return SIZE_MAX;
            const auto it = std::search(wav.begin() + static_cast<std::ptrdiff_t>(std::min(od, wav.size())), wav.end(),
                                        zaznam.begin() + static_cast<std::ptrdiff_t>(i),
                                        zaznam.begin() + static_cast<std::ptrdiff_t>(i + okno));
            return it == wav.end() ? SIZE_MAX : static_cast<size_t>(it - wav.begin());
        };
        for (size_t zacatek = najdi(0, 0); zacatek != SIZE_MAX; zacatek = najdi(0, zacatek + 1)) {
            size_t i = 0, j = zacatek, chybi = 0;
            while (i < zaznam.size()) {
                if (j < wav.size() && zaznam[i] == wav[j]) {
                    ++i, ++j;
                    continue;
                }
                const size_t dal = najdi(i, j);
                if (dal == SIZE_MAX) break;
                chybi += dal - j;
                j = dal;
            }
            if (i == zaznam.size() && j == wav.size() && chybi * 50 <= wav.size() - zacatek) {
                return static_cast<int64_t>(zacatek);
            }
        }
        return -1;
    }

    static Studio* slozka_;
    static test::Proces* server_;
    Studio s;
    std::vector<int16_t> wav;
};
Studio* Hrani::slozka_ = nullptr;
test::Proces* Hrani::server_ = nullptr;

// The render, sample for sample, from where --from says (a bar of 2 s, bar 8 at 14 s): what the sink heard starts within one buffer of it and is the
// render from there to its end. Not a terminal: no status line, and the run
// ends by itself.
TEST_F(Hrani, PlaysTheRendersSamplesFromWhereItIsAsked) {
    const std::pair<const char*, int64_t> odkud[] = {{"14", 14 * 22050}, {"0:15.5", 15 * 22050 + 11025},
                                                     {"bar:8", 14 * 22050}};
    for (const auto& [od, cil] : odkud) {
        Beh r;
        const std::vector<int16_t> zaznam = nahraj({"--from", od}, r);
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.out, "");
        const int64_t kde = vrenderu(zaznam);
        ASSERT_GE(kde, 0) << od << ": the recording is not the render";
        EXPECT_GE(kde, cil) << od;
        EXPECT_LT(kde - cil, 22050 * 50 / 1000) << od;
    }
    const Beh r = test::spust(hrat({"--from", "bar:9"}));
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("has bars 1 to 8"), std::string::npos) << r.err;
    EXPECT_EQ(test::spust(hrat({"--from", "1:75"})).status, 2);
    // A pickup is bar 0, as the sheet music numbers it: bars 0 to 8 here.
    s.soubor("kus.txt", "(time: 3/4) R2 t120 4 c | e g e | g e c |\n");
    EXPECT_EQ(test::spust(hrat({"--from", "bar:0"})).status, 0);
    const Beh pickup = test::spust(hrat({"--from", "bar:3"}));
    EXPECT_EQ(pickup.status, 2);
    EXPECT_NE(pickup.err.find("has bars 0 to 2"), std::string::npos) << pickup.err;
}

// --master plays its 48 kHz stereo (the sink mixes it down to its own
// format): from bar 8 on, the rest of the piece and the room after it.
TEST_F(Hrani, PlaysTheMasterFromWhereItIsAsked) {
    Beh r;
    const std::vector<int16_t> zaznam = nahraj({"--master", "--from", "bar:8"}, r);
    ASSERT_EQ(r.status, 0) << r.err;
    // 16 s of bars, 4 s of the last notes and 1.3 s of the room, from 14 s.
    const auto slyseno = std::count_if(zaznam.begin(), zaznam.end(), [](int16_t v) { return v != 0; });
    EXPECT_GT(slyseno, 5 * 22050);
    EXPECT_LT(slyseno, 9 * 22050);
}

TEST_F(Hrani, WithoutASoundServerSaysWhatIsMissingAndHowToWriteAFile) {
    test::Prikaz p = hrat({});
    p.prostredi = {{"XDG_RUNTIME_DIR", s.cesta()}, {"HOME", s.cesta()}, {"PULSE_SERVER", ""}};
    const Beh r = test::spust(p);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("no sound server"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("skladba kus.txt -o kus.flac"), std::string::npos) << r.err;
    // Options of a file are refused: play writes none.
    EXPECT_EQ(test::spust(hrat({"-o", "x.flac"})).status, 2);
}

// A sound server that stops answering mid-piece (stopped, its socket
// open): the run gives up after a few seconds and says why.
TEST_F(Hrani, GivesUpOnASoundServerThatStopsAnswering) {
    Zaznam zaznam(*this);
    test::Proces hra(hrat({}));
    for (const double konec = platform::ted() + 60; platform::ted() < konec && s.obsah("zaznam.raw").size() < 22050;) {
        platform::spi(50);
    }
    ASSERT_GE(s.obsah("zaznam.raw").size(), 22050u) << "nothing was heard";
    server_->signal(SIGSTOP);
    const double zastaven = platform::ted();
    const Beh r = hra.dokonci();
    server_->signal(SIGCONT);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("the sound server stopped answering"), std::string::npos) << r.err;
    EXPECT_LT(platform::ted() - zastaven, 60);
}

// skladba play on a pseudo-terminal: the status lines it draws, each with
// when it was read, and the keys sent to it.
class Terminal {
public:
    Terminal(const test::Prikaz& p) {
        pid_ = ::forkpty(&master_, nullptr, nullptr, nullptr);
        if (pid_ == 0) {
            if (::chdir(p.slozka.c_str()) != 0) ::_exit(127);
            for (const auto& [k, v] : p.prostredi) v.empty() ? ::unsetenv(k.c_str()) : ::setenv(k.c_str(), v.c_str(), 1);
            std::vector<char*> argv = {const_cast<char*>(p.program.c_str())};
            for (const std::string& a : p.argumenty) argv.push_back(const_cast<char*>(a.c_str()));
            argv.push_back(nullptr);
            ::execv(p.program.c_str(), argv.data());
            ::_exit(127);
        }
    }
    ~Terminal() {
        if (pid_ > 0 && !skoncil_) ::kill(pid_, SIGKILL), ::waitpid(pid_, nullptr, 0);
        if (master_ >= 0) ::close(master_);
    }
    // Reads for sekund; every status line with its time.
    void cti(double sekund) {
        const double konec = platform::ted() + sekund;
        for (double t; (t = platform::ted()) < konec;) {
            pollfd p{master_, POLLIN, 0};
            if (::poll(&p, 1, 10) <= 0) continue;
            char b[4096];
            const ssize_t n = ::read(master_, b, sizeof b);
            if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
            if (n <= 0) return;
            for (ssize_t i = 0; i < n; ++i) {
                if (b[i] == '\r' || b[i] == '\n') {
                    if (!rozepsany_.empty()) radky.push_back({platform::ted(), rozepsany_});
                    rozepsany_.clear();
                } else {
                    rozepsany_ += b[i];
                }
            }
        }
    }
    // Reads until a status line read from now on satisfies co (given its
    // position, -1 for a line without one, its text and when it was read),
    // for at most sekund: CI runs on a busy machine, so a state is waited
    // for, never a fixed time. Whether one did.
    bool dockej(const std::function<bool(double, const std::string&, double)>& co, double sekund = 20) {
        const double konec = platform::ted() + sekund;
        for (size_t videno = radky.size(); platform::ted() < konec;) {
            cti(0.02);
            for (; videno < radky.size(); ++videno) {
                double pozice = -1;
                int z = 0;
                if (!rozeber(radky[videno].second, pozice, z)) pozice = -1;
                if (co(pozice, radky[videno].second, radky[videno].first)) return true;
            }
        }
        return false;
    }
    void posli(const std::string& klavesy) { ASSERT_EQ(::write(master_, klavesy.data(), klavesy.size()), static_cast<ssize_t>(klavesy.size())); }
    int cekej() {
        int st = 0;
        for (int i = 0; i < 300 && ::waitpid(pid_, &st, WNOHANG) == 0; ++i) cti(0.01);
        skoncil_ = true;
        return WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
    }
    // The position and latency of the last status line, seconds (-1: none).
    static bool rozeber(const std::string& radek, double& pozice, int& zpozdeni) {
        // " M:SS.D / M:SS.D  latency N ms ..."
        int minut = 0, sekund = 0, desetin = 0, m2 = 0, s2 = 0, d2 = 0;
        const size_t zacatek = radek.find_first_not_of(' ');
        if (zacatek == std::string::npos ||
            std::sscanf(radek.c_str() + zacatek, "%d:%d.%d / %d:%d.%d  latency %d ms", &minut, &sekund, &desetin, &m2,
                        &s2, &d2, &zpozdeni) != 7) {
            return false;
        }
        pozice = minut * 60 + sekund + desetin / 10.0;
        return true;
    }

    std::vector<std::pair<double, std::string>> radky;

private:
    pid_t pid_ = -1;
    int master_ = -1;
    bool skoncil_ = false;
    std::string rozepsany_;
};

// The position shown keeps to the clock within the latency it reports (at
// most 50 ms); Right skips 5 s, Left back, Home to the start, space holds
// the position, q ends the run with the terminal as it was.
TEST_F(Hrani, TheStatusLineFollowsWhatIsHeardAndTheKeysMoveIt) {
    Zaznam zaznam(*this);
    Terminal t(hrat({}));
    // A null sink takes up to a second or so to start a new stream; then
    // some three seconds of status lines.
    ASSERT_TRUE(t.dockej([](double p, const std::string&, double) { return p >= 4.0; }, 60));
    // Each line's time less its position: a line read late (the machine
    // busy) only makes that more, so the least of each second is when the
    // line was drawn, and those keep to one another.
    std::vector<double> nejmene;
    std::vector<int> zpozdeni;
    std::vector<std::pair<double, double>> body;   // when read, the position shown
    int radku = 0;
    for (const auto& [kdy, radek] : t.radky) {
        double pozice = 0;
        int z = 0;
        if (!Terminal::rozeber(radek, pozice, z)) continue;
        zpozdeni.push_back(z);
        if (pozice < 1.0) continue;   // the stream is starting
        const size_t sekunda = static_cast<size_t>(pozice);
        if (nejmene.size() <= sekunda) nejmene.resize(sekunda + 1, 1e9);
        nejmene[sekunda] = std::min(nejmene[sekunda], kdy - pozice);
        body.push_back({kdy, pozice});
        ++radku;
    }
    nejmene.erase(std::remove(nejmene.begin(), nejmene.end(), 1e9), nejmene.end());
    ASSERT_GE(nejmene.size(), 2u);
    // The buffer asked for is 50 ms; a server starved by a busy machine
    // may hold more for a moment.
    std::sort(zpozdeni.begin(), zpozdeni.end());
    EXPECT_LE(zpozdeni[zpozdeni.size() / 2], 50);
    // Never ahead of the clock by more than a tenth's rounding and the
    // latency. (Behind it is what a busy machine does: a line read late, a
    // server run dry, so only the pace is asked of that side.)
    for (size_t i = 1; i < nejmene.size(); ++i) {
        EXPECT_GT(nejmene[i] - nejmene[0], -(0.1 + zpozdeni.back() / 1000.0 + 0.05)) << "second " << i;
    }
    EXPECT_GT(body.back().second - body.front().second, 0.5 * (body.back().first - body.front().first));
    EXPECT_GT(radku, 5) << t.radky.size() << " lines";
    // Bars of 2 s, beats of half a second.
    ASSERT_FALSE(t.radky.empty());
    {
        double pozice = 0;
        int z = 0;
        const std::string& r = t.radky.back().second;
        ASSERT_TRUE(Terminal::rozeber(r, pozice, z)) << r;
        const int desetin = static_cast<int>(pozice * 10 + 0.5);
        const std::string cekane = "bar " + std::to_string(desetin / 20 + 1) + " beat " + std::to_string(desetin % 20 / 5 + 1);
        EXPECT_NE(r.find(cekane), std::string::npos) << r << " (" << cekane << ")";
    }

    // Each key: the first status line that shows it, waited for; the
    // position it shows is the one before the key moved on by the time
    // between the two lines, give or take rounding and latency.
    double pred = -1, kdypred = 0;
    ASSERT_TRUE(t.dockej([&](double p, const std::string&, double kdy) { return p >= 0 && (pred = p, kdypred = kdy, true); }));
    t.posli("\x1b[C");
    double po = -1, kdypo = 0;
    ASSERT_TRUE(t.dockej([&](double p, const std::string&, double kdy) { return p >= pred + 4 && (po = p, kdypo = kdy, true); }));
    EXPECT_NEAR(po - pred - (kdypo - kdypred), 5, 0.5);
    const double poslano = platform::ted();
    t.posli("\x1b[D\x1b[D");   // back past the start stops at it
    ASSERT_TRUE(t.dockej([&](double p, const std::string&, double kdy) { return p >= 0 && p <= kdy - poslano + 0.35; }));
    ASSERT_TRUE(t.dockej([&](double p, const std::string&, double) { return p >= 1.0; }));
    const double domu = platform::ted();
    t.posli("\x1b[H");
    // The null sink may hold a flushed stream back a moment.
    EXPECT_TRUE(t.dockej([&](double p, const std::string&, double kdy) { return p >= 0 && p <= kdy - domu + 0.35; }));
    t.posli(" ");
    EXPECT_TRUE(t.dockej([](double, const std::string& r, double) { return r.find("paused") != std::string::npos; }))
        << t.radky.back().second;
    t.posli("q");
    EXPECT_EQ(t.cekej(), 0);
}

}  // namespace
}  // namespace skladba
