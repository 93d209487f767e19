#include "serve/uloziste.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <utility>

#include "app/volby.h"
#include "base/chyba.h"
#include "output/rozpracovany.h"
#include "serve/soustava.h"

namespace skladba {

namespace {

// Puts the rename of a file into the folder on disk too.
void synchronizujslozku(const std::string& cesta) {
    const std::string slozka = slozkacesty(cesta);
    platform::Soubor f = platform::otevriprocteni(slozka.empty() ? "." : slozka.c_str());
    if (f.otevren()) platform::synchronizuj(f.fd());
}

}  // namespace

Uloziste::Uloziste(std::string cesta, std::string jmeno, size_t limit, unsigned prava)
    : cesta_(std::move(cesta)), jmeno_(std::move(jmeno)), limit_(limit), prava_(prava), hlidac_(cesta_, false) {
    verze_ = verzepro(false, "");
    std::lock_guard<std::mutex> prace(prace_);
    precti();
}

std::string Uloziste::verzepro(bool existuje, const std::string& bajty) {
    if (!existuje) return "none";
    // FNV-1a, 64 bits: enough to tell the states of one file apart.
    uint64_t h = 14695981039346656037ull;
    for (const char c : bajty) {
        h ^= static_cast<unsigned char>(c);
        h *= 1099511628211ull;
    }
    char buf[24];
    std::snprintf(buf, sizeof buf, "%016llx", static_cast<unsigned long long>(h));
    return buf;
}

Uloziste::Obsah Uloziste::obsah() {
    {
        std::lock_guard<std::mutex> prace(prace_);
        precti();
    }
    std::lock_guard<std::mutex> zamek(m_);
    return {existuje_, bajty_, verze_, chyba_};
}

void Uloziste::podivejse() {
    std::lock_guard<std::mutex> prace(prace_);
    precti();
}

void Uloziste::precti() {
    // The name itself, not where a link put under it leads.
    if (!hlidac_.zmena(20, 25)) return;
    const platform::Otisk ted = hlidac_.posledni();
    platform::Precteny p = platform::ctisoubor(cesta_.c_str(), limit_);
    const int err = errno;
    std::string chyba;
    if (p.stav == platform::Cteni::jiny) {
        chyba = jmeno_ + " has been replaced by something that is not a regular file (a link, a pipe, a device)";
    } else if (p.stav == platform::Cteni::velky) {
        chyba = jmeno_ + " has grown larger than the editor takes (" + std::to_string(limit_) + " bytes)";
    } else if (p.stav == platform::Cteni::chyba) {
        chyba = "cannot read " + jmeno_ + ": " + popischyby(err);
    }
    const bool existuje = p.stav != platform::Cteni::chybi;
    std::lock_guard<std::mutex> zamek(m_);
    if (existuje == existuje_ && p.bajty == bajty_ && chyba == chyba_) return;
    existuje_ = existuje;
    bajty_ = std::move(p.bajty);
    chyba_ = std::move(chyba);
    // What cannot be served is a version of its own, that no edit was made from.
    verze_ = chyba_.empty() ? verzepro(existuje_, bajty_) : "unreadable-" + std::to_string(ted.inode) + "-" +
                                                                 std::to_string(ted.zmenenostav);
    zmena_.notify_all();
}

Uloziste::Ulozeni Uloziste::uloz(const std::string& bajty, const std::string& zaklad) {
    std::lock_guard<std::mutex> prace(prace_);
    precti();
    Ulozeni r;
    bool existuje = false;
    {
        std::lock_guard<std::mutex> zamek(m_);
        r.verze = verze_;
        existuje = existuje_;
        if (r.verze != zaklad) {
            r.konflikt = true;
            return r;
        }
        // Nothing new, or an empty score that was never saved.
        if (bajty == bajty_ && (existuje_ || bajty.empty())) {
            r.ulozeno = true;
            return r;
        }
    }
    if (existuje && !lzeprepsat(cesta_)) {
        r.chyba = "cannot save " + jmeno_ + ": " + popischyby(errno);
        return r;
    }
    // Written beside the score and renamed into place only when complete
    // and on disk, so that the score is always either the old or the new;
    // it keeps the score's permissions, and until then only its owner can
    // open it.
    try {
        Rozpracovany f(cesta_);
        f.nastavprava(existuje ? pravasouboru(cesta_, prava_) : prava_);
        f.pis(bajty);
        f.dokonci();
        const std::string prekazka = f.prekazka();
        if (!prekazka.empty()) chybasouboru(prekazka);
        f.prejmenuj();
    } catch (const ChybaSouboru& e) {
        r.chyba = "cannot save " + jmeno_ + ": " + e.what();
        return r;
    }
    synchronizujslozku(cesta_);
    hlidac_.prijmi();
    std::lock_guard<std::mutex> zamek(m_);
    existuje_ = true;
    bajty_ = bajty;
    chyba_.clear();
    verze_ = verzepro(existuje_, bajty_);
    zmena_.notify_all();
    r.ulozeno = true;
    r.verze = verze_;
    return r;
}

std::string Uloziste::cekejnazmenu(const std::string& verze, int ms) {
    std::unique_lock<std::mutex> zamek(m_);
    zmena_.wait_for(zamek, std::chrono::milliseconds(ms), [&] { return konec_ || verze_ != verze; });
    return verze_;
}

void Uloziste::probud() {
    std::lock_guard<std::mutex> zamek(m_);
    konec_ = true;
    zmena_.notify_all();
}

}  // namespace skladba
