// The score the editor edits, as it stands on disk: read when the server
// starts, saved by writing a temporary file beside it and renaming it into
// place, and watched, so that a change made by another program is noticed
// and never overwritten unasked.
//
// The file is read only as a regular file of at most 1 MB, never through a
// link put in its place, never waiting on a pipe: whatever else takes its
// name is a change the page is told of, with no content to serve.
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
    // cesta: the file itself (its links followed once, at start); jmeno:
    // how messages name it; limit: the most it may hold; prava: the mode it
    // is made with when the first save makes it.
    Uloziste(std::string cesta, std::string jmeno, size_t limit, unsigned prava);

    struct Obsah {
        bool existuje = false;
        std::string bajty;
        std::string verze;
        std::string chyba;   // why what stands under the name is not served
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
    // Reads the file when it changed; the caller holds prace_, never m_.
    void precti();

    std::string cesta_, jmeno_;
    size_t limit_;
    unsigned prava_;
    platform::Hlidac hlidac_;   // under prace_
    std::mutex prace_;   // one reader or writer of the file at a time
    std::mutex m_;       // the state below, never held across a call to the system
    std::condition_variable zmena_;
    bool konec_ = false;
    bool existuje_ = false;
    std::string bajty_;
    std::string verze_;
    std::string chyba_;
};

}  // namespace skladba
