// skladba-bench: how fast and how lean the skladba program renders a large
// score, measured against an in-memory lower bound.
//
//  1. Generates a score: sections of four voices written one after another
//     over the same time with "-N" step backs, in mixed note values with
//     dots, rests and sharps, with start jitter, volume changes, register
//     changes and, in some sections, a tempo curve.
//  2. Renders it once in process (not timed) with the note hook set, which
//     records every note and rest exactly as it is mixed: start sample,
//     segment, volume, and the register loaded at that moment.
//  3. Times the skladba binary on it (median of --runs runs) and takes its
//     peak resident set size from wait4's rusage.
//  4. Times the lower bound: the recorded notes mixed into one int32 array in
//     memory with the same arithmetic, converted and written as a WAV file
//     the same way, and checks that this WAV equals the program's byte for
//     byte.
//
// Everything runs in a fresh temporary directory holding copies of the
// build's registers and header template.

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "base/format.h"
#include "base/stav.h"
#include "engine/beh.h"
#include "engine/ton.h"
#include "platform/system.h"

#ifndef SKLADBA_WORKDIR
#error "SKLADBA_WORKDIR must name the build's working directory (with rejstriky/)"
#endif
#ifndef SKLADBA_PROGRAM
#error "SKLADBA_PROGRAM must name the skladba binary"
#endif

namespace {

// The formats' constants, under the short names this file uses.
constexpr int kRate = skladba::zaklad;                        // samples per second
constexpr int kSegment = skladba::delkatonu;                  // samples in one segment
constexpr int kSegments = skladba::pocetsegmentu;             // segments in a register
constexpr float kMaxSignal = skladba::maxsignal;              // the peak becomes this output value
constexpr int kHeaderTemplate = skladba::sablonabajtu;        // bytes of the header template used
constexpr int kHeader = skladba::delkahlavicky;               // bytes of the WAV header written

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point t0) {
    return std::chrono::duration<double>(Clock::now() - t0).count();
}

[[noreturn]] void die(const char* fmt, ...) {
    std::fflush(stdout);
    std::fputs("skladba-bench: ", stderr);
    va_list ap;
    va_start(ap, fmt);
    std::vfprintf(stderr, fmt, ap);
    va_end(ap);
    std::fputc('\n', stderr);
    std::exit(2);
}

double median(std::vector<double> v) {
    if (v.empty()) return 0.0;
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return n % 2 == 1 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2.0;
}

// ---------------------------------------------------------------- options

struct Options {
    double minutes = 0.0;     // 0: the default piece of 4 sections
    int runs = 5;
    std::string parent;       // where the temporary directory goes
    bool keep = false;        // leave the temporary directory behind
    std::string writeScore;   // write the score there and stop
    bool jumps = true;        // also measure the scores that jump around in time
    std::string score;        // measure this score instead of the generated piece
};

const char kUsage[] =
    "usage: skladba-bench [--minutes N] [--runs N] [--dir PATH] [--keep]\n"
    "                     [--no-jumps] [--score FILE] [--write-score FILE]\n"
    "\n"
    "  --minutes N        generate a piece of about N minutes (default: 4 sections\n"
    "                     of 4 voices x 250 notes, about 8.5 minutes)\n"
    "  --runs N           timed runs of the program and of the bound (default 5)\n"
    "  --dir PATH         make the temporary directory under PATH (default $TMPDIR\n"
    "                     or /tmp)\n"
    "  --keep             keep the temporary directory (score, registers, WAVs)\n"
    "  --no-jumps         leave out the three scores that jump around in time\n"
    "  --score FILE       measure the score in FILE instead of the generated piece\n"
    "  --write-score FILE write the generated score to FILE and exit\n";

Options parseOptions(int argc, char** argv) {
    Options o;
    const char* tmp = std::getenv("TMPDIR");
    o.parent = tmp && *tmp ? tmp : "/tmp";
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        auto value = [&]() -> std::string {
            if (i + 1 >= argc) die("%s needs a value\n%s", a.c_str(), kUsage);
            return argv[++i];
        };
        if (a == "--minutes") {
            o.minutes = std::atof(value().c_str());
            if (!(o.minutes > 0.0 && o.minutes <= 400.0)) die("--minutes must be in (0, 400]");
        } else if (a == "--runs") {
            o.runs = std::atoi(value().c_str());
            if (o.runs < 1 || o.runs > 1000) die("--runs must be 1 to 1000");
        } else if (a == "--dir") {
            o.parent = value();
        } else if (a == "--keep") {
            o.keep = true;
        } else if (a == "--score") {
            o.score = value();
        } else if (a == "--no-jumps") {
            o.jumps = false;
        } else if (a == "--write-score") {
            o.writeScore = value();
        } else if (a == "--help" || a == "-h") {
            std::fputs(kUsage, stdout);
            std::exit(0);
        } else {
            die("unknown argument '%s'\n%s", a.c_str(), kUsage);
        }
    }
    return o;
}

// ---------------------------------------------------------------- score

