// Registers are loaded when a note needs them: the "R" commands only name
// them (Kontext::cekajicirejstriky), and the note command loads what was
// named since the last note or rest before it takes a segment.
#pragma once

#include "engine/kontext.h"

namespace skladba {

// Loads the registers named since the last note or rest, in their order; a
// note or rest calls it before it takes a segment. A register missing is
// reported at its "R" (the default register as a file error).
void nactirejstriky(Kontext& k);

}  // namespace skladba
