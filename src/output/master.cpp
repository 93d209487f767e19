#include "output/master.h"

#include <algorithm>
#include <cmath>
#include <ebur128.h>
#include <memory>
#include <soxr.h>
#include <thread>
#include <vector>

#include "base/chyba.h"
#include "base/stav.h"

namespace skladba {

// The network's output of a whole render, kept by the first pass so that
// the others replay it rather than run the network again: 8 bytes for
// every two frames of the piece, and only for pieces up to about 12
// minutes (past that each pass runs the network again; the samples are
// the same either way).
struct Ozvena {
    static constexpr int64_t nejvic = int64_t{8} << 20;   // half-rate frames: 64 MiB, some 12 minutes
    std::vector<float> y;   // left, right
    bool plna = false;      // holds the whole render's
    bool drzet = false;     // the first pass fills it
};

namespace {

// The ceiling the limiter holds the interpolated peak to: half a decibel
// under the -1 dBTP asked for, for what the resampling to 48 kHz and a
// meter's finer interpolation may still find between the samples.
const double strop = std::pow(10.0, -1.5 / 20.0);

// The look-ahead of the limiter (3 ms) and its return to full level (a
// time constant of 80 ms).
constexpr int predstih = zaklad * 3 / 1000;
constexpr double navrat = 0.080;

// The interpolation of the peak detector: samples 1/4, 2/4 and 3/4 of the
// way between two samples, from the 24 around them (a windowed sinc).
constexpr int pulokna = 12;

// The room: a feedback delay network of eight lines, whose echoes are
// exchanged at every pass through a Householder reflection (each line
// gets all the others' sound, less twice the mean: energy is neither lost
// nor gained by the exchange), each line with a low-pass in its loop so
// that high notes die sooner, as in a real room. One network serves both
// sides: the left hears the lines with one pattern of signs, the right
// with another orthogonal to it, so the two tails are uncorrelated though
// they come from one sound. The input, the mean of both channels, comes a
// little late (the first reflections arrive after the direct sound) and is
// smeared by four all-passes first, so that the tail is dense from its
// start.
//
// A room's tail is dark: the network runs at half the rate, 11025 Hz, on
// the mean of each two frames, and its sound is drawn back to 22050 Hz
// between its samples. That halves its cost, which is most of mastering's.
//
// The delays, in samples at 11025 Hz: eight lines of 25 to 46 ms and
// all-passes of 3 to 12 ms, primes, so that their echoes rarely coincide.
constexpr int pulrate = zaklad / 2;
constexpr int vedeni[8] = {281, 307, 337, 373, 409, 439, 479, 509};
constexpr int propusti[4] = {127, 83, 53, 29};
constexpr double vstupy[8] = {1, -1, 1, 1, -1, 1, -1, -1};     // the input's sign into each line
constexpr double nalevo[8] = {1, -1, 1, -1, 1, -1, 1, -1};     // the left side's pattern
constexpr double napravo[8] = {1, 1, -1, -1, 1, 1, -1, -1};    // the right side's
constexpr int predzpozdeni = zaklad * 12 / 1000;
constexpr double ziskpropusti = 0.5;
constexpr double tlumeni = 0.09;   // the low-pass in each line's loop

// The network runs a stretch of its samples at a time no longer than its
// shortest line: within it, what a line reads was written before the
// stretch began, so every line's reads and the exchange are loops over the
// stretch that the compiler can run several samples at a time.
constexpr int kusmistnosti = 256;
static_assert(kusmistnosti <= vedeni[0], "a stretch reads nothing it writes");

// The network itself: half-rate input in, the two sides' wet sound out,
// each rounded to 32 bits (what a pass keeps to replay is then what it
// computed). Its own buffers are 64-bit, so that a decaying tail never
// becomes denormal.
class Sit {
public:
    explicit Sit(double rt60) {
        double soucet = 0;
        for (int i = 0; i < 8; ++i) {
            linka_[i].buf.assign(static_cast<size_t>(vedeni[i]), 0.0);
            // Each pass round the loop loses 60 dB per rt60.
            g_[i] = std::pow(10.0, -3.0 * vedeni[i] / (rt60 * pulrate));
            soucet += g_[i] * g_[i];
        }
        // Eight lines of about equal feedback: their sum scaled to about the
        // power of one echo-free impulse.
        meritko_ = std::sqrt((1.0 - soucet / 8.0) / 8.0);
        for (int i = 0; i < 4; ++i) propust_[i].buf.assign(static_cast<size_t>(propusti[i]), 0.0);
    }

