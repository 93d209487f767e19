// Every score in examples/ as a musician renders it: the real program, run
// with no arguments in a working directory of its own that holds the score
// as aktualni.txt and a link to the registers of this build.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <tuple>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <set>
#include <sstream>
#include <stdexcept>
#include <string>
#include <unistd.h>
#include <vector>

#include "midi.h"
#include "notopis.h"
#include "proces.h"
#include "wavdata.h"

namespace {

namespace fs = std::filesystem;

using skladba::test::le;

std::string obsah(const fs::path& path) { return skladba::test::precti(path.string()); }

// The example scores, sorted by name.
std::vector<std::string> priklady() {
    std::vector<std::string> names;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(SKLADBA_EXAMPLES, ec)) {
        if (entry.is_regular_file() && entry.path().extension() == ".txt") {
            names.push_back(entry.path().filename().string());
        }
    }
    std::sort(names.begin(), names.end());
    return names;
}

std::string priklad(const std::string& name) { return obsah(fs::path(SKLADBA_EXAMPLES) / name); }

bool jeUtf16(const std::string& score) {
    return score.size() >= 2 && score[0] == '\xFF' && score[1] == '\xFE';
}

std::vector<std::string> prikladyUtf16() {
    std::vector<std::string> names;
    for (const auto& name : priklady()) {
        if (jeUtf16(priklad(name))) names.push_back(name);
    }
    return names;
}

struct Beh : skladba::test::Beh {
    std::set<std::string> soubory;    // what the working directory holds afterwards
    std::string wav;                  // aktualni.wav, if any
};

