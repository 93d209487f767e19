#include "engine/nacteni.h"

#include <cerrno>
#include <cstdio>
#include <string>

#include "base/chyba.h"

namespace skladba {

namespace {

std::string popisznaku(char c) {
    const auto b = static_cast<unsigned char>(c);
    if (b >= 0x21 && b < 0x7F) return std::string("\"") + c + "\"";
    char buf[8];
    std::snprintf(buf, sizeof buf, "0x%02X", b);
    return buf;
}

// A path as it can be shown on a terminal: the register character may be
// any byte, so unprintable ones appear as \xNN.
std::string popiscesty(const std::string& cesta) {
    std::string out;
    for (char c : cesta) {
        const auto b = static_cast<unsigned char>(c);
        if (b >= 0x20 && b < 0x7F) {
            out += c;
        } else {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\x%02X", b);
            out += buf;
        }
    }
    return out;
}

}  // namespace

void nactirejstriky(Kontext& k) {
    std::vector<Kontext::CekajiciRejstrik>& c = k.cekajicirejstriky;
    if (c.empty()) return;
    // A register that holds every segment hides those named before it; a
    // shorter one leaves theirs in place beyond its end, so they load too.
    size_t od = c.size() - 1;
    while (od > 0 && !k.rejstriky.uplny(c[od].reg)) --od;
    for (size_t i = od; i < c.size(); ++i) {
        if (k.rejstriky.nactirejstrik(c[i].reg)) continue;
        const int err = errno;
        const std::string cesta = k.rejstriky.rejstrjmeno(c[i].reg);
        if (c[i].pozice < 0) chybasouboru("cannot load the register", cesta, err);
        k.stav.pozicepovelu = c[i].pozice;
        chybapartitury("cannot load register " + popisznaku(c[i].reg) + " from " + popiscesty(cesta) + ": " +
                       popischyby(err));
    }
    c.clear();
}

}  // namespace skladba
