// The player's keys on a terminal in raw mode (platform::surovyterminal),
// escape sequences of the arrow and Home keys read as one key.
#pragma once

#include <string>

namespace skladba::platform {

enum class Klavesa { zadna, mezera, vlevo, vpravo, domu, konec, jina };

// The next key pressed within milisekund (0: only one already waiting), or
// zadna.
Klavesa ctiklavesu(int milisekund);
// Waits up to milisekund for a key, without reading it.
void cekejnavstup(int milisekund);

// A private folder for scratch files, made afresh under $TMPDIR or /tmp;
// empty when it cannot be made. odstranslozku removes it with the files in it.
std::string novaslozka(const char* predpona);
void odstranslozku(const std::string& slozka);

}  // namespace skladba::platform