// A fixed pseudo-random sequence (splitmix64), so every machine generates the
// same score.
class Rng {
public:
    explicit Rng(uint64_t seed) : s_(seed) {}
    uint64_t next() {
        uint64_t z = (s_ += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    int below(int n) { return static_cast<int>(next() % static_cast<uint64_t>(n)); }

private:
    uint64_t s_;
};

// Tempi whose whole note is a multiple of 16 samples ((22050 * 60 / t) * 4),
// so that a step back counted in sixteenths lands exactly where a voice of
// mixed values started.
constexpr int kTempi[] = {126, 105, 90};
constexpr int kNotesPerVoice = 250;
constexpr int kVoices = 4;
constexpr int kDefaultSections = 4;
constexpr double kCurvePercent = 2.0;   // "r2": +2 % per whole note

int wholeNoteSamples(int tempo) { return (kRate * 60 / tempo) * 4; }

struct Voice {
    std::string text;
    int64_t sixteenths = 0;   // length
    int notes = 0;            // notes and rests it mixes, dots included
};

Voice generateVoice(Rng& rng, int noteCount) {
    static const int kVolumes[] = {100, 100, 100, 95, 90, 85};
    static const char kLetters[] = "cdefgah";
    Voice v;
    v.text = " s" + std::to_string(kVolumes[rng.below(6)]);
    int value = 0;   // the note value last written in this voice
    for (int i = 0; i < noteCount; ++i) {
        if (i % 16 == 0) v.text += "\n";
        if (i > 0 && rng.below(50) == 0) v.text += " s" + std::to_string(kVolumes[rng.below(6)]);
        const int r = rng.below(100);
        const int val = r < 25 ? 16 : r < 65 ? 8 : r < 90 ? 4 : 2;
        v.text += ' ';
        if (val != value) {
            v.text += std::to_string(val);
            value = val;
        }
        if (rng.below(12) == 0) {
            v.text += 'p';
        } else {
            const int oct = rng.below(20) == 0 ? 3 : rng.below(10) < 4 ? 2 : 1;
            v.text += 'o';
            v.text += static_cast<char>('0' + oct);
            if (rng.below(10) == 0) v.text += '>';
            v.text += kLetters[rng.below(7)];
        }
        int64_t len = 16 / val;
        ++v.notes;
        // A dot mixes a rest of half the value; not on sixteenths, whose half
        // would not be a whole number of samples at these tempi.
        if (val != 16 && rng.below(8) == 0) {
            v.text += '.';
            len += len / 2;
            ++v.notes;
        }
        v.sixteenths += len;
    }
    return v;
}

struct Score {
    std::string text;
    int sections = 0;
    int64_t notes = 0;             // notes and rests the program will mix
    double estimatedSamples = 0;   // length as generated (before jitter)
    int registerChanges = 0;
    int curveSections = 0;
};

// Real samples that n nominal samples take under a curve of p percent per
// whole note of w samples, starting at the curve's base tempo.
double curveSamples(double n, double p, int w) {
    const double d = std::pow(1.0 + p / 100.0, 1.0 / w);
    return (std::pow(d, n) - 1.0) / (d - 1.0);
}

// Appends one section; returns its length in samples.
double appendSection(Score& sc, Rng& rng, int index, int notesPerVoice, char& reg) {
    static const int kJitter[] = {30, 20, 40, 60};
    static const char kRegisters[] = {'1', '2', '1', '3'};
    std::string& t = sc.text;
    const int tempo = kTempi[index % 3];
    const bool curve = index % 4 == 1;
    t += "\n\n( section " + std::to_string(index + 1) + " )\n";
    t += "t" + std::to_string(tempo) + " S" + std::to_string(kJitter[index % 4]) + " ";
    const char want = kRegisters[index % 4];
    if (want != reg) {
        t += "R";
        t += want;
        t += " ";
        reg = want;
        ++sc.registerChanges;
    }
    if (curve) {
        t += "r" + std::to_string(static_cast<int>(kCurvePercent)) + " ";
        ++sc.curveSections;
    }

    std::vector<Voice> voices;
    for (int v = 0; v < kVoices; ++v) voices.push_back(generateVoice(rng, notesPerVoice));
    // The longest voice goes last and is not stepped back over, so the
    // section ends where its longest voice ends.
    std::stable_sort(voices.begin(), voices.end(),
                     [](const Voice& a, const Voice& b) { return a.sixteenths < b.sixteenths; });
    for (size_t v = 0; v < voices.size(); ++v) {
        t += voices[v].text;
        if (v + 1 < voices.size()) t += "\n 16 -" + std::to_string(voices[v].sixteenths) + "\n";
        sc.notes += voices[v].notes;
    }
    if (curve) t += "\n r0 ";
    ++sc.sections;

    const int w = wholeNoteSamples(tempo);
    const double nominal = static_cast<double>(voices.back().sixteenths) * (w / 16);
    return curve ? curveSamples(nominal, kCurvePercent, w) : nominal;
}

Score generateScore(double minutes) {
    Score sc;
    Rng rng(20240607);
    sc.text =
        "( skladba-bench: generated piece. Sections of four voices over the same\n"
        "  time, each voice stepped back over with \"-N\" sixteenths. )\n";
    char reg = '1';
    if (minutes <= 0.0) {
        for (int s = 0; s < kDefaultSections; ++s)
            sc.estimatedSamples += appendSection(sc, rng, s, kNotesPerVoice, reg);
    } else {
        const double target = minutes * 60.0 * kRate;
        // A full section is about this long; the last one is shortened to fit.
        for (int s = 0; sc.estimatedSamples < target; ++s) {
            Score trial = sc;
            Rng trialRng = rng;
            char trialReg = reg;
            const double full = appendSection(trial, trialRng, s, kNotesPerVoice, trialReg);
            if (sc.estimatedSamples + full <= target * 1.02) {
                sc = std::move(trial);
                rng = trialRng;
                reg = trialReg;
                sc.estimatedSamples += full;
                continue;
            }
            const double part = (target - sc.estimatedSamples) / full;
            const int n = std::max(4, static_cast<int>(std::lround(kNotesPerVoice * part)));
            sc.estimatedSamples += appendSection(sc, rng, s, n, reg);
        }
    }
    sc.text += "\n";
    return sc;
}

// ---------------------------------------------------------------- scores that jump

// Three scores of 4,000 notes that send the time cursor back far more than the
// generated piece does, so that the mix keeps returning to time it has left:
// a whole voice then "-1000" back to write the next, chords written note by
// note, and a canon. All at t105, whose sixteenth is a whole number of
// samples (3150), so that every step back lands exactly.
struct JumpyScore {
    const char* name;
    std::string text;
};

std::string randomPitch(Rng& rng) {
    static const char kLetters[] = "cdefgah";
    std::string t = "o";
    t += static_cast<char>('1' + rng.below(3));
    if (rng.below(10) == 0) t += '>';
    t += kLetters[rng.below(7)];
    return t;
}

// Four voices of 1,000 eighths over the same five minutes, one after another:
// each is written whole, then "-1000" goes back to its start.
std::string voiceAfterVoice(Rng& rng) {
    std::string t = "t105 S40 8";
    for (int v = 0; v < 4; ++v) {
        t += "\nR" + std::to_string(v + 1) + " s" + std::to_string(100 - 5 * v);
        for (int i = 0; i < 1000; ++i) {
            t += i % 16 == 0 ? "\n " : " ";
            t += rng.below(12) == 0 ? std::string("p") : randomPitch(rng);
        }
        if (v < 3) t += "\n-1000";
    }
    return t + "\n";
}

// 1,000 chords of four notes, each chord written note by note as
// "c - e - g - c": a step back after every note but the chord's last.
std::string chordsNoteByNote(Rng& rng) {
    static const int kValues[] = {8, 4, 4, 2};
    std::string t = "t105 S60";
    for (int c = 0; c < 1000; ++c) {
        t += c % 8 == 0 ? "\n" : "  ";
        t += std::to_string(kValues[rng.below(4)]);
        for (int n = 0; n < 4; ++n) {
            t += n == 0 ? " " : " - ";
            t += randomPitch(rng);
        }
    }
    return t + "\n";
}

// A canon: one melody of 1,000 notes of mixed values in four voices, each
// entering two bars after the one before, each in its own register. Each
// voice is written whole; then the cursor goes back to where the next enters.
std::string canon(Rng& rng) {
    static const int kValues[] = {16, 8, 8, 4, 4, 2};
    std::string melody;
    int64_t sixteenths = 0;
    int value = 0;
    for (int i = 0; i < 1000; ++i) {
        melody += i % 16 == 0 ? "\n " : " ";
        const int val = kValues[rng.below(6)];
        if (val != value) {
            melody += std::to_string(val);
            value = val;
        }
        melody += rng.below(12) == 0 ? std::string("p") : randomPitch(rng);
        sixteenths += 16 / val;
    }
    std::string t = "t105 S40";
    for (int v = 0; v < 4; ++v) {
        t += "\nR" + std::to_string(v + 1) + melody;
        if (v < 3) t += "\n16 -" + std::to_string(sixteenths - 32);
    }
    return t + "\n";
}

// Four voices written phrase by phrase, as under a changing tempo: sixteen
// bars of each voice, then "1 -16" back to write the next over them, then the
// next phrase. 1,000 notes a voice of mixed values filling each phrase.
std::string phraseByPhrase(Rng& rng) {
    static const int kValues[] = {16, 8, 8, 4, 4, 2};
    std::string t = "t105 S40";
    for (int notes = 0; notes < 1000;) {
        for (int v = 0; v < 4; ++v) {
            t += "\nR" + std::to_string(v + 1);
            int left = 256;   // sixteenths in sixteen bars
            int count = 0;
            while (left > 0) {
                int val = kValues[rng.below(6)];
                while (16 / val > left) val *= 2;
                t += (count % 16 == 0 ? "\n " : " ") + std::to_string(val);
                t += rng.below(12) == 0 ? std::string("p") : randomPitch(rng);
                left -= 16 / val;
                ++count;
            }
            if (v == 0) notes += count;
            if (v < 3) t += "\n1 -16";
        }
    }
    return t + "\n";
}

std::vector<JumpyScore> jumpyScores() {
    Rng rng(20250101);
    std::vector<JumpyScore> scores;
    scores.push_back({"voice after voice", voiceAfterVoice(rng)});
    scores.push_back({"chords note by note", chordsNoteByNote(rng)});
    scores.push_back({"canon in four", canon(rng)});
    scores.push_back({"phrase by phrase", phraseByPhrase(rng)});
    return scores;
}

// ---------------------------------------------------------------- files

void writeFile(const std::string& path, const void* data, size_t size) {
    skladba::platform::Soubor f = skladba::platform::vytvorprozapis(path.c_str());
    if (!f.otevren()) die("cannot create %s: %s", path.c_str(), std::strerror(errno));
    if (!skladba::platform::zapisvse(f.fd(), data, size, 0)) {
        die("cannot write %s: %s", path.c_str(), std::strerror(errno));
    }
}

int64_t copyFile(const std::string& from, const std::string& to) {
    const int in = ::open(from.c_str(), O_RDONLY);
    if (in < 0) die("cannot open %s: %s (build the targets registers and workdir)", from.c_str(),
                    std::strerror(errno));
    const int out = ::open(to.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (out < 0) die("cannot create %s: %s", to.c_str(), std::strerror(errno));
    std::vector<char> buf(1 << 20);
    int64_t total = 0;
    for (;;) {
        const ssize_t n = ::read(in, buf.data(), buf.size());
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) die("cannot read %s: %s", from.c_str(), std::strerror(errno));
        if (n == 0) break;
        ssize_t done = 0;
        while (done < n) {
            const ssize_t w = ::write(out, buf.data() + done, static_cast<size_t>(n - done));
            if (w < 0 && errno == EINTR) continue;
            if (w <= 0) die("cannot write %s: %s", to.c_str(), std::strerror(errno));
            done += w;
        }
        total += n;
    }
    ::close(in);
    if (::close(out) != 0) die("cannot close %s: %s", to.c_str(), std::strerror(errno));
    return total;
}

// Reads up to size bytes from the start of path; returns the bytes read.
int64_t readInto(const std::string& path, void* data, size_t size) {
    const int fd = ::open(path.c_str(), O_RDONLY);
    if (fd < 0) die("cannot open %s: %s", path.c_str(), std::strerror(errno));
    auto* p = static_cast<unsigned char*>(data);
    size_t done = 0;
    while (done < size) {
        const ssize_t n = ::read(fd, p + done, size - done);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) die("cannot read %s: %s", path.c_str(), std::strerror(errno));
        if (n == 0) break;
        done += static_cast<size_t>(n);
    }
    ::close(fd);
    return static_cast<int64_t>(done);
}

int64_t fileSize(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) die("cannot open %s: %s", path.c_str(), std::strerror(errno));
    return static_cast<int64_t>(st.st_size);
}

