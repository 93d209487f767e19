// The run sequence: start-up, the command loop over the whole score, and the
// finish that turns the mix into aktualni.wav. Works in the current directory.
#pragma once

#include <string>

namespace skladba {

constexpr const char* vychozipartitura = "aktualni.txt";

struct Vysledek {
    int status = 0;        // the process exit status: 0 success, 1 failure
    std::string zprava;    // what went wrong, without the program name
};

// Runs one score from a fresh engine state. Never exits the process and
// never leaves "_.tmp" behind; "aktualni.wav" is replaced only on success
// (or after a verification mismatch, which still reports failure).
Vysledek spust();

}  // namespace skladba
