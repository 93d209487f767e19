#include "base/nota.h"

#include <cstdio>

namespace skladba {

std::string popiscasu(double sekund, int desetin) {
    const int minut = static_cast<int>(sekund / 60);
    char buf[40];
    std::snprintf(buf, sizeof buf, desetin == 1 ? "%d:%04.1f" : "%d:%05.2f", minut, sekund - 60.0 * minut);
    return buf;
}

}  // namespace skladba