void removeTree(const std::string& dir) {
    for (const char* f : {"aktualni.txt", "aktualni.wav", "aktualni.wav.part", "_.tmp", "bound.wav"})
        ::unlink((dir + "/" + f).c_str());
    for (const char* f : {"rejstr1.nes", "rejstr2.nes", "rejstr3.nes", "rejstr4.nes", "wavhlavicka.nes"})
        ::unlink((dir + "/rejstriky/" + f).c_str());
    ::rmdir((dir + "/rejstriky").c_str());
    ::rmdir(dir.c_str());
}

// Resident set size of this process now, in KiB (VmRSS), or -1.
long selfRssKiB() {
    FILE* f = std::fopen("/proc/self/status", "r");
    if (!f) return -1;
    char line[256];
    long kib = -1;
    while (std::fgets(line, sizeof line, f)) {
        if (std::strncmp(line, "VmRSS:", 6) == 0) kib = std::strtol(line + 6, nullptr, 10);
    }
    std::fclose(f);
    return kib;
}

// Bytes this process has read and written through system calls so far
// (rchar + wchar of /proc/self/io), or -1.
int64_t selfIoBytes() {
    FILE* f = std::fopen("/proc/self/io", "r");
    if (!f) return -1;
    char line[256];
    int64_t bytes = 0;
    int found = 0;
    while (std::fgets(line, sizeof line, f)) {
        if (std::strncmp(line, "rchar:", 6) == 0 || std::strncmp(line, "wchar:", 6) == 0) {
            bytes += std::strtoll(line + 6, nullptr, 10);
            ++found;
        }
    }
    std::fclose(f);
    return found == 2 ? bytes : -1;
}

