// libFuzzer target: what a render is turned into. The first input byte
// chooses the options, the rest is the score; the render runs in memory as
// the editor's server runs it, with every output, and each is checked:
//
//  * the run ends with status 0 or 1, a failure with a message;
//  * status 0: the WAV has its header and a data size that matches it; the
//    MIDI file is a header chunk and tracks whose lengths add up to the
//    file, each ending with its end-of-track event; the piano roll and the
//    sheet music are UTF-8 and complete;
//  * the server's JSON of the render, and of the input's bytes as a string,
//    parses;
//  * status 0, a short piece: the WAV encoded in the format chosen, with the
//    input's bytes (any bytes) as its title, is that format's file or a
//    clean refusal, never a crash.
//
// Option byte: bits 0-1 the release (none, 5 ms, 100 ms, 3 s), which plays
// the sustain loops: register 1 has a loop file that fits it, register 2 a
// damaged one; bits 2-4 the encoder (1 FLAC, 2 Vorbis, 3 MP3, 4 Opus, else
// none); bit 5 the title from the score's first bytes rather than from its
// name and comment; bit 6 the encoder writing into a file, as the command
// line's does, rather than into memory, as the server's.
#include <cerrno>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <memory>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>
#if __has_include(<nlohmann/json.hpp>)
#include <nlohmann/json.hpp>
#define FUZZ_JSON 1
#endif

#include "base/chyba.h"
#include "base/kodovani.h"
#include "base/utf8.h"
#include "output/vyroba.h"
#include "serve/json.h"
#include "synth/smycka.h"
#ifdef SKLADBA_HAVE_KODEK
#include "output/kodek.h"
#endif

namespace {

using skladba::delkatonu;

// About three minutes at most; a short piece is encoded too.
constexpr int64_t kPieceSamples = int64_t{1} << 22;
constexpr size_t kEncodeBytes = 44 + size_t{2} * 22050 * 10;

std::string g_input;

[[noreturn]] void fail(const char* fmt, ...) {
    std::fprintf(stderr, "\nfuzz_outputs: broken invariant: ");
    va_list ap;
    va_start(ap, fmt);
    std::vfprintf(stderr, fmt, ap);
    va_end(ap);
    std::fprintf(stderr, "\ninput: %zu bytes, option byte %d\n", g_input.size(),
                 g_input.empty() ? -1 : static_cast<unsigned char>(g_input[0]));
    std::abort();
}

void writeFile(const std::string& path, const std::string& bytes) {
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f || std::fwrite(bytes.data(), 1, bytes.size(), f) != bytes.size() || std::fclose(f) != 0) {
        fail("cannot write %s: %s", path.c_str(), std::strerror(errno));
    }
}

std::string samples(const std::vector<int16_t>& v) {
    std::string s;
    for (const int16_t x : v) {
        s += static_cast<char>(static_cast<uint16_t>(x) & 0xFF);
        s += static_cast<char>(static_cast<uint16_t>(x) >> 8);
    }
    return s;
}

// A scratch folder with the header template, two short registers and their
// loop files; the runs name it by its whole path, so that the fuzzer's own
// relative paths keep their meaning.
struct Workshop {
    std::string dir;
    Workshop() {
        const char* tmp = std::getenv("TMPDIR");
        dir = std::string(tmp && *tmp ? tmp : "/tmp") + "/skladba-fuzz-outputs-XXXXXX";
        if (!::mkdtemp(dir.data())) fail("cannot make a scratch folder: %s", std::strerror(errno));
        const std::string reg = dir + "/rejstriky/";
        ::mkdir(reg.c_str(), 0755);
        std::string h = "RIFF";
        h += std::string("\0\0\0\0", 4) + "WAVEfmt " + std::string("\x10\0\0\0\x01\0\x01\0\x22\x56\0\0\x44\xac\0\0\x02\0\x10\0", 20) + "data";
        writeFile(reg + "wavhlavicka.nes", h);
        // Register 1: three segments of a steady tone, looped from 0.5 s to
        // 1.5 s of segments 1 and 2 with a crossfade; segment 1's held notes
        // fall and are raised past full scale, segment 2's fall as steeply
        // as a loop file allows.
        std::vector<int16_t> v(3 * static_cast<size_t>(delkatonu));
        for (size_t i = 0; i < v.size(); ++i) v[i] = static_cast<int16_t>((static_cast<int>(i % 100) - 50) * 300);
        const std::string r1 = samples(v);
        writeFile(reg + "rejstr1.nes", r1);
        skladba::Smycky s;
        s.rejstrik = "rejstr1.nes";
        s.velikost = static_cast<int64_t>(r1.size());
        s.soucet = skladba::kontrolnisoucet(r1.data(), r1.size());
        s.smycka[1] = {11025, 33075, 2000, 3.0, 20.0};
        s.smycka[2] = {11025, 11026, 0, 1000.0, 0.0};   // a loop of one sample
        writeFile(reg + "rejstr1.smycky", skladba::zapissmycky(s));
        // Register 2: three segments, and a loop file with junk after a number.
        v.assign(3 * static_cast<size_t>(delkatonu), 0);
        for (size_t i = 0; i < v.size(); ++i) v[i] = static_cast<int16_t>((i * 7919) % 20000) - 10000;
        writeFile(reg + "rejstr2.nes", samples(v));
        writeFile(reg + "rejstr2.smycky", "skladba-smycky 1x\nrejstrik rejstr2.nes 1 0000000000000000\n");
    }
    ~Workshop() {
        std::error_code e;
        std::filesystem::remove_all(dir, e);
    }
};

