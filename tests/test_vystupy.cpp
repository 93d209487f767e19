// What a render writes besides the WAV: the Standard MIDI File, read back by
// a reader of the test's own, and the SVG piano roll.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <sys/stat.h>
#include <set>
#include <tuple>

#include "base/stav.h"
#include "platform/system.h"
#include "output/vyroba.h"
#include "midi.h"
#include "notopis.h"
#include "output/musicxml.h"
#include "proces.h"
#include "studio.h"

namespace skladba {
namespace {

namespace fs = std::filesystem;
using test::Beh;
using test::Midi;
using test::MidiNota;
using test::prectimidi;
using test::Studio;

// Values, a dot, a rest, a volume, a chord over a register change: every
// note on the tick of its value at the file's tempo, one track per register.
TEST(Midi, HoldsEveryNoteAsWritten) {
    Studio studio;
    studio.soubor("kus.txt", "t100 S0 4c. 8d e p s50 2f - R0 o2 c");
    Beh r = test::skladba(studio.cesta(), {"kus.txt", "--midi", "kus.mid"});
    ASSERT_EQ(r.status, 0) << r.err;
    Midi m = prectimidi(studio.obsah("kus.mid"));
    EXPECT_TRUE(m.cele);
    EXPECT_EQ(m.format, 1);
    EXPECT_EQ(m.deleni, 960);
    EXPECT_EQ(m.tempo, 600000);   // t100: 0.6 s a quarter
    EXPECT_EQ(m.jmena, (std::vector<std::string>{"kus.txt", "R1 voice 1", "R0 voice 1"}));   // a track per voice and register
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

// What a notation program needs: the time signature most bar lines keep
// (4/4 when no length is kept by most of them, or there are none), the General MIDI program of each
// register of the build, and with --midi-grid every note on the written grid.
TEST(Midi, NotationGetsTimeSignatureProgramsAndTheGrid) {
    Studio studio;
    const std::pair<const char*, std::pair<int, int>> metra[] = {
        {"4 c | d e f | g a h | c", {3, 4}},   // a pickup, then bars of 3/4
        {"4 c | d e f | g a | h c d | e f g | a", {3, 4}},   // one bar short of its note: still 3/4
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
    const Vysledek r = vyrob(n);
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
        EXPECT_EQ(m.deleni, 960);   // whatever the tempo does
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
            // The tick's time through the file's tempo map against start /
            // 22050 seconds: within a millisecond.
            const auto blizko = [&](const MidiNota& nota) {
                const double rozdil = m.sekundy(nota.tik) - static_cast<double>(klik.start) / 22050;
                return nota.klavesa == klik.segment + 36 && std::fabs(rozdil) <= 0.001;
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

// Bar lines and beats of the music as written stand behind the notes, at
// the times the WAV plays them: 4/4 at t120, a bar every 2 seconds.
TEST(PianoRoll, DrawsTheBarsAndBeats) {
    Studio studio;
    studio.soubor("kus.txt", "t120 S0 4 o1 c d e f | g a h o2 c | 1 c |");
    ASSERT_EQ(test::skladba(studio.cesta(), {"-q", "kus.txt", "--piano-roll", "kus.svg"}).status, 0);
    const std::string svg = studio.obsah("kus.svg");
    const size_t g = svg.find("<g id=\"bars\">");
    ASSERT_NE(g, std::string::npos) << svg.substr(0, 400);
    auto cesta = [&](size_t od) {
        const size_t a = svg.find(" d=\"", od) + 4;
        return svg.substr(a, svg.find('"', a) - a);
    };
    const std::string doby = cesta(g);
    const std::string takty = cesta(svg.find("#b0b0b0", g));
    // 8 s (the last note's four seconds from 0:04) on the narrowest
    // picture, 640 pixels: 80 a second from x 64.
    EXPECT_EQ(std::count(takty.begin(), takty.end(), 'M'), 3) << takty;
    EXPECT_EQ(std::count(doby.begin(), doby.end(), 'M'), 9) << doby;
    EXPECT_EQ(takty.rfind("M224.0 64V", 0), 0u) << takty;
    EXPECT_NE(takty.find("M544.0 64V"), std::string::npos) << takty;
    EXPECT_EQ(doby.rfind("M104.0 64V", 0), 0u) << doby;
}

// Accidentals as a musician writes them in the inferred key (F): no sign
// for a B flat, a natural for the first B of a measure, none for the B
// after it, a flat to bring the B flat back in that measure, and none in
// the next measure, where the key holds again.
TEST(SheetMusic, WritesTheAccidentalsInForce) {
    Studio studio;
    studio.soubor("kus.txt", "t120 S0 4 o1 f o1 g o1 a o1 <h | o2 c o1 a o1 g o1 f | "
                             "o1 <h o1 h o1 h o1 <h | o1 f o1 <h o1 g o1 f |");
    ASSERT_EQ(test::skladba(studio.cesta(), {"-q", "kus.txt", "--musicxml", "kus.musicxml"}).status, 0);
    const std::string x = studio.obsah("kus.musicxml");
    EXPECT_NE(x.find("<fifths>-1</fifths>"), std::string::npos);
    std::vector<std::string> noty;
    for (size_t i = x.find("<note"); i != std::string::npos; i = x.find("<note", i + 1)) {
        const std::string nota = x.substr(i, x.find("</note>", i) - i);
        const size_t krok = nota.find("<step>");
        if (krok == std::string::npos) continue;
        std::string n = nota.substr(krok + 6, 1);
        const size_t a = nota.find("<accidental>");
        if (a != std::string::npos) n += " " + nota.substr(a + 12, nota.find('<', a + 12) - a - 12);
        noty.push_back(n);
    }
    EXPECT_EQ(noty, (std::vector<std::string>{"F", "G", "A", "B", "C", "A", "G", "F", "B", "B natural", "B",
                                              "B flat", "F", "B", "G", "F"}));
}

// Sheet music of a score in 3/4 that uses most of the language: the bars
// give the time signature; a chord, sharps, flats and a transposition are
// spelled as written; sixths of a whole are triplets; a step back into a
// half note writes a second voice; a dot, a note tied over a bar line, the
// tempo with its curve and a volume as dynamics. The file keeps the schema
// and every voice fills every measure.
TEST(SheetMusic, WritesTheScoreAsWritten) {
    Studio studio;
    studio.soubor("kus.txt", "t96 S0 4 o1 c - e >f <h | 6 c d e 4 T-2 c T0 | 2 d - 4 f g a | s50 2 c. | "
                             "r10 4 c d e | r0 2 f 4 p | 2 g a 2 h");
    const Beh r = test::skladba(studio.cesta(), {"kus.txt", "--musicxml", "kus.musicxml"});
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string x = studio.obsah("kus.musicxml");
    for (const char* cekane : {
             "<work-title>kus</work-title>", "<part-name>Organ</part-name>",
             "<midi-program>17</midi-program>",   // the program of --midi, counted from 1
             "<beats>3</beats>", "<beat-type>4</beat-type>", "<chord/>\n        <pitch>\n          <step>E</step>",
             "<step>F</step>\n          <alter>1</alter>", "<step>B</step>\n          <alter>-1</alter>",
             "<accidental>sharp</accidental>", "<actual-notes>3</actual-notes>", "<voice>2</voice>",
             "<type>half</type>\n        <dot/>", "<tie type=\"start\"/>", "<tied type=\"stop\"/>",
             "<per-minute>96</per-minute>", "<sound tempo=\"96\"/>", "<words>rit.</words>",
             "<words>a tempo</words>", "<pp/>"}) {
        EXPECT_NE(x.find(cekane), std::string::npos) << "no " << cekane;
    }
    // The B flat transposed from c: spelled B flat, not A sharp.
    EXPECT_EQ(x.find("<step>A</step>\n          <alter>1</alter>"), std::string::npos);
    EXPECT_EQ(test::chybynotopisu(studio.cesta(), {"kus.musicxml"}), "");
}

// Scores at the edges of the language still give a file that keeps the
// schema and fills every measure: values no tuplet writes cleanly, values
// finer than any type, notes that take no time (grace notes), a step back
// into the middle of a note, a chord of unequal notes, eleven voices at
// once, a step back far past the start, a note longer than a measure, only
// rests, nothing at all, and a silent segment.
TEST(SheetMusic, OddScoresStayReadable) {
    Studio studio;
    const std::vector<std::string> kusy = {
        "3 c 5 d 7 e 11 f 13 g 4 a",
        "1000 c d e 2048 f g 4 a 100000 c c c 4 d",
        "4 c 2000000000 d - e 4 f",
        "2 c 4 - e f g 2 - a",
        "4 c - 8 e g 4 d - 2 f",
        "2 c d -2 e f -2 g a -2 h c -2 d e -2 f g -2 a h -2 c d -2 e f -2 g a -2 h c",
        "4 c d -1000000 e 1 c.. | 2 c",
        "p p - c p . - d",
        "( nothing )",
        "ov c om c",
    };
    std::vector<std::string> soubory;
    for (size_t i = 0; i < kusy.size(); ++i) {
        const std::string jmeno = "kus" + std::to_string(i);
        studio.soubor(jmeno + ".txt", kusy[i]);
        const Beh r = test::skladba(studio.cesta(), {jmeno + ".txt", "--musicxml", jmeno + ".musicxml"});
        ASSERT_EQ(r.status, 0) << kusy[i] << ": " << r.err;
        soubory.push_back(jmeno + ".musicxml");
    }
    EXPECT_EQ(test::chybynotopisu(studio.cesta(), soubory), "");
    EXPECT_NE(studio.obsah("kus2.musicxml").find("<grace/>"), std::string::npos);
    EXPECT_NE(studio.obsah("kus5.musicxml").find("<staves>3</staves>"), std::string::npos)
        << "eleven voices take three staves of four";
}

// A score too large for sheet music, or with more voices at once than a
// part holds, is refused, naming the limit, rather than writing a file no
// program opens.
TEST(SheetMusic, RefusesWhatWouldBeTooLarge) {
    Zapis z;
    z.tony.resize(3);
    for (size_t i = 0; i < 3; ++i) {
        z.tony[i].zacatek = static_cast<int64_t>(i) * 400;
        z.tony[i].delka = 4;
        z.tony[i].reg = static_cast<char>('1' + i);
        z.tony[i].pauza = false;
    }
    std::string out, chyba;
    MezeNotopisu meze;
    meze.bunek = 100;
    EXPECT_FALSE(bajtymusicxml(z, "kus", "skladba", out, chyba, meze));
    EXPECT_EQ(chyba, "the score would need 201 measures in 3 parts, more than sheet music of 100 measures in all holds");
    meze = MezeNotopisu{};
    meze.bajtu = 10000;
    EXPECT_FALSE(bajtymusicxml(z, "kus", "skladba", out, chyba, meze));
    EXPECT_EQ(chyba, "the sheet music would pass 0 MiB");
    EXPECT_TRUE(out.empty());
    // Sixty-five voices sounding at once on one instrument.
    z.tony.resize(65);
    for (size_t i = 0; i < z.tony.size(); ++i) z.tony[i] = z.tony[0], z.tony[i].hlas = static_cast<int32_t>(i);
    EXPECT_FALSE(bajtymusicxml(z, "kus", "skladba", out, chyba));
    EXPECT_EQ(chyba, "the score has more than 64 voices at once in R1, more than sheet music of one part holds");
}

// Outputs that cannot work are refused before anything is rendered; a score
// that fails keeps the previous files; nothing temporary is left behind.
TEST(Midi, BadOutputsAreRefusedAndLeaveNothing) {
    Studio studio;
    studio.soubor("kus.txt", "c d e");
    studio.soubor("zly.txt", "c d t0");
    studio.soubor("zly.mid", "previous");
    studio.soubor("zly.musicxml", "previous");
    fs::create_directories(studio.cesta() + "/d");
    fs::create_directories(studio.cesta() + "/p.svg.part");
    fs::create_directory_symlink("d", studio.cesta() + "/odkaz");
    const std::pair<std::vector<std::string>, const char*> pripady[] = {
        {{"kus.txt", "--midi", "no/such/kus.mid"}, "skladba: cannot write no/such/kus.mid: there is no folder no/such\n"},
        {{"kus.txt", "--midi", "kus.txt"}, "skladba: refusing to write kus.txt: it is the score itself\n"},
        {{"kus.txt", "--piano-roll", "kus.wav"}, "skladba: refusing to write kus.wav: it is the WAV itself\n"},
        {{"kus.txt", "--midi", "a", "--piano-roll", "a"},
         "skladba: refusing to write a twice: name one file for --midi and another for --piano-roll\n"},
        {{"kus.txt", "--midi", "a", "--musicxml", "a"},
         "skladba: refusing to write a twice: name one file for --midi and another for --musicxml\n"},
        {{"kus.txt", "--musicxml", "-"},
         "skladba: cannot write -: --musicxml needs a file name, not standard output\n"},
        // The same file named through another path, before it exists.
        {{"kus.txt", "--midi", "./kus.wav"},
         "skladba: refusing to write ./kus.wav: it is the WAV itself, kus.wav, by another path\n"},
        {{"kus.txt", "-o", "d/y.wav", "--piano-roll", "odkaz/y.wav"},
         "skladba: refusing to write odkaz/y.wav: it is the WAV itself, d/y.wav, by another path\n"},
        {{"kus.txt", "--piano-roll", "p.svg"},
         "skladba: cannot write p.svg: a folder stands at p.svg.part, the name it is written as first; "
         "move the folder away\n"},
        {{"zly.txt", "--midi", "zly.mid", "--musicxml", "zly.musicxml"},
         "skladba: zly.txt:1:5: tempo must be a positive number of quarter notes per minute\n"},
    };
    for (const auto& [argumenty, zprava] : pripady) {
        const Beh r = test::skladba(studio.cesta(), argumenty);
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.err, zprava);
    }
    EXPECT_EQ(test::skladba(studio.cesta(), {"--check", "kus.txt", "--midi", "x.mid"}).status, 2);
    EXPECT_EQ(test::skladba(studio.cesta(), {"--check", "kus.txt", "--musicxml", "x.musicxml"}).status, 2);
    EXPECT_EQ(studio.obsah("zly.mid"), "previous");
    EXPECT_EQ(studio.obsah("zly.musicxml"), "previous");
    std::set<std::string> zbylo;
    for (const auto& e : fs::directory_iterator(studio.cesta())) zbylo.insert(e.path().filename());
    EXPECT_EQ(zbylo, (std::set<std::string>{"kus.txt", "zly.txt", "zly.mid", "zly.musicxml", "rejstriky", "d", "odkaz",
                                            "p.svg.part"}));
}

}  // namespace
}  // namespace skladba

namespace skladba {
namespace {

// The server's render in memory and the command line's files are one run:
// the same bytes of every output, and no file written but the mix.
TEST(Pipeline, InMemoryMakesTheFilesBytes) {
    Studio studio;
    const std::string score = "t90 4c e g - - - 2c | r20 4d f a 2h";
    studio.soubor("kus.txt", score);
    test::Beh r = test::skladba(studio.cesta(), {"kus.txt", "--midi", "kus.mid", "--piano-roll", "kus.svg",
                                                 "--musicxml", "kus.musicxml"});
    ASSERT_EQ(r.status, 0) << r.err;
    Nastaveni n;
    n.cesty.partitura = n.cesty.jmenopartitury = "kus.txt";
    n.cesty.rejstriky = studio.cesta() + "/rejstriky";
    n.cesty.mix = studio.cesta() + "/pamet.tmp";
    n.cesty.vystup = studio.cesta() + "/nikdy.wav";
    n.cesty.midi = studio.cesta() + "/nikdy.mid";
    n.cesty.obraz = studio.cesta() + "/nikdy.svg";
    n.cesty.musicxml = studio.cesta() + "/nikdy.musicxml";
    n.text = &score;
    const Vyrobek v = vyrobvpameti(n);
    ASSERT_EQ(v.vysledek.status, 0) << v.vysledek.zprava;
    EXPECT_EQ(v.wav, studio.obsah("kus.wav"));
    for (size_t i = 0; i < pocetvystupu; ++i) {
        EXPECT_EQ(v.soubory[i], studio.obsah(std::string("kus.") + vystupy[i].pripona)) << vystupy[i].volba;
    }
    for (const char* f : {"nikdy.wav", "nikdy.mid", "nikdy.svg", "nikdy.musicxml", "pamet.tmp"}) {
        EXPECT_FALSE(studio.existuje(f)) << f;
    }
}

// A check reports what the render of the same score would: a folder of
// registers without the header template fails both.
TEST(Pipeline, CheckFailsWhereTheRenderWould) {
    Studio studio;
    studio.soubor("kus.txt", "c d e");
    fs::create_directory(studio.cesta() + "/bez");
    fs::copy_file(studio.cesta() + "/rejstriky/rejstr1.nes", studio.cesta() + "/bez/rejstr1.nes");
    const test::Beh render = test::skladba(studio.cesta(), {"--registers", "bez", "kus.txt"});
    const test::Beh check = test::skladba(studio.cesta(), {"--check", "--registers", "bez", "kus.txt"});
    EXPECT_EQ(render.status, 1);
    EXPECT_EQ(check.status, render.status);
    EXPECT_NE(check.err.find("cannot open the WAV header template"), std::string::npos) << check.err;
}

// A chorale written as arrangers write it: soprano, alto, tenor and bass
// of each phrase in turn, each stepped back to the start of the phrase,
// t96, then t80, and r40 over the last two bars. Four voices, the same in
// every output: the check counts four, the MIDI file has a track each and a
// tempo event at each t, sheet music puts soprano and alto on the treble
// staff, tenor and bass on the bass staff, in F.
TEST(Music, ChoraleWrittenPhraseByPhraseKeepsFourVoices) {
    Studio studio;
    fs::copy_file(studio.cesta() + "/rejstriky/rejstr1.nes", studio.cesta() + "/rejstriky/rejstr4.nes");
    studio.soubor("choral.txt", test::precti(std::string(SKLADBA_KUSY) + "/choral.txt"));
    const Beh c = test::skladba(studio.cesta(), {"--check", "choral.txt"});
    ASSERT_EQ(c.status, 0) << c.err;
    EXPECT_NE(c.out.find(", 4 voices\n"), std::string::npos) << c.out;
    const Beh r = test::skladba(studio.cesta(), {"-q", "choral.txt", "--midi", "c.mid", "--musicxml", "c.musicxml"});
    ASSERT_EQ(r.status, 0) << r.err;
    const Midi m = prectimidi(studio.obsah("c.mid"));
    EXPECT_EQ(m.deleni, 960);
    EXPECT_EQ(m.jmena, (std::vector<std::string>{"choral.txt", "R4 voice 1", "R4 voice 2", "R4 voice 3", "R4 voice 4"}));
    ASSERT_FALSE(m.tempa.empty());
    EXPECT_NEAR(60e6 / static_cast<double>(m.tempa.front().second), 96, 0.05);
    // t80 at bar 21.
    const int64_t takt21 = 20 * 4 * 960;
    EXPECT_NEAR(60.0 / m.ctvrtka(takt21), 80, 0.05);
    // Each track keeps its range: the soprano above the alto above the
    // tenor above the bass, in every note.
    std::vector<std::pair<int, int>> rozsah(5, {128, -1});
    for (const MidiNota& n : m.noty) {
        rozsah[n.stopa].first = std::min(rozsah[n.stopa].first, n.klavesa);
        rozsah[n.stopa].second = std::max(rozsah[n.stopa].second, n.klavesa);
    }
    for (size_t s = 1; s + 1 < 5; ++s) EXPECT_GE(rozsah[s].first, rozsah[s + 1].second) << s;

    const std::string x = studio.obsah("c.musicxml");
    EXPECT_NE(x.find("<fifths>-1</fifths>"), std::string::npos);
    EXPECT_EQ(x.find("<accidental>"), std::string::npos) << "every B flat is in the key";
    EXPECT_NE(x.find("<per-minute>96</per-minute>"), std::string::npos);
    EXPECT_NE(x.find("<per-minute>80</per-minute>"), std::string::npos);
    EXPECT_NE(x.find("<words>rit.</words>"), std::string::npos);
    EXPECT_EQ(x.find("<per-minute>6"), std::string::npos) << "no chain of marks under the curve";
    // Every playback tempo stands in a direction with words or a metronome
    // mark: alone, a notation program would show it as a mark of its own.
    for (size_t i = x.find("<sound tempo"); i != std::string::npos; i = x.find("<sound tempo", i + 1)) {
        const size_t smer = x.rfind("<direction", i);
        ASSERT_NE(smer, std::string::npos);
        EXPECT_TRUE(x.rfind("</direction>", i) == std::string::npos || x.rfind("</direction>", i) < smer)
            << x.substr(i, 40);
    }
    // Voices 1 and 2 on the treble staff, 3 and 4 on the bass staff, always.
    for (const char* v : {"1", "2", "3", "4"}) {
        const std::string hlas = std::string("<voice>") + v + "</voice>";
        const std::string osnova = std::string("<staff>") + (v[0] <= '2' ? "1" : "2") + "</staff>";
        for (size_t i = x.find(hlas); i != std::string::npos; i = x.find(hlas, i + 1)) {
            ASSERT_EQ(x.substr(x.find("<staff>", i), osnova.size()), osnova) << "voice " << v;
        }
    }
    EXPECT_EQ(test::chybynotopisu(studio.cesta(), {"c.musicxml"}), "");
    // MuseScore plays every t (and the curve's steps) as the MIDI file does.
    if (test::jemusescore()) {
        ASSERT_EQ(test::musescore(studio.cesta(), "c.musicxml", "ms.mid"), "");
        EXPECT_EQ(test::chybytempa(studio.cesta(), "c.mid", "ms.mid"), "");
        const Midi ms = prectimidi(studio.obsah("ms.mid"));
        EXPECT_NEAR(60.0 / ms.ctvrtka(m.noty.back().tik * ms.deleni / m.deleni), 60.0 / m.ctvrtka(m.noty.back().tik), 1);
    }
}

// A dot after a chord lengthens its last note only, as the WAV plays it:
// the MIDI file and sheet music say the same.
TEST(Music, DotAfterAChordLengthensTheLastNoteInEveryOutput) {
    Studio studio;
    studio.soubor("kus.txt", "t120 S0 4 o1 c - e .");
    ASSERT_EQ(test::skladba(studio.cesta(), {"kus.txt", "--midi", "kus.mid", "--musicxml", "kus.musicxml"}).status, 0);
    const Midi m = prectimidi(studio.obsah("kus.mid"));
    ASSERT_EQ(m.noty.size(), 2u);
    EXPECT_EQ(m.noty[0].klavesa, 60);
    EXPECT_EQ(m.noty[0].delka, 960);
    EXPECT_EQ(m.noty[1].klavesa, 64);
    EXPECT_EQ(m.noty[1].delka, 1440);
    const std::string x = studio.obsah("kus.musicxml");
    const auto typ = [&](const char* krok) {
        const size_t i = x.find(std::string("<step>") + krok);
        const size_t t = i == std::string::npos ? i : x.find("<type>", i);
        return i == std::string::npos || t == std::string::npos ? std::string() : x.substr(t, 37);
    };
    EXPECT_EQ(typ("C").substr(0, 36), "<type>quarter</type>\n        <staff>");
    EXPECT_EQ(typ("E"), "<type>quarter</type>\n        <dot/>\n ");
    EXPECT_EQ(x.find("<chord/>"), std::string::npos) << "c and e end apart: no chord";
    EXPECT_EQ(test::chybynotopisu(studio.cesta(), {"kus.musicxml"}), "");
}

}  // namespace
}  // namespace skladba
