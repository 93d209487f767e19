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
constexpr double kAnalysisRate = 48000;  // "auto" listens at this rate at most
constexpr double kLoudest = 1e6;         // a sample beyond this is no sound (full scale is 1)
constexpr sf_count_t kBlockSamples = 1 << 16;

// A recording, mixed to mono and read from the start a block at a time, so
// that what is held stays bounded whatever its rate, length and channels.
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
        SF_INSTRUMENT instrument{};
        if (sf_command(file_, SFC_GET_INSTRUMENT, &instrument, sizeof instrument) == SF_TRUE &&
            instrument.loop_count > 0 && instrument.loops[0].end > instrument.loops[0].start && info.samplerate > 0) {
            loopFrom_ = static_cast<double>(instrument.loops[0].start) / info.samplerate;
            loopTo_ = static_cast<double>(instrument.loops[0].end) / info.samplerate;
        }
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

    // Appends up to `frames` more frames, mixed to mono, to `out`; fewer at
    // the end of the file. A sample that is no number (NaN or infinite) or
    // far beyond full scale is refused: it would make the whole register
    // silent or noise.
    double loopFrom() const { return loopFrom_; }
    double loopTo() const { return loopTo_; }

    bool read(sf_count_t frames, std::vector<double>& out, std::string& error) {
        const sf_count_t perBlock = std::max<sf_count_t>(1, kBlockSamples / channels_);
        while (frames > 0 && !ended_) {
            const sf_count_t want = std::min(frames, perBlock);
            block_.resize(static_cast<std::size_t>(want * channels_));
            const sf_count_t got = sf_readf_double(file_, block_.data(), want);
            if (got <= 0) {
                if (sf_error(file_) != SF_ERR_NO_ERROR) return fail(std::string("cannot read: ") + sf_strerror(file_), error);
                ended_ = true;  // shorter than its header said, or at its end
                break;
            }
            for (sf_count_t f = 0; f < got; ++f) {
                double sum = 0.0;
                for (int c = 0; c < channels_; ++c) {
                    const double v = block_[static_cast<std::size_t>(f * channels_ + c)];
                    if (!(std::fabs(v) <= kLoudest)) {
                        return fail(std::isfinite(v) ? "the recording holds samples far beyond full scale"
                                                     : "the recording holds samples that are not numbers (NaN or "
                                                       "infinity)",
                                    error);
                    }
                    sum += v;
                }
                out.push_back(sum / channels_);
            }
            read_ += got;
            frames -= got;
            if (read_ >= frames_) ended_ = true;
        }
        return true;
    }

    bool fail(const std::string& why, std::string& error) const {
        error = path_ + ": " + why;
        return false;
    }

    bool ended() const { return ended_; }
    double rate() const { return rate_; }

private:
    double loopFrom_ = 0.0, loopTo_ = 0.0;
    std::string path_;
    int fd_ = -1;
    SNDFILE* file_ = nullptr;
    int rate_ = 0;
    int channels_ = 0;
    sf_count_t frames_ = 0;
    sf_count_t read_ = 0;
    bool ended_ = false;
    std::vector<double> block_;
};

double peakOf(const std::vector<double>& x, std::size_t from, std::size_t to) {
    double peak = 0.0;
    for (std::size_t n = from; n < to && n < x.size(); ++n) peak = std::max(peak, std::fabs(x[n]));
    return peak;
}

// A zone's recording from a little before its note begins: the first
// sample that reaches kOnsetFraction of the peak of the note's first half
// second. The silence before it is read and let go, a second at a time.
struct LoadedZone {
    Recording recording;
    std::vector<double> head;  // mono from the onset on, as far as read
    std::size_t dropped = 0;   // frames before it
};

bool findOnset(LoadedZone& zone, std::string& error) {
    Recording& r = zone.recording;
    std::vector<double>& x = zone.head;
    const auto second = static_cast<sf_count_t>(r.rate());
    const auto leadIn = static_cast<std::size_t>(kLeadIn * r.rate());
    std::size_t loud = 0;
    for (;;) {
        if (!r.read(second, x, error)) return false;
        while (loud < x.size() && std::fabs(x[loud]) < kSilence) ++loud;
        if (loud < x.size()) break;
        if (r.ended()) return r.fail("the recording is silent", error);
        const std::size_t keep = std::min(leadIn, x.size());
        zone.dropped += x.size() - keep;
        x.erase(x.begin(), x.end() - static_cast<std::ptrdiff_t>(keep));
        loud = x.size();
    }
    const auto half = static_cast<std::size_t>(second / 2);
    if (x.size() < loud + half && !r.read(static_cast<sf_count_t>(loud + half - x.size()), x, error)) return false;
    const double threshold = kOnsetFraction * peakOf(x, loud, loud + half);
    std::size_t start = loud;
    while (start < x.size() && std::fabs(x[start]) < threshold) ++start;
    const std::size_t onset = start > leadIn ? start - leadIn : 0;
    zone.dropped += onset;
    x.erase(x.begin(), x.begin() + static_cast<std::ptrdiff_t>(onset));
    return true;
}

