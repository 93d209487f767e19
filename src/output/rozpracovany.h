// A file written beside its final name, as NAME.part, and put in place by a
// rename only when it is complete: a failed or interrupted run never leaves
// half a file and keeps the previous one. Used for the MIDI file and the
// piano roll; the WAV has its own writer, which can also stream.
#pragma once

#include <cstddef>
#include <string>

#include "platform/system.h"

namespace skladba {

class Rozpracovany {
public:
    // Creates cil + ".part" afresh (never through a link or into a special
    // file) and marks it for removal on interruption. A ChybaSouboru
    // "cannot write CIL: reason" when it cannot be created.
    Rozpracovany(std::string cil, platform::Docasny znacka);
    Rozpracovany(const Rozpracovany&) = delete;
    Rozpracovany& operator=(const Rozpracovany&) = delete;
    // Removes the temporary file unless it was put in place.
    ~Rozpracovany();

    void pis(const void* data, size_t bajtu);   // buffered
    void pis(const std::string& text) { pis(text.data(), text.size()); }
    // Writes what is buffered, on disk, and closes it.
    void dokonci();
    // Renames it to its final name. The caller holds signals back.
    void prejmenuj();

private:
    [[noreturn]] void chyba();
    void vyprazdni();

    std::string cil_, docasny_;
    platform::Docasny znacka_;
    platform::Soubor soubor_;
    platform::Totoznost totoznost_;   // the temporary file as created
    std::string buf_;
    off_t zapsano_ = 0;
    bool hotovo_ = false;
};

}  // namespace skladba
