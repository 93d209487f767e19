#include "engine/stav.h"

#include <cmath>
#include <cstring>
#include <limits>

namespace skladba {

Stav stav;
int16_t rejstrpole[pocetsegmentu * delkatonu];
int32_t pole4[delkatonu];
int32_t testpole[delkatonu];
int16_t pole2[delkatonu];
Meze meze;

void resetEngineState() {
    stav = Stav{};
    // A register shorter than 69 segments leaves the rest of the wavetable
    // as it was, which at start-up is silence.
    std::memset(rejstrpole, 0, sizeof rejstrpole);
}

int naCele(double x) {
    if (std::isnan(x)) return 0;
    if (x >= 2147483647.0) return std::numeric_limits<int>::max();
    if (x <= -2147483648.0) return std::numeric_limits<int>::min();
    return static_cast<int>(x);
}

}  // namespace skladba
