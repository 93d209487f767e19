#include "synth/rejstrik.h"

#include <cerrno>
#include <cstdio>
#include <string>

#include "engine/chyba.h"
#include "engine/stav.h"
#include "platform/system.h"
#include "score/ctenar.h"
#include "synth/vzorky.h"

namespace skladba {

bool nactirejstrik() {
    platform::File rejstrik = platform::openForReading(stav.rejstrjmeno);
    if (!rejstrik.isOpen()) return false;
    // Whole samples only: an odd trailing byte must not half-overwrite one.
    // Only a regular file has a size to go by; anything else is read for as
    // much as the wavetable holds and fails if it cannot be read that way.
    int64_t want = static_cast<int64_t>(sizeof rejstrpole);
    if (platform::isRegularFile(rejstrik.fd())) {
        const int64_t size = platform::fileSize(rejstrik.fd());
        if (size < 0) return false;
        if (size < want) want = size & ~int64_t{1};
    }
    const ssize_t bytes = platform::readFully(rejstrik.fd(), rejstrpole, static_cast<size_t>(want), 0);
    if (bytes < 0) return false;
    zLittleEndian(rejstrpole, static_cast<size_t>(bytes) / 2);
    return true;
}

namespace {

std::string popisZnaku(char c) {
    const auto b = static_cast<unsigned char>(c);
    if (b >= 0x21 && b < 0x7F) return std::string("\"") + c + "\"";
    char buf[8];
    std::snprintf(buf, sizeof buf, "0x%02X", b);
    return buf;
}

// The register's path as it can be shown on a terminal: the register
// character may be any byte, so unprintable ones appear as \xNN.
std::string popisCesty(const char* cesta) {
    std::string out;
    for (const char* p = cesta; *p; ++p) {
        const auto b = static_cast<unsigned char>(*p);
        if (b >= 0x20 && b < 0x7F) {
            out += *p;
        } else {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\x%02X", b);
            out += buf;
        }
    }
    return out;
}

}  // namespace

void prikazRejstrik() {
    stav.reg = dejznak();
    // A 0xFF byte inside the score names a register like any other byte;
    // only at the end of the score is there no character at all.
    stav.rejstrjmeno[16] = stav.reg;
    if (!nactirejstrik()) {
        const int err = errno;
        if (stav.reg == konecsouboru && isoubor.konec()) {
            chybaPartitury("\"R\" needs a register character after it");
        }
        chybaPartitury("cannot load register " + popisZnaku(stav.reg) + " from " +
                       popisCesty(stav.rejstrjmeno) + ": " + platform::errorText(err));
    }
}

}  // namespace skladba
