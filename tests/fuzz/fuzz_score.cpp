// libFuzzer target: the whole engine, in process, with the input bytes as the
// score aktualni.txt. Each run is checked:
//
//  * the run ends with status 0 or 1 and never leaves "_.tmp" or
//    "aktualni.wav.part" behind, nor changes the score;
//  * every note the renderer reports mixing starts inside the piece, plays an
//    existing segment, at a volume of 1 to 100 percent;
//  * status 0: aktualni.wav is a complete WAV (header from the template, both
//    size fields consistent with the file and with the end of the last
//    segment mixed), no sample past the output peak, and (for pieces up to
//    about three minutes) every sample equal to an in-memory mix of the
//    notes reported;
//  * every warning about the score (the lexical check and the engine's
//    overview run on every input) is located at a place that exists;
//  * status 1: a non-empty message; a score error is located as
//    "aktualni.txt:LINE:COLUMN: " at a place that exists in the score; the
//    previous aktualni.wav is left as it was;
//  * unless the first run was costly, a second run reads the same score
//    behind a block of zero bytes (which the reader skips) so that the
//    reader's 64 KiB window boundary falls inside it: it must end exactly
//    like the first, message and WAV alike.
//
// A broken check prints what it saw and calls abort(). The engine runs in a
// scratch directory made on the first call, with a header template and short
// registers written here; the curve budget is tightened so that no input
// keeps the engine busy for more than a few seconds.
#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>
#include <vector>

#include "base/stav.h"
#include "output/vyroba.h"
#include "platform/system.h"
#include "synth/mix.h"

namespace {

using skladba::delkatonu;

// Curve steps per run: about a quarter of a second of curve arithmetic
// under the sanitizers.
constexpr uint64_t kCurveBudget = uint64_t{1} << 28;
// Longest piece, in samples (about 12 minutes): the engine's own limit works
// the same way at any size, and the longest piece is then written and
// converted in well under a second.
constexpr int64_t kPieceSamples = int64_t{1} << 24;
// The in-memory mix covers pieces up to this many samples (about three
// minutes); longer pieces are checked by everything but the sample values.
constexpr int64_t kModelSamples = int64_t{1} << 22;
constexpr size_t kReaderWindow = size_t{1} << 16;

// The files of a run without arguments.
constexpr const char* kScore = "aktualni.txt";
constexpr const char* kWav = "aktualni.wav";
constexpr const char* kWavPart = "aktualni.wav.part";
constexpr const char* kMix = "_.tmp";
constexpr const char* kSheet = "aktualni.musicxml";

const char kSentinel[] = "previous aktualni.wav: a failed run must leave this as it is\n";

std::string g_input_hex;   // for the failure report

[[noreturn]] void fail(const char* fmt, ...) {
    std::fprintf(stderr, "\nfuzz_score: broken invariant: ");
    va_list ap;
    va_start(ap, fmt);
    std::vfprintf(stderr, fmt, ap);
    va_end(ap);
    std::fprintf(stderr, "\ninput (hex): %s\n", g_input_hex.c_str());
    std::fflush(stderr);
    std::abort();
}

std::string hex(const uint8_t* data, size_t size) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    const size_t shown = std::min<size_t>(size, 512);
    for (size_t i = 0; i < shown; ++i) {
        out += digits[data[i] >> 4];
        out += digits[data[i] & 15];
    }
    if (shown < size) out += "... (" + std::to_string(size) + " bytes)";
    return out;
}

// --- files -----------------------------------------------------------------

void writeFile(const std::string& path, const void* bytes, size_t size) {
    skladba::platform::Soubor f = skladba::platform::vytvorprozapis(path.c_str());
    if (!f.otevren()) fail("cannot create %s: %s", path.c_str(), std::strerror(errno));
    if (!skladba::platform::zapisvse(f.fd(), bytes, size, 0)) {
        fail("cannot write %s: %s", path.c_str(), std::strerror(errno));
    }
}

void writeFile(const std::string& path, const std::string& bytes) {
    writeFile(path, bytes.data(), bytes.size());
}

