// Synthesis of register files: the pre-rendered note segments skladba mixes
// to play music.
//
// A register file has no header. It holds raw signed 16-bit little-endian
// mono samples at 22050 Hz: 69 segments of 88200 samples (4 s) each, one per
// equal-tempered semitone. Segment 33 is A 440 Hz, segment 24 middle C.
// Segment 0 is silence, because a rest mixes segment 0 like any other note.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "base/format.h"

namespace skladba::registers {

enum class Timbre { organ, flute, string, piano };

inline constexpr Timbre kTimbres[] = {Timbre::organ, Timbre::flute, Timbre::string,
                                      Timbre::piano};

inline constexpr int kSegments = pocetsegmentu;
inline constexpr int kSegmentLength = delkatonu;
inline constexpr int kSampleRate = zaklad;
inline constexpr int kReferenceIndex = indexa440;  // A 440 Hz
inline constexpr double kReferenceFrequency = 440.0;

inline constexpr std::size_t kFileBytes = static_cast<std::size_t>(bajturejstriku);

// Accepts the lower-case names "organ", "flute", "string" and "piano".
bool parseTimbre(std::string_view name, Timbre& timbre);
const char* timbreName(Timbre timbre);

// Equal-tempered pitch of segment `index` (1..68): 440 * 2^((index-33)/12).
double segmentFrequency(int index);

// Writes kSegmentLength samples for segment `index` (0..68) to `out`, at
// the level of the loudness rule (level.h) applied to the whole register.
// Segment 0 is all zeros. The result is bit-identical on every machine.
void renderSegment(Timbre timbre, int index, int16_t* out);

struct LoopReport;

// Renders all segments and writes them to `path` (see register_file.h), and
// its loop file beside it (saying what it found in `loops`). On failure
// returns false with `error` set to "cannot write PATH: reason".
bool writeRegisterFile(Timbre timbre, const std::string& path, std::string& error, LoopReport* loops = nullptr);

}  // namespace skladba::registers
