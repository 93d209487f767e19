// The score the editor edits, as it stands on disk: read when the server
// starts, saved by writing a temporary file beside it and renaming it into
// place, and watched, so that a change made by another program is noticed
// and never overwritten unasked.
//
// Each state of the file has a version: a digest of its bytes ("none" while
// it does not exist). A save names the version it was made from and is
// refused as a conflict when the file has become something else since.
#pragma once

#include <condition_variable>
#include <mutex>
#include <string>

#include "platform/system.h"

namespace skladba {

class Uloziste {
public:
    // cesta: the file itself (its links followed); jmeno: how messages name it.
    Uloziste(std::string cesta, std::string jmeno);

    struct Obsah {
        bool existuje = false;
        std::string bajty;
        std::string verze;
    };
    // What the file holds now.
    Obsah obsah();

    // Looks at the file: a change made by another program becomes the new
    // version, and those waiting in cekejnazmenu learn of it.
    void podivejse();

    struct Ulozeni {
        bool ulozeno = false;
        bool konflikt = false;   // the file is no longer the version the edit was made from
        std::string verze;       // the file's version afterwards
        std::string chyba;       // why it could not be saved
    };
    // Saves bytes made from the version zaklad.
    Ulozeni uloz(const std::string& bajty, const std::string& zaklad);

    // Waits at most ms milliseconds for a version other than verze, and
    // returns the version then.
    std::string cekejnazmenu(const std::string& verze, int ms);
    // Ends every wait at once: the server stops.
    void probud();

    static std::string verzepro(bool existuje, const std::string& bajty);

private:
    void podivejsezamceno();

    std::string cesta_, jmeno_;
    std::mutex m_;
    std::condition_variable zmena_;
    bool konec_ = false;
    platform::Otisk otisk_;
    bool existuje_ = false;
    std::string bajty_;
    std::string verze_;
};

}  // namespace skladba