// A scratch directory: work/ is the program's working directory.
class Pracoviste {
public:
    Pracoviste() {
        std::string pattern = (fs::temp_directory_path() / "skladba-example-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
        root_ = pattern;
        fs::create_directory(work());
        fs::create_directory_symlink(SKLADBA_REGISTERS, work() / "rejstriky");
    }
    ~Pracoviste() {
        std::error_code ec;
        fs::remove_all(root_, ec);   // removes the link, not the registers
    }
    Pracoviste(const Pracoviste&) = delete;
    Pracoviste& operator=(const Pracoviste&) = delete;

    fs::path work() const { return root_ / "work"; }

    Beh hraj(const std::string& score) const {
        skladba::test::zapis((work() / "aktualni.txt").string(), score);
        Beh r;
        static_cast<skladba::test::Beh&>(r) = skladba::test::skladba(work().string());
        for (const auto& entry : fs::directory_iterator(work())) {
            r.soubory.insert(entry.path().filename().string());
        }
        r.wav = obsah(work() / "aktualni.wav");
        return r;
    }

private:
    fs::path root_;
};

// A playable 16-bit mono 22050 Hz PCM file whose header agrees with its
// length, at least one four-second note long, and scaled to the program's
// output peak: no sample beyond 32752, and loud. (The loudest sample may
// fall short of 32752: the scale comes from the largest sum the mix held at
// any moment, and a later voice can bring that sum back down.)
void zkontrolujWav(const std::string& wav) {
    ASSERT_GE(wav.size(), 44u);
    EXPECT_EQ(wav.substr(0, 4), "RIFF");
    EXPECT_EQ(wav.substr(8, 8), "WAVEfmt ");
    EXPECT_EQ(le(wav, 16, 4), 16u);       // fmt chunk size
    EXPECT_EQ(le(wav, 20, 2), 1u);        // PCM
    EXPECT_EQ(le(wav, 22, 2), 1u);        // mono
    EXPECT_EQ(le(wav, 24, 4), 22050u);    // samples per second
    EXPECT_EQ(le(wav, 28, 4), 44100u);    // bytes per second
    EXPECT_EQ(le(wav, 32, 2), 2u);        // bytes per sample
    EXPECT_EQ(le(wav, 34, 2), 16u);       // bits per sample
    EXPECT_EQ(wav.substr(36, 4), "data");
    const uint32_t dataBytes = le(wav, 40, 4);
    EXPECT_EQ(dataBytes, wav.size() - 44);
    EXPECT_EQ(le(wav, 4, 4), wav.size() - 8);

    const size_t samples = (wav.size() - 44) / 2;
    EXPECT_GE(samples, 88200u);
    int peak = 0;
    for (size_t i = 0; i < samples; ++i) {
        const int s = static_cast<int16_t>(le(wav, 44 + 2 * i, 2));
        peak = std::max(peak, s < 0 ? -s : s);
    }
    EXPECT_GE(peak, 32752 / 4);
    EXPECT_LE(peak, 32752);
}

// The same score in Windows-1250: the byte-order mark dropped, c-caron and
// e-caron as their 1250 bytes, every other code unit ASCII. Returns false
// (with a reason) for a code unit that has no such twin.
bool naWindows1250(const std::string& utf16, std::string& out, std::string& why) {
    out.clear();
    if (!jeUtf16(utf16) || utf16.size() % 2 != 0) {
        why = "not UTF-16LE with a byte-order mark and whole code units";
        return false;
    }
    for (size_t at = 2; at < utf16.size(); at += 2) {
        const uint32_t unit = le(utf16, at, 2);
        if (unit == 0x010D) {
            out += '\xE8';
        } else if (unit == 0x011B) {
            out += '\xEC';
        } else if (unit >= 0x01 && unit < 0x80) {
            out += static_cast<char>(unit);
        } else {
            std::ostringstream s;
            s << "code unit U+" << std::hex << unit << " at byte " << std::dec << at
              << " reads differently in the two encodings";
            why = s.str();
            return false;
        }
    }
    return true;
}

TEST(Examples, AreShippedInBothEncodings) {
    const auto all = priklady();
    EXPECT_TRUE(std::find(all.begin(), all.end(), "stupnice.txt") != all.end())
        << "the build copies examples/stupnice.txt into its working directory";
    EXPECT_GE(all.size(), 4u);
    EXPECT_FALSE(prikladyUtf16().empty());
}

// The manual lists the examples: every file there, and nothing that is not.
TEST(Examples, MatchTheListInTheReadme) {
    const std::string readme = obsah(fs::path(SKLADBA_EXAMPLES).parent_path() / "README.md");
    ASSERT_FALSE(readme.empty());
    const auto all = priklady();
    for (const auto& name : all) {
        EXPECT_TRUE(readme.find("examples/" + name) != std::string::npos)
            << "examples/" << name << " is not listed in README.md";
    }
    const std::string prefix = "examples/";
    const auto vJmene = [](char c) {
        return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '.' || c == '-';
    };
    for (size_t at = readme.find(prefix); at != std::string::npos; at = readme.find(prefix, at + 1)) {
        size_t end = at + prefix.size();
        while (end < readme.size() && vJmene(readme[end])) ++end;
        const std::string name = readme.substr(at + prefix.size(), end - at - prefix.size());
        if (name.size() < 5 || name.compare(name.size() - 4, 4, ".txt") != 0) continue;
        EXPECT_TRUE(std::find(all.begin(), all.end(), name) != all.end())
            << "README.md names examples/" << name << ", which does not exist";
    }
}

class Example : public ::testing::TestWithParam<std::string> {};

TEST_P(Example, RendersSilentlyToACompleteWav) {
    Pracoviste p;
    const Beh r = p.hraj(priklad(GetParam()));
    // A build without libfluidsynth or a SoundFont makes no registers 5 to 9;
    // an example that plays them cannot be heard there.
    const std::string skipped = SKLADBA_SKIPPED_REGISTERS;
    if (r.status != 0 && !skipped.empty() && r.err.find("cannot load register") != std::string::npos) {
        GTEST_SKIP() << "examples/" << GetParam() << " needs a register this build did not make: " << skipped;
    }
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out, "");
    // No _.tmp, no aktualni.wav.part: only the score, the WAV and the link.
    EXPECT_EQ(r.soubory, (std::set<std::string>{"aktualni.txt", "aktualni.wav", "rejstriky"}));
    zkontrolujWav(r.wav);
    // Read as a named score, it draws no warning either.
    const skladba::test::Beh c = skladba::test::skladba(p.work().string(), {"--check", "aktualni.txt"});
    EXPECT_EQ(c.status, 0) << c.err;
    EXPECT_EQ(c.out.find("warning"), std::string::npos) << c.out;
}