// ---------------------------------------------------------------- launcher

// One run of a program as wait4 reports it.
struct Run {
    int status = -1;       // wait status
    double seconds = 0;    // wall time from fork to reaping
    long maxrssKiB = 0;
    double user = 0, sys = 0;
    long minflt = 0, majflt = 0, nvcsw = 0, nivcsw = 0;
};

// Starts the timed programs from a small process forked before the bench
// grows. A child's ru_maxrss also counts the memory image it was forked
// with, so a child forked straight from the bench (which holds the recorded
// notes and the bound's whole mix) would report the bench's size, not the
// program's. The launcher stays small, and reports each run over a pipe.
class Launcher {
public:
    void start(const std::string& dir) {
        int req[2], resp[2];
        if (::pipe(req) != 0 || ::pipe(resp) != 0) die("pipe: %s", std::strerror(errno));
        std::fflush(nullptr);
        pid_ = ::fork();
        if (pid_ < 0) die("fork: %s", std::strerror(errno));
        if (pid_ == 0) {
            ::close(req[1]);
            ::close(resp[0]);
            serve(dir, req[0], resp[1]);
            ::_exit(0);
        }
        ::close(req[0]);
        ::close(resp[1]);
        req_ = req[1];
        resp_ = resp[0];
    }

    Run run(const std::string& program) {
        const uint32_t len = static_cast<uint32_t>(program.size());
        if (!writeAll(req_, &len, sizeof len) || !writeAll(req_, program.data(), len))
            die("the launcher has gone");
        Run r;
        if (!readAll(resp_, &r, sizeof r)) die("the launcher has gone");
        return r;
    }

    void stop() {
        if (pid_ <= 0) return;
        ::close(req_);
        ::close(resp_);
        int st = 0;
        ::waitpid(pid_, &st, 0);
        pid_ = -1;
    }

private:
    static bool writeAll(int fd, const void* p, size_t n) {
        const auto* b = static_cast<const char*>(p);
        while (n > 0) {
            const ssize_t w = ::write(fd, b, n);
            if (w < 0 && errno == EINTR) continue;
            if (w <= 0) return false;
            b += w;
            n -= static_cast<size_t>(w);
        }
        return true;
    }
    static bool readAll(int fd, void* p, size_t n) {
        auto* b = static_cast<char*>(p);
        while (n > 0) {
            const ssize_t r = ::read(fd, b, n);
            if (r < 0 && errno == EINTR) continue;
            if (r <= 0) return false;
            b += r;
            n -= static_cast<size_t>(r);
        }
        return true;
    }

