// The encoder's functions in a build without it (output/kodek.h). The
// command line refuses these formats before a render; this is for a caller
// that did not ask first.
#include "output/kodek.h"

#include "base/chyba.h"
#include "output/formaty.h"

namespace skladba {

std::unique_ptr<Odber> otevrikodek(const Kodovani& k, int, const std::string& jmeno) {
    chybasouboru("cannot write " + jmeno + ": " + jmenoformatu(k.format) + " needs " + chybejicipro(k.format) +
                 ", which this build was made without");
}

std::string zakodujwav(const Kodovani& k, const std::string&, const std::string& jmeno) {
    otevrikodek(k, -1, jmeno);
    return "";
}

std::string nazevzvuku(const Kodovani& k) { return k.nazev; }

}  // namespace skladba
