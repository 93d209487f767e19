#include "registers/sample.h"

#include <fcntl.h>
#include <sndfile.h>
#include <soxr.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "registers/pitch.h"

namespace skladba::registers {
namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kSilence = 1e-4;        // a peak below -80 dBFS is silence
constexpr double kOnsetFraction = 0.05;  // the note starts at 5% of the peak (-26 dB)
constexpr double kLeadIn = 0.002;        // seconds kept before the onset
constexpr double kPitchLookAhead = 0.5;  // seconds after the onset "auto" may use

// A recording, mixed to mono, read on demand from the start.
class Recording {
public:
    Recording() = default;
    Recording(const Recording&) = delete;
    Recording& operator=(const Recording&) = delete;
    ~Recording() {
        if (file_ != nullptr) sf_close(file_);
        if (fd_ >= 0) ::close(fd_);
    }

    bool open(const std::string& path, std::string& error) {
        path_ = path;
        // Without blocking, so a FIFO given by mistake cannot hang the tool.
        fd_ = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        struct stat st {};
        if (fd_ < 0 || ::fstat(fd_, &st) != 0) return fail(std::strerror(errno), error);
        if (!S_ISREG(st.st_mode)) return fail("not a regular file", error);
        SF_INFO info{};
        file_ = sf_open_fd(fd_, SFM_READ, &info, SF_FALSE);
        if (file_ == nullptr) {
            return fail(std::string("not an audio file libsndfile can read (") + sf_strerror(nullptr) + ")", error);
        }
        rate_ = info.samplerate;
        channels_ = info.channels;
        frames_ = info.frames;
        if (rate_ <= 0 || channels_ <= 0) return fail("the file declares no sample rate or channels", error);
        const double seconds = static_cast<double>(frames_) / rate_;
        char text[128];
        if (seconds < kShortestRecording) {
            std::snprintf(text, sizeof text, "the recording is %.0f ms long, shorter than %.0f ms", seconds * 1000.0,
                          kShortestRecording * 1000.0);
            return fail(text, error);
        }
        if (seconds > kLongestRecording) {
            std::snprintf(text, sizeof text, "the recording is %.1f minutes long, longer than ten minutes",
                          seconds / 60.0);
            return fail(text, error);
        }
        return true;
    }

    // Reads until `frames` frames (or the whole file) are held.
    bool readUpTo(sf_count_t frames, std::string& error) {
        frames = std::min(frames, frames_);
        std::vector<double> block;
        while (static_cast<sf_count_t>(mono_.size()) < frames) {
            const sf_count_t want = std::min<sf_count_t>(frames - static_cast<sf_count_t>(mono_.size()), 65536);
            block.resize(static_cast<std::size_t>(want * channels_));
            const sf_count_t got = sf_readf_double(file_, block.data(), want);
            if (got <= 0) {
                if (sf_error(file_) != SF_ERR_NO_ERROR) return fail(std::string("cannot read: ") + sf_strerror(file_), error);
                frames_ = static_cast<sf_count_t>(mono_.size());  // shorter than its header said
                break;
            }
            for (sf_count_t f = 0; f < got; ++f) {
                double sum = 0.0;
                for (int c = 0; c < channels_; ++c) sum += block[static_cast<std::size_t>(f * channels_ + c)];
                mono_.push_back(sum / channels_);
            }
        }
        return true;
    }

    bool fail(const std::string& why, std::string& error) const {
        error = path_ + ": " + why;
        return false;
    }

    bool whole() const { return static_cast<sf_count_t>(mono_.size()) >= frames_; }
    sf_count_t frames() const { return frames_; }
    double rate() const { return rate_; }
    std::vector<double>& mono() { return mono_; }

private:
    std::string path_;
    int fd_ = -1;
    SNDFILE* file_ = nullptr;
    int rate_ = 0;
    int channels_ = 0;
    sf_count_t frames_ = 0;
    std::vector<double> mono_;
};

double peakOf(const std::vector<double>& x, std::size_t from = 0) {
    double peak = 0.0;
    for (std::size_t n = from; n < x.size(); ++n) peak = std::max(peak, std::fabs(x[n]));
    return peak;
}

// Reads until the note has begun and returns the first frame to keep: a
// little before the first sample that reaches kOnsetFraction of the peak of
// the note's first half second.
bool findOnset(Recording& r, std::size_t& onset, std::string& error) {
    const auto second = static_cast<sf_count_t>(r.rate());
    std::size_t loud = 0;
    for (sf_count_t upTo = second;; upTo += second) {
        if (!r.readUpTo(upTo, error)) return false;
        const std::vector<double>& x = r.mono();
        while (loud < x.size() && std::fabs(x[loud]) < kSilence) ++loud;
        if (loud < x.size()) break;
        if (r.whole()) return r.fail("the recording is silent", error);
    }
    if (!r.readUpTo(static_cast<sf_count_t>(loud) + second / 2, error)) return false;
    const std::vector<double>& x = r.mono();
    const double threshold = kOnsetFraction * peakOf(x, loud);
    std::size_t start = loud;
    while (start < x.size() && std::fabs(x[start]) < threshold) ++start;
    const auto leadIn = static_cast<std::size_t>(kLeadIn * r.rate());
    onset = start > leadIn ? start - leadIn : 0;
    return true;
}

// One-pole high-pass at 10 Hz from `from` on: a recording's DC offset would
// thump at the end of every note.
void removeOffset(std::vector<double>& x, std::size_t from, double rate) {
    const double pole = 1.0 - 2.0 * kPi * 10.0 / rate;
    double previousIn = from < x.size() ? x[from] : 0.0;
    double previousOut = 0.0;
    for (std::size_t n = from; n < x.size(); ++n) {
        const double y = x[n] - previousIn + pole * previousOut;
        previousIn = x[n];
        previousOut = y;
        x[n] = y;
    }
}

struct LoadedZone {
    Recording recording;
    std::size_t onset = 0;
};

// Plays `x` (from `onset`, at `rate`) `ratio` times as fast into `out`.
bool resample(const std::vector<double>& x, std::size_t onset, double rate, double ratio, std::vector<double>& out,
              std::string& error) {
    const soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT64_I, SOXR_FLOAT64_I);
    const soxr_quality_spec_t quality = soxr_quality_spec(SOXR_VHQ, 0);
    std::size_t used = 0, made = 0;
    out.assign(kSegmentLength, 0.0);
    const soxr_error_t failure = soxr_oneshot(rate * ratio, kSampleRate, 1, x.data() + onset, x.size() - onset, &used,
                                              out.data(), out.size(), &made, &io, &quality, nullptr);
    if (failure != nullptr) {
        error = std::string("cannot resample: ") + failure;
        return false;
    }
    fadeEdges(out.data(), static_cast<int>(made), kFadeIn, kFadeOut);
    return true;
}

}  // namespace

