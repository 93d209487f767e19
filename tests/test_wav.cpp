// The WAV writer: header fields, scaling by the peak, silence, and the
// previous aktualni.wav kept when writing fails.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>

#include "base/stav.h"
#include "output/wav.h"
#include "platform/system.h"
#include "studio.h"
#include "wavdata.h"

namespace skladba {
namespace {

using test::Studio;

uint32_t le32(const std::string& bytes, size_t at) { return test::le(bytes, at, 4); }

TEST(Wav, EmptyScoreGivesTheBareHeader) {
    Studio studio;
    ASSERT_EQ(studio.hraj("").status, 0);
    const std::string wav = studio.obsah("aktualni.wav");
    ASSERT_EQ(wav.size(), 44u);
    const std::string tmpl = studio.obsah("rejstriky/wavhlavicka.nes");
    EXPECT_EQ(wav.substr(0, 4), "RIFF");
    EXPECT_EQ(le32(wav, 4), 36u);
    EXPECT_EQ(wav.substr(8, 32), tmpl.substr(8, 32));
    EXPECT_EQ(le32(wav, 40), 0u);
    EXPECT_FALSE(studio.existuje("_.tmp"));
    EXPECT_FALSE(studio.existuje("aktualni.wav.part"));
}

TEST(Wav, SizesFollowTheMixLength) {
    Studio studio;
    ASSERT_EQ(studio.hraj("cdef").status, 0);
    const std::string wav = studio.obsah("aktualni.wav");
    const uint32_t data = (33075 + 88200) * 2;
    EXPECT_EQ(wav.size(), 44 + data);
    EXPECT_EQ(le32(wav, 4), data + 36);
    EXPECT_EQ(le32(wav, 40), data);
}

TEST(Wav, PeakScalesToExactly32752AndTruncates) {
    Studio studio;
    // Sums 65504, 1001 and -3 from two voices started together without jitter.
    studio.soubor("rejstriky/rejstr2.nes", test::registr(4, [](int k, int i) -> int16_t {
        const int16_t c[] = {32752, 500, -1};
        const int16_t d[] = {32752, 501, -2};
        if (i > 2) return 0;
        return k == 0 ? c[i] : k == 2 ? d[i] : 0;   // "c" and "d" at octave 0
    }));
    ASSERT_EQ(studio.hraj("R2 ov S0 c-d").status, 0);
    const auto samples = studio.vzorky();
    EXPECT_EQ(samples[0], 32752);
    EXPECT_EQ(samples[1], 500);
    EXPECT_EQ(samples[2], -1);
}

TEST(Wav, SilentMixGivesZeroSamples) {
    Studio studio;
    studio.soubor("rejstriky/rejstr0.nes", "");   // an empty register leaves silence
    studio.soubor("rejstriky/rejstr1.nes", "");
    ASSERT_EQ(studio.hraj("cde").status, 0);
    const auto samples = studio.vzorky();
    EXPECT_EQ(samples.size(), 22050u + 88200u);
    for (int16_t s : samples) ASSERT_EQ(s, 0);
}

TEST(Wav, ScalingStaysWithinTheOutputRange) {
    for (int32_t peak : {1, 3, 32751, 65504, 99999, 2147483647}) {
        const double scale = static_cast<double>(maxsignal) / peak;
        // The quotient may round just below exact: the peak is 32752 or 32751.
        EXPECT_GE(vzorekwav(peak, scale), 32751) << peak;
        EXPECT_LE(vzorekwav(peak, scale), 32752) << peak;
        EXPECT_EQ(vzorekwav(-peak, scale), -vzorekwav(peak, scale)) << peak;
    }
}

TEST(Wav, FailedWriteKeepsThePreviousFile) {
    Studio studio;
    studio.soubor("aktualni.wav", "previous");
    // Mix writes go through; the WAV's do not.
    platform::volani().pwrite = [](int fd, const void* buf, size_t n, off_t off) -> ssize_t {
        if (!platform::tentyzsoubor(fd, "aktualni.wav.part")) return ::pwrite(fd, buf, n, off);
        errno = ENOSPC;
        return -1;
    };
    const Vysledek r = studio.hraj("cde");
    platform::obnovvolani();
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.zprava, "cannot write aktualni.wav: No space left on device");
    EXPECT_EQ(studio.obsah("aktualni.wav"), "previous");
    EXPECT_FALSE(studio.existuje("aktualni.wav.part"));
    EXPECT_FALSE(studio.existuje("_.tmp"));
}

}  // namespace
}  // namespace skladba
