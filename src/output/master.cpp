#include "output/master.h"

#include <algorithm>
#include <cmath>
#include <ebur128.h>
#include <memory>
#include <soxr.h>
#include <vector>

#include "base/chyba.h"
#include "base/stav.h"

namespace skladba {

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

// The delays of the room, in samples at 22050 Hz: eight combs of 25 to 39
// ms and four all-passes of 2 to 11 ms, primes, so that their echoes rarely
// coincide; the right channel's a little longer than the left's. A short
// delay before all of them, as the first reflections arrive after the
// direct sound.
constexpr int hrebeny[2][8] = {{557, 593, 641, 683, 727, 769, 811, 853}, {571, 607, 653, 691, 733, 773, 823, 857}};
constexpr int propusti[2][4] = {{241, 163, 107, 53}, {251, 173, 113, 59}};
constexpr int predzpozdeni = zaklad * 12 / 1000;
constexpr double ziskpropusti = 0.5;
constexpr double tlumeni = 0.3;   // the low-pass in each comb's loop

// The room: the two channels' mean through the combs and all-passes, once
// per side, added to the dry sound. Its buffers are 64-bit, so that a
// decaying tail never becomes denormal.
class Mistnost {
public:
    explicit Mistnost(int prostor) {
        const double rt60 = dozvukmistnosti(prostor);
        if (rt60 <= 0) return;
        je_ = true;
        // The wet sound's power beside the dry: up to two thirds of it.
        mokro_ = 0.6 * prostor / 100.0;
        for (int s = 0; s < 2; ++s) {
            double soucet = 0;
            for (int i = 0; i < 8; ++i) {
                Hreben& h = hreben_[s][i];
                h.buf.assign(static_cast<size_t>(hrebeny[s][i]), 0.0);
                // Each pass round the loop loses 60 dB per rt60.
                h.g = std::pow(10.0, -3.0 * hrebeny[s][i] / (rt60 * zaklad));
                soucet += h.g * h.g;
            }
            // Eight combs of about equal feedback: their sum scaled to about
            // the power of one echo-free impulse.
            meritko_[s] = std::sqrt((1.0 - soucet / 8.0) / 8.0);
            for (int i = 0; i < 4; ++i) propust_[s][i].buf.assign(static_cast<size_t>(propusti[s][i]), 0.0);
        }
        predtim_.assign(predzpozdeni, 0.0);
    }

    // Adds the room to ramcu frames of lr (left, right interleaved).
    void zpracuj(double* lr, int ramcu) {
        if (!je_) return;
        vstup_.resize(static_cast<size_t>(ramcu));
        mokre_.resize(static_cast<size_t>(ramcu));
        for (int f = 0; f < ramcu; ++f) {
            vstup_[f] = predtim_[pi_];
            predtim_[pi_] = 0.5 * (lr[2 * f] + lr[2 * f + 1]);
            if (++pi_ == predtim_.size()) pi_ = 0;
        }
        for (int s = 0; s < 2; ++s) {
            // The combs in stretches where none of their buffers wraps, all
            // eight a frame at a time (each one's sum in the same order as
            // ever).
            for (int f = 0; f < ramcu;) {
                int kus = ramcu - f;
                for (const Hreben& h : hreben_[s]) kus = std::min(kus, static_cast<int>(h.buf.size() - h.i));
                double* b[8];
                double g[8], filtr[8];
                for (int c = 0; c < 8; ++c) {
                    b[c] = hreben_[s][c].buf.data() + hreben_[s][c].i;
                    g[c] = hreben_[s][c].g;
                    filtr[c] = hreben_[s][c].filtr;
                }
                for (int n = 0; n < kus; ++n) {
                    const double x = vstup_[f + n];
                    double y = 0;
                    for (int c = 0; c < 8; ++c) {
                        const double v = b[c][n];
                        filtr[c] = v * (1.0 - tlumeni) + filtr[c] * tlumeni;
                        b[c][n] = x + filtr[c] * g[c];
                        y += v;
                    }
                    mokre_[f + n] = y;
                }
                for (int c = 0; c < 8; ++c) {
                    Hreben& h = hreben_[s][c];
                    h.filtr = filtr[c];
                    h.i += static_cast<size_t>(kus);
                    if (h.i == h.buf.size()) h.i = 0;
                }
                f += kus;
            }
            for (int f = 0; f < ramcu; ++f) {
                double y = mokre_[f] * meritko_[s];
                for (Propust& p : propust_[s]) {
                    const double zpozdene = p.buf[p.i];
                    const double w = y + ziskpropusti * zpozdene;
                    p.buf[p.i] = w;
                    if (++p.i == p.buf.size()) p.i = 0;
                    y = zpozdene - ziskpropusti * w;
                }
                lr[2 * f + s] += mokro_ * y;
            }
        }
    }

private:
    struct Hreben {
        std::vector<double> buf;
        size_t i = 0;
        double g = 0, filtr = 0;
    };
    struct Propust {
        std::vector<double> buf;
        size_t i = 0;
    };
    bool je_ = false;
    double mokro_ = 0;
    double meritko_[2] = {};
    Hreben hreben_[2][8];
    Propust propust_[2][4];
    std::vector<double> predtim_;
    size_t pi_ = 0;
    std::vector<double> vstup_, mokre_;   // a block's input and its combs' sum
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
        for (int f = 0; f < ramcu; ++f) ven += vloz(lr[2 * f] * zisk_, lr[2 * f + 1] * zisk_, out + 2 * ven);
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

