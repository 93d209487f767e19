#include "base/kodovani.h"

namespace skladba {

size_t znakutf8(const std::string& s, size_t i) {
    if (i >= s.size()) return 0;
    const auto b = static_cast<unsigned char>(s[i]);
    if (b < 0x80) return 1;
    const size_t navic = b >= 0xF0 && b <= 0xF4 ? 3 : b >= 0xE0 && b <= 0xEF ? 2 : b >= 0xC2 && b <= 0xDF ? 1 : 0;
    if (navic == 0 || i + navic >= s.size()) return 0;
    for (size_t k = 1; k <= navic; ++k) {
        if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return 0;
    }
    const auto c = static_cast<unsigned char>(s[i + 1]);
    if (navic == 2 && ((b == 0xE0 && c < 0xA0) || (b == 0xED && c >= 0xA0))) return 0;   // overlong, surrogates
    if (navic == 3 && ((b == 0xF0 && c < 0x90) || (b == 0xF4 && c >= 0x90))) return 0;   // overlong, past U+10FFFF
    return navic + 1;
}

bool jeutf8(const std::string& s) {
    for (size_t i = 0; i < s.size();) {
        const size_t n = znakutf8(s, i);
        if (n == 0) return false;
        i += n;
    }
    return true;
}

}  // namespace skladba
