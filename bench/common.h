// What every part of the benchmark shares: the formats' constants under
// the short names it uses, the clock, medians, and dying with a message.
#pragma once

#include <chrono>
#include <cstdint>
#include <vector>

#include "base/format.h"

namespace bench {

constexpr int kRate = skladba::zaklad;                        // samples per second
constexpr int kSegment = skladba::delkatonu;                  // samples in one segment
constexpr int kSegments = skladba::pocetsegmentu;             // segments in a register
constexpr float kMaxSignal = skladba::maxsignal;              // the peak becomes this output value
constexpr int kHeaderTemplate = skladba::sablonabajtu;        // bytes of the header template used
constexpr int kHeader = skladba::delkahlavicky;               // bytes of the WAV header written

using Clock = std::chrono::steady_clock;

inline double secondsSince(Clock::time_point t0) {
    return std::chrono::duration<double>(Clock::now() - t0).count();
}

[[noreturn]] void die(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

double median(std::vector<double> v);

template <typename T, typename F>
double medianOf(const std::vector<T>& v, F field) {
    std::vector<double> x;
    for (const auto& e : v) x.push_back(static_cast<double>(e.*field));
    return median(x);
}

}  // namespace bench
