// The check of a score as a musician meets it: --check prints each likely
// misreading with its place and what to write instead, then a summary; a
// render prints the same warnings on standard error, -q silences them.
#include <gtest/gtest.h>

#include <tuple>

#include "proces.h"
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
                  "c ; d\n"
                  "| 4 c d e f | g a h | c d e f |\n");
    const Beh r = test::skladba(studio.cesta(), {"--check", "navyk.txt"});
    EXPECT_EQ(r.status, 0) << r.err;
    const std::pair<const char*, const char*> cekane[] = {
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
        {"navyk.txt:12:21:", "this bar lasts 3/4 of a whole note, the bar before it in this voice 1"},
        {"navyk.txt:12:31:", "this bar lasts 1 of a whole note, the bar before it in this voice 3/4"},
    };
    const std::vector<std::string> out = radky(r.out);
    ASSERT_GE(out.size(), std::size(cekane)) << r.out;
    for (size_t i = 0; i < std::size(cekane); ++i) {
        EXPECT_EQ(out[i].rfind(std::string(cekane[i].first) + " warning: ", 0), 0u) << out[i];
        EXPECT_NE(out[i].find(cekane[i].second), std::string::npos) << out[i];
    }
    EXPECT_EQ(out[std::size(cekane)].rfind("navyk.txt: ", 0), 0u) << "no other warning: " << r.out;
    // A check renders nothing.
    EXPECT_FALSE(studio.existuje("navyk.wav"));
    EXPECT_FALSE(studio.existuje("navyk.wav.mix"));
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
              "  voice 1, line 2: whole notes 0 to 2, 0:00.00 to 0:08.00\n"
              "  voice 2, line 3: whole notes 0 to 1.75, 0:00.00 to 0:07.00\n"
              "  voice 3, line 4: whole notes 0.75 to 1.75, 0:03.00 to 0:07.00\n");
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
    n.varovani = n.souhrn = n.seznamnot = true;
    Vysledek r = spust(n);
    ASSERT_EQ(r.status, 0) << r.zprava;
    ASSERT_EQ(r.mistavarovani.size(), 1u);
    const Hlaseni& w = r.mistavarovani[0];
    EXPECT_EQ(std::make_tuple(w.pozice, w.radek, w.sloupec), std::make_tuple(int64_t{5}, int64_t{2}, int64_t{1}));
    EXPECT_EQ(r.varovani[0], "aktualni.txt:2:1: warning: " + w.text);
    EXPECT_EQ(r.souhrn.size(), 2u);
    std::vector<std::pair<int64_t, int64_t>> mista;
    for (const NotaVPartiture& nota : r.seznamnot) mista.emplace_back(nota.od, nota.po);
    EXPECT_EQ(mista, (std::vector<std::pair<int64_t, int64_t>>{{0, 1}, {2, 4}, {5, 6}, {9, 10}}));

    studio.soubor("aktualni.txt", "c\n  t0 d");
    r = spust(n);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(std::make_tuple(r.mistochyby.pozice, r.mistochyby.radek, r.mistochyby.sloupec),
              std::make_tuple(int64_t{4}, int64_t{2}, int64_t{3}));
    EXPECT_EQ(r.zprava, "aktualni.txt:2:3: " + r.mistochyby.text);
}

}  // namespace
}  // namespace skladba
