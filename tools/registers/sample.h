// Registers made from recordings of single notes, read by libsndfile and
// tuned by resampling with libsoxr.
//
// Each recording (a zone) is mixed to mono, its leading silence dropped and
// its DC offset removed; it serves the segments whose pitch is nearest its
// own. Segment k plays the recording at f_k / f_zone times its speed,
// trimmed to four seconds or padded with silence, with a 2 ms fade-in and a
// 30 ms fade-out where the sound ends. Only as much of a file is read as
// the fastest of its segments needs.
#pragma once

#include <string>
#include <vector>

#include "registers/level.h"
#include "synth/smycka.h"

namespace skladba::registers {

inline constexpr double kShortestRecording = 0.05;  // seconds
inline constexpr double kLongestRecording = 600.0;  // seconds

struct Zone {
    std::string audio;  // path of the recording
    std::string pitch;  // as parsePitch reads it, or "auto"
};

struct ZoneReport {
    double frequency = 0.0;  // the pitch used
    bool estimated = false;  // found by "auto"
    int first = 0;           // the segments it serves, first..last
    int last = -1;
    double onset = 0.0;      // seconds of the file before the note, dropped
    // The recording's own loop, in seconds of the file (a WAV's smpl
    // chunk, read through libsndfile's instrument data); none when equal.
    double loopFrom = 0.0, loopTo = 0.0;
};

// A loop given in seconds of a zone's file, [from, to), as segment k plays
// it (moved by the onset dropped and the segment's speed); none when it does
// not fit within the segment's first 3.9 s.
Smycka loopAtSpeed(const ZoneReport& zone, int k, double from, double to);

// Fills segments 1..68 from the zones. Errors read "FILE: why".
bool renderSamples(const std::vector<Zone>& zones, Segments& segments, std::vector<ZoneReport>& reports,
                   std::string& error);

std::string sampleLibraryVersions();

}  // namespace skladba::registers
