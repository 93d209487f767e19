// The check of a score as a musician meets it: --check prints each likely
// misreading with its place and what to write instead, then a summary; a
// render prints the same warnings on standard error, -q silences them.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <tuple>

#include "output/vyroba.h"
#include "engine/prikazy.h"
#include "proces.h"
#include "score/kontrola.h"
#include "studio.h"

namespace skladba {
namespace {

using test::Beh;
using test::Studio;

std::vector<std::string> radky(const std::string& text) {
    std::vector<std::string> out;
    for (size_t at = 0, nl; (nl = text.find('\n', at)) != std::string::npos; at = nl + 1) {
        out.push_back(text.substr(at, nl - at));
    }
    return out;
}

// Each line of out, from the first, is a warning at the place of its pair
// ("SCORE:LINE:COLUMN:") that says its text; the lines after them are returned.
using Cekane = std::vector<std::pair<std::string, const char*>>;
std::vector<std::string> ocekavejvarovani(const std::string& out, const Cekane& cekane) {
    std::vector<std::string> vse = radky(out);
    EXPECT_GE(vse.size(), cekane.size()) << out;
    for (size_t i = 0; i < cekane.size() && i < vse.size(); ++i) {
        EXPECT_EQ(vse[i].rfind(cekane[i].first + " warning: ", 0), 0u) << vse[i];
        EXPECT_NE(vse[i].find(cekane[i].second), std::string::npos) << vse[i];
    }
    vse.erase(vse.begin(), vse.begin() + static_cast<long>(std::min(cekane.size(), vse.size())));
    return vse;
}

// One habit of another notation per line; each is warned about once, at its
// place, with the advice that names what to write.
TEST(Check, WarnsOfEachMisreadingWithItsPlaceAndAdvice) {
    Studio studio;
    studio.soubor("navyk.txt",
                  "( b # fis: not in a comment )\n"
                  "4 c d e b\n"
                  "c# d\n"
                  "fis g\n"
                  "Adagio c\n"
                  "c4 d8 e\n"
                  "s 80 c\n"
                  "ov c o1 c\n"
                  "\xC4\x8D" "f\n"
                  "c -4c\n"
                  "c ; d as\n"
                  "| 4 c d e f | g a h | c d e f |\n"
                  "4 c d e f | g a h | c d e f\n");
    const Beh r = test::skladba(studio.cesta(), {"--check", "navyk.txt"});
    EXPECT_EQ(r.status, 0) << r.err;
    const std::vector<std::string> zbytek = ocekavejvarovani(r.out, {
        {"navyk.txt:2:9:", "B flat is <h"},
        {"navyk.txt:3:2:", "a sharp comes before its note, >c"},
        {"navyk.txt:4:1:", "for f sharp write >f"},
        {"navyk.txt:5:1:", "write words inside a comment, ( Adagio )"},
        {"navyk.txt:6:2:", "write the value before its note, 4c"},
        {"navyk.txt:6:5:", "write the value before its note, 8d"},
        {"navyk.txt:7:1:", "write s80"},
        {"navyk.txt:8:4:", "the lowest note that sounds is ov >c"},
        {"navyk.txt:9:1:", "saved as UTF-8 is ignored (a score is Windows-1250 or UTF-16LE text): write >"},
        {"navyk.txt:10:4:", "write - 4c"},
        {"navyk.txt:11:3:", "\";\" is not a command and is ignored"},
        {"navyk.txt:11:7:", "for a flat write <a"},
        {"navyk.txt:12:21:", "this bar lasts 3/4 of a whole note, the bars of this voice 1"},
        {"navyk.txt:13:19:", "this bar lasts 3/4 of a whole note, the bars of this voice 1"},
    });
    ASSERT_FALSE(zbytek.empty()) << r.out;
    EXPECT_EQ(zbytek[0].rfind("navyk.txt: ", 0), 0u) << "no other warning: " << r.out;
    // A check renders nothing.
    EXPECT_FALSE(studio.existuje("navyk.wav"));
    EXPECT_FALSE(studio.existuje("navyk.wav.mix"));
}

// Habits of other notations that the language reads as something else, and
// slips only the engine sees, each at its place with what to write.
TEST(Check, WarnsOfSlipsThatWouldPassSilently) {
    Studio studio;
    // Register 8 holds silence from o4 d up, as a SoundFont preset may.
    studio.soubor("rejstriky/rejstr8.nes", test::registr(pocetsegmentu, [](int k, int i) -> int16_t {
                      return k < 62 && i == 0 ? 1000 : 0; }));
    studio.soubor("slips.txt",
                  "o4 c o1 > c < a s150 R12 o5 4\n"
                  "| 2a. | r2.\n"
                  "S0 4 c. - e c - e - g. 8p\n"
                  "r10 4 c d -3 e r0 t30 1 a t120\n"
                  "1 -99 4 c R8 o4 d e d\n");
    const Beh r = test::skladba(studio.cesta(), {"--check", "slips.txt"});
    EXPECT_EQ(r.status, 0) << r.err;
    const std::vector<std::string> zbytek = ocekavejvarovani(r.out, {
        {"slips.txt:1:1:", "o4 is the highest octave here"},
        {"slips.txt:1:9:", "here > is the sharp of the next note"},
        {"slips.txt:1:13:", "write <a for a flat"},
        {"slips.txt:1:17:", "s150 is as loud as s100"},
        {"slips.txt:1:22:", "\"R12\" is register 1 and then the note value 2"},
        {"slips.txt:1:26:", "middle C is o1"},
        {"slips.txt:2:9:", "a rest is p, so write 2p."},
        {"slips.txt:3:9:", "step back a value and a half, -."},
        {"slips.txt:3:22:", "this dot lengthens only the last note of the chord"},
        {"slips.txt:4:11:", "this step back crosses an r"},
        {"slips.txt:4:25:", "this note lasts 8.00 s by its value, but its recording holds 4 s"},
        {"slips.txt:5:3:", "before the start of the piece"},
        {"slips.txt:5:17:", "o4 d, which R8 holds as silence (its samples there are all zero), so it sounds nothing: "
                            "play it in another octave or from another register (and 1 more note like it)"},
        {"slips.txt:5:19:", "o4 e, which R8 holds as silence"},
    });
    // The 8-second note falls silent after 4: the summary says the sound,
    // and the WAV, end before the last voice.
    ASSERT_GE(zbytek.size(), 2u) << r.out;
    EXPECT_EQ(zbytek[0].rfind("slips.txt: 0:09.3, ", 0), 0u) << r.out;
    EXPECT_EQ(zbytek[1], "  the sound ends at 0:09.28 (the WAV's length), before the last voice, which "
                                          "ends at 0:12.77: no note sounds longer than its 4-second recording");
}

// Bars are checked voice by voice against the bar each keeps, in a piece
// written phrase by phrase: a note across a bar line, written by leaving
// that bar line out, and an unbarred stretch before the first bar line are
// music; a bar line written after the note that crosses it and a bar one
// value short are not, each said once in the voice it is in.
TEST(Check, BarsKeepTheirVoicesBar) {
    Studio studio;
    studio.soubor("takty.txt",
                  "t120 S0\n"
                  "4 o1 c d e f g a | 4 o2 c o1 h a g | 2 f 1 e 2 d | 2 -9\n"
                  "2 om c | g c | g c | g c | g c |\n"
                  "4 o1 c d e 2 f | 4 g a h | o2 c o1 h a g | 1 -3\n"
                  "2 om c g | c | c g |\n");
    const Beh r = test::skladba(studio.cesta(), {"--check", "takty.txt"});
    EXPECT_EQ(r.status, 0) << r.err;
    const std::vector<std::string> zbytek = ocekavejvarovani(r.out, {
        {"takty.txt:4:16:", "this bar line stands 1/4 of a whole note after the bar line that the note before it "
                            "crosses, where a bar of this voice (1) ends: a note across a bar line is written by "
                            "leaving that bar line out, so leave this one out"},
        {"takty.txt:5:14:", "this bar lasts 1/2 of a whole note, the bars of this voice 1: a note or a value missing "
                            "or extra?"},
    });
    ASSERT_FALSE(zbytek.empty()) << r.out;
    EXPECT_EQ(zbytek[0].rfind("takty.txt: ", 0), 0u) << "no other warning: " << r.out;
    EXPECT_NE(r.out.find(", 2 voices\n"), std::string::npos) << r.out;
    // In 2/4: after a bar line written past the note that crosses it, a
    // bar a quarter too long ends off the bars, whatever its own length.
    studio.soubor("posun.txt", "t100 S0 4 o1 c d | e f | 2g | 4 g 2 f | 4 e d | c 4 c |\n");
    const Beh p = test::skladba(studio.cesta(), {"--check", "posun.txt"});
    ocekavejvarovani(p.out, {
        {"posun.txt:1:39:", "crosses, where a bar of this voice (1/2) ends"},
        {"posun.txt:1:47:", "this bar line stands 1/4 of a whole note after a bar of this voice (1/2) ends"},
    });
}

// An error does not end the check: it reports the error (and fails) and
// still reads the score to its end, bars and all, as the lexical check does.
TEST(Check, GoesOnAfterAnError) {
    Studio studio;
    studio.soubor("chyba.txt", "Andante\n4 o1 c d e f | g a h | c d e f | g a h c |\n");
    const Beh r = test::skladba(studio.cesta(), {"--check", "chyba.txt"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("chyba.txt:1:6: tempo must be a positive number"), std::string::npos) << r.err;
    EXPECT_NE(r.out.find("chyba.txt:1:1: warning: \"Andante\" is not music"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("chyba.txt:2:22: warning: this bar lasts 3/4 of a whole note, the bars of this voice 1"),
              std::string::npos) << r.out;
}

// The relative octave rule follows the last note written, often another
// voice's: a soprano written after the bass, without an o, lands two
// octaves down. Warned of with the octave to write; an o, or a voice that
// goes on by itself, is not.
TEST(Check, WarnsOfAnOctaveTakenFromAnotherVoice) {
    Studio studio;
    studio.soubor("oktavy.txt",
                  "t120 S0\n"
                  "4 o1 a g f e | 1 -1\n"
                  "4 ov d e f g |\n"
                  "4 f g a <h | 1 -1\n"
                  "4 om c d e f |\n"
                  "4 o1 c d c h |\n");
    const Beh r = test::skladba(studio.cesta(), {"--check", "oktavy.txt"});
    EXPECT_EQ(r.status, 0) << r.err;
    const std::vector<std::string> zbytek = ocekavejvarovani(r.out, {
        {"oktavy.txt:4:3:", "this f plays ov f, more than an octave below the note before it in its voice (o1 e): "
                            "without an o, a note takes the octave of the last note written, here ov g in another "
                            "voice (write o1f instead)"},
    });
    ASSERT_FALSE(zbytek.empty()) << r.out;
    EXPECT_EQ(zbytek[0].rfind("oktavy.txt: ", 0), 0u) << "no other warning: " << r.out;
}

// A volume outside 0 to 100 is said to be the nearest end, either way.
TEST(Check, WarnsOfAVolumeOutsideItsRange) {
    Studio studio;
    studio.soubor("sila.txt", "s150 c s-5 d s100 e s0 f");
    const Beh r = test::skladba(studio.cesta(), {"--check", "sila.txt"});
    const std::vector<std::string> zbytek = ocekavejvarovani(r.out, {
        {"sila.txt:1:1:", "s150 is as loud as s100"},
        {"sila.txt:1:8:", "s-5 is as soft as s0: the volume goes from 0 to 100, so write s0"},
    });
    ASSERT_FALSE(zbytek.empty()) << r.out;
    EXPECT_EQ(zbytek[0].rfind("sila.txt: ", 0), 0u) << "no other warning: " << r.out;
}

// A comment never closed swallows the notes after it: warned of at its (,
// with how much it takes; a closed one is not.
TEST(Check, WarnsOfACommentNeverClosed) {
    Studio studio;
    studio.soubor("open.txt", "t120 c d ( oops, forgot to close\ne f g\na h c\n");
    const Beh r = test::skladba(studio.cesta(), {"--check", "open.txt"});
    EXPECT_EQ(r.status, 0) << r.err;
    ocekavejvarovani(r.out, {{"open.txt:1:10:", "this comment is never closed: it swallows the rest of the score, 3 lines (36 bytes): close it with )"}});
    studio.soubor("closed.txt", "t120 c d ( ( nested ) closed )\ne f g\n");
    const Beh z = test::skladba(studio.cesta(), {"--check", "closed.txt"});
    EXPECT_EQ(z.out.find("warning"), std::string::npos) << z.out;
}

// The text a warning quotes is the score's, whether it was saved as
// Windows-1250 or as UTF-16LE (whose zero bytes the quote must not run past).
TEST(Check, QuotesAUtf16ScoreAsItsAsciiTwin) {
    Studio studio;
    const std::string score = "c d -4c s-5- r2.t | 2a | r2 |\n";
    std::string utf16;
    for (char c : score) utf16 += std::string{c, '\0'};
    studio.soubor("a.txt", score);
    studio.soubor("u.txt", utf16);
    const Beh a = test::skladba(studio.cesta(), {"--check", "a.txt"});
    const Beh u = test::skladba(studio.cesta(), {"--check", "u.txt"});
    EXPECT_NE(a.out.find("warning: -4c steps back 4 values"), std::string::npos) << a.out;
    std::string ua = u.out;
    for (size_t i; (i = ua.find("u.txt")) != std::string::npos;) ua[i] = 'a';
    EXPECT_EQ(ua, a.out);
}

// No warning on a correct piece: three voices of 32 bars in 3/4 whose lines
// end with a bar line only now and then (the examples are checked with
// their renders).
TEST(Check, CorrectPieceIsNotWarnedAbout) {
    Studio studio;
    std::string trio = "t90 R4 S0\n";
    for (int i = 0; i < 8; ++i) trio += "4 o2 c d e | f e d | 2c 4p | e f g\n";
    trio += "1 -24 R1\n";
    for (int i = 0; i < 8; ++i) trio += "2 o1 e. | d. | c. | d 4p |\n";
    trio += "1 -24 R3\n";
    for (int i = 0; i < 4; ++i) trio += "2 om c. | g. | c. | g.\n2 c. g. c. g.\n";
    std::filesystem::create_directory(studio.cesta() + "/bez");
    studio.soubor("bez/trio.txt", trio);
    const Beh r = test::skladba(studio.cesta(), {"--check", "bez/trio.txt"});
    EXPECT_EQ(r.out, "bez/trio.txt: 1:07.3, 144 notes, range om c to o2 g, 3 voices\n"
                     "  voice 1 (R4, o2 c to o2 g), line 2: whole notes 0 to 24, 0:00.00 to 1:04.00\n"
                     "  voice 2 (R1, o1 c to o1 e), line 11: whole notes 0 to 24, 0:00.00 to 1:04.00\n"
                     "  voice 3 (R3, om c to om g), line 20: whole notes 0 to 24, 0:00.00 to 1:04.00\n");
}

// Voices written one after another with step backs: where each starts and
// ends, in whole notes and seconds; chords stacked with "-" stay in their voice.
TEST(Check, SummarisesEachVoice) {
    Studio studio;
    studio.soubor("tri.txt",
                  "t60 S0\n"
                  "4 o2 c d e f | 1 c - e - g\n"
                  "1 -2 4 o1 c e g c | 2 c 4 e\n"
                  "1 -1 om 2 c g\n");
    const Beh r = test::skladba(studio.cesta(), {"--check", "tri.txt"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out,
              "tri.txt: 0:10.0, 15 notes, range om c to o2 g, 3 voices\n"
              "  voice 1 (R1, o2 c to o2 g), line 2: whole notes 0 to 2, 0:00.00 to 0:08.00\n"
              "  voice 2 (R1, o1 c to o1 g), line 3: whole notes 0 to 1.75, 0:00.00 to 0:07.00\n"
              "  voice 3 (R1, om c to om g), line 4: whole notes 0.75 to 1.75, 0:03.00 to 0:07.00\n");
    // Chords over dotted notes step back a value and a half ("-."): still
    // one voice. A check needs no registers: this folder has none.
    std::filesystem::create_directory(studio.cesta() + "/bez");
    studio.soubor("bez/akordy.txt", "t60 4 c. -. e. -. g. 8 d");
    const Beh akordy = test::skladba(studio.cesta(), {"--check", "bez/akordy.txt"});
    EXPECT_EQ(akordy.status, 0) << akordy.err;
    EXPECT_EQ(radky(akordy.out).at(0), "bez/akordy.txt: 0:05.5, 4 notes, range o1 c to o1 g, 1 voice");
}

// The command loop and the check read arguments from one table: they must
// agree on where every command stands and where its argument ends, for
// every command with every kind of argument after it.
TEST(Check, ReadsEveryCommandAsTheEngineDoes) {
    Studio studio;
    const std::string argumenty[] = {"",   "5",  "-3.5,2x", " 4", ".c",  ",",        "v",  "2 ",
                                     "x",  "(a(b)c)", std::string("\x01", 1), "\xFF", "\x0D\x01",
                                     std::string("\0c", 2), "-.", "-"};
    for (int b = 1; b < 256; ++b) {
        if (!syntaxe().jeprikaz(b)) continue;
        for (const std::string& a : argumenty) {
            const std::string score = "c " + std::string(1, static_cast<char>(b)) + a + " d";
            studio.soubor("s.txt", score);
            Nastaveni n;
            n.kontrola = true;
            n.cesty.partitura = n.cesty.jmenopartitury = "s.txt";
            n.cesty.rejstriky = "";
            std::vector<Povel> engine;
            n.sledovaniprikazu = [&](int64_t pozice, int64_t po) { engine.push_back({pozice, po}); };
            const Vysledek r = vyrob(n);
            Partitura p;
            ASSERT_TRUE(p.otevri("s.txt", "s.txt"));
            std::vector<Povel> kontrola;
            int64_t dalsich = 0;
            zkontrolujpismo(p, syntaxe(), 1000, dalsich, &kontrola);
            // The engine stops at an error; up to there the two agree.
            if (r.status == 0) {
                EXPECT_EQ(engine, kontrola) << testing::PrintToString(score);
            }
            ASSERT_LE(engine.size(), kontrola.size()) << testing::PrintToString(score);
            EXPECT_TRUE(std::equal(engine.begin(), engine.end(), kontrola.begin())) << testing::PrintToString(score);
        }
    }
}

// A score that would not render is the usual error (status 1) after its
// warnings; a render prints the warnings on standard error, -q silences
// them, and a run without arguments prints nothing, as it always has.
TEST(Check, RenderWarnsUnlessQuietAndErrorsStayErrors) {
    Studio studio;
    studio.soubor("chyba.txt", "c# t0");
    Beh r = test::skladba(studio.cesta(), {"--check", "chyba.txt"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(radky(r.out).size(), 1u) << r.out;
    EXPECT_EQ(r.err, "skladba: chyba.txt:1:4: tempo must be a positive number of quarter notes per minute\n");
    studio.soubor("R5.txt", "c R5 d");
    r = test::skladba(studio.cesta(), {"--check", "R5.txt"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("cannot load register \"5\" from rejstriky/rejstr5.nes"), std::string::npos) << r.err;

    studio.soubor("aktualni.txt", "c# d");
    r = test::skladba(studio.cesta(), {"aktualni.txt"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err.rfind("aktualni.txt:1:2: warning: ", 0), 0u) << r.err;
    const std::string wav = studio.obsah("aktualni.wav");
    r = test::skladba(studio.cesta(), {"-q", "aktualni.txt"});
    EXPECT_EQ(r.err, "");
    r = test::skladba(studio.cesta());
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err + r.out, "");
    EXPECT_EQ(studio.obsah("aktualni.wav"), wav);
}

// What a program that marks the score (the editor of skladba serve) gets
// besides the lines: each warning and the error with its byte offset, line
// and column, the summary in a render, and every note with the bytes of
// the score it comes from (a dot that lengthens it included).
TEST(Check, HandsUpPlacesForAnEditor) {
    Studio studio;
    studio.soubor("aktualni.txt", "c d.\nfis e");
    Nastaveni n;
    n.varovani = n.souhrn = n.hudba = true;
    Vysledek r = vyrob(n);
    ASSERT_EQ(r.status, 0) << r.zprava;
    ASSERT_EQ(r.mistavarovani.size(), 1u);
    const Hlaseni& w = r.mistavarovani[0];
    EXPECT_EQ(std::make_tuple(w.pozice, w.radek, w.sloupec), std::make_tuple(int64_t{5}, int64_t{2}, int64_t{1}));
    EXPECT_EQ(r.varovani[0], "aktualni.txt:2:1: warning: " + w.text);
    EXPECT_EQ(r.souhrn.size(), 2u);
    std::vector<std::pair<int64_t, int64_t>> mista;
    for (const Udalost& e : r.hudba.udalosti) {
        if (e.hraje()) mista.emplace_back(e.pozice, e.po);
    }
    EXPECT_EQ(mista, (std::vector<std::pair<int64_t, int64_t>>{{0, 1}, {2, 4}, {5, 6}, {9, 10}}));

    studio.soubor("aktualni.txt", "c\n  t0 d");
    r = vyrob(n);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(std::make_tuple(r.mistochyby.pozice, r.mistochyby.radek, r.mistochyby.sloupec),
              std::make_tuple(int64_t{4}, int64_t{2}, int64_t{3}));
    EXPECT_EQ(r.zprava, "aktualni.txt:2:3: " + r.mistochyby.text);
}

}  // namespace
}  // namespace skladba