const soxr_io_spec_t kIo = soxr_io_spec(SOXR_FLOAT64_I, SOXR_FLOAT64_I);

// x read at `from` samples a second, as `to` samples a second, into out.
bool convertRate(const std::vector<double>& x, double from, double to, std::vector<double>& out, std::size_t length,
                 std::string& error) {
    const soxr_quality_spec_t quality = soxr_quality_spec(SOXR_VHQ, 0);
    std::size_t used = 0, made = 0;
    out.assign(length, 0.0);
    const soxr_error_t failure =
        soxr_oneshot(from, to, 1, x.data(), x.size(), &used, out.data(), out.size(), &made, &kIo, &quality, nullptr);
    if (failure != nullptr) {
        error = std::string("cannot resample: ") + failure;
        return false;
    }
    out.resize(made);
    return true;
}

// The pitch of a zone given as "auto": the fundamental the note holds from
// just past its attack, when it holds one clearly. Recordings at high rates
// are listened to at kAnalysisRate.
bool findPitch(LoadedZone& zone, double& frequency, std::string& error) {
    Recording& r = zone.recording;
    const auto settleFrames = static_cast<std::size_t>(0.02 * r.rate());  // past the attack
    const auto wanted = settleFrames + static_cast<std::size_t>((kPitchLookAhead + 0.1) * r.rate());
    if (zone.head.size() < wanted && !r.read(static_cast<sf_count_t>(wanted - zone.head.size()), zone.head, error)) {
        return false;
    }
    // What is listened to: from the onset to half a second past the attack.
    std::vector<double> part(zone.head.begin(),
                             zone.head.begin() + static_cast<std::ptrdiff_t>(std::min(wanted, zone.head.size())));
    double rate = r.rate();
    if (rate > kAnalysisRate) {
        std::vector<double> slower;
        if (!convertRate(part, rate, kAnalysisRate, slower, static_cast<std::size_t>(kAnalysisRate), error)) {
            return r.fail(error, error);
        }
        part.swap(slower);
        rate = kAnalysisRate;
    }
    const std::vector<double>* x = &part;
    const auto settle = static_cast<std::size_t>(0.02 * rate);
    double f = estimateFundamental(*x, rate, settle);
    if (f == 0.0) f = estimateFundamental(*x, rate, 0);
    const std::size_t from = std::min(settle, x->size());
    const int length = static_cast<int>(std::min(x->size() - from, static_cast<std::size_t>(kPitchLookAhead * rate)));
    // The difference function finds the period to a fraction of a sample;
    // the spectrum over up to half a second pins it down, and must show the
    // fundamental itself.
    const double refined = f > 0.0 ? refinePitch(x->data() + from, length, rate, f) : 0.0;
    if (refined <= 0.0 || !hasFundamental(x->data() + from, length, rate, refined)) {
        return r.fail("no clear pitch found; give the pitch instead of auto", error);
    }
    const int segment = nearestSegment(refined);
    if (segment < 0 || segment >= kSegments) {
        return r.fail("the estimated pitch " + std::to_string(refined) + " Hz lies outside the register's range", error);
    }
    frequency = refined;
    return true;
}

// One-pole high-pass at 10 Hz, run over a recording a block at a time: a
// recording's DC offset would thump at the end of every note.
class OffsetFilter {
public:
    explicit OffsetFilter(double rate) : pole_(1.0 - 2.0 * kPi * 10.0 / rate) {}
    void run(double* x, std::size_t n) {
        for (std::size_t i = 0; i < n; ++i) {
            if (!started_) {
                previousIn_ = x[i];
                started_ = true;
            }
            const double y = x[i] - previousIn_ + pole_ * previousOut_;
            previousIn_ = x[i];
            previousOut_ = y;
            x[i] = y;
        }
    }

private:
    double pole_;
    double previousIn_ = 0.0, previousOut_ = 0.0;
    bool started_ = false;
};