    [[noreturn]] static void serve(const std::string& dir, int in, int out) {
        if (::chdir(dir.c_str()) != 0) ::_exit(3);
        char path[4096];
        for (;;) {
            uint32_t len = 0;
            if (!readAll(in, &len, sizeof len) || len >= sizeof path) ::_exit(0);
            if (!readAll(in, path, len)) ::_exit(0);
            path[len] = '\0';
            Run r;
            const Clock::time_point t0 = Clock::now();
            const pid_t pid = ::fork();
            if (pid == 0) {
                const int null = ::open("/dev/null", O_RDONLY);
                if (null < 0 || ::dup2(null, 0) < 0) ::_exit(126);
                ::close(null);
                ::execl(path, path, static_cast<char*>(nullptr));
                ::_exit(127);
            }
            struct rusage ru {};
            if (pid > 0) {
                int st = 0;
                while (::wait4(pid, &st, 0, &ru) < 0 && errno == EINTR) {
                }
                r.status = st;
            }
            r.seconds = secondsSince(t0);
            r.maxrssKiB = ru.ru_maxrss;
            r.user = static_cast<double>(ru.ru_utime.tv_sec) + ru.ru_utime.tv_usec / 1e6;
            r.sys = static_cast<double>(ru.ru_stime.tv_sec) + ru.ru_stime.tv_usec / 1e6;
            r.minflt = ru.ru_minflt;
            r.majflt = ru.ru_majflt;
            r.nvcsw = ru.ru_nvcsw;
            r.nivcsw = ru.ru_nivcsw;
            if (!writeAll(out, &r, sizeof r)) ::_exit(0);
        }
    }

    pid_t pid_ = -1;
    int req_ = -1;
    int resp_ = -1;
};

// ---------------------------------------------------------------- notes

struct Note {
    int64_t start;
    int32_t segment;
    int32_t sila;
    char reg;   // register character loaded when the note was mixed
};

std::vector<Note>* recorded = nullptr;

void recordNote(const skladba::SledovanaNota& n) {
    recorded->push_back({n.start, static_cast<int32_t>(n.segment), n.sila, n.reg});
}

// ---------------------------------------------------------------- bound

// The in-memory lower bound: what rendering these notes costs with no mix
// file at all. The arithmetic is the renderer's: each segment sample scaled
// by sila percent (truncating toward zero; at 100 the sample itself), added
// to the 32-bit sums, the largest absolute sum tracked as the peak; then
// every sum times (32752.0f / peak) truncated to 16 bits, after a header of
// the template's bytes 0-3 and 8-39 with the two sizes filled in. Registers
// are read from their files, the WAV written and synced as the program does.
struct BoundPhases {
    double total = 0, registers = 0, mix = 0, convert = 0, write = 0, sync = 0;
    uint32_t peak = 0;
    bool overflow = false;
    int64_t samples = 0;
};

template <bool kFull>
[[gnu::always_inline]] inline void addCore(const int16_t* __restrict seg, int sila,
                                           int32_t* __restrict block, uint32_t& peak,
                                           uint32_t& overflow) {
    uint32_t top = peak;
    uint32_t ov = 0;
    for (int i = 0; i < kSegment; ++i) {
        const int32_t add = kFull ? seg[i] : seg[i] * sila / 100;
        const uint32_t a = static_cast<uint32_t>(block[i]);
        const uint32_t b = static_cast<uint32_t>(add);
        const uint32_t s = a + b;
        ov |= ~(a ^ b) & (a ^ s);   // both operands agree in sign, the sum does not
        const uint32_t magnitude = static_cast<int32_t>(s) < 0 ? 0u - s : s;
        top = magnitude > top ? magnitude : top;
        block[i] = static_cast<int32_t>(s);
    }
    peak = top;
    overflow |= ov;
}

using AddSegment = void (*)(const int16_t*, int, int32_t*, uint32_t&, uint32_t&);

void addPlain(const int16_t* seg, int sila, int32_t* block, uint32_t& peak, uint32_t& overflow) {
    if (sila == 100) {
        addCore<true>(seg, sila, block, peak, overflow);
    } else {
        addCore<false>(seg, sila, block, peak, overflow);
    }
}

// The same loop compiled for AVX2 where the processor has it: the bound is
// meant to be the fastest honest way to do this work on this machine.
#if defined(__x86_64__) && defined(__GNUC__)
[[gnu::target("avx2")]] void addAvx2(const int16_t* seg, int sila, int32_t* block, uint32_t& peak,
                                     uint32_t& overflow) {
    if (sila == 100) {
        addCore<true>(seg, sila, block, peak, overflow);
    } else {
        addCore<false>(seg, sila, block, peak, overflow);
    }
}

AddSegment bestAdd() { return __builtin_cpu_supports("avx2") ? addAvx2 : addPlain; }
const char* addKind() { return __builtin_cpu_supports("avx2") ? "AVX2" : "baseline"; }
#else
AddSegment bestAdd() { return addPlain; }
const char* addKind() { return "baseline"; }
#endif

void loadRegister(char reg, int16_t* table) {
    const std::string path = std::string("rejstriky/rejstr") + reg + ".nes";
    const size_t want = sizeof(int16_t) * kSegments * kSegment;
    const int64_t got = readInto(path, table, want) & ~int64_t{1};
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
    for (int64_t i = 0; i < got / 2; ++i) {
        const auto v = static_cast<uint16_t>(table[i]);
        table[i] = static_cast<int16_t>(static_cast<uint16_t>((v >> 8) | (v << 8)));
    }
#else
    (void)got;
#endif
}

void putLe32(unsigned char* at, uint32_t v) {
    at[0] = static_cast<unsigned char>(v);
    at[1] = static_cast<unsigned char>(v >> 8);
    at[2] = static_cast<unsigned char>(v >> 16);
    at[3] = static_cast<unsigned char>(v >> 24);
}