    // n samples of x (at most kusmistnosti) in, n frames of y (left, right) out.
    void kus(const double* x, float* y, int n) {
        // The all-passes one after another, each over the whole stretch
        // (the same sums as sample by sample through all four).
        std::copy(x, x + n, x_);
        for (Propust& p : propust_) {
            double* buf = p.buf.data();
            const size_t delka = p.buf.size();
            size_t i = p.i;
            for (int f = 0; f < n; ++f) {
                const double zpozdene = buf[i];
                const double w = x_[f] + ziskpropusti * zpozdene;
                buf[i] = w;
                if (++i == delka) i = 0;
                x_[f] = zpozdene - ziskpropusti * w;
            }
            p.i = i;
        }
        // What each line gives (read out first, so that the loop below
        // runs the eight lines side by side: each line's low-pass waits
        // for its own last sample only), low-passed and scaled by its
        // loss; the two sides; and the exchange.
        for (int c = 0; c < 8; ++c) ctiz(linka_[c], u_[c], n);
        double filtr[8];
        for (int c = 0; c < 8; ++c) filtr[c] = linka_[c].filtr;
        for (int f = 0; f < n; ++f) {
            double u[8];
            double s = 0, levy = 0, pravy = 0;
            for (int c = 0; c < 8; ++c) {
                filtr[c] = u_[c][f] * (1.0 - tlumeni) + filtr[c] * tlumeni;
                u[c] = filtr[c] * g_[c];
                s += u[c];
                levy += nalevo[c] * u[c];
                pravy += napravo[c] * u[c];
            }
            s *= 0.25;
            for (int c = 0; c < 8; ++c) u_[c][f] = u[c] - s + vstupy[c] * x_[f];
            y[2 * f] = static_cast<float>(meritko_ * levy);
            y[2 * f + 1] = static_cast<float>(meritko_ * pravy);
        }
        for (int c = 0; c < 8; ++c) {
            linka_[c].filtr = filtr[c];
            zapisdo(linka_[c], u_[c], n);
        }
    }

private:
    struct Linka {
        std::vector<double> buf;
        size_t i = 0;
        double filtr = 0;
    };
    // n samples of a line from where it stands, and n written there (the
    // line then moves on): at most one wrap, n being under its length.
    static void ctiz(const Linka& l, double* kam, int n) {
        const size_t prvni = std::min(static_cast<size_t>(n), l.buf.size() - l.i);
        std::copy(l.buf.begin() + static_cast<ptrdiff_t>(l.i), l.buf.begin() + static_cast<ptrdiff_t>(l.i + prvni), kam);
        std::copy(l.buf.begin(), l.buf.begin() + static_cast<ptrdiff_t>(n - prvni), kam + prvni);
    }
    static void zapisdo(Linka& l, const double* co, int n) {
        const size_t prvni = std::min(static_cast<size_t>(n), l.buf.size() - l.i);
        std::copy(co, co + prvni, l.buf.begin() + static_cast<ptrdiff_t>(l.i));
        std::copy(co + prvni, co + n, l.buf.begin());
        l.i = (l.i + static_cast<size_t>(n)) % l.buf.size();
    }
    struct Propust {
        std::vector<double> buf;
        size_t i = 0;
    };
    double meritko_ = 0;
    double g_[8] = {};
    Linka linka_[8];
    Propust propust_[4];
    double x_[kusmistnosti];
    double u_[8][kusmistnosti];
};

// The room around the dry sound at 22050 Hz: the mean of both channels,
// delayed, into the network at half the rate, and its output back between
// the frames: the network's sample k, made of frames 2k and 2k + 1, is
// heard at frame 2k + 2, and frame 2k + 1 hears the mean of it and the one
// before.
class Mistnost {
public:
    Mistnost(int prostor, Ozvena* ozvena) : ozvena_(ozvena) {
        const double rt60 = dozvukmistnosti(prostor);
        if (rt60 <= 0) return;
        je_ = true;
        // The wet sound's power beside the dry: up to two thirds of it.
        mokro_ = 0.6 * prostor / 100.0;
        if (!ozvena_ || !ozvena_->plna) sit_ = std::make_unique<Sit>(rt60);
        predtim_.assign(predzpozdeni, 0.0);
    }

    // Adds the room to ramcu frames of lr (left, right interleaved).
    void zpracuj(double* lr, int ramcu) {
        if (!je_) return;
        // The network's samples this block: one for every second frame.
        const int n = (ramcu + (lichy_ ? 1 : 0)) / 2;
        const float* y = nullptr;
        if (sit_) {
            // Its input (a replay needs none).
            x_.clear();
            bool lichy = lichy_;
            for (int f = 0; f < ramcu; ++f) {
                const double m = predtim_[pi_];
                predtim_[pi_] = 0.5 * (lr[2 * f] + lr[2 * f + 1]);
                if (++pi_ == predtim_.size()) pi_ = 0;
                if (lichy) x_.push_back(0.5 * (minuly_ + m));
                minuly_ = m;
                lichy = !lichy;
            }
            y_.resize(2 * static_cast<size_t>(n));
            for (int k = 0; k < n; k += kusmistnosti) sit_->kus(x_.data() + k, y_.data() + 2 * k, std::min(kusmistnosti, n - k));
            if (ozvena_ && ozvena_->drzet) ozvena_->y.insert(ozvena_->y.end(), y_.begin(), y_.end());
            y = y_.data();
        } else {
            y = ozvena_->y.data() + 2 * prehrano_;
            prehrano_ += static_cast<size_t>(n);
        }
        // Back to 22050 Hz: a first frame of a pair holds the last sample,
        // a second one is between it and the next.
        int f = 0;
        if (lichy_ && ramcu > 0) {
            druhy(lr, y);
            f = 1;
        }
        for (; f + 1 < ramcu; f += 2) {
            lr[2 * f] += mokro_ * yl_;
            lr[2 * f + 1] += mokro_ * yp_;
            druhy(lr + 2 * (f + 1), y);
        }
        lichy_ = f < ramcu;
        if (lichy_) {
            lr[2 * f] += mokro_ * yl_;
            lr[2 * f + 1] += mokro_ * yp_;
        }
    }

