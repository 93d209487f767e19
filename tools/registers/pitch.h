// Pitches of recordings: reading them from the command line, estimating
// them from the sound, and choosing which recording serves which segment.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace skladba::registers {

// Reads a note name in scientific pitch notation (a4 is 440 Hz, c4 middle
// C; letters a-g, or h for B, any case; then sharps "#" or flats "b"; then
// the octave, which may be negative) or a frequency in Hz ("440", "261.63",
// "415hz"). The pitch must lie within the register's range, segment 0 to 68,
// to the nearest semitone. On failure returns false with `error` saying why.
bool parsePitch(std::string_view text, double& frequency, std::string& error);

// The segment whose pitch is nearest to `frequency` (may be outside 0..68).
int nearestSegment(double frequency);

// Index of the zone whose pitch is nearest to segment `index` in
// semitones; a segment exactly between two zones takes the higher one,
// since playing a recording slower keeps more of its length.
int nearestZone(const std::vector<double>& zoneFrequencies, int index);

// Estimates the fundamental of `x` (sampled at `rate`) between 50 and
// 4000 Hz from a few windows starting at `from`: the median of their
// difference-function (YIN) estimates. Returns 0 unless most windows find a
// clear period and agree on it (noise, or a sound that changes its pitch,
// has no one fundamental to name).
double estimateFundamental(const std::vector<double>& x, double rate, std::size_t from);

// Whether the tone in x[0, length) sounds `frequency` itself: the power
// within 50 cents of it is at least a thousandth of that near the strongest
// of its harmonics 2 to 8. A tone whose period was read as a multiple of
// its own (a 5 kHz sine, too high to be found, read as 2.5 kHz) has none.
bool hasFundamental(const double* x, int length, double rate, double frequency);

// The pitch of a tone known to lie within 50 cents of `approx`: the
// power-weighted centre of the Hann-windowed spectrum of x[0, length) near
// `approx`. That is the pitch of a single tone, and the mean pitch of an
// ensemble of slightly detuned ones (or of a vibrato). Returns 0 when the
// spectrum has no peak within those 50 cents.
double refinePitch(const double* x, int length, double rate, double approx);

// "a4 +3 cents" for 441.2 Hz.
std::string describePitch(double frequency);

}  // namespace skladba::registers
