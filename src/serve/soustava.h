// What the editor's server needs of the operating system besides the
// platform layer: a private scratch folder, the
// desktop's browser, and a few facts about the score file.
#pragma once

#include <string>

namespace skladba {

// A new folder of this process's own under $TMPDIR (or /tmp) that no one
// else may read, locked for as long as the process lives. The folders
// earlier servers of this account left there, killed before they could
// remove them, are removed first: those whose lock no one holds. Empty,
// with errno set, when it cannot be made.
std::string novaslozka();
// Removes a folder of this process's own with what is in it.
void smazslozku(const std::string& slozka);

// Opens url in the desktop's browser without putting it in any process's
// arguments, where other accounts could read its key: writes a page of the
// owner's only (slozka/otevri.html, mode 0600) that leads the browser on
// to url, and starts xdg-open on that file without waiting for it. False
// with the reason.
bool otevriprohlizec(const std::string& url, const std::string& slozka, std::string& chyba);

// The file a path names once its links are followed; the path itself when
// it names nothing yet.
std::string skutecnacesta(const std::string& cesta);
// Whether this process may write the file at path.
bool lzeprepsat(const std::string& cesta);
// The permission bits of the file at path; jinak when it has none.
unsigned pravasouboru(const std::string& cesta, unsigned jinak);
// Whether an address is an IPv4 or IPv6 literal ("127.0.0.1", "::1").
bool jeadresa(const std::string& text);
// This machine's host name.
std::string jmenopocitace();

}  // namespace skladba