bool renderSamples(const std::vector<Zone>& zones, Segments& segments, std::vector<ZoneReport>& reports,
                   std::string& error) {
    std::vector<LoadedZone> loaded(zones.size());
    std::vector<double> frequencies(zones.size());
    reports.assign(zones.size(), ZoneReport{});
    for (std::size_t z = 0; z < zones.size(); ++z) {
        const bool automatic = zones[z].pitch == "auto";
        if (!automatic && !parsePitch(zones[z].pitch, frequencies[z], error)) {
            error = zones[z].audio + ": " + error;
            return false;
        }
        Recording& r = loaded[z].recording;
        if (!r.open(zones[z].audio, error) || !findOnset(r, loaded[z].onset, error)) return false;
        if (automatic) {
            const auto ahead = loaded[z].onset + static_cast<std::size_t>(kPitchLookAhead * r.rate());
            if (!r.readUpTo(static_cast<sf_count_t>(ahead), error)) return false;
            const auto settle = static_cast<std::size_t>(0.02 * r.rate());  // past the attack
            double f = estimateFundamental(r.mono(), r.rate(), loaded[z].onset + settle);
            if (f == 0.0) f = estimateFundamental(r.mono(), r.rate(), loaded[z].onset);
            if (f == 0.0) return r.fail("no clear pitch found; give the pitch instead of auto", error);
            // The difference function finds the period to a fraction of a
            // sample; the spectrum over up to half a second pins it down.
            const std::size_t from = loaded[z].onset + settle;
            const int length = static_cast<int>(std::min(r.mono().size() - std::min(from, r.mono().size()),
                                                         static_cast<std::size_t>(kPitchLookAhead * r.rate())));
            const double refined = refinePitch(r.mono().data() + from, length, r.rate(), f);
            if (refined > 0.0) f = refined;
            const int segment = nearestSegment(f);
            if (segment < 0 || segment >= kSegments) {
                return r.fail("the estimated pitch " + std::to_string(f) + " Hz lies outside the register's range",
                              error);
            }
            frequencies[z] = f;
            reports[z].estimated = true;
        }
        reports[z].frequency = frequencies[z];
    }

    std::vector<int> zoneOf(kSegments, -1);
    for (int k = 1; k < kSegments; ++k) {
        const int z = nearestZone(frequencies, k);
        zoneOf[k] = z;
        ZoneReport& report = reports[static_cast<std::size_t>(z)];
        if (report.last < report.first) report.first = k;
        report.last = k;
    }

    segments = silentRegister();
    for (std::size_t z = 0; z < zones.size(); ++z) {
        const ZoneReport& report = reports[z];
        if (report.last < report.first) continue;  // nearer zones serve every segment
        Recording& r = loaded[z].recording;
        // The highest segment plays fastest and so uses the most of the file.
        const double fastest = segmentFrequency(report.last) / frequencies[z];
        const double needed = 4.0 * fastest * r.rate() + 0.05 * r.rate();  // plus the resampler's reach
        if (!r.readUpTo(static_cast<sf_count_t>(loaded[z].onset + needed), error)) return false;
        removeOffset(r.mono(), loaded[z].onset, r.rate());
        for (int k = report.first; k <= report.last; ++k) {
            if (zoneOf[k] != static_cast<int>(z)) continue;
            if (!resample(r.mono(), loaded[z].onset, r.rate(), segmentFrequency(k) / frequencies[z], segments[k],
                          error)) {
                return r.fail(error, error);
            }
        }
    }
    return true;
}

std::string sampleLibraryVersions() { return std::string(sf_version_string()) + ", " + soxr_version(); }

}  // namespace skladba::registers