bool exists(const char* path) {
    struct stat st {};
    return ::lstat(path, &st) == 0;
}

// The whole file, or false when it cannot be opened.
bool readFile(const char* path, std::string& out) {
    out.clear();
    const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    char buf[1 << 16];
    for (;;) {
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) fail("cannot read %s: %s", path, std::strerror(errno));
        if (n == 0) break;
        out.append(buf, static_cast<size_t>(n));
    }
    ::close(fd);
    return true;
}

uint32_t le32(const unsigned char* p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
           static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

void put16(std::string& s, uint16_t v) {
    s += static_cast<char>(v & 0xFF);
    s += static_cast<char>(v >> 8);
}

void put32(std::string& s, uint32_t v) {
    put16(s, static_cast<uint16_t>(v & 0xFFFF));
    put16(s, static_cast<uint16_t>(v >> 16));
}

// --- the scratch directory ---------------------------------------------------

// The 40-byte template: RIFF, an unused size, WAVE, a 16-byte PCM mono
// 22050 Hz 16-bit format chunk, and the data chunk's tag.
std::string headerTemplate() {
    std::string h = "RIFF";
    put32(h, 0);
    h += "WAVEfmt ";
    put32(h, 16);
    put16(h, 1);       // PCM
    put16(h, 1);       // one channel
    put32(h, 22050);   // samples per second
    put32(h, 44100);   // bytes per second
    put16(h, 2);       // bytes per sample frame
    put16(h, 16);      // bits per sample
    h += "data";
    return h;
}

std::string samplesToBytes(const std::vector<int16_t>& v) {
    std::string s;
    s.reserve(v.size() * 2);
    for (int16_t x : v) put16(s, static_cast<uint16_t>(x));
    return s;
}

// Register 1: three whole segments of distinct triangle waves. The first two
// samples of the rest segment are the int16 extremes, so scaling and peak
// tracking meet -32768 and 32767 on every run.
std::string register1() {
    std::vector<int16_t> v(3 * static_cast<size_t>(delkatonu));
    for (int k = 0; k < 3; ++k) {
        const int period = 50 + 37 * k;
        const int amplitude = 6000 + 5000 * k;
        for (int i = 0; i < delkatonu; ++i) {
            const int phase = i % period;
            const int tri = phase < period / 2 ? phase : period - phase;   // 0..period/2
            v[static_cast<size_t>(k) * delkatonu + i] =
                static_cast<int16_t>(tri * 2 * amplitude / period - amplitude / 2);
        }
    }
    v[0] = -32768;
    v[1] = 32767;
    return samplesToBytes(v);
}

// Register 2: one and a half segments of fixed pseudo-random noise, so the
// second segment ends mid-way and its tail keeps what was loaded before.
std::string register2() {
    std::vector<int16_t> v(static_cast<size_t>(delkatonu) * 3 / 2);
    uint32_t x = 12345;
    for (auto& s : v) {
        x = x * 1103515245u + 12345u;
        s = static_cast<int16_t>(static_cast<int>((x >> 16) % 40001) - 20000);
    }
    return samplesToBytes(v);
}

// Register 3: 5000 samples and one byte more; the odd byte must be ignored.
std::string register3() {
    std::vector<int16_t> v(5000);
    for (size_t i = 0; i < v.size(); ++i) v[i] = static_cast<int16_t>((i % 2 ? 1 : -1) * (1000 + i));
    return samplesToBytes(v) + '\x7F';
}

struct Workshop {
    std::string dir;
    std::string header = headerTemplate();

    Workshop() {
        dir = scratchParent() + "/skladba-fuzz-XXXXXX";
        if (!::mkdtemp(dir.data())) fail("cannot make a scratch directory: %s", std::strerror(errno));
        const std::string reg = dir + "/rejstriky";
        if (::mkdir(reg.c_str(), 0755) != 0) fail("cannot make %s: %s", reg.c_str(), std::strerror(errno));
        writeFile(reg + "/wavhlavicka.nes", header);
        writeFile(reg + "/rejstr1.nes", register1());
        writeFile(reg + "/rejstr2.nes", register2());
        writeFile(reg + "/rejstr3.nes", register3());
        writeFile(reg + "/rejstr4.nes", std::string());   // empty: loads nothing
        // A directory where a register is expected: opening works, reading fails.
        const std::string notAFile = reg + "/rejstr9.nes";
        if (::mkdir(notAFile.c_str(), 0755) != 0) fail("cannot make %s: %s", notAFile.c_str(), std::strerror(errno));
    }

    // Runs at exit: nothing is left in the (memory-backed) scratch place.
    ~Workshop() {
        for (const char* name : {"aktualni.txt", "aktualni.wav", "aktualni.wav.part", "_.tmp",
                                 "rejstriky/wavhlavicka.nes", "rejstriky/rejstr1.nes",
                                 "rejstriky/rejstr2.nes", "rejstriky/rejstr3.nes",
                                 "rejstriky/rejstr4.nes"}) {
            ::unlink((dir + "/" + name).c_str());
        }
        ::rmdir((dir + "/rejstriky/rejstr9.nes").c_str());
        ::rmdir((dir + "/rejstriky").c_str());
        ::rmdir(dir.c_str());
    }
    Workshop(const Workshop&) = delete;
    Workshop& operator=(const Workshop&) = delete;

    // /dev/shm when it is there and roomy (the longest piece writes a 64 MiB
    // mix and a 32 MiB WAV), the temporary directory otherwise.
    static std::string scratchParent() {
        struct statvfs fs {};
        if (::statvfs("/dev/shm", &fs) == 0 &&
            static_cast<uint64_t>(fs.f_bavail) * fs.f_frsize >= (uint64_t{1} << 30)) {
            return "/dev/shm";
        }
        const char* tmp = std::getenv("TMPDIR");
        return tmp && *tmp ? tmp : "/tmp";
    }
};

// Enters the scratch directory for one input and returns to the caller's
// directory afterwards, so the fuzzer's own relative paths (corpus,
// artifacts) keep meaning what they meant.
class InScratch {
public:
    explicit InScratch(const std::string& dir) {
        home_ = ::open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (home_ < 0) fail("cannot open the current directory: %s", std::strerror(errno));
        if (::chdir(dir.c_str()) != 0) fail("cannot enter %s: %s", dir.c_str(), std::strerror(errno));
    }
    ~InScratch() {
        if (::fchdir(home_) != 0) std::abort();
        ::close(home_);
    }
    InScratch(const InScratch&) = delete;
    InScratch& operator=(const InScratch&) = delete;

private:
    int home_ = -1;
};

// --- the in-memory mix -------------------------------------------------------

// Every note the renderer reports is added here, at the start sample and
// volume it reports, from the wavetable as it stands at that moment. The
// largest absolute sum ever held is tracked the same way the output
// scaling defines it.
struct Model {
    bool on = false;
    std::vector<int64_t> sums;
    int64_t peak = 0;
    int64_t notes = 0;

    void start(bool enabled) {
        on = enabled;
        sums.clear();
        peak = 0;
        notes = 0;
    }
};

Model g_model;

int64_t g_pieceSamples = kPieceSamples;

void observeNote(const skladba::SledovanaNota& n) {
    const int64_t start = n.start;
    const int64_t segment = n.segment;
    const int sila = n.sila;
    ++g_model.notes;
    // These hold for every note, whether or not the model is on.
    if (start < 0 || start + delkatonu > g_pieceSamples) {
        fail("note mixed at start sample %lld, outside 0..%lld", static_cast<long long>(start),
             static_cast<long long>(g_pieceSamples - delkatonu));
    }
    if (segment < 0 || segment >= skladba::pocetsegmentu) {
        fail("note mixed from segment %lld", static_cast<long long>(segment));
    }
    if (sila < 1 || sila > 100) fail("note mixed at volume %d", sila);
    if (!g_model.on) return;
    if (start + delkatonu > kModelSamples) {
        g_model.on = false;
        g_model.sums = std::vector<int64_t>();
        return;
    }
    const auto end = static_cast<size_t>(start + delkatonu);
    if (g_model.sums.size() < end) g_model.sums.resize(end, 0);
    const int16_t* seg = n.vzorky;
    int64_t* at = g_model.sums.data() + start;
    for (int i = 0; i < delkatonu; ++i) {
        // A voice is its sample scaled by the volume percent, truncated.
        at[i] += sila == 100 ? seg[i] : seg[i] * sila / 100;
        const int64_t m = at[i] < 0 ? -at[i] : at[i];
        if (m > g_model.peak) g_model.peak = m;
    }
}

// --- one run and its checks --------------------------------------------------

struct Outcome {
    int status = 0;
    std::string message;
    uint64_t wavDigest = 0;
    int64_t wavBytes = -1;
    skladba::Pocty pocty;   // as the run left them
    skladba::Vysledekmixu mix;
};

// FNV-1a over 8-byte words (then the odd tail bytes): fast enough for the
// longest WAV, and only ever compared with itself.
uint64_t fnv1a(const void* bytes, size_t size, uint64_t h = 1469598103934665603ull) {
    const auto* p = static_cast<const unsigned char*>(bytes);
    size_t i = 0;
    for (; i + 8 <= size; i += 8) {
        uint64_t word;
        std::memcpy(&word, p + i, 8);
        h ^= word;
        h *= 1099511628211ull;
    }
    for (; i < size; ++i) {
        h ^= p[i];
        h *= 1099511628211ull;
    }
    return h;
}

uint64_t fnv1a(const std::string& s) { return fnv1a(s.data(), s.size()); }

// The non-zero bytes of each line of a score before its line feed, counted
// once for all the warnings of a run.
struct LineWidths {
    std::vector<long long> widths{0};
    explicit LineWidths(const std::string& score) {
        for (unsigned char c : score) {
            if (c == '\n') widths.push_back(0);
            else if (c != 0) ++widths.back();
        }
    }
};

// Line and column of a score error must name a place in the score: the line
// exists, and the column is at most one past its last non-zero byte.
void checkLocation(const std::string& message, const LineWidths& score) {
    const std::string prefix = std::string(kScore) + ":";
    const char* p = message.c_str() + prefix.size();
    char* end = nullptr;
    errno = 0;
    const long long line = std::strtoll(p, &end, 10);
    if (end == p || *end != ':' || errno != 0) fail("score error without a line: \"%s\"", message.c_str());
    p = end + 1;
    const long long column = std::strtoll(p, &end, 10);
    if (end == p || *end != ':' || errno != 0) fail("score error without a column: \"%s\"", message.c_str());
    if (end[1] != ' ' || end[2] == '\0') fail("score error without a description: \"%s\"", message.c_str());
    if (line < 1 || column < 1) fail("score error at line %lld column %lld", line, column);

    const auto lines = static_cast<long long>(score.widths.size());
    if (line > lines) fail("score error at line %lld of a %lld-line score: \"%s\"", line, lines, message.c_str());
    const long long width = score.widths[static_cast<size_t>(line - 1)];
    if (column > width + 1) {
        fail("score error at column %lld of a line %lld that has %lld bytes: \"%s\"", column, line, width,
             message.c_str());
    }
}

// Streams aktualni.wav through the checks and a digest.
void checkWav(const Workshop& w, Outcome& out, const skladba::Vysledekmixu& mix) {
    const int fd = ::open(kWav, O_RDONLY | O_CLOEXEC);
    if (fd < 0) fail("status 0 but no aktualni.wav: %s", std::strerror(errno));
    struct Closer {
        int fd;
        ~Closer() { ::close(fd); }
    } closer{fd};
    struct stat st {};
    if (::fstat(fd, &st) != 0) fail("cannot stat aktualni.wav: %s", std::strerror(errno));
    const auto size = static_cast<uint64_t>(st.st_size);

    unsigned char b[44];
    if (size < sizeof b || ::pread(fd, b, sizeof b, 0) != static_cast<ssize_t>(sizeof b)) {
        fail("aktualni.wav has %llu bytes, less than a header", static_cast<unsigned long long>(size));
    }
    if (std::memcmp(b, "RIFF", 4) != 0 || std::memcmp(b + 8, "WAVE", 4) != 0 ||
        std::memcmp(b + 36, "data", 4) != 0) {
        fail("aktualni.wav lacks RIFF/WAVE/data at bytes 0/8/36");
    }
    if (std::memcmp(b + 8, w.header.data() + 8, 32) != 0) fail("aktualni.wav header bytes 8-39 differ from the template");
    const uint32_t data = le32(b + 40);
    if (size != 44 + static_cast<uint64_t>(data)) {
        fail("aktualni.wav has %llu bytes but its data size field says %u", static_cast<unsigned long long>(size), data);
    }
    if (le32(b + 4) != data + 36) fail("RIFF size %u, data size %u", le32(b + 4), data);
    const int64_t samples = static_cast<int64_t>(data) / 2;
    if (data % 2 != 0 || samples != mix.konecmixu) {
        fail("aktualni.wav holds %u data bytes, the last segment mixed ends at sample %lld", data,
             static_cast<long long>(mix.konecmixu));
    }

    const bool compare = g_model.on;
    if (compare && static_cast<int64_t>(g_model.sums.size()) != samples) {
        fail("the renderer reported notes up to sample %zu, the WAV has %lld samples", g_model.sums.size(),
             static_cast<long long>(samples));
    }
    if (compare && static_cast<double>(g_model.peak) != mix.maximum) {
        fail("the notes mixed peak at %lld, the engine scaled for %.17g", static_cast<long long>(g_model.peak),
             mix.maximum);
    }
    // The output scale: the peak becomes maxsignal, each sum is multiplied by
    // the quotient and truncated toward zero.
    const auto limit = static_cast<int32_t>(skladba::maxsignal);
    const double scale =
        g_model.peak > 0 ? static_cast<double>(skladba::maxsignal) / static_cast<double>(g_model.peak) : 0.0;

    uint64_t digest = fnv1a(std::string(reinterpret_cast<const char*>(b), sizeof b));
    static unsigned char buf[1 << 16];
    int64_t i = 0;   // sample index
    for (uint64_t at = sizeof b; at < size;) {
        const size_t want = static_cast<size_t>(std::min<uint64_t>(sizeof buf, size - at));
        const ssize_t n = ::pread(fd, buf, want, static_cast<off_t>(at));
        if (n != static_cast<ssize_t>(want)) fail("cannot read aktualni.wav at %llu", static_cast<unsigned long long>(at));
        digest = fnv1a(buf, want, digest);
        for (size_t k = 0; k + 1 < want; k += 2, ++i) {
            const auto s = static_cast<int16_t>(buf[k] | buf[k + 1] << 8);
            if (s > limit || s < -limit) fail("sample %lld is %d, past the output peak %d", static_cast<long long>(i), s, limit);
            if (!compare) continue;
            const int64_t sum = g_model.sums[static_cast<size_t>(i)];
            const int16_t expect =
                g_model.peak > 0 ? static_cast<int16_t>(static_cast<int32_t>(static_cast<double>(sum) * scale)) : 0;
            if (s != expect) {
                fail("sample %lld is %d; the %lld notes mixed make it %d (sum %lld, peak %lld)",
                     static_cast<long long>(i), s, static_cast<long long>(g_model.notes), expect,
                     static_cast<long long>(sum), static_cast<long long>(g_model.peak));
            }
        }
        at += want;
    }
    out.wavDigest = digest;
    out.wavBytes = static_cast<int64_t>(size);
}

void placeSentinel() { writeFile(kWav, kSentinel, sizeof kSentinel - 1); }

Outcome runOnce(const Workshop& w, const std::string& score, bool model) {
    writeFile(kScore, score);
    placeSentinel();
    g_model.start(model);
    skladba::Nastaveni nastaveni;
    nastaveni.meze.krokykrivky = kCurveBudget;
    nastaveni.meze.skladba = kPieceSamples;
    nastaveni.sledovaninoty = observeNote;
    nastaveni.varovani = true;
    // The first run also writes the score as sheet music.
    if (model) nastaveni.cesty.musicxml = kSheet;
    ::unlink(kSheet);
    const skladba::Vysledek r = skladba::vyrob(nastaveni);

    Outcome out{r.status, r.zprava, 0, -1, r.pocty, r.mix};
    const LineWidths lines(score);
    for (const std::string& v : r.varovani) {
        // All but the count of warnings left out carry a place.
        if (v.find(": warning: ") != std::string::npos) checkLocation(v, lines);
    }
    if (exists(kMix)) fail("_.tmp left behind (status %d, \"%s\")", r.status, r.zprava.c_str());
    if (exists(kWavPart)) fail("aktualni.wav.part left behind (status %d, \"%s\")", r.status, r.zprava.c_str());
    std::string now;
    if (!readFile(kScore, now) || now != score) fail("the score changed during the run");

    if (r.status == 0) {
        if (!r.zprava.empty()) fail("status 0 with a message: \"%s\"", r.zprava.c_str());
        checkWav(w, out, r.mix);
        std::string sheet;
        const std::string end = "</score-partwise>\n";
        if (model && (!readFile(kSheet, sheet) || sheet.size() < end.size() ||
                      sheet.compare(sheet.size() - end.size(), end.size(), end) != 0)) {
            fail("status 0 without a complete %s", kSheet);
        }
    } else if (r.status == 1) {
        if (r.zprava.empty()) fail("status 1 without a message");
        const std::string prefix = std::string(kScore) + ":";
        if (r.zprava.compare(0, prefix.size(), prefix) == 0) checkLocation(r.zprava, lines);
        // Only a mix that did not read back as written still makes a WAV.
        if (r.mix.nesouhlasy == 0) {
            std::string wav;
            if (!readFile(kWav, wav)) fail("failed run removed aktualni.wav: \"%s\"", r.zprava.c_str());
            if (wav != kSentinel) fail("failed run replaced aktualni.wav: \"%s\"", r.zprava.c_str());
        }
        if (std::getenv("FUZZ_SCORE_VERBOSE")) std::fprintf(stderr, "fuzz_score: %s\n", r.zprava.c_str());
    } else {
        fail("status %d (\"%s\")", r.status, r.zprava.c_str());
    }
    return out;
}


// The padded second run is skipped after a first run this costly (it is the
// reader that it checks, and the reader's work does not grow with them), so
// that even the slowest inputs stay within a few seconds.
constexpr int64_t kPaddedMaxNotes = 256;
constexpr uint64_t kPaddedMaxCurveSteps = uint64_t{1} << 22;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static Workshop workshop;
    g_input_hex = hex(data, size);
    const std::string score(reinterpret_cast<const char*>(data), size);

    InScratch inside(workshop.dir);
    const Outcome a = runOnce(workshop, score, true);
    // Only the first run writes sheet music: a score refused for the size
    // its sheet music would reach has nothing to compare the second with.
    const bool notopisvelky = a.message.find("the sheet music would pass") != std::string::npos;
    if (!notopisvelky && g_model.notes <= kPaddedMaxNotes && a.pocty.krokykrivky <= kPaddedMaxCurveSteps &&
        a.mix.konecmixu <= kModelSamples) {
        // Zero bytes before the score, as many as put the reader's window
        // boundary after byte 1 + (a hash of the input) % size of the score.
        const size_t into = size > 0 ? 1 + static_cast<size_t>(fnv1a(score) % size) : 0;
        const std::string padded = std::string(kReaderWindow - into, '\0') + score;
        const Outcome b = runOnce(workshop, padded, false);
        if (a.status != b.status || a.message != b.message) {
            fail("the same score behind %zu zero bytes ended differently:\n  plain:  %d \"%s\"\n  padded: %d \"%s\"",
                 padded.size() - size, a.status, a.message.c_str(), b.status, b.message.c_str());
        }
        if (a.wavBytes != b.wavBytes || a.wavDigest != b.wavDigest) {
            fail("the same score behind %zu zero bytes rendered a different WAV (%lld vs %lld bytes)",
                 padded.size() - size, static_cast<long long>(a.wavBytes), static_cast<long long>(b.wavBytes));
        }
    }
    placeSentinel();   // frees a large WAV before the next input
    return 0;
}