    // Goes to frame ramec (even) of the render, where the pass goes on:
    // only a room replayed from the first pass (or no room) can; false
    // for one whose network runs.
    bool skoc(int64_t ramec) {
        if (!je_) return true;
        if (sit_ || ramec % 2 != 0) return false;
        lichy_ = false;
        prehrano_ = static_cast<size_t>(ramec / 2);
        const bool prvni = prehrano_ == 0;
        yl_ = prvni ? 0.0 : ozvena_->y[2 * prehrano_ - 2];
        yp_ = prvni ? 0.0 : ozvena_->y[2 * prehrano_ - 1];
        return true;
    }

private:
    // The second frame of a pair (lr), with the network's next sample at
    // *y (y then moves on).
    void druhy(double* lr, const float*& y) {
        lr[0] += mokro_ * (0.5 * (yl_ + y[0]));
        lr[1] += mokro_ * (0.5 * (yp_ + y[1]));
        yl_ = y[0];
        yp_ = y[1];
        y += 2;
    }

    bool je_ = false;
    double mokro_ = 0;
    Ozvena* ozvena_;
    std::unique_ptr<Sit> sit_;
    std::vector<double> predtim_;
    size_t pi_ = 0;
    bool lichy_ = false;            // the next frame is the second of its two
    double minuly_ = 0;             // the first of them
    double yl_ = 0, yp_ = 0;        // the network's last output
    std::vector<double> x_;
    std::vector<float> y_;
    size_t prehrano_ = 0;           // of ozvena_'s frames
};

// The taps of the interpolation, for the three points between two samples.
struct Interpolace {
    double h[3][2 * pulokna];
    Interpolace() {
        const double pi = std::acos(-1.0);
        for (int p = 1; p <= 3; ++p) {
            for (int k = 0; k < 2 * pulokna; ++k) {
                // Tap k weighs the sample k - pulokna + 1 places from the left one.
                const double t = p / 4.0 - (k - pulokna + 1);
                const double sinc = std::sin(pi * t) / (pi * t);
                const double w = 0.42 + 0.5 * std::cos(pi * t / pulokna) + 0.08 * std::cos(2 * pi * t / pulokna);
                h[p - 1][k] = sinc * w;
            }
        }
    }
};
const Interpolace& interpolace() {
    static const Interpolace i;
    return i;
}

// The peak of one channel from sample x[0] to x[1]: the larger sample, or a
// point between them found higher. x must reach pulokna - 1 samples back
// and pulokna forward. Interpolated only where the samples around come
// within 6 dB of prah: a peak between samples of a sound that has nothing
// above 11 kHz stands less than 3 dB above the four samples around it.
double vrcholmezi(const double* x, double prah) {
    double v = std::max(std::fabs(x[0]), std::fabs(x[1]));
    const double okoli = std::max({v, std::fabs(x[-1]), std::fabs(x[2])});
    if (okoli < 0.5 * prah) return v;
    const Interpolace& in = interpolace();
    const double* od = x - (pulokna - 1);
    for (int p = 0; p < 3; ++p) {
        double s = 0;
        for (int k = 0; k < 2 * pulokna; ++k) s += in.h[p][k] * od[k];
        v = std::max(v, std::fabs(s));
    }
    return v;
}

// The look-ahead limiter. Frame j leaves as g[j] * x[j], where g[j] is the
// mean of q over frames j to j + A (A the look-ahead), q[k] is the least
// ceiling / peak over frames k - A to k, and after a cut q returns to 1
// along an exponential. Every q in that mean is at most the gain frame j
// needs, so no interpolated peak passes the ceiling, and the gain falls
// along a straight line over the A frames before each peak. The frames
// come out A + pulokna frames after they go in; dokonci pushes the rest out.
class Omezovac {
public:
    explicit Omezovac(double zisk) : zisk_(zisk) {
        alfa_ = 1.0 - std::exp(-1.0 / (navrat * zaklad));
        q_.assign(predstih + 1, 1.0);
        soucet_ = predstih + 1;
    }

    // ramcu frames of lr in; the frames ready go to out (as many as go in,
    // once the first A + pulokna are through). Returns how many.
    int zpracuj(const double* lr, int ramcu, double* out) {
        int ven = 0;
        for (int f = 0; f < ramcu; ++f) {
            const double l = lr[2 * f] * zisk_, r = lr[2 * f + 1] * zisk_;
            ven += klid_ && std::max(std::fabs(l), std::fabs(r)) < 0.5 * strop ? vlozticho(l, r, out + 2 * ven)
                                                                             : vloz(l, r, out + 2 * ven);
        }
        return ven;
    }
    int dokonci(double* out) {
        int ven = 0;
        for (int f = 0; f < predstih + pulokna; ++f) ven += vloz(0, 0, out + 2 * ven);
        return ven;
    }
    double nejnizsi() const { return nejnizsi_; }

private:
    static constexpr int kruh = 256;   // frames of input kept: look-ahead and interpolation
    static_assert(kruh > predstih + 2 * pulokna + 4, "the ring holds every frame still needed");