// What the zone's segments play: the recording from its onset, freed of its
// offset, as far as the fastest of them reads it (`seconds` of it). Where
// none of them plays the recording slower than `slowest`, content above
// what any of them keeps is let go: the recording is brought down to a rate
// that holds it, a block at a time, so that a recording at 655 kHz is held
// at the rate its segments need. Returns that rate in `rate`.
bool prepareZone(LoadedZone& zone, double seconds, double slowest, std::vector<double>& out, double& rate,
                 std::string& error) {
    Recording& r = zone.recording;
    rate = std::min(r.rate(), 2.0 * kSampleRate / slowest);
    const auto wanted = static_cast<std::size_t>(seconds * rate);
    OffsetFilter filter(r.rate());
    std::vector<double> block = std::move(zone.head);
    zone.head.clear();
    soxr_t resampler = nullptr;
    if (rate < r.rate()) {
        const soxr_quality_spec_t quality = soxr_quality_spec(SOXR_VHQ, 0);
        soxr_error_t failure = nullptr;
        resampler = soxr_create(r.rate(), rate, 1, &failure, &kIo, &quality, nullptr);
        if (resampler == nullptr) return r.fail(std::string("cannot resample: ") + failure, error);
    }
    out.clear();
    bool ok = true;
    std::vector<double> made(static_cast<std::size_t>(kBlockSamples));
    const auto take = [&](const double* in, std::size_t length) {
        // in == nullptr: the input has ended; what the resampler holds comes out.
        std::size_t fed = 0;
        for (;;) {
            std::size_t used = 0, produced = 0;
            const soxr_error_t failure = soxr_process(resampler, in != nullptr ? in + fed : nullptr, length - fed,
                                                      &used, made.data(), made.size(), &produced);
            if (failure != nullptr) return r.fail(std::string("cannot resample: ") + failure, error);
            out.insert(out.end(), made.begin(), made.begin() + static_cast<std::ptrdiff_t>(produced));
            fed += used;
            if (produced == 0 && (in == nullptr || fed == length || used == 0)) return true;
        }
    };
    for (;;) {
        filter.run(block.data(), block.size());
        if (resampler == nullptr) {
            out.insert(out.end(), block.begin(), block.end());
        } else if (!take(block.data(), block.size()) || (r.ended() && !take(nullptr, 0))) {
            ok = false;
            break;
        }
        if (out.size() >= wanted || r.ended()) break;
        block.clear();
        if (!r.read(kBlockSamples, block, error)) {
            ok = false;
            break;
        }
    }
    if (resampler != nullptr) soxr_delete(resampler);
    if (out.size() > wanted) out.resize(wanted);
    return ok;
}

// Plays `x` (at `rate`) `ratio` times as fast into `out`.
bool resample(const std::vector<double>& x, double rate, double ratio, std::vector<double>& out, std::string& error) {
    if (!convertRate(x, rate * ratio, kSampleRate, out, kSegmentLength, error)) return false;
    const int made = static_cast<int>(out.size());
    out.resize(kSegmentLength, 0.0);
    fadeEdges(out.data(), made, kFadeIn, kFadeOut);
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
        if (!r.open(zones[z].audio, error) || !findOnset(loaded[z], error)) return false;
        if (automatic) {
            if (!findPitch(loaded[z], frequencies[z], error)) return false;
            reports[z].estimated = true;
        }
        reports[z].frequency = frequencies[z];
        reports[z].onset = static_cast<double>(loaded[z].dropped) / r.rate();
        reports[z].loopFrom = r.loopFrom();
        reports[z].loopTo = r.loopTo();
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
        // The highest segment plays fastest and so uses the most of the
        // file; the lowest plays slowest and so needs most of its content.
        const double fastest = segmentFrequency(report.last) / frequencies[z];
        const double slowest = segmentFrequency(report.first) / frequencies[z];
        std::vector<double> x;
        double rate = 0.0;
        if (!prepareZone(loaded[z], 4.0 * fastest + 0.05, slowest, x, rate, error)) return false;  // plus the resampler's reach
        for (int k = report.first; k <= report.last; ++k) {
            if (zoneOf[k] != static_cast<int>(z)) continue;
            if (!resample(x, rate, segmentFrequency(k) / frequencies[z], segments[k], error)) {
                return loaded[z].recording.fail(error, error);
            }
        }
    }
    return true;
}

Smycka loopAtSpeed(const ZoneReport& zone, int k, double from, double to) {
    const double ratio = segmentFrequency(k) / zone.frequency;
    const double a = std::round((from - zone.onset) * kSampleRate / ratio);
    const double b = std::round((to - zone.onset) * kSampleRate / ratio);
    if (a < 1.0 || b <= a + 4.0 || b > kSampleRate * 3.9) return {};
    Smycka s;
    s.od = static_cast<int32_t>(a);
    s.po = static_cast<int32_t>(b);
    s.prolnuti = std::min({kSampleRate / 20, s.od, (s.po - s.od) / 4});
    return s;
}

std::string sampleLibraryVersions() { return std::string(sf_version_string()) + ", " + soxr_version(); }

}  // namespace skladba::registers
