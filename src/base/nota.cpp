#include "base/nota.h"

#include <cstdio>

namespace skladba {

std::string desetinne(double x, int desetin) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.*f", desetin, x);
    std::string s = buf;
    if (s.find('.') != std::string::npos) {
        while (s.back() == '0') s.pop_back();
        if (s.back() == '.') s.pop_back();
    }
    return s == "-0" ? "0" : s;
}

std::string popiscasu(double sekund, int desetin) {
    const int minut = static_cast<int>(sekund / 60);
    char buf[40];
    std::snprintf(buf, sizeof buf, desetin == 1 ? "%d:%04.1f" : "%d:%05.2f", minut, sekund - 60.0 * minut);
    return buf;
}

}  // namespace skladba