    // At rest (klid_: no cut in the last A + 1 frames, the gain back at 1
    // exactly) and with the frames around quiet, a frame leaves as it came
    // in: what vloz would do, without looking for a peak that cannot be
    // there. Most of a piece goes this way.
    int vlozticho(double l, double r, double* out) {
        const int64_t m = prijato_++;
        x_[0][m % kruh] = x_[0][m % kruh + kruh] = l;
        x_[1][m % kruh] = x_[1][m % kruh + kruh] = r;
        ++tiche_;
        const int64_t n = m - pulokna;
        if (tiche_ < pulokna + 3 || n < predstih) {
            // The frames around n are not all known to be quiet.
            --prijato_;
            --tiche_;
            return vloz(l, r, out);
        }
        // The queue holds only n's 1; q_ and its sum stay all ones.
        zacatek_ = static_cast<int>(n % kruh);
        fronta_[zacatek_] = {n, 1.0};
        pocet_ = 1;
        const int64_t j = n - predstih;
        out[0] = x_[0][j % kruh];
        out[1] = x_[1][j % kruh];
        return 1;
    }

    int vloz(double l, double r, double* out) {
        tiche_ = std::max(std::fabs(l), std::fabs(r)) < 0.5 * strop ? tiche_ + 1 : 0;
        const int64_t m = prijato_++;
        // Each sample twice, kruh apart, so that any window is contiguous.
        x_[0][m % kruh] = x_[0][m % kruh + kruh] = l;
        x_[1][m % kruh] = x_[1][m % kruh + kruh] = r;
        const int64_t n = m - pulokna;   // the frame whose peak is now known
        if (n < 0) return 0;
        double vrchol = 0;
        const int64_t okno = ((n - pulokna) % kruh + kruh) % kruh;
        for (int s = 0; s < 2; ++s) vrchol = std::max(vrchol, vrcholmezi(&x_[s][okno + pulokna], strop));
        const double potreba = vrchol > strop ? strop / vrchol : 1.0;
        // The least over the last A + 1 frames, by a queue of rising values.
        while (pocet_ > 0 && fronta_[(zacatek_ + pocet_ - 1) % kruh].hodnota >= potreba) --pocet_;
        fronta_[(zacatek_ + pocet_) % kruh] = {n, potreba};
        ++pocet_;
        while (fronta_[zacatek_].kde < n - predstih) {
            zacatek_ = (zacatek_ + 1) % kruh;
            --pocet_;
        }
        const double h = fronta_[zacatek_].hodnota;
        // The return comes to 1 exactly, not to a step under it.
        double zpet = posledni_ + (1.0 - posledni_) * alfa_;
        if (zpet > 1.0 - 1e-9) zpet = 1.0;
        posledni_ = std::min(h, zpet);
        // The mean of the last A + 1 values of q, summed afresh once round.
        const size_t i = static_cast<size_t>(n % (predstih + 1));
        soucet_ += posledni_ - q_[i];
        neplnych_ += (posledni_ != 1.0) - (q_[i] != 1.0);
        q_[i] = posledni_;
        if (i == predstih) {
            soucet_ = 0;
            for (double v : q_) soucet_ += v;
        }
        const int64_t j = n - predstih;
        if (j < 0) return 0;
        const double g = soucet_ / (predstih + 1);
        nejnizsi_ = std::min(nejnizsi_, g);
        klid_ = posledni_ == 1.0 && neplnych_ == 0 && soucet_ == predstih + 1 && fronta_[zacatek_].hodnota == 1.0;
        out[0] = g * x_[0][j % kruh];
        out[1] = g * x_[1][j % kruh];
        return 1;
    }

