// The sound formats by name and extension, and which of them this build can
// write: the WAV always, the compressed ones when the encoder was built.
#pragma once

#include <string>

#include "base/kodovani.h"

namespace skladba {

// "wav", "flac", "ogg" or "vorbis", "mp3", "opus", in any case.
bool formatzejmena(const std::string& jmeno, Format& format);

// The format a file name's extension asks for, in any case: .wav, .flac,
// .ogg or .oga, .mp3, .opus. A name with another extension, or none, is a
// WAV, as it always was. False, with the extension in cizi, for an
// extension of a sound format skladba does not write (.aiff, .m4a, ...):
// writing a WAV under that name would pass one format for another.
bool formatpripony(const std::string& cesta, Format& format, std::string& cizi);

const char* jmenoformatu(Format format);     // "FLAC", "Ogg Vorbis", ...
const char* priponaformatu(Format format);   // ".flac", ".ogg", ...
const char* typformatu(Format format);       // the media type: "audio/flac", ...

// The compressed formats, in the order the editor offers them.
constexpr Format zakodovaneformaty[] = {Format::flac, Format::vorbis, Format::mp3, Format::opus};
inline bool ztratovy(Format f) { return f == Format::vorbis || f == Format::mp3 || f == Format::opus; }

// What this build lacks to write the format ("libsndfile (libsndfile1-dev)"),
// or empty when it can.
std::string chybejicipro(Format format);

}  // namespace skladba
