#include "output/formaty.h"

#include <cctype>

namespace skladba {

namespace {

std::string malymi(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

struct Jmeno {
    const char* jmeno;
    Format format;
};
constexpr Jmeno jmena[] = {
    {"wav", Format::wav}, {"flac", Format::flac}, {"ogg", Format::vorbis}, {"oga", Format::vorbis},
    {"vorbis", Format::vorbis}, {"mp3", Format::mp3}, {"opus", Format::opus},
};

// Extensions of sound formats that are not written: a name ending so is
// refused rather than given a WAV.
constexpr const char* cizipripony[] = {"aif", "aiff", "aifc", "au", "snd", "caf", "w64", "rf64", "m4a", "aac",
                                       "wma", "ape", "wv", "mka", "webm", "mp2", "ac3", "amr", "spx"};

}  // namespace

bool formatzejmena(const std::string& jmeno, Format& format) {
    const std::string m = malymi(jmeno);
    for (const Jmeno& j : jmena) {
        if (m == j.jmeno && m != "oga") {
            format = j.format;
            return true;
        }
    }
    return false;
}

bool formatpripony(const std::string& cesta, Format& format, std::string& cizi) {
    format = Format::wav;
    const size_t lomitko = cesta.rfind('/');
    const std::string jmeno = lomitko == std::string::npos ? cesta : cesta.substr(lomitko + 1);
    const size_t tecka = jmeno.rfind('.');
    if (tecka == std::string::npos || tecka == 0) return true;
    const std::string pripona = malymi(jmeno.substr(tecka + 1));
    for (const Jmeno& j : jmena) {
        if (pripona == j.jmeno && pripona != "vorbis") {
            format = j.format;
            return true;
        }
    }
    for (const char* c : cizipripony) {
        if (pripona == c) {
            cizi = jmeno.substr(tecka);
            return false;
        }
    }
    return true;
}

const char* jmenoformatu(Format f) {
    switch (f) {
        case Format::flac: return "FLAC";
        case Format::vorbis: return "Ogg Vorbis";
        case Format::mp3: return "MP3";
        case Format::opus: return "Opus";
        default: return "WAV";
    }
}

const char* typformatu(Format f) {
    switch (f) {
        case Format::flac: return "audio/flac";
        case Format::vorbis: return "audio/ogg";
        case Format::mp3: return "audio/mpeg";
        case Format::opus: return "audio/ogg; codecs=opus";
        default: return "audio/wav";
    }
}

const char* priponaformatu(Format f) {
    switch (f) {
        case Format::flac: return ".flac";
        case Format::vorbis: return ".ogg";
        case Format::mp3: return ".mp3";
        case Format::opus: return ".opus";
        default: return ".wav";
    }
}

std::string chybejicipro(Format f) {
    if (f == Format::wav) return "";
#ifdef SKLADBA_HAVE_KODEK
    return "";
#else
    return f == Format::opus ? "libsndfile and libsoxr (libsndfile1-dev, libsoxr-dev)" : "libsndfile (libsndfile1-dev)";
#endif
}

}  // namespace skladba