    struct Clen {
        int64_t kde = 0;
        double hodnota = 1.0;
    };
    double zisk_;
    double alfa_;
    double x_[2][2 * kruh] = {};
    int64_t prijato_ = 0;
    Clen fronta_[kruh];
    int zacatek_ = 0, pocet_ = 0;
    double posledni_ = 1.0;
    std::vector<double> q_;
    double soucet_ = 0;
    double nejnizsi_ = 1.0;
    int neplnych_ = 0;       // values of q_ under 1
    int64_t tiche_ = 0;      // frames in a row whose samples are under half the ceiling
    bool klid_ = false;
};

// The loudness meter (EBU R128, libebur128) over stereo frames from frame
// od of the render on. The integrated loudness is the energy of 400 ms
// blocks one tenth of a second apart, gated; the meter gives each block's
// energy (its momentary loudness, read as each tenth is complete) by the
// tenth the block ends with, so that a second pass can measure again only
// the blocks that the limiter changed. It measures each block of frames on
// a second thread while the pass makes the next into the meter's other
// buffer (volny: no copy between them); the blocks go in in order, so the
// result is the same as in one thread.
constexpr int desetina = zaklad / 10;

class Merak {
public:
    // od: a multiple of desetina. The first usadit tenths only settle the
    // meter's filters: no block that reaches into them is kept.
    Merak(int64_t od, int usadit) { zacni(od, usadit); }
    ~Merak() {
        pockej();
        ebur128_destroy(&st_);
    }
    // Starts again at frame od, as a new meter (its buffers kept).
    void zacni(int64_t od, int usadit) {
        pockej();
        if (st_) ebur128_destroy(&st_);
        st_ = ebur128_init(2, zaklad, EBUR128_MODE_M);
        if (!st_) chybasouboru("cannot measure the loudness: out of memory");
        prvni_ = od / desetina + 3 + usadit;
        zmereno_ = od;
        energie_.clear();
    }
    Merak(const Merak&) = delete;
    Merak& operator=(const Merak&) = delete;
    // The buffer of at least ramcu frames for the next block, which the
    // meter is not reading.
    double* volny(size_t ramcu) {
        std::vector<double>& b = bloky_[volny_];
        if (b.size() < 2 * ramcu) b.resize(2 * ramcu);
        return b.data();
    }
    // Measures the first ramcu frames of the buffer volny gave.
    void pridej(int ramcu) {
        pockej();
        if (ramcu <= 0) return;
        const double* lr = bloky_[volny_].data();
        volny_ ^= 1;
        vlakno_ = std::thread([this, lr, ramcu] { mer(lr, ramcu); });
    }
    // The energy of each whole block measured, by the tenth it ends with
    // (the first is tenth prvni()).
    const std::vector<double>& energie() {
        pockej();
        return energie_;
    }
    int64_t prvni() const { return prvni_; }

private:
    void mer(const double* lr, int ramcu) {
        while (ramcu > 0) {
            const int kus = static_cast<int>(std::min<int64_t>(ramcu, desetina - zmereno_ % desetina));
            ebur128_add_frames_double(st_, lr, static_cast<size_t>(kus));
            lr += 2 * kus;
            ramcu -= kus;
            zmereno_ += kus;
            if (zmereno_ % desetina != 0) continue;
            // The tenth's mean square (summed over both channels, each
            // weighted 1), back from LUFS; a block's is the mean of its
            // four tenths' (read so, each frame is summed once, not four
            // times).
            double l = -HUGE_VAL;
            ebur128_loudness_window(st_, 100, &l);
            const int64_t t = zmereno_ / desetina - 1;
            desetiny_[t % 4] = std::isfinite(l) ? std::pow(10.0, (l + 0.691) / 10.0) : 0.0;
            if (t >= prvni_) {
                energie_.push_back((desetiny_[(t - 3) % 4] + desetiny_[(t - 2) % 4] + desetiny_[(t - 1) % 4] + desetiny_[t % 4]) / 4.0);
            }
        }
    }
    void pockej() {
        if (vlakno_.joinable()) vlakno_.join();
    }
    ebur128_state* st_ = nullptr;
    int64_t prvni_ = 0;
    int64_t zmereno_ = 0;   // the render's frame the meter has reached
    std::vector<double> energie_;
    double desetiny_[4] = {};   // the last four tenths' mean squares
    std::vector<double> bloky_[2];
    int volny_ = 0;
    std::thread vlakno_;
};

// The integrated loudness of a sound whose blocks have energies e (EBU
// R128): the blocks under -70 LUFS left out, then those more than 10 LU
// under the mean energy of the rest; LUFS of the mean of what is left, or
// -HUGE_VAL when nothing is.
double integrovana(const std::vector<double>& e) {
    const double absolutni = std::pow(10.0, (-70.0 + 0.691) / 10.0);
    double soucet = 0;
    size_t n = 0;
    for (double v : e) {
        if (v >= absolutni) {
            soucet += v;
            ++n;
        }
    }
    if (n == 0) return -HUGE_VAL;
    const double relativni = soucet / static_cast<double>(n) * 0.1;
    soucet = 0;
    n = 0;
    for (double v : e) {
        if (v >= absolutni && v >= relativni) {
            soucet += v;
            ++n;
        }
    }
    if (n == 0) return -HUGE_VAL;
    return 10.0 * std::log10(soucet / static_cast<double>(n)) - 0.691;
}

// One pass over the mixes: the sound with its room, block by block, and
// then the room's tail.
class Retez {
public:
    Retez(Mix& levy, Mix& pravy, int64_t vzorku, int64_t ocas, double maximum, int prostor, Ozvena* ozvena)
        : levy_(levy), pravy_(pravy), vzorku_(vzorku), celkem_(vzorku + ocas),
          konec_(celkem_), meritko_(maximum > 0 ? 1.0 / maximum : 0.0), mistnost_(prostor, ozvena), l_(delkatonu),
          p_(delkatonu) {}

    // The pass goes on from frame od (even) to frame po; false when it
    // cannot go there but from the start (the room's network runs).
    bool skoc(int64_t od, int64_t po) {
        if (!mistnost_.skoc(od)) return false;
        pozice_ = od;
        konec_ = std::min(po, celkem_);
        return true;
    }