std::string jmenoTestu(const ::testing::TestParamInfo<std::string>& info) {
    std::string name;
    for (char c : fs::path(info.param).stem().string()) {
        name += std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
    }
    return name;
}

INSTANTIATE_TEST_SUITE_P(Scores, Example, ::testing::ValuesIn(priklady()), jmenoTestu);

// 64-bit FNV-1a: enough to notice any change of a file's bytes.
std::string otisk(const std::string& bytes) {
    uint64_t h = 0xcbf29ce484222325u;
    for (char c : bytes) {
        h ^= static_cast<uint8_t>(c);
        h *= 0x100000001b3u;
    }
    char text[17];
    std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(h));
    return text;
}

// The recorded digest and size of each example's WAV, by file name.
std::map<std::string, std::string> zaznamenaneOtisky() {
    std::map<std::string, std::string> out;
    std::istringstream lines(obsah(SKLADBA_DIGESTS));
    std::string line;
    while (std::getline(lines, line)) {
        if (line.empty() || line[0] == '#') continue;
        const size_t space = line.find(' ');
        out[line.substr(0, space)] = line.substr(space + 1);
    }
    return out;
}

class GoldenExample : public ::testing::TestWithParam<std::string> {};

// The output is pinned byte for byte: any change to how a score renders
// shows here first.
TEST_P(GoldenExample, RendersToTheRecordedBytes) {
    const auto recorded = zaznamenaneOtisky();
    const auto it = recorded.find(GetParam());
    if (it != recorded.end() && it->second == "-") {
        GTEST_SKIP() << "not pinned: its registers come from the installed SoundFont";
    }
    Pracoviste p;
    const Beh r = p.hraj(priklad(GetParam()));
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string actual = otisk(r.wav) + " " + std::to_string(r.wav.size());
    ASSERT_NE(it, recorded.end()) << "no digest recorded for " << GetParam() << "; add the line\n"
                                  << GetParam() << " " << actual << "\nto " << SKLADBA_DIGESTS;
    EXPECT_EQ(actual, it->second);
}

INSTANTIATE_TEST_SUITE_P(Scores, GoldenExample, ::testing::ValuesIn(priklady()), jmenoTestu);

class SheetMusicExample : public ::testing::TestWithParam<std::string> {};

