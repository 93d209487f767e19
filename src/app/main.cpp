// skladba: renders the score aktualni.txt to aktualni.wav.
#include <cstdio>
#include <cstring>

#include "engine/beh.h"
#include "platform/system.h"

#ifndef SKLADBA_VERSION
#define SKLADBA_VERSION "unknown"
#endif

namespace {

const char kUsage[] =
    "usage: skladba [--help | --version]\n"
    "\n"
    "Renders the score aktualni.txt in the current directory to aktualni.wav\n"
    "(16-bit mono PCM, 22050 Hz), playing notes from the register files in\n"
    "rejstriky/ (rejstr1.nes by default; the header template is\n"
    "rejstriky/wavhlavicka.nes). Prints nothing on success.\n"
    "\n"
    "The score language is described in the README, section \"The score language\".\n";

}  // namespace

int main(int argc, char** argv) {
    if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
        std::puts("skladba " SKLADBA_VERSION);
        return 0;
    }
    if (argc > 1) {
        std::fprintf(stderr, "skladba: unexpected argument '%s'\n%s", argv[1], kUsage);
        return 2;
    }

    skladba::platform::nastavpreruseni();
    const skladba::Vysledek result = skladba::spust();
    if (result.status != 0) std::fprintf(stderr, "skladba: %s\n", result.zprava.c_str());
    return result.status;
}
