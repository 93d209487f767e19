#include "registers/pitch.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "registers/timbres.h"

namespace skladba::registers {
namespace {

constexpr double kPi = 3.14159265358979323846;

constexpr const char* kNoteNames[12] = {"c", "c#", "d", "d#", "e", "f", "f#", "g", "g#", "a", "a#", "b"};

double semitonesFromA440(double frequency) { return 12.0 * std::log2(frequency / kReferenceFrequency); }

bool parseNoteName(std::string_view text, double& frequency) {
    static constexpr int kLetterSemitone[] = {9, 11, 0, 2, 4, 5, 7};  // a b c d e f g
    std::size_t at = 0;
    const char letter = static_cast<char>(std::tolower(static_cast<unsigned char>(text[at++])));
    int semitone = 0;
    if (letter >= 'a' && letter <= 'g') {
        semitone = kLetterSemitone[letter - 'a'];
    } else if (letter == 'h') {
        semitone = 11;
    } else {
        return false;
    }
    // Sharps or flats, not both.
    int accidental = 0;
    while (at < text.size() && (text[at] == '#' || text[at] == 'b' || text[at] == 'B')) {
        const int step = text[at] == '#' ? 1 : -1;
        if (accidental != 0 && (accidental > 0) != (step > 0)) return false;
        accidental += step;
        ++at;
    }
    const std::string_view octaveText = text.substr(at);
    std::size_t digits = octaveText.size() > 0 && octaveText[0] == '-' ? 1 : 0;
    if (octaveText.size() == digits || octaveText.size() > digits + 2) return false;
    for (std::size_t i = digits; i < octaveText.size(); ++i) {
        if (!std::isdigit(static_cast<unsigned char>(octaveText[i]))) return false;
    }
    const int octave = std::atoi(std::string(octaveText).c_str());
    const int key = 12 * (octave + 1) + semitone + accidental;
    frequency = kReferenceFrequency * std::pow(2.0, (key - 69) / 12.0);
    return true;
}

bool parseFrequency(std::string_view text, double& frequency) {
    if (text.size() > 2) {
        const std::string_view unit = text.substr(text.size() - 2);
        if ((unit[0] == 'h' || unit[0] == 'H') && (unit[1] == 'z' || unit[1] == 'Z')) {
            text.remove_suffix(2);
        }
    }
    bool point = false;
    bool digit = false;
    for (char c : text) {
        if (c == '.' && !point) {
            point = true;
        } else if (std::isdigit(static_cast<unsigned char>(c))) {
            digit = true;
        } else {
            return false;
        }
    }
    if (!digit) return false;
    frequency = std::strtod(std::string(text).c_str(), nullptr);
    return std::isfinite(frequency) && frequency > 0.0;
}

// Normalised difference function of YIN over `window` samples from `start`;
// returns the period in samples of its first dip below the threshold (or
// of its deepest dip), refined by a parabola, or 0. `clear` tells whether
// the dip reached the threshold: the window repeats itself at that period
// with no more than a small part of its power left over.
double yinPeriod(const std::vector<double>& x, std::size_t start, int window, int minLag, int maxLag, bool& clear) {
    std::vector<double> d(static_cast<std::size_t>(maxLag) + 2, 0.0);
    double running = 0.0;
    d[0] = 1.0;
    for (int lag = 1; lag <= maxLag + 1; ++lag) {
        double sum = 0.0;
        for (int n = 0; n < window; ++n) {
            const double diff = x[start + n] - x[start + n + lag];
            sum += diff * diff;
        }
        running += sum;
        d[lag] = running > 0.0 ? sum * lag / running : 1.0;
    }
    constexpr double kThreshold = 0.15;
    int best = 0;
    clear = false;
    for (int lag = minLag; lag <= maxLag; ++lag) {
        if (d[lag] < kThreshold) {
            while (lag + 1 <= maxLag && d[lag + 1] < d[lag]) ++lag;
            best = lag;
            clear = true;
            break;
        }
        if (best == 0 || d[lag] < d[best]) best = lag;
    }
    if (best == 0 || d[best] > 0.4) return 0.0;  // nothing periodic here
    const double a = d[best - 1], b = d[best], c = d[best + 1];
    const double curvature = a - 2.0 * b + c;
    return best + (curvature > 0.0 ? 0.5 * (a - c) / curvature : 0.0);
}

// |DFT| of the windowed signal at `frequency`, by a rotating phasor.
double magnitudeAt(const std::vector<double>& windowed, double rate, double frequency) {
    const double w = 2.0 * kPi * frequency / rate;
    const double stepCos = std::cos(w), stepSin = std::sin(w);
    double re = 0.0, im = 0.0, c = 1.0, s = 0.0;
    for (double v : windowed) {
        re += v * c;
        im -= v * s;
        const double next = c * stepCos - s * stepSin;
        s = s * stepCos + c * stepSin;
        c = next;
    }
    return std::hypot(re, im);
}

}  // namespace

bool parsePitch(std::string_view text, double& frequency, std::string& error) {
    const bool ok = !text.empty() && (std::isdigit(static_cast<unsigned char>(text[0])) || text[0] == '.')
                        ? parseFrequency(text, frequency)
                        : !text.empty() && parseNoteName(text, frequency);
    if (!ok) {
        error = "cannot read the pitch '" + std::string(text) +
                "': give a note name such as a4, C#3 or eb2, a frequency in Hz, or auto";
        return false;
    }
    const int segment = nearestSegment(frequency);
    if (segment < 0 || segment >= kSegments) {
        char range[160];
        std::snprintf(range, sizeof range, "the register holds %.1f Hz (c2) to %.1f Hz (g#7)", segmentFrequency(0),
                      segmentFrequency(kSegments - 1));
        error = "the pitch '" + std::string(text) + "' lies outside the register's range: " + range;
        return false;
    }
    return true;
}

int nearestSegment(double frequency) {
    return kReferenceIndex + static_cast<int>(std::lround(semitonesFromA440(frequency)));
}

int nearestZone(const std::vector<double>& zoneFrequencies, int index) {
    const double target = semitonesFromA440(segmentFrequency(index));
    int best = -1;
    double bestDistance = 0.0;
    for (std::size_t z = 0; z < zoneFrequencies.size(); ++z) {
        const double distance = std::fabs(semitonesFromA440(zoneFrequencies[z]) - target);
        const bool closer = best < 0 || distance < bestDistance - 1e-9;
        const bool tieAbove = best >= 0 && std::fabs(distance - bestDistance) <= 1e-9 &&
                              zoneFrequencies[z] > zoneFrequencies[static_cast<std::size_t>(best)];
        if (closer || tieAbove) {
            best = static_cast<int>(z);
            bestDistance = distance;
        }
    }
    return best;
}

double estimateFundamental(const std::vector<double>& x, double rate, std::size_t from) {
    const int minLag = std::max(2, static_cast<int>(rate / 4000.0));
    const int maxLag = static_cast<int>(rate / 50.0);
    const int window = std::max(maxLag, static_cast<int>(rate * 0.04));
    // Seven windows, spread over what there is to hear (a note that
    // swells takes a while to settle on its pitch), half a window apart
    // at least.
    const std::size_t reach = static_cast<std::size_t>(window) + maxLag + 2;
    const std::size_t span = x.size() > from + reach ? x.size() - from - reach : 0;
    const std::size_t step = std::max(static_cast<std::size_t>(window / 2), span / 6);
    std::vector<double> estimates;
    int windows = 0;
    bool clear = false;
    for (int w = 0; w < 7; ++w) {
        const std::size_t start = from + static_cast<std::size_t>(w) * step;
        if (start + reach > x.size()) break;
        ++windows;
        bool clearHere = false;
        const double period = yinPeriod(x, start, window, minLag, maxLag, clearHere);
        if (period > 0.0) estimates.push_back(rate / period);
        clear = clear || clearHere;
    }
    // Most windows must find the same period, and one of them clearly:
    // noise finds none, or a different one in each window.
    if (!clear || estimates.size() < 2 || 2 * estimates.size() <= static_cast<std::size_t>(windows)) return 0.0;
    std::sort(estimates.begin(), estimates.end());
    const double median = estimates[estimates.size() / 2];
    const auto agreeing = std::count_if(estimates.begin(), estimates.end(),
                                        [&](double f) { return std::fabs(f / median - 1.0) < 0.03; });
    return 2 * agreeing > windows ? median : 0.0;
}

bool hasFundamental(const double* x, int length, double rate, double frequency) {
    if (length < 2 || frequency <= 0.0) return false;
    std::vector<double> windowed(static_cast<std::size_t>(length));
    for (int n = 0; n < length; ++n) windowed[n] = x[n] * (0.5 - 0.5 * std::cos(2.0 * kPi * n / (length - 1)));
    // The strongest power within 50 cents of f, in steps of 5.
    const auto powerNear = [&](double f) {
        double best = 0.0;
        for (int c = -50; c <= 50; c += 5) {
            const double m = magnitudeAt(windowed, rate, f * std::pow(2.0, c / 1200.0));
            best = std::max(best, m * m);
        }
        return best;
    };
    double strongest = 0.0;
    for (int h = 2; h <= 8 && h * frequency < 0.45 * rate; ++h) strongest = std::max(strongest, powerNear(h * frequency));
    const double fundamental = powerNear(frequency);
    return fundamental > 0.0 && fundamental >= 1e-3 * strongest;
}

double refinePitch(const double* x, int length, double rate, double approx) {
    if (length < 2 || approx <= 0.0) return 0.0;
    std::vector<double> windowed(static_cast<std::size_t>(length));
    for (int n = 0; n < length; ++n) windowed[n] = x[n] * (0.5 - 0.5 * std::cos(2.0 * kPi * n / (length - 1)));
    constexpr int kReach = 50;  // cents either way, in steps of one
    std::vector<double> power(2 * kReach + 1);
    int peak = 0;
    for (int c = -kReach; c <= kReach; ++c) {
        const double m = magnitudeAt(windowed, rate, approx * std::pow(2.0, c / 1200.0));
        power[c + kReach] = m * m;
        if (power[c + kReach] > power[peak]) peak = c + kReach;
    }
    if (peak == 0 || peak == 2 * kReach) return 0.0;  // rising towards the edge: no peak here
    // The centre of everything within 10 dB of the highest point.
    double sum = 0.0, weighted = 0.0;
    for (int i = 0; i <= 2 * kReach; ++i) {
        if (power[i] < 0.1 * power[peak]) continue;
        sum += power[i];
        weighted += power[i] * (i - kReach);
    }
    return approx * std::pow(2.0, weighted / sum / 1200.0);
}

std::string describePitch(double frequency) {
    const double semitones = semitonesFromA440(frequency);
    const long key = 69 + std::lround(semitones);
    const int cents = static_cast<int>(std::lround(100.0 * (semitones - (key - 69))));
    const long pitchClass = ((key % 12) + 12) % 12;
    const long octave = (key - pitchClass) / 12 - 1;
    char text[64];
    std::snprintf(text, sizeof text, "%s%ld %+d cents", kNoteNames[pitchClass], octave, cents);
    return text;
}

}  // namespace skladba::registers