// Every example as sheet music: it keeps the schema, every voice fills
// every measure, MuseScore 3 opens it without an error, and MuseScore's own
// MIDI export of it plays the notes of skladba's --midi: the same keys, each
// starting within a sixteenth and lasting its value as written (or with its
// dot, which --midi leaves out), and the tempo of every t.
TEST_P(SheetMusicExample, OpensInMuseScoreWithTheNotesOfTheMidiFile) {
    namespace t = skladba::test;
    if (!t::jemusescore()) GTEST_SKIP() << "MuseScore 3 (mscore3) is not installed";
    Pracoviste p;
    const std::string work = p.work().string();
    t::zapis((p.work() / "kus.txt").string(), priklad(GetParam()));
    const t::Beh r = t::skladba(work, {"kus.txt", "-q", "--midi", "kus.mid", "--musicxml", "kus.musicxml"});
    const std::string skipped = SKLADBA_SKIPPED_REGISTERS;
    if (r.status != 0 && !skipped.empty() && r.err.find("cannot load register") != std::string::npos) {
        GTEST_SKIP() << "examples/" << GetParam() << " needs a register this build did not make: " << skipped;
    }
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(t::chybynotopisu(work, {"kus.musicxml"}), "");
    ASSERT_EQ(t::musescore(work, "kus.musicxml", "ms.mid"), "");
    EXPECT_EQ(t::chybytempa(work, "kus.mid", "ms.mid"), "");
    // MuseScore reading the MIDI file puts every bar line where the sheet
    // music has it (and may add a bar for the last notes' release).
    ASSERT_EQ(t::musescore(work, "kus.mid", "ms.musicxml"), "");
    std::vector<int64_t> takty = t::zacatkytaktu(obsah(p.work() / "kus.musicxml"));
    std::vector<int64_t> zmidi = t::zacatkytaktu(obsah(p.work() / "ms.musicxml"));
    ASSERT_GE(zmidi.size(), takty.size());
    EXPECT_LE(zmidi.size(), takty.size() + 1);
    takty.pop_back();   // the end of the music, which MuseScore's last bar may pass
    zmidi.resize(takty.size());
    EXPECT_EQ(zmidi, takty);

    struct Nota {
        int klavesa;
        double start, delka, ctvrtka;
    };
    auto noty = [](const t::Midi& m) {
        std::vector<Nota> v;
        for (const t::MidiNota& n : m.noty) {
            v.push_back({n.klavesa, m.sekundy(n.tik), m.sekundy(n.tik + n.delka) - m.sekundy(n.tik), m.ctvrtka(n.tik)});
        }
        return v;
    };
    const std::vector<Nota> nase = noty(t::prectimidi(obsah(p.work() / "kus.mid")));
    const std::vector<Nota> jejich = noty(t::prectimidi(obsah(p.work() / "ms.mid")));
    EXPECT_EQ(nase.size(), jejich.size());
    // Pairs of one key that start within a sixteenth, the closest first.
    auto rozdildelky = [](const Nota& a, const Nota& b) { return std::abs(b.delka - a.delka); };
    std::vector<std::tuple<double, size_t, size_t>> pary;
    for (size_t i = 0; i < nase.size(); ++i) {
        for (size_t j = 0; j < jejich.size(); ++j) {
            const double posun = std::abs(jejich[j].start - nase[i].start);
            if (nase[i].klavesa == jejich[j].klavesa && posun <= jejich[j].ctvrtka / 4) {
                pary.emplace_back(posun + rozdildelky(nase[i], jejich[j]), i, j);
            }
        }
    }
    std::sort(pary.begin(), pary.end());
    std::vector<bool> nasespojene(nase.size()), jejichspojene(jejich.size());
    for (const auto& [cena, i, j] : pary) {
        if (nasespojene[i] || jejichspojene[j]) continue;
        nasespojene[i] = jejichspojene[j] = true;
        EXPECT_LE(rozdildelky(nase[i], jejich[j]), jejich[j].ctvrtka / 4)
            << "key " << nase[i].klavesa << " at " << nase[i].start << " s lasts " << nase[i].delka << " s, in MuseScore "
            << jejich[j].delka << " s";
    }
    for (size_t i = 0; i < nase.size(); ++i) {
        EXPECT_TRUE(nasespojene[i]) << "MuseScore plays no key " << nase[i].klavesa << " near " << nase[i].start << " s";
    }
}

INSTANTIATE_TEST_SUITE_P(Scores, SheetMusicExample, ::testing::ValuesIn(priklady()), jmenoTestu);

class Utf16Example : public ::testing::TestWithParam<std::string> {};

// Outside the byte-order mark, only ASCII, c-caron and e-caron may appear,
// and the score must sound exactly like its Windows-1250 twin, down to the
// start jitter of every note.
TEST_P(Utf16Example, RendersLikeItsWindows1250Twin) {
    const std::string utf16 = priklad(GetParam());
    std::string w1250;
    std::string why;
    ASSERT_TRUE(naWindows1250(utf16, w1250, why)) << why;
    EXPECT_NE(w1250.find_first_of("\xE8\xEC"), std::string::npos)
        << "the score uses neither c-caron nor e-caron";

    Pracoviste a;
    Pracoviste b;
    const Beh first = a.hraj(utf16);
    const Beh twin = b.hraj(w1250);
    ASSERT_EQ(first.status, 0) << first.err;
    ASSERT_EQ(twin.status, 0) << twin.err;
    ASSERT_GT(first.wav.size(), 44u);
    EXPECT_TRUE(first.wav == twin.wav) << "the two encodings render differently";
}

INSTANTIATE_TEST_SUITE_P(Scores, Utf16Example, ::testing::ValuesIn(prikladyUtf16()), jmenoTestu);

}  // namespace
