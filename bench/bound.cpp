#include "bound.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "common.h"
#include "files.h"
#include "synth/smycka.h"

namespace bench {

namespace {

// The in-memory lower bound: what rendering these notes costs with no mix
// file at all. The arithmetic is the renderer's: each segment sample scaled
// by sila percent (truncating toward zero; at 100 the sample itself), added
// to the 32-bit sums, the largest absolute sum tracked as the peak; then
// every sum times (32752.0f / peak) truncated to 16 bits, after a header of
// the template's bytes 0-3 and 8-39 with the two sizes filled in. Registers
// are read from their files, the WAV written and synced as the program does.
// Under a release a note adds what it sounds: its segment cut short and
// faded, or repeated through its loop.
template <bool kFull>
[[gnu::always_inline]] inline void addCore(const int16_t* __restrict seg, int count, int sila,
                                           int32_t* __restrict block, uint32_t& peak,
                                           uint32_t& overflow) {
    uint32_t top = peak;
    uint32_t ov = 0;
    for (int i = 0; i < count; ++i) {
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

using AddSegment = void (*)(const int16_t*, int, int, int32_t*, uint32_t&, uint32_t&);

void addPlain(const int16_t* seg, int count, int sila, int32_t* block, uint32_t& peak, uint32_t& overflow) {
    if (sila == 100) {
        addCore<true>(seg, count, sila, block, peak, overflow);
    } else {
        addCore<false>(seg, count, sila, block, peak, overflow);
    }
}

// The same loop compiled for AVX2 where the processor has it: the bound is
// meant to be the fastest honest way to do this work on this machine.
#if defined(__x86_64__) && defined(__GNUC__)
[[gnu::target("avx2")]] void addAvx2(const int16_t* seg, int count, int sila, int32_t* block, uint32_t& peak,
                                     uint32_t& overflow) {
    if (sila == 100) {
        addCore<true>(seg, count, sila, block, peak, overflow);
    } else {
        addCore<false>(seg, count, sila, block, peak, overflow);
    }
}

AddSegment bestAdd() { return __builtin_cpu_supports("avx2") ? addAvx2 : addPlain; }
bool avx2() { return __builtin_cpu_supports("avx2"); }
#else
AddSegment bestAdd() { return addPlain; }
bool avx2() { return false; }
#endif

// The sustain loops beside a register, when it has them (rejstrN.smycky);
// the program has checked that they belong to it.
bool loadLoops(char reg, skladba::Smycky& loops) {
    const std::string path = std::string("rejstriky/rejstr") + reg + skladba::priponasmycek;
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return false;
    std::string text(static_cast<size_t>(st.st_size), '\0');
    if (readInto(path, &text[0], text.size()) != st.st_size) die("cannot read %s", path.c_str());
    std::string why;
    if (!skladba::prectismycky(text, loops, why)) die("%s: %s", path.c_str(), why.c_str());
    return true;
}

// A segment cut short by a release: its first utlum samples as they are,
// then a fade to silence at zni along 1 - (3x^2 - 2x^3), as the renderer
// cuts it.
int cutSegment(const int16_t* seg, int64_t utlum, int64_t zni, int16_t* out) {
    std::memcpy(out, seg, sizeof(int16_t) * static_cast<size_t>(utlum));
    const double fade = static_cast<double>(zni - utlum);
    for (int64_t i = utlum; i < zni; ++i) {
        const double x = static_cast<double>(i - utlum) / fade;
        out[i] = static_cast<int16_t>(seg[i] * (1.0 - x * x * (3.0 - 2.0 * x)));
    }
    return static_cast<int>(zni);
}

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

}  // namespace

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
    for (const Note& n : notes) samples = std::max(samples, n.start + n.zni);
    ph.samples = samples;
    auto* mix = static_cast<int32_t*>(std::calloc(static_cast<size_t>(samples ? samples : 1), 4));
    if (!mix) die("out of memory for %lld sums", static_cast<long long>(samples));

    const AddSegment add = bestAdd();
    uint32_t peak = 0;
    uint32_t overflow = 0;
    std::unique_ptr<skladba::Smycky> loops(new skladba::Smycky);
    bool hasLoops = false;
    std::unique_ptr<int16_t[]> sound(new int16_t[kSegment]);
    for (const Note& n : notes) {
        if (n.reg != loaded) {
            const Clock::time_point r0 = Clock::now();
            loadRegister(n.reg, table.get());
            hasLoops = loadLoops(n.reg, *loops);
            loaded = n.reg;
            registerSeconds += secondsSince(r0);
        }
        const int16_t* seg = table.get() + static_cast<int64_t>(n.segment) * kSegment;
        if (n.loop && n.zni > kSegment) {
            // A note longer than its segment: its samples, a segment's worth
            // at a time, from the renderer's own loop player.
            if (!hasLoops || !loops->smycka[n.segment].je()) die("a note played a loop register %c lacks", n.reg);
            for (int64_t od = 0; od < n.zni; od += kSegment) {
                const int count = static_cast<int>(std::min<int64_t>(kSegment, n.zni - od));
                skladba::vzorkysmycky(seg, loops->smycka[n.segment], od, count, n.utlum, n.zni, sound.get());
                add(sound.get(), count, n.sila, mix + n.start + od, peak, overflow);
            }
        } else if (n.utlum < n.zni) {
            add(sound.get(), cutSegment(seg, n.utlum, n.zni, sound.get()), n.sila, mix + n.start, peak, overflow);
        } else {
            add(seg, static_cast<int>(n.zni), n.sila, mix + n.start, peak, overflow);
        }
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


const char* addKind() { return avx2() ? "AVX2" : "baseline"; }

}  // namespace bench