    int vloz(double l, double r, double* out) {
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
        posledni_ = std::min(h, posledni_ + (1.0 - posledni_) * alfa_);
        // The mean of the last A + 1 values of q, summed afresh once round.
        const size_t i = static_cast<size_t>(n % (predstih + 1));
        soucet_ += posledni_ - q_[i];
        q_[i] = posledni_;
        if (i == predstih) {
            soucet_ = 0;
            for (double v : q_) soucet_ += v;
        }
        const int64_t j = n - predstih;
        if (j < 0) return 0;
        const double g = soucet_ / (predstih + 1);
        nejnizsi_ = std::min(nejnizsi_, g);
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
};

// The loudness meter (EBU R128 integrated loudness) over stereo frames.
class Merak {
public:
    Merak() : st_(ebur128_init(2, zaklad, EBUR128_MODE_I)) {
        if (!st_) chybasouboru("cannot measure the loudness: out of memory");
    }
    ~Merak() { ebur128_destroy(&st_); }
    Merak(const Merak&) = delete;
    Merak& operator=(const Merak&) = delete;
    void pridej(const double* lr, int ramcu) {
        if (ramcu > 0) ebur128_add_frames_double(st_, lr, static_cast<size_t>(ramcu));
    }
    // LUFS; -HUGE_VAL for a sound too short or too quiet to have one.
    double hlasitost() {
        double l = -HUGE_VAL;
        if (ebur128_loudness_global(st_, &l) != EBUR128_SUCCESS) return -HUGE_VAL;
        return l;
    }

private:
    ebur128_state* st_;
};

// One pass over the mixes: the sound with its room, block by block, and
// then the room's tail.
class Retez {
public:
    Retez(Mix& levy, Mix& pravy, int64_t vzorku, int64_t ocas, double maximum, int prostor)
        : levy_(levy), pravy_(pravy), vzorku_(vzorku), celkem_(vzorku + ocas),
          meritko_(maximum > 0 ? 1.0 / maximum : 0.0), mistnost_(prostor), l_(delkatonu), p_(delkatonu) {}

    // The next block, at most delkatonu frames, into lr; 0 at the end.
    // obalka sees the dry sound.
    int dalsi(double* lr, Obalka* obalka) {
        const int64_t od = pozice_;
        const int ramcu = static_cast<int>(std::min<int64_t>(delkatonu, celkem_ - od));
        if (ramcu <= 0) return 0;
        if (od < vzorku_) {
            levy_.ctimix(od, l_.data());
            pravy_.ctimix(od, p_.data());
        }
        const int zmixu = static_cast<int>(std::max<int64_t>(0, std::min<int64_t>(ramcu, vzorku_ - od)));
        for (int f = 0; f < ramcu; ++f) {
            lr[2 * f] = f < zmixu ? l_[f] * meritko_ : 0.0;
            lr[2 * f + 1] = f < zmixu ? p_[f] * meritko_ : 0.0;
        }
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
    int64_t vzorku_, celkem_;
    double meritko_;
    Mistnost mistnost_;
    std::vector<int32_t> l_, p_;
    int64_t pozice_ = 0;
};

double decibely(double pomer) { return 20.0 * std::log10(pomer); }

// The resampler to 48 kHz, with one fixed recipe (20-bit quality, linear
// phase, single precision, one thread), so that it gives the same samples
// on every run; exactly ramcu frames come out, rounded to 24 bits.
class Prevzorkovani {
public:
    Prevzorkovani(OdberStereo& odber, int64_t ramcu) : odber_(odber), zbyva_(ramcu) {
        soxr_error_t e = nullptr;
        const soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT32_I, SOXR_FLOAT32_I);
        const soxr_quality_spec_t q = soxr_quality_spec(SOXR_HQ, 0);
        const soxr_runtime_spec_t rt = soxr_runtime_spec(1);
        soxr_ = soxr_create(zaklad, ratemasteru, 2, &e, &io, &q, &rt);
        if (!soxr_) chybasouboru(std::string("cannot resample to 48 kHz: ") + e);
        vstup_.resize(2 * static_cast<size_t>(delkatonu));
        vystup_.resize(2 * (static_cast<size_t>(delkatonu) * ratemasteru / zaklad + 4096));
        cela_.resize(vystup_.size());
    }
    ~Prevzorkovani() { soxr_delete(soxr_); }
    Prevzorkovani(const Prevzorkovani&) = delete;
    Prevzorkovani& operator=(const Prevzorkovani&) = delete;