    // The next block, at most delkatonu frames, into lr; 0 at the end.
    // obalka sees the dry sound.
    int dalsi(double* lr, Obalka* obalka) {
        const int64_t od = pozice_;
        const int ramcu = static_cast<int>(std::min<int64_t>(delkatonu, konec_ - od));
        if (ramcu <= 0) return 0;
        if (od < vzorku_) {
            levy_.ctimix(od, l_.data());
            pravy_.ctimix(od, p_.data());
        }
        const int zmixu = static_cast<int>(std::max<int64_t>(0, std::min<int64_t>(ramcu, vzorku_ - od)));
        for (int f = 0; f < zmixu; ++f) {
            lr[2 * f] = l_[f] * meritko_;
            lr[2 * f + 1] = p_[f] * meritko_;
        }
        std::fill(lr + 2 * zmixu, lr + 2 * ramcu, 0.0);
        if (obalka && zmixu > 0) {
            std::vector<int16_t> stred(static_cast<size_t>(zmixu));
            for (int f = 0; f < zmixu; ++f) {
                stred[f] = static_cast<int16_t>(0.5 * (lr[2 * f] + lr[2 * f + 1]) * maxsignal);
            }
            obalka->pridej(od, stred.data(), zmixu);
        }
        mistnost_.zpracuj(lr, ramcu);
        pozice_ += ramcu;
        return ramcu;
    }

private:
    Mix& levy_;
    Mix& pravy_;
    int64_t vzorku_, celkem_, konec_;
    double meritko_;
    Mistnost mistnost_;
    std::vector<int32_t> l_, p_;
    int64_t pozice_ = 0;
};

double decibely(double pomer) { return 20.0 * std::log10(pomer); }

// The stretches of the sound the limiter may change, and of the blocks
// whose loudness it then changes, in frames. It looks for a peak only
// where a sample reaches prah (half its ceiling, before the gain): each
// tenth whose sample peak does is taken with tenths before it for the
// meter (its filters settle over usadit, a block reaches three back, the
// look-ahead into the one before) and with what it takes for the limiter
// to return to full level after (at most 1.7 s from the deepest cut) and
// for the blocks over that. Stretches that meet are one; each starts on
// an even frame (where the room's replay can start).
struct Usek {
    int64_t od, po;
};
constexpr int usadit = 2;
constexpr int predusekem = usadit + 3 + 1;
constexpr int zausekem = 12;

std::vector<Usek> useky(const std::vector<double>& vrcholy, double prah, int64_t ramcu) {
    std::vector<Usek> u;
    for (size_t t = 0; t < vrcholy.size(); ++t) {
        if (vrcholy[t] < prah) continue;
        int64_t od = std::max<int64_t>(0, static_cast<int64_t>(t) - predusekem);
        od -= od % 2;   // desetina is odd: an even tenth starts on an even frame
        const int64_t po = std::min<int64_t>(ramcu, (static_cast<int64_t>(t) + 1 + zausekem) * desetina);
        if (!u.empty() && od * desetina <= u.back().po) {
            u.back().po = po;
        } else {
            u.push_back({od * desetina, po});
        }
    }
    return u;
}

// The resampler to 48 kHz, with one fixed recipe (20-bit quality, linear
// phase, single precision, one thread per resampler), so that it gives the
// same samples on every run; exactly ramcu frames come out, rounded to 24
// bits. Each side has a resampler of its own, each on a thread of its own
// while the pass makes the next block: the two never share a sample and
// their frames are handed on in order, so the result is the same as in
// one thread.
class Prevzorkovani {
public:
    Prevzorkovani(OdberStereo& odber, int64_t ramcu) : odber_(odber), zbyva_(ramcu) {
        const soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT32_I, SOXR_FLOAT32_I);
        const soxr_quality_spec_t q = soxr_quality_spec(SOXR_HQ, 0);
        const soxr_runtime_spec_t rt = soxr_runtime_spec(1);
        for (Kanal& k : k_) {
            soxr_error_t e = nullptr;
            k.soxr = soxr_create(zaklad, ratemasteru, 1, &e, &io, &q, &rt);
            if (!k.soxr) chybasouboru(std::string("cannot resample to 48 kHz: ") + e);
            k.vstup.resize(static_cast<size_t>(delkatonu));
            k.mista = static_cast<size_t>(delkatonu) * ratemasteru / zaklad + 4096;
        }
    }
    ~Prevzorkovani() {
        pockej();
        for (Kanal& k : k_) soxr_delete(k.soxr);
    }
    Prevzorkovani(const Prevzorkovani&) = delete;
    Prevzorkovani& operator=(const Prevzorkovani&) = delete;