uint32_t be32(const std::string& b, size_t i) {
    return static_cast<uint32_t>(static_cast<unsigned char>(b[i])) << 24 |
           static_cast<uint32_t>(static_cast<unsigned char>(b[i + 1])) << 16 |
           static_cast<uint32_t>(static_cast<unsigned char>(b[i + 2])) << 8 | static_cast<unsigned char>(b[i + 3]);
}

void checkMidi(const std::string& m) {
    if (m.size() < 14 || m.compare(0, 4, "MThd") != 0 || be32(m, 4) != 6) fail("the MIDI file has no header chunk");
    size_t at = 14;
    while (at < m.size()) {
        if (at + 8 > m.size() || m.compare(at, 4, "MTrk") != 0) fail("the MIDI file has no track at byte %zu", at);
        const size_t n = be32(m, at + 4);
        if (n < 3 || at + 8 + n > m.size()) fail("a MIDI track of %zu bytes at byte %zu passes the end", n, at);
        if (m.compare(at + 8 + n - 3, 3, "\xFF\x2F\x00", 3) != 0) fail("the MIDI track at byte %zu has no end", at);
        at += 8 + n;
    }
}

void checkText(const char* what, const std::string& t, const std::string& end) {
    if (!skladba::jeutf8(t)) fail("the %s is not UTF-8", what);
    if (t.size() < end.size() || t.compare(t.size() - end.size(), end.size(), end) != 0) fail("the %s is not complete", what);
}

void checkJson(const std::string& j) {
#ifdef FUZZ_JSON
    if (!nlohmann::json::accept(j)) fail("the JSON does not parse: %.200s", j.c_str());
#else
    if (!skladba::jeutf8(j)) fail("the JSON is not UTF-8");
#endif
}