    void pridej(const double* lr, int ramcu) {
        for (int i = 0; i < 2 * ramcu; ++i) vstup_[i] = static_cast<float>(lr[i]);
        size_t hotovo = 0;
        while (hotovo < static_cast<size_t>(ramcu)) {
            size_t vzato = 0, dano = 0;
            soxr_process(soxr_, vstup_.data() + 2 * hotovo, static_cast<size_t>(ramcu) - hotovo, &vzato,
                         vystup_.data(), vystup_.size() / 2, &dano);
            odevzdej(dano);
            hotovo += vzato;
            if (vzato == 0 && dano == 0) break;
        }
    }
    void dokonci() {
        for (size_t dano = 1; dano > 0 && zbyva_ > 0;) {
            dano = 0;
            soxr_process(soxr_, nullptr, 0, nullptr, vystup_.data(), vystup_.size() / 2, &dano);
            odevzdej(dano);
        }
        // What the filter's end leaves short is silence.
        std::fill(vystup_.begin(), vystup_.end(), 0.0f);
        while (zbyva_ > 0) odevzdej(std::min<size_t>(static_cast<size_t>(zbyva_), vystup_.size() / 2));
        odber_.dokonci();
    }

private:
    void odevzdej(size_t dano) {
        const size_t ramcu = std::min<size_t>(dano, static_cast<size_t>(zbyva_));
        for (size_t i = 0; i < 2 * ramcu; ++i) {
            double v = static_cast<double>(vystup_[i]) * 8388608.0;
            v = std::min(8388607.0, std::max(-8388608.0, v < 0 ? v - 0.5 : v + 0.5));
            cela_[i] = static_cast<int32_t>(v);   // toward zero: v rounded half away from zero
        }
        if (ramcu > 0) odber_.pridej(cela_.data(), static_cast<int>(ramcu));
        zbyva_ -= static_cast<int64_t>(ramcu);
    }

    OdberStereo& odber_;
    int64_t zbyva_;
    soxr_t soxr_ = nullptr;
    std::vector<float> vstup_, vystup_;
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

    // The loudness and the peak of the sound with its room.
    std::vector<double> lr(2 * static_cast<size_t>(delkatonu));
    double vrchol = 0;
    {
        Merak merak;
        Retez retez(levy_, pravy_, vzorku_, ocas_, maximum_, master_.prostor);
        // Each channel with the last 2 * pulokna samples of the block before
        // in front, for the interpolation across the seam.
        constexpr int pred = 2 * pulokna;
        std::vector<double> x[2];
        for (std::vector<double>& k : x) k.assign(pred, 0.0);
        for (int ramcu; (ramcu = retez.dalsi(lr.data(), nullptr)) > 0;) {
            merak.pridej(lr.data(), ramcu);
            for (int s = 0; s < 2; ++s) {
                std::vector<double>& k = x[s];
                k.resize(static_cast<size_t>(pred + ramcu));
                for (int f = 0; f < ramcu; ++f) k[pred + f] = lr[2 * f + s];
                for (int i = pulokna; i + pulokna < pred + ramcu; ++i) {
                    vrchol = std::max(vrchol, vrcholmezi(k.data() + i, std::max(vrchol, 1e-9)));
                }
                std::copy(k.end() - pred, k.end(), k.begin());
            }
        }
        zprava_.hlasitost = merak.hlasitost();
    }
    if (!std::isfinite(zprava_.hlasitost)) {
        // Silence, or too short to measure: left as it is.
        zisk_ = 1.0;
        zprava_.zisk = 0;
        return;
    }
    zisk_ = std::pow(10.0, (master_.hlasitost - zprava_.hlasitost) / 20.0);
    if (vrchol * zisk_ > strop) {
        // The limiter lowers the loudness a little: measured once through
        // it, and the gain corrected by what it took.
        Merak merak;
        Retez retez(levy_, pravy_, vzorku_, ocas_, maximum_, master_.prostor);
        Omezovac omezovac(zisk_);
        std::vector<double> ven(lr.size());
        for (int ramcu; (ramcu = retez.dalsi(lr.data(), nullptr)) > 0;) {
            merak.pridej(ven.data(), omezovac.zpracuj(lr.data(), ramcu, ven.data()));
        }
        merak.pridej(ven.data(), omezovac.dokonci(ven.data()));
        const double po = merak.hlasitost();
        if (std::isfinite(po)) zisk_ *= std::pow(10.0, (master_.hlasitost - po) / 20.0);
    }
    zprava_.zisk = decibely(zisk_);
}

void Masterovani::zapis(OdberStereo& odber, Obalka* obalka) {
    if (obalka) obalka->zacni(vzorku_);
    Retez retez(levy_, pravy_, vzorku_, ocas_, maximum_, master_.prostor);
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