    // Starts resampling ramcu frames of lr, each side on a thread of its
    // own, once the frames of the block before are handed on.
    void pridej(const double* lr, int ramcu) {
        pockej();
        odevzdej();
        if (ramcu <= 0) return;
        for (int s = 0; s < 2; ++s) {
            for (int f = 0; f < ramcu; ++f) k_[s].vstup[f] = static_cast<float>(lr[2 * f + s]);
        }
        for (int s = 0; s < 2; ++s) vlakna_[s] = std::thread([this, s, ramcu] { prevzorkuj(k_[s], ramcu); });
    }
    void dokonci() {
        pockej();
        odevzdej();
        for (Kanal& k : k_) prevzorkuj(k, -1);
        odevzdej();
        // What the filter's end leaves short is silence.
        while (zbyva_ > 0) {
            for (Kanal& k : k_) k.doplntichem(std::min<size_t>(static_cast<size_t>(zbyva_), 65536));
            odevzdej();
        }
        odber_.dokonci();
    }

private:
    struct Kanal {
        soxr_t soxr = nullptr;
        std::vector<float> vstup;
        // Resampled, not yet handed on: the first hotovych of hotove.
        std::vector<float> hotove;
        size_t hotovych = 0;
        size_t mista = 0;   // what one call of the resampler may give at most
        // Room for mista more after those done (grown only when short, so
        // the resampler writes there with no copy after it).
        float* misto() {
            if (hotove.size() < hotovych + mista) hotove.resize(hotovych + mista);
            return hotove.data() + hotovych;
        }
        // n done, what is not done yet of them silence.
        void doplntichem(size_t n) {
            if (hotove.size() < n) hotove.resize(n);
            if (n > hotovych) std::fill(hotove.begin() + static_cast<ptrdiff_t>(hotovych), hotove.begin() + static_cast<ptrdiff_t>(n), 0.0f);
            hotovych = n;
        }
    };

    void pockej() {
        for (std::thread& v : vlakna_) {
            if (v.joinable()) v.join();
        }
    }

    // ramcu frames of k.vstup through its resampler; -1: what it still
    // holds at the end.
    static void prevzorkuj(Kanal& k, int ramcu) {
        if (ramcu < 0) {
            for (size_t dano = 1; dano > 0;) {
                dano = 0;
                soxr_process(k.soxr, nullptr, 0, nullptr, k.misto(), k.mista, &dano);
                k.hotovych += dano;
            }
            return;
        }
        size_t hotovo = 0;
        while (hotovo < static_cast<size_t>(ramcu)) {
            size_t vzato = 0, dano = 0;
            soxr_process(k.soxr, k.vstup.data() + hotovo, static_cast<size_t>(ramcu) - hotovo, &vzato, k.misto(),
                         k.mista, &dano);
            k.hotovych += dano;
            hotovo += vzato;
            if (vzato == 0 && dano == 0) break;
        }
    }

    // The frames both sides have, as far as ramcu reaches, to odber.
    void odevzdej() {
        const size_t ramcu =
            std::min({k_[0].hotovych, k_[1].hotovych, static_cast<size_t>(std::max<int64_t>(zbyva_, 0))});
        cela_.resize(2 * ramcu);
        for (size_t f = 0; f < ramcu; ++f) {
            for (int s = 0; s < 2; ++s) {
                // Half away from zero, then toward zero: v rounded to the
                // nearest (a -0.0 becomes -0.5, which is 0 as well).
                double v = static_cast<double>(k_[s].hotove[f]) * 8388608.0;
                v = std::min(8388607.0, std::max(-8388608.0, v + std::copysign(0.5, v)));
                cela_[2 * f + s] = static_cast<int32_t>(v);
            }
        }
        if (ramcu > 0) odber_.pridej(cela_.data(), static_cast<int>(ramcu));
        for (Kanal& k : k_) {
            std::copy(k.hotove.begin() + static_cast<ptrdiff_t>(ramcu), k.hotove.begin() + static_cast<ptrdiff_t>(k.hotovych),
                      k.hotove.begin());
            k.hotovych -= ramcu;
        }
        zbyva_ -= static_cast<int64_t>(ramcu);
        if (zbyva_ <= 0) {
            for (Kanal& k : k_) k.hotovych = 0;
        }
    }

    OdberStereo& odber_;
    int64_t zbyva_;
    Kanal k_[2];
    std::thread vlakna_[2];
    std::vector<int32_t> cela_;
};

}  // namespace