#ifdef SKLADBA_HAVE_KODEK
// nazev: the title given, or empty for the one made of the comment and the
// score's name, both any bytes.
void checkEncoding(int volba, const std::string& soubor, const std::string& wav, const std::string& nazev,
                   const std::string& bajty) {
    const bool dosouboru = !soubor.empty();
    static const skladba::Format formaty[] = {skladba::Format::flac, skladba::Format::vorbis, skladba::Format::mp3,
                                              skladba::Format::opus};
    if (volba < 1 || volba > 4 || wav.size() > kEncodeBytes) return;
    skladba::Kodovani k;
    k.format = formaty[volba - 1];
    k.nazev = nazev;
    k.autor = bajty;
    k.komentar = bajty;
    k.partitura = "slozka/" + bajty.substr(0, 40) + ".txt";
    std::string b;
    if (std::getenv("FUZZ_OUTPUTS_VERBOSE")) std::fprintf(stderr, "fuzz_outputs: encoding %d, %zu bytes of WAV\n", volba, wav.size());
    try {
        if (!dosouboru) {
            b = skladba::zakodujwav(k, wav, "the encoded file");
        } else {
            // As the command line writes it: into a file by position.
            const int fd = ::open(soubor.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
            if (fd < 0) fail("cannot make the encoded file: %s", std::strerror(errno));
            struct Zavri {
                int fd;
                ~Zavri() { ::close(fd); }
            } zavri{fd};
            std::unique_ptr<skladba::Odber> o = skladba::otevrikodek(k, fd, "the encoded file");
            std::vector<int16_t> vzorky((wav.size() - 44) / 2);
            if (!vzorky.empty()) {
                std::memcpy(vzorky.data(), wav.data() + 44, vzorky.size() * 2);
                o->pridej(vzorky.data(), static_cast<int>(vzorky.size()));
            }
            o->dokonci();
            o.reset();
            b.resize(static_cast<size_t>(::lseek(fd, 0, SEEK_END)));
            if (::pread(fd, &b[0], b.size(), 0) != static_cast<ssize_t>(b.size())) fail("cannot read the encoded file");
        }
    } catch (const skladba::ChybaSouboru& e) {
        if (std::getenv("FUZZ_OUTPUTS_VERBOSE")) std::fprintf(stderr, "fuzz_outputs: %s\n", e.what());
        return;   // refused cleanly
    }
    const bool ok = volba == 1 ? b.compare(0, 4, "fLaC") == 0
                    : volba == 3 ? b.size() >= 3 && (b.compare(0, 3, "ID3") == 0 || static_cast<unsigned char>(b[0]) == 0xFF)
                                 : b.compare(0, 4, "OggS") == 0;
    if (!ok) fail("encoding %d made %zu bytes that are not its format", volba, b.size());
}
#endif

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static Workshop workshop;
    if (size == 0) return 0;
    g_input.assign(reinterpret_cast<const char*>(data), size);
    const int volby = data[0];
    const std::string score = g_input.substr(1);

    skladba::Nastaveni n;
    n.text = &score;
    n.uspechjekonecny = false;
    n.nadisk = false;
    n.varovani = true;
    n.souhrn = true;
    n.hudba = true;
    n.meze.skladba = kPieceSamples;
    n.meze.krokykrivky = uint64_t{1} << 26;
    static const int dozvuky[] = {0, 5, 100, 3000};
    n.dozvukms = dozvuky[volby & 3];
    n.cesty.rejstriky = workshop.dir + "/rejstriky";
    n.cesty.mix = workshop.dir + "/_.tmp";
    n.cesty.vystup = workshop.dir + "/aktualni.wav";
    for (const skladba::Vystup& o : skladba::vystupy) n.cesty.*o.cesta = std::string("x.") + o.pripona;
    const skladba::Vyrobek v = skladba::vyrobvpameti(n);
    const skladba::Vysledek& r = v.vysledek;
    if (r.status != 0 && r.status != 1) fail("status %d", r.status);
    if (r.status == 1 && r.zprava.empty()) fail("a failure without a message");
    if (std::getenv("FUZZ_OUTPUTS_VERBOSE")) std::fprintf(stderr, "fuzz_outputs: status %d %s\n", r.status, r.zprava.c_str());
    if (r.status == 0) {
        if (v.wav.size() < 44 || v.wav.compare(0, 4, "RIFF") != 0) fail("the WAV has no header");
        const uint32_t data_bytes = static_cast<uint32_t>(static_cast<unsigned char>(v.wav[40])) |
                                    static_cast<uint32_t>(static_cast<unsigned char>(v.wav[41])) << 8 |
                                    static_cast<uint32_t>(static_cast<unsigned char>(v.wav[42])) << 16 |
                                    static_cast<uint32_t>(static_cast<unsigned char>(v.wav[43])) << 24;
        if (v.wav.size() != 44 + size_t{data_bytes}) fail("the WAV has %zu bytes, its header says %u of data", v.wav.size(), data_bytes);
        // Every file beside the WAV, by its row of the outputs' table.
        for (size_t i = 0; i < skladba::pocetvystupu; ++i) {
            const std::string& soubor = v.soubory[i];
            const std::string pripona = skladba::vystupy[i].pripona;
            if (pripona == "mid") checkMidi(soubor);
            else if (pripona == "svg") checkText("piano roll", soubor, "</svg>\n");
            else if (pripona == "musicxml") checkText("sheet music", soubor, "</score-partwise>\n");
        }
    }

    skladba::Vykresleni vykresleni;
    vykresleni.cislo = 1;
    vykresleni.vysledek = r;
    vykresleni.ztlumeno = {1, 3};
    checkJson(skladba::jsonvykresleni(vykresleni));
    checkJson(skladba::jsontext(score));
    static const std::string jazyk = skladba::jsonjazyk();
    checkJson(jazyk);

#ifdef SKLADBA_HAVE_KODEK
    if (r.status == 0) checkEncoding((volby >> 2) & 7, volby & 64 ? workshop.dir + "/zakodovany" : std::string(), v.wav, volby & 32 ? score.substr(0, 64) : std::string(), score.substr(0, 64));
#endif
    return 0;
}