BoundPhases runBound(const std::vector<Note>& notes, const char* wavPath) {
    BoundPhases ph;
    const Clock::time_point t0 = Clock::now();

    unsigned char tmpl[kHeaderTemplate];
    if (readInto("rejstriky/wavhlavicka.nes", tmpl, sizeof tmpl) < kHeaderTemplate)
        die("the header template is shorter than %d bytes", kHeaderTemplate);
    // Zeroed first: a register file shorter than a full register leaves the
    // rest of the table as it was, as in the program.
    std::unique_ptr<int16_t[]> table(new int16_t[static_cast<size_t>(kSegments) * kSegment]());
    char loaded = 0;
    double registerSeconds = 0;

    int64_t samples = 0;
    for (const Note& n : notes) samples = std::max(samples, n.start + kSegment);
    ph.samples = samples;
    auto* mix = static_cast<int32_t*>(std::calloc(static_cast<size_t>(samples ? samples : 1), 4));
    if (!mix) die("out of memory for %lld sums", static_cast<long long>(samples));

    const AddSegment add = bestAdd();
    uint32_t peak = 0;
    uint32_t overflow = 0;
    for (const Note& n : notes) {
        if (n.reg != loaded) {
            const Clock::time_point r0 = Clock::now();
            loadRegister(n.reg, table.get());
            loaded = n.reg;
            registerSeconds += secondsSince(r0);
        }
        add(table.get() + static_cast<int64_t>(n.segment) * kSegment, n.sila, mix + n.start, peak,
            overflow);
    }
    ph.peak = peak;
    ph.overflow = (overflow >> 31) != 0;
    const Clock::time_point t1 = Clock::now();

    const size_t bytes = kHeader + static_cast<size_t>(samples) * 2;
    std::unique_ptr<unsigned char[]> wav(new unsigned char[bytes]);
    const auto dataBytes = static_cast<uint32_t>(static_cast<int32_t>(samples * 4 / 2));
    std::memcpy(wav.get(), tmpl, 4);
    putLe32(wav.get() + 4, dataBytes + 36);
    std::memcpy(wav.get() + 8, tmpl + 8, 32);
    putLe32(wav.get() + 40, dataBytes);
    const double maximum = static_cast<double>(peak);
    unsigned char* out = wav.get() + kHeader;
    if (maximum == 0.0) {
        std::memset(out, 0, static_cast<size_t>(samples) * 2);
    } else {
        const double scale = static_cast<double>(kMaxSignal) / maximum;
        for (int64_t i = 0; i < samples; ++i) {
            const auto v = static_cast<uint16_t>(static_cast<int16_t>(static_cast<int32_t>(mix[i] * scale)));
            out[2 * i] = static_cast<unsigned char>(v);
            out[2 * i + 1] = static_cast<unsigned char>(v >> 8);
        }
    }
    std::free(mix);
    const Clock::time_point t2 = Clock::now();

    const int fd = ::open(wavPath, O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0) die("cannot create %s: %s", wavPath, std::strerror(errno));
    size_t done = 0;
    while (done < bytes) {
        const ssize_t n = ::write(fd, wav.get() + done, bytes - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) die("cannot write %s: %s", wavPath, std::strerror(errno));
        done += static_cast<size_t>(n);
    }
    const Clock::time_point t3 = Clock::now();
    if (::fsync(fd) != 0) die("cannot sync %s: %s", wavPath, std::strerror(errno));
    ::close(fd);
    const Clock::time_point t4 = Clock::now();

    auto sec = [](Clock::time_point a, Clock::time_point b) {
        return std::chrono::duration<double>(b - a).count();
    };
    ph.registers = registerSeconds;
    ph.mix = sec(t0, t1) - registerSeconds;
    ph.convert = sec(t1, t2);
    ph.write = sec(t2, t3);
    ph.sync = sec(t3, t4);
    ph.total = sec(t0, t4);
    return ph;
}

// Compares two files byte for byte; returns -1 when equal, else the offset
// of the first difference (the shorter file's size when one is a prefix).
int64_t firstDifference(const std::string& a, const std::string& b, int64_t& sizeA, int64_t& sizeB) {
    const int fa = ::open(a.c_str(), O_RDONLY);
    const int fb = ::open(b.c_str(), O_RDONLY);
    if (fa < 0) die("cannot open %s: %s", a.c_str(), std::strerror(errno));
    if (fb < 0) die("cannot open %s: %s", b.c_str(), std::strerror(errno));
    struct stat sa {}, sb {};
    ::fstat(fa, &sa);
    ::fstat(fb, &sb);
    sizeA = sa.st_size;
    sizeB = sb.st_size;
    std::vector<unsigned char> ba(1 << 20), bb(1 << 20);
    int64_t offset = 0;
    int64_t result = -1;
    for (;;) {
        const ssize_t na = ::read(fa, ba.data(), ba.size());
        const ssize_t nb = ::read(fb, bb.data(), bb.size());
        if (na < 0 || nb < 0) die("cannot read while comparing WAVs: %s", std::strerror(errno));
        const ssize_t n = std::min(na, nb);
        for (ssize_t i = 0; i < n; ++i) {
            if (ba[i] != bb[i]) {
                result = offset + i;
                break;
            }
        }
        if (result >= 0) break;
        if (na != nb) {
            result = offset + n;
            break;
        }
        if (na == 0) break;
        offset += n;
    }
    ::close(fa);
    ::close(fb);
    return result;
}

std::string describeStatus(int st) {
    if (WIFEXITED(st)) return "exit status " + std::to_string(WEXITSTATUS(st));
    if (WIFSIGNALED(st)) return "signal " + std::to_string(WTERMSIG(st));
    return "wait status " + std::to_string(st);
}

std::string minutesText(double samples) {
    const double s = samples / kRate;
    char buf[64];
    std::snprintf(buf, sizeof buf, "%d min %04.1f s", static_cast<int>(s / 60), std::fmod(s, 60.0));
    return buf;
}

