#include "synth/rejstrik.h"

#include <cstring>

#include "base/vzorky.h"
#include "platform/system.h"

namespace skladba {

int16_t rejstrpole[pocetsegmentu * delkatonu];

namespace {

std::string slozkarejstriku = "rejstriky";

}  // namespace

void nastavslozkurejstriku(const std::string& slozka) { slozkarejstriku = slozka; }

std::string rejstrjmeno(char reg) {
    return slozkarejstriku + "/" + predponarejstriku + reg + priponarejstriku;
}

void vynulujrejstrik() { std::memset(rejstrpole, 0, sizeof rejstrpole); }

bool nactirejstrik(char reg) {
    const std::string cesta = rejstrjmeno(reg);
    platform::Soubor rejstrik = platform::otevriprocteni(cesta.c_str());
    if (!rejstrik.otevren()) return false;
    // Whole samples only: an odd trailing byte must not half-overwrite one.
    // Only a regular file has a size to go by; anything else is read for as
    // much as the wavetable holds and fails if it cannot be read that way.
    int64_t want = static_cast<int64_t>(sizeof rejstrpole);
    if (platform::jeobycejny(rejstrik.fd())) {
        const int64_t size = platform::velikost(rejstrik.fd());
        if (size < 0) return false;
        if (size < want) want = size & ~int64_t{1};
    }
    const ssize_t bytes = platform::ctivse(rejstrik.fd(), rejstrpole, static_cast<size_t>(want), 0);
    if (bytes < 0) return false;
    zlittleendian(rejstrpole, static_cast<size_t>(bytes) / 2);
    return true;
}

}  // namespace skladba
