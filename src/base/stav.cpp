#include "base/stav.h"

#include <cmath>
#include <limits>

namespace skladba {

int nacele(double x) {
    if (std::isnan(x)) return 0;
    if (x >= 2147483647.0) return std::numeric_limits<int>::max();
    if (x <= -2147483648.0) return std::numeric_limits<int>::min();
    return static_cast<int>(x);
}

}  // namespace skladba
