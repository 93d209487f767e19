// UTF-8 read one way for every text skladba passes on as UTF-8 (the XML it
// writes, the editor's JSON): any other byte becomes U+FFFD there.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace skladba {

// The length (2 to 4) of the UTF-8 character of more than one byte that
// starts at s[i], with its code point in kod; 0 when the bytes there are no
// such character: ASCII, a lone continuation byte, a sequence cut short, an
// overlong form, a surrogate, or past U+10FFFF.
inline size_t znakutf8(const std::string& s, size_t i, uint32_t& kod) {
    const auto b = static_cast<unsigned char>(s[i]);
    const size_t navic = b >= 0xF0 && b <= 0xF4 ? 3 : b >= 0xE0 && b <= 0xEF ? 2 : b >= 0xC2 && b <= 0xDF ? 1 : 0;
    if (navic == 0 || i + navic >= s.size()) return 0;
    kod = b & (0x7Fu >> (navic + 1));
    for (size_t k = 1; k <= navic; ++k) {
        const auto c = static_cast<unsigned char>(s[i + k]);
        if ((c & 0xC0) != 0x80) return 0;
        kod = kod << 6 | (c & 0x3Fu);
    }
    const uint32_t nejmensi[] = {0, 0x80, 0x800, 0x10000};
    if (kod < nejmensi[navic] || kod > 0x10FFFF || (kod >= 0xD800 && kod <= 0xDFFF)) return 0;
    return navic + 1;
}

}  // namespace skladba
