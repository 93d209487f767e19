// skladba play: renders a score and plays it through the sound server, with
// a status line and keys on a terminal, again on every save with --watch.
#pragma once

#include "app/volby.h"
#include "engine/beh.h"

namespace skladba {

// Where --from starts: seconds, or a bar. False for a value that is neither.
struct Odkud {
    double sekund = 0;
    int64_t takt = -1;   // -1: by seconds; 0 is a pickup
};
bool rozeberod(const std::string& text, Odkud& odkud);

// Plays the score of nastaveni (its output a scratch WAV of the caller's);
// returns the exit status.
int hraj(const Volby& volby, Nastaveni nastaveni);

}  // namespace skladba
