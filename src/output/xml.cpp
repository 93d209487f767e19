#include "output/xml.h"

#include <cstdint>

#include "base/utf8.h"

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
        // Only characters XML allows: besides what is not UTF-8, no U+FFFE
        // or U+FFFF.
        uint32_t znak = 0;
        const size_t delka = znakutf8(s, i, znak);
        if (delka > 0 && znak != 0xFFFE && znak != 0xFFFF) {
            out.append(s, i, delka);
            i += delka;
        } else {
            out += "\xEF\xBF\xBD";
            ++i;
        }
    }
    return out;
}

}  // namespace skladba