// One score measured: rendered once in process to record its notes, then the
// program and the bound timed on it, and their WAVs and peaks compared.
struct Measured {
    std::vector<Note> notes;
    int64_t samples = 0;
    double recordSeconds = 0;
    int64_t ioBytes = -1;   // read and written through the kernel by the recording run
    std::vector<Run> runs;
    std::vector<BoundPhases> bounds;
    double program = 0, programMin = 0, programMax = 0, bound = 0;
    long rssKiB = 0;
    double enginePeak = 0;
    bool peakSame = false;
    int64_t wavDifference = -1, wavProgram = 0, wavBound = 0;
};

template <typename T, typename F>
double medianOf(const std::vector<T>& v, F field) {
    std::vector<double> x;
    for (const auto& e : v) x.push_back(static_cast<double>(e.*field));
    return median(x);
}

// Measures the score text in the current directory, the launcher's.
Measured measure(const std::string& text, int64_t expectedNotes, int runs, Launcher& launcher) {
    Measured m;
    writeFile("aktualni.txt", text.data(), text.size());

    // The recording run, in process and untimed; it also warms the page cache.
    m.notes.reserve(static_cast<size_t>(expectedNotes) + 16);
    recorded = &m.notes;
    skladba::Nastaveni nastaveni;
    nastaveni.sledovaninoty = recordNote;
    const int64_t io0 = selfIoBytes();
    const Clock::time_point tr = Clock::now();
    const skladba::Vysledek inProcess = skladba::spust(nastaveni);
    m.recordSeconds = secondsSince(tr);
    const int64_t io1 = selfIoBytes();
    if (io0 >= 0 && io1 >= 0) m.ioBytes = io1 - io0;
    if (inProcess.status != 0) die("the score did not render in process: %s", inProcess.zprava.c_str());
    m.enginePeak = inProcess.stav.maximum;
    for (const Note& n : m.notes) m.samples = std::max(m.samples, n.start + kSegment);

    for (int i = 0; i < runs; ++i) {
        const Run r = launcher.run(SKLADBA_PROGRAM);
        if (!(WIFEXITED(r.status) && WEXITSTATUS(r.status) == 0))
            die("the program failed on run %d: %s", i + 1, describeStatus(r.status).c_str());
        m.runs.push_back(r);
    }
    for (int i = 0; i < runs; ++i) m.bounds.push_back(runBound(m.notes, "bound.wav"));

    m.program = medianOf(m.runs, &Run::seconds);
    m.programMin = m.programMax = m.runs[0].seconds;
    for (const Run& r : m.runs) {
        m.programMin = std::min(m.programMin, r.seconds);
        m.programMax = std::max(m.programMax, r.seconds);
        m.rssKiB = std::max(m.rssKiB, r.maxrssKiB);
    }
    m.bound = medianOf(m.bounds, &BoundPhases::total);
    const BoundPhases& last = m.bounds.back();
    m.peakSame = !last.overflow && static_cast<double>(last.peak) == m.enginePeak;
    m.wavDifference = firstDifference("aktualni.wav", "bound.wav", m.wavProgram, m.wavBound);
    return m;
}

// Prints the failed checks of m; true when there were none.
bool reportChecks(const Measured& m, const char* name) {
    bool ok = true;
    const BoundPhases& last = m.bounds.back();
    if (last.overflow) {
        std::printf("FAILURE (%s): the bound's mix overflowed 32 bits, yet the program rendered it\n", name);
        ok = false;
    } else if (!m.peakSame) {
        std::printf("FAILURE (%s): peak differs: engine %.0f, bound %u\n", name, m.enginePeak, last.peak);
        ok = false;
    }
    if (m.wavDifference >= 0) {
        std::printf("FAILURE (%s): the WAVs differ from byte %lld (program %lld bytes, bound %lld bytes)\n",
                    name, static_cast<long long>(m.wavDifference), static_cast<long long>(m.wavProgram),
                    static_cast<long long>(m.wavBound));
        ok = false;
    }
    return ok;
}

}  // namespace