Masterovani::Masterovani(Mix& levy, Mix& pravy, int64_t vzorku, double maximum, const Master& master)
    : levy_(levy), pravy_(pravy), vzorku_(vzorku), maximum_(maximum), master_(master) {
    // The room rings on until it has decayed by 70 dB.
    const double rt60 = dozvukmistnosti(master.prostor);
    // (An empty score stays empty.)
    ocas_ = rt60 > 0 && vzorku > 0 ? static_cast<int64_t>(std::ceil((rt60 * 70.0 / 60.0 + 0.012) * zaklad)) : 0;
    const int64_t vzorku22 = vzorku + ocas_;
    zprava_.ramcu = (vzorku22 * ratemasteru + zaklad / 2) / zaklad;

    if (master_.pevnyzisk) {
        // The full score's gain, measured by its own render.
        zisk_ = std::pow(10.0, master_.zisk / 20.0);
        zprava_.zisk = master_.zisk;
        return;
    }
    // The loudness and the sample peak of the sound with its room; the
    // first pass keeps the room's sound for the others when it is short
    // enough.
    ozvena_ = std::make_unique<Ozvena>();
    if (vzorku22 / 2 + 1 <= Ozvena::nejvic) {
        ozvena_->drzet = true;
        ozvena_->y.reserve(2 * static_cast<size_t>(vzorku22 / 2 + 1));
    }
    // The energy of each block and the sample peak of each tenth.
    std::vector<double> energie, vrcholy(static_cast<size_t>((vzorku22 + desetina - 1) / desetina), 0.0);
    {
        Merak merak(0, 0);
        Retez retez(levy_, pravy_, vzorku_, ocas_, maximum_, master_.prostor, ozvena_.get());
        for (int64_t od = 0;;) {
            double* blok = merak.volny(delkatonu);
            const int ramcu = retez.dalsi(blok, nullptr);
            if (ramcu <= 0) break;
            // Blocks start on a tenth (delkatonu is forty of them).
            for (int f = 0; f < ramcu; f += desetina) {
                double v = 0;
                for (int i = 2 * f; i < 2 * std::min(ramcu, f + desetina); ++i) v = std::max(v, std::fabs(blok[i]));
                vrcholy[static_cast<size_t>((od + f) / desetina)] = v;
            }
            merak.pridej(ramcu);
            od += ramcu;
        }
        energie.assign(static_cast<size_t>(merak.prvni()), -1.0);
        energie.insert(energie.end(), merak.energie().begin(), merak.energie().end());
        zprava_.hlasitost = integrovana(energie);
    }
    ozvena_->plna = ozvena_->drzet;
    ozvena_->drzet = false;
    if (!std::isfinite(zprava_.hlasitost)) {
        // Silence, or too short to measure: left as it is.
        zisk_ = 1.0;
        zprava_.zisk = 0;
        return;
    }
    zisk_ = std::pow(10.0, (master_.hlasitost - zprava_.hlasitost) / 20.0);
    // A peak between samples of a sound with nothing above 11 kHz stands
    // less than 3 dB above the samples around it: under that the limiter
    // never acts, and the loudness is what was measured.
    const double vrchol = *std::max_element(vrcholy.begin(), vrcholy.end());
    if (vrchol * std::sqrt(2.0) * zisk_ > strop) {
        // The limiter lowers the loudness a little: the blocks it changes
        // measured again through it, and the gain corrected by what it took.
        for (double& e : energie) e *= zisk_ * zisk_;
        // Where the room's network runs again, the whole sound.
        const bool skace = rt60 <= 0 || ozvena_->plna;
        const std::vector<Usek> kde =
            skace ? useky(vrcholy, strop / (std::sqrt(2.0) * zisk_), vzorku22) : std::vector<Usek>{{0, vzorku22}};
        std::vector<double> lr(2 * static_cast<size_t>(delkatonu));
        Merak merak(0, 0);
        Retez retez(levy_, pravy_, vzorku_, ocas_, maximum_, master_.prostor, ozvena_.get());
        auto omezovac = std::make_unique<Omezovac>(zisk_);
        for (const Usek& u : kde) {
            merak.zacni(u.od, u.od > 0 ? usadit : 0);
            // (The whole sound needs no jump: the pass is at its start.)
            retez.skoc(u.od, u.po);
            *omezovac = Omezovac(zisk_);
            for (int ramcu; (ramcu = retez.dalsi(lr.data(), nullptr)) > 0;) {
                merak.pridej(omezovac->zpracuj(lr.data(), ramcu, merak.volny(ramcu + predstih + pulokna)));
            }
            merak.pridej(omezovac->dokonci(merak.volny(predstih + pulokna)));
            const std::vector<double>& nove = merak.energie();
            for (size_t i = 0; i < nove.size(); ++i) {
                const size_t t = static_cast<size_t>(merak.prvni()) + i;
                if (t < energie.size()) energie[t] = nove[i];
            }
        }
        const double po = integrovana(energie);
        if (std::isfinite(po)) zisk_ *= std::pow(10.0, (master_.hlasitost - po) / 20.0);
    }
    zprava_.zisk = decibely(zisk_);
}

Masterovani::~Masterovani() = default;

void Masterovani::zapis(OdberStereo& odber, Obalka* obalka) {
    if (obalka) obalka->zacni(vzorku_);
    Retez retez(levy_, pravy_, vzorku_, ocas_, maximum_, master_.prostor, ozvena_.get());
    Omezovac omezovac(zisk_);
    Prevzorkovani prevzorkovani(odber, zprava_.ramcu);
    std::vector<double> lr(2 * static_cast<size_t>(delkatonu)), ven(lr.size() + 2 * (predstih + pulokna));
    for (int ramcu; (ramcu = retez.dalsi(lr.data(), obalka)) > 0;) {
        prevzorkovani.pridej(ven.data(), omezovac.zpracuj(lr.data(), ramcu, ven.data()));
    }
    prevzorkovani.pridej(ven.data(), omezovac.dokonci(ven.data()));
    prevzorkovani.dokonci();
    zprava_.omezeni = -decibely(omezovac.nejnizsi());
}

}  // namespace skladba
