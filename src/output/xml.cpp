#include "output/xml.h"

#include <cstdint>

namespace skladba {

std::string proxml(const std::string& s) {
    std::string out;
    for (size_t i = 0; i < s.size();) {
        const auto b = static_cast<unsigned char>(s[i]);
        if (b < 0x80) {
            if (b == '&') out += "&amp;";
            else if (b == '<') out += "&lt;";
            else if (b == '>') out += "&gt;";
            else if (b == '"') out += "&quot;";
            else if (b < 0x20) out += '?';
            else out += static_cast<char>(b);
            ++i;
            continue;
        }
        const int navic = b >= 0xF0 && b <= 0xF4 ? 3 : b >= 0xE0 && b <= 0xEF ? 2 : b >= 0xC2 && b <= 0xDF ? 1 : -1;
        bool platny = navic > 0 && i + static_cast<size_t>(navic) < s.size();
        for (int k = 1; platny && k <= navic; ++k) {
            const auto c = static_cast<unsigned char>(s[i + k]);
            platny = c >= 0x80 && c <= 0xBF;
        }
        if (platny) {
            // Only characters XML allows: no overlong forms, no surrogates,
            // nothing past U+10FFFF, no U+FFFE or U+FFFF.
            uint32_t znak = b & (0x7F >> (navic + 1));
            for (int k = 1; k <= navic; ++k) znak = znak << 6 | (static_cast<unsigned char>(s[i + k]) & 0x3F);
            const uint32_t nejmensi[] = {0, 0x80, 0x800, 0x10000};
            platny = znak >= nejmensi[navic] && znak <= 0x10FFFF && !(znak >= 0xD800 && znak <= 0xDFFF) &&
                     znak != 0xFFFE && znak != 0xFFFF;
        }
        if (platny) {
            out.append(s, i, static_cast<size_t>(navic) + 1);
            i += static_cast<size_t>(navic) + 1;
        } else {
            out += "\xEF\xBF\xBD";
            ++i;
        }
    }
    return out;
}

}  // namespace skladba
