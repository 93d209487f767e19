// The encoder of the compressed formats: FLAC, Ogg Vorbis, MP3 and Opus,
// written through libsndfile from the WAV's own 16-bit samples (Opus, which
// takes no 22050 Hz, resampled to 48 kHz with libsoxr first). Built only
// where those libraries are found; elsewhere otevrikodek says what is
// missing.
#pragma once

#include <memory>
#include <string>

#include "base/kodovani.h"

namespace skladba {

// A sink that encodes into fd by position (a temporary file of the run), or,
// with fd -1, into memory and then to standard output once complete (FLAC
// and Ogg go back to their headers when they end). jmeno names the output
// in messages. A ChybaSouboru "cannot write JMENO: reason" on any failure.
std::unique_ptr<Odber> otevrikodek(const Kodovani& kodovani, int fd, const std::string& jmeno);

// The samples of a WAV this program made (its bytes in memory), encoded in
// memory as kodovani says. jmeno names the output in messages; a
// ChybaSouboru "cannot write JMENO: reason" on any failure.
std::string zakodujwav(const Kodovani& kodovani, const std::string& wav, const std::string& jmeno);

// The title a file gets: the one given, else the score's first comment
// (its bytes decoded, its parentheses and surrounding spaces taken off,
// every run of white space one space), else the score's name without its
// folder and extension.
std::string nazevzvuku(const Kodovani& kodovani);

}  // namespace skladba