int main(int argc, char** argv) {
    const Options opt = parseOptions(argc, argv);
    const std::string program = SKLADBA_PROGRAM;
    const std::string workdir = SKLADBA_WORKDIR;

    if (!opt.writeScore.empty()) {
        const Score sc = generateScore(opt.minutes);
        writeFile(opt.writeScore, sc.text.data(), sc.text.size());
        std::printf("wrote %s: %d sections, %lld notes, about %s\n", opt.writeScore.c_str(), sc.sections,
                    static_cast<long long>(sc.notes), minutesText(sc.estimatedSamples).c_str());
        return 0;
    }

    // The temporary directory, then at once the launcher, while this process
    // is still small.
    std::string pattern = opt.parent + "/skladba-bench.XXXXXX";
    std::vector<char> dirbuf(pattern.begin(), pattern.end());
    dirbuf.push_back('\0');
    if (!::mkdtemp(dirbuf.data())) die("cannot make a directory under %s: %s", opt.parent.c_str(),
                                       std::strerror(errno));
    const std::string dir = dirbuf.data();
    const long launcherRss = selfRssKiB();
    Launcher launcher;
    launcher.start(dir);

    if (::mkdir((dir + "/rejstriky").c_str(), 0755) != 0) die("cannot make %s/rejstriky", dir.c_str());
    copyFile(workdir + "/rejstriky/wavhlavicka.nes", dir + "/rejstriky/wavhlavicka.nes");
    for (int r = 1; r <= 4; ++r) {
        const std::string name = "/rejstriky/rejstr" + std::to_string(r) + ".nes";
        const int64_t size = copyFile(workdir + name, dir + name);
        if (size != int64_t{2} * kSegments * kSegment) {
            std::printf("note: %s holds %lld bytes, not a full register\n", name.c_str() + 1,
                        static_cast<long long>(size));
        }
    }
    Score score;
    if (opt.score.empty()) {
        score = generateScore(opt.minutes);
    } else {
        const int64_t size = fileSize(opt.score);
        score.text.resize(static_cast<size_t>(size));
        if (readInto(opt.score, score.text.data(), score.text.size()) != size) die("cannot read %s", opt.score.c_str());
    }
    if (::chdir(dir.c_str()) != 0) die("cannot enter %s: %s", dir.c_str(), std::strerror(errno));

    const Run floor = launcher.run("/bin/true");
    const Measured m = measure(score.text, score.notes, opt.runs, launcher);

    std::printf("skladba-bench\n");
    std::printf("  program                %s\n", program.c_str());
    std::printf("  directory              %s\n", dir.c_str());
    if (opt.score.empty()) {
        std::printf("  score                  %d sections x %d voices, %zu bytes, %d register changes,"
                    " %d with a tempo curve\n",
                    score.sections, kVoices, score.text.size(), score.registerChanges, score.curveSections);
        std::printf("  notes mixed            %zu (rests and dots included; %lld generated)\n", m.notes.size(),
                    static_cast<long long>(score.notes));
    } else {
        std::printf("  score                  %s, %zu bytes\n", opt.score.c_str(), score.text.size());
        std::printf("  notes mixed            %zu (rests and dots included)\n", m.notes.size());
    }
    std::printf("  samples of mix         %lld (%s at %d Hz; mix file %.1f MiB, WAV %.1f MiB)\n",
                static_cast<long long>(m.samples), minutesText(static_cast<double>(m.samples)).c_str(), kRate,
                m.samples * 4.0 / 1048576.0, (m.samples * 2.0 + kHeader) / 1048576.0);
    std::printf("  in-process run         %.3f s (recording, not timed below)\n", m.recordSeconds);
    std::printf("  kernel I/O             %.0f MiB read and written by that run, %.1f times the mix file\n",
                m.ioBytes / 1048576.0, m.ioBytes / (m.samples * 4.0));

    std::printf("\nprogram, %d runs\n", opt.runs);
    std::printf("  median time            %.3f s (min %.3f, max %.3f)\n", m.program, m.programMin, m.programMax);
    std::printf("  user / system          %.3f s / %.3f s (medians)\n", medianOf(m.runs, &Run::user),
                medianOf(m.runs, &Run::sys));
    std::printf("  page faults            %.0f minor, %.0f major; context switches %.0f voluntary,"
                " %.0f involuntary (medians)\n",
                medianOf(m.runs, &Run::minflt), medianOf(m.runs, &Run::majflt), medianOf(m.runs, &Run::nvcsw),
                medianOf(m.runs, &Run::nivcsw));
    std::printf("  notes per second       %.0f\n", static_cast<double>(m.notes.size()) / m.program);
    std::printf("  peak RSS               %.1f MiB (largest of the runs; the launcher's own floor,"
                " /bin/true, is %.1f MiB; bench was %.1f MiB when it forked)\n",
                m.rssKiB / 1024.0, floor.maxrssKiB / 1024.0, launcherRss / 1024.0);

    std::printf("\nin-memory bound, %d runs\n", opt.runs);
    std::printf("  median time            %.3f s (add loop: %s)\n", m.bound, addKind());
    std::printf("  phases (medians)       registers %.3f, mix %.3f, convert %.3f, write %.3f,"
                " fsync %.3f s\n",
                medianOf(m.bounds, &BoundPhases::registers), medianOf(m.bounds, &BoundPhases::mix),
                medianOf(m.bounds, &BoundPhases::convert), medianOf(m.bounds, &BoundPhases::write),
                medianOf(m.bounds, &BoundPhases::sync));

    std::printf("\nratio program / bound    %.2f\n", m.program / m.bound);

    bool ok = reportChecks(m, "main score");
    if (m.peakSame) std::printf("peak                     %u, the same in the engine and the bound\n",
                                m.bounds.back().peak);
    if (m.wavDifference < 0) {
        std::printf("WAV check                identical: the bound's WAV equals the program's byte for"
                    " byte (%lld bytes)\n",
                    static_cast<long long>(m.wavProgram));
    }
    std::fflush(stdout);

    if (opt.jumps) {
        std::printf("\nscores that jump around in time, %d runs each (medians)\n", opt.runs);
        std::printf("  %-20s %6s  %-13s %9s %9s %6s %9s %9s  %s\n", "score", "notes", "length", "program",
                    "bound", "ratio", "peak RSS", "I/O", "WAV");
        for (const JumpyScore& j : jumpyScores()) {
            const Measured jm = measure(j.text, 4100, opt.runs, launcher);
            std::printf("  %-20s %6zu  %-13s %7.3f s %7.3f s %6.2f %5.1f MiB %7.1f x  %s\n", j.name,
                        jm.notes.size(), minutesText(static_cast<double>(jm.samples)).c_str(), jm.program, jm.bound,
                        jm.program / jm.bound, jm.rssKiB / 1024.0, jm.ioBytes / (jm.samples * 4.0),
                        jm.wavDifference < 0 ? "identical" : "DIFFERENT");
            std::fflush(stdout);
            ok = reportChecks(jm, j.name) && ok;
        }
    }
    launcher.stop();

    if (::chdir("/") != 0) die("cannot leave %s", dir.c_str());
    if (opt.keep) {
        std::printf("kept %s\n", dir.c_str());
    } else {
        removeTree(dir);
    }
    return ok ? 0 : 1;
}
