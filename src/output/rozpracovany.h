// A file written beside its final name, as NAME.part, and put in place by a
// rename only when it is complete: a failed or interrupted run never leaves
// half a file and keeps the previous one. The WAV, the MIDI file and the
// piano roll are all written this way.
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
    explicit Rozpracovany(std::string cil);
    Rozpracovany(const Rozpracovany&) = delete;
    Rozpracovany& operator=(const Rozpracovany&) = delete;
    // Removes the temporary file unless it was put in place, and only while
    // the name is still this file.
    ~Rozpracovany();

    const std::string& cil() const { return cil_; }
    int fd() const { return soubor_.fd(); }   // for writing by position

    // The mode the file gets once complete (the umask's by default): until
    // then only its owner can open it.
    void nastavprava(unsigned mode) { prava_ = mode; }

    void pis(const void* data, size_t bajtu);   // buffered, from the start
    void pis(const std::string& text) { pis(text.data(), text.size()); }
    // Writes what is buffered and, unless told otherwise, puts it on disk;
    // the file stays open, so that no other file can take its place
    // unnoticed.
    void dokonci(bool nadisk = true);
    // Why it cannot be put in place, or empty: its temporary name no longer
    // names it, or its final name is a link, a folder or a special file.
    std::string prekazka() const;
    // Renames it to its final name; a ChybaSouboru when that fails. The
    // caller holds signals back.
    void prejmenuj();

    // "cannot write CIL: " and the reason of the last failed call.
    [[noreturn]] void chyba() const;

private:
    void vyprazdni();

    std::string cil_, docasny_;
    int znacka_ = -1;   // its slot among the files removed on interruption
    platform::Soubor soubor_;
    platform::Totoznost totoznost_;   // the temporary file as created
    std::string buf_;
    off_t zapsano_ = 0;
    unsigned prava_ = platform::pravanovych();
    bool hotovo_ = false;
};

}  // namespace skladba
