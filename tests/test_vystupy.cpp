// What a render writes besides the WAV: the Standard MIDI File, read back by
// a reader of the test's own, and the SVG piano roll.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <sys/stat.h>
#include <set>
#include <tuple>

#include "base/stav.h"
#include "platform/system.h"
#include "engine/beh.h"
#include "proces.h"
#include "studio.h"

namespace skladba {
namespace {

namespace fs = std::filesystem;
using test::Beh;
using test::Studio;

struct MidiNota {
    size_t stopa;
    int kanal, klavesa, rychlost;
    int64_t tik, delka;
    bool operator==(const MidiNota& o) const {
        return std::tie(stopa, kanal, klavesa, rychlost, tik, delka) ==
               std::tie(o.stopa, o.kanal, o.klavesa, o.rychlost, o.tik, o.delka);
    }
};

struct Midi {
    int format = -1, deleni = 0;
    int64_t tempo = 0;
    std::vector<std::string> jmena;   // each track's name
    std::vector<int> programy;        // each track's program, -1 for none
    std::pair<int, int> metrum;       // the time signature, numerator and denominator
    std::vector<MidiNota> noty;       // in the order their note offs come
};

// Just enough of the format for what skladba writes: no running status.
Midi prectimidi(const std::string& b) {
    auto cislo = [&](size_t at, int bajtu) {
        int64_t v = 0;
        for (int i = 0; i < bajtu; ++i) v = v << 8 | static_cast<uint8_t>(b.at(at + i));
        return v;
    };
    Midi m;
    if (b.compare(0, 4, "MThd") != 0) return m;
    m.format = static_cast<int>(cislo(8, 2));
    m.deleni = static_cast<int>(cislo(12, 2));
    size_t at = 14;
    for (int64_t s = 0; s < cislo(10, 2); ++s) {
        EXPECT_EQ(b.substr(at, 4), "MTrk");
        const size_t konec = at + 8 + static_cast<size_t>(cislo(at + 4, 4));
        at += 8;
        m.jmena.emplace_back();
        m.programy.push_back(-1);
        int64_t tik = 0;
        std::vector<std::pair<int, int64_t>> zaznene;   // key, start
        std::vector<int> rychlosti;
        while (at < konec) {
            int64_t krok = 0;
            uint8_t c = 0;
            do {
                c = static_cast<uint8_t>(b.at(at++));
                krok = krok << 7 | (c & 0x7F);
            } while (c & 0x80);
            tik += krok;
            const uint8_t st = static_cast<uint8_t>(b.at(at++));
            if (st == 0xFF) {
                const uint8_t typ = static_cast<uint8_t>(b.at(at++));
                const size_t delka = static_cast<uint8_t>(b.at(at++));
                if (typ == 0x03) m.jmena.back() = b.substr(at, delka);
                if (typ == 0x51) m.tempo = cislo(at, 3);
                if (typ == 0x58) m.metrum = {static_cast<uint8_t>(b.at(at)), 1 << b.at(at + 1)};
                at += delka;
                continue;
            }
            if ((st & 0xF0) == 0xC0) {
                m.programy.back() = static_cast<uint8_t>(b.at(at++));
                continue;
            }
            const int klavesa = static_cast<uint8_t>(b.at(at));
            const int rychlost = static_cast<uint8_t>(b.at(at + 1));
            at += 2;
            if ((st & 0xF0) == 0x90) {
                zaznene.push_back({klavesa, tik});
                rychlosti.push_back(rychlost);
                continue;
            }
            for (size_t i = 0; i < zaznene.size(); ++i) {
                if (zaznene[i].first != klavesa) continue;
                m.noty.push_back({m.jmena.size() - 1, st & 0x0F, klavesa, rychlosti[i], zaznene[i].second,
                                  tik - zaznene[i].second});
                zaznene.erase(zaznene.begin() + static_cast<long>(i));
                rychlosti.erase(rychlosti.begin() + static_cast<long>(i));
                break;
            }
        }
        EXPECT_EQ(b.substr(at - 3, 3), std::string("\xFF\x2F\x00", 3)) << "end of track " << s;
        at = konec;
    }
    return m;
}

// Values, a dot, a rest, a volume, a chord over a register change: every
// note on the tick of its value at the file's tempo, one track per register.
TEST(Midi, HoldsEveryNoteAsWritten) {
    Studio studio;
    studio.soubor("kus.txt", "t100 S0 4c. 8d e p s50 2f - R0 o2 c");
    Beh r = test::skladba(studio.cesta(), {"kus.txt", "--midi", "kus.mid"});
    ASSERT_EQ(r.status, 0) << r.err;
    Midi m = prectimidi(studio.obsah("kus.mid"));
    EXPECT_EQ(m.format, 1);
    EXPECT_EQ(m.deleni, 960);
    EXPECT_EQ(m.tempo, 600000);   // t100: 0.6 s a quarter
    EXPECT_EQ(m.jmena, (std::vector<std::string>{"kus.txt", "R1", "R0"}));
    const std::vector<MidiNota> cekane = {
        {1, 0, 60, 127, 0, 1440}, {1, 0, 62, 127, 1440, 480}, {1, 0, 64, 127, 1920, 480},
        {1, 0, 65, 40, 2880, 1920}, {2, 1, 72, 40, 2880, 1920},
    };
    EXPECT_EQ(m.noty, cekane);
    // A dot after a step back lengthens nothing before it.
    studio.soubor("kus.txt", "S0 4c - . d");
    ASSERT_EQ(test::skladba(studio.cesta(), {"kus.txt", "--midi", "kus.mid"}).status, 0);
    EXPECT_EQ(prectimidi(studio.obsah("kus.mid")).noty.at(0).delka, 960);

    // Eleven registers: eleven channels, none of them the percussion channel.
    for (const char* reg : {"2", "3", "4", "5", "6", "7", "8", "9", "a"}) {
        fs::copy_file(studio.cesta() + "/rejstriky/rejstr1.nes", studio.cesta() + "/rejstriky/rejstr" + reg + ".nes");
    }
    studio.soubor("kus.txt", "R0c R1c R2c R3c R4c R5c R6c R7c R8c R9c Rac");
    r = test::skladba(studio.cesta(), {"kus.txt", "--midi", "kus.mid"});
    ASSERT_EQ(r.status, 0) << r.err;
    m = prectimidi(studio.obsah("kus.mid"));
    ASSERT_EQ(m.noty.size(), 11u);
    std::set<int> kanaly;
    for (const MidiNota& n : m.noty) kanaly.insert(n.kanal);
    EXPECT_EQ(kanaly.size(), 11u);
    EXPECT_EQ(kanaly.count(9), 0u);
}

// What a notation program needs: the time signature of the bar lines (4/4
// when they disagree or there are none), the General MIDI program of each
// register of the build, and with --midi-grid every note on the written grid.
TEST(Midi, NotationGetsTimeSignatureProgramsAndTheGrid) {
    Studio studio;
    const std::pair<const char*, std::pair<int, int>> metra[] = {
        {"4 c | d e f | g a h | c", {3, 4}},   // a pickup, then bars of 3/4
        {"8 c d e | f g a | h c", {3, 8}},
        {"4 c d e | f g | a", {4, 4}},
        {"c d e f g", {4, 4}},
    };
    for (const auto& [score, metrum] : metra) {
        studio.soubor("kus.txt", score);
        ASSERT_EQ(test::skladba(studio.cesta(), {"-q", "kus.txt", "--midi", "kus.mid"}).status, 0);
        EXPECT_EQ(prectimidi(studio.obsah("kus.mid")).metrum, metrum) << score;
    }
    fs::copy_file(studio.cesta() + "/rejstriky/rejstr1.nes", studio.cesta() + "/rejstriky/rejstr4.nes");
    studio.soubor("kus.txt", "4 c d e f - - - - R4 c d e f - - - - R0 c d e f | g a h c |");
    const auto tiky = [&](const std::vector<std::string>& volby) {
        std::vector<std::string> argumenty = {"kus.txt", "--midi", "kus.mid"};
        argumenty.insert(argumenty.end(), volby.begin(), volby.end());
        EXPECT_EQ(test::skladba(studio.cesta(), argumenty).status, 0);
        const Midi m = prectimidi(studio.obsah("kus.mid"));
        EXPECT_EQ(m.programy, (std::vector<int>{-1, 16, 0, -1}));   // the tempo track, R1 organ, R4 piano, R0
        std::set<int64_t> mimo;
        for (const MidiNota& n : m.noty) {
            if (n.tik % 960 != 0) mimo.insert(n.tik);
        }
        return mimo.size();
    };
    EXPECT_GT(tiky({}), 0u);   // jittered
    EXPECT_EQ(tiky({"--midi-grid"}), 0u);
    EXPECT_EQ(test::skladba(studio.cesta(), {"kus.txt", "--midi-grid"}).status, 2);
}

// Two voices in unison: a player releases a key at the first note off it
// gets, so the key is released just before it is struck again.
TEST(Midi, UnisonVoicesReleaseBeforeTheyStrikeAgain) {
    Studio studio;
    studio.soubor("kus.txt", "S0 2 c - 4 p c");
    ASSERT_EQ(test::skladba(studio.cesta(), {"kus.txt", "--midi", "kus.mid"}).status, 0);
    const Midi m = prectimidi(studio.obsah("kus.mid"));
    EXPECT_EQ(m.noty, (std::vector<MidiNota>{{1, 0, 60, 127, 0, 960}, {1, 0, 60, 127, 960, 960}}));
}

// The MIDI file changes with the WAV or not at all: when the WAV cannot be
// put in place, the previous MIDI file stays.
TEST(Midi, KeptWhenTheWavCannotBePutInPlace) {
    Studio studio;
    studio.soubor("kus.mid", "previous");
    studio.soubor("aktualni.txt", "cde");
    platform::volani().pwrite = [](int fd, const void* buf, size_t n, off_t off) -> ssize_t {
        if (off == 0 && platform::tentyzsoubor(fd, "aktualni.wav.part")) ::mkdir("aktualni.wav", 0755);
        return ::pwrite(fd, buf, n, off);
    };
    Nastaveni n;
    n.cesty.midi = "kus.mid";
    const Vysledek r = spust(n);
    platform::obnovvolani();
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(studio.obsah("kus.mid"), "previous");
    EXPECT_FALSE(studio.existuje("kus.mid.part"));
    EXPECT_FALSE(studio.existuje("aktualni.wav.part"));
}

// A jittered canon, at one tempo and under a tempo curve: every note's tick,
// played at the file's own tempo, is within one tick of the sample where the
// note starts in the WAV, and lasts its value and its dots.
TEST(Midi, StartsAreExactUnderJitter) {
    const std::string hlas = "c d e c | c d e. 8c | 4e f 2g | 4e f 2g |";
    for (const std::string krivka : {"", "r-4", "S0 r-4"}) {
        Studio studio;
        Nastaveni n;
        n.cesty.midi = "kanon.mid";
        studio.soubor("aktualni.txt", "R0 t90 " + krivka + " 4 o1 " + hlas + " 1 -3 4 o2 " + hlas + " 1 -3 4 om " + hlas);
        ASSERT_EQ(studio.spust(n).status, 0);
        const std::vector<Studio::Nota> kliky = studio.noty();
        const Midi m = prectimidi(studio.obsah("kanon.mid"));
        ASSERT_EQ(m.noty.size(), 42u);
        EXPECT_EQ(m.deleni, krivka.empty() ? 960 : 11025);
        if (krivka == "S0 r-4") {
            // One tick a sample, no jitter: each note of the top voice lasts
            // until the next one starts, the dotted e included.
            std::vector<MidiNota> horni;
            for (const MidiNota& nota : m.noty) {
                if (nota.klavesa >= 72) horni.push_back(nota);
            }
            std::sort(horni.begin(), horni.end(), [](const MidiNota& a, const MidiNota& b) { return a.tik < b.tik; });
            ASSERT_EQ(horni.size(), 14u);
            for (size_t i = 0; i + 1 < horni.size(); ++i) EXPECT_EQ(horni[i].tik + horni[i].delka, horni[i + 1].tik) << i;
            continue;
        }
        ASSERT_EQ(kliky.size(), 42u) << "two notes started on one sample";
        std::vector<MidiNota> zbyva = m.noty;
        for (const Studio::Nota& klik : kliky) {
            // tick * tempo / division microseconds against start / 22050
            // seconds: at most one tick apart.
            const auto blizko = [&](const MidiNota& nota) {
                const int64_t rozdil = nota.tik * m.tempo * 22050 - klik.start * m.deleni * 1000000;
                return nota.klavesa == klik.segment + 36 && std::abs(rozdil) <= m.tempo * 22050;
            };
            const auto nalezena = std::find_if(zbyva.begin(), zbyva.end(), blizko);
            ASSERT_NE(nalezena, zbyva.end()) << krivka << ": no note within a tick of sample " << klik.start;
            zbyva.erase(nalezena);
        }
    }
}

// The picture parses as XML and holds one bar per note; a piece with no
// notes says so. Neither file changes a byte of the WAV.
TEST(PianoRoll, ParsesAndHoldsOneBarPerNote) {
    Studio studio;
    studio.soubor("kus.txt", "t100 S0 4 c d e - g | R0 2 c p");
    ASSERT_EQ(test::skladba(studio.cesta(), {"kus.txt", "-o", "sam.wav"}).status, 0);
    Beh r = test::skladba(studio.cesta(), {"kus.txt", "--piano-roll", "kus.svg", "--midi", "kus.mid"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(studio.obsah("kus.wav"), studio.obsah("sam.wav"));
    studio.soubor("prazdny.txt", "( nothing yet )");
    r = test::skladba(studio.cesta(), {"prazdny.txt", "--piano-roll", "prazdny.svg", "--midi", "prazdny.mid"});
    ASSERT_EQ(r.status, 0) << r.err;
    // A score's name may hold any byte; the title must still be XML.
    const std::string divne = "a<&>\xED\xA0\x80\xEF\xBF\xBE.txt";
    studio.soubor(divne, "c");
    ASSERT_EQ(test::skladba(studio.cesta(), {divne, "--piano-roll", "divne.svg"}).status, 0);
    EXPECT_NE(studio.obsah("prazdny.svg").find(">no notes<"), std::string::npos);
    const Midi m = prectimidi(studio.obsah("prazdny.mid"));
    EXPECT_EQ(m.jmena.size(), 2u);
    EXPECT_TRUE(m.noty.empty());

    if (std::system("command -v python3 >/dev/null 2>&1") != 0) GTEST_SKIP() << "no python3 to parse XML";
    test::Prikaz p = test::vslozce(studio.cesta());
    p.program = "/usr/bin/env";
    p.argumenty = {"python3", "-c",
                   "import sys, xml.etree.ElementTree as E\n"
                   "for f in sys.argv[1:]:\n"
                   "  s = E.parse(f).getroot(); n = '{http://www.w3.org/2000/svg}'\n"
                   "  g = [e for e in s.iter(n + 'g') if e.get('id') == 'notes'][0]\n"
                   "  print(len(g.findall(n + 'rect')), s.find(n + 'title').text)\n",
                   "kus.svg", "prazdny.svg", "divne.svg"};
    r = test::spust(p);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out.substr(0, 66), "5 kus.txt: 0:07.00, 5 notes\n0 prazdny.txt: 0:00.00, 0 notes\n1 a<&>");
}

// Outputs that cannot work are refused before anything is rendered; a score
// that fails keeps the previous files; nothing temporary is left behind.
TEST(Midi, BadOutputsAreRefusedAndLeaveNothing) {
    Studio studio;
    studio.soubor("kus.txt", "c d e");
    studio.soubor("zly.txt", "c d t0");
    studio.soubor("zly.mid", "previous");
    const std::pair<std::vector<std::string>, const char*> pripady[] = {
        {{"kus.txt", "--midi", "no/such/kus.mid"}, "skladba: cannot write no/such/kus.mid: there is no folder no/such\n"},
        {{"kus.txt", "--midi", "kus.txt"}, "skladba: refusing to write kus.txt: it is the score itself\n"},
        {{"kus.txt", "--piano-roll", "kus.wav"}, "skladba: refusing to write kus.wav: it is the WAV itself\n"},
        {{"kus.txt", "--midi", "a", "--piano-roll", "a"},
         "skladba: refusing to write a twice: name one file for --midi and another for --piano-roll\n"},
        {{"zly.txt", "--midi", "zly.mid"},
         "skladba: zly.txt:1:5: tempo must be a positive number of quarter notes per minute\n"},
    };
    for (const auto& [argumenty, zprava] : pripady) {
        const Beh r = test::skladba(studio.cesta(), argumenty);
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.err, zprava);
    }
    EXPECT_EQ(test::skladba(studio.cesta(), {"--check", "kus.txt", "--midi", "x.mid"}).status, 2);
    EXPECT_EQ(studio.obsah("zly.mid"), "previous");
    std::set<std::string> zbylo;
    for (const auto& e : fs::directory_iterator(studio.cesta())) zbylo.insert(e.path().filename());
    EXPECT_EQ(zbylo, (std::set<std::string>{"kus.txt", "zly.txt", "zly.mid", "rejstriky"}));
}

}  // namespace
}  // namespace skladba
