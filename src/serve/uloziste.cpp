#include "serve/uloziste.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <utility>

#include "app/volby.h"
#include "base/chyba.h"
#include "serve/soustava.h"

namespace skladba {

namespace {

// The whole file, or false when it cannot be read as a file.
bool nacti(const std::string& cesta, std::string& bajty) {
    std::ifstream f(cesta, std::ios::binary);
    if (!f) return false;
    bajty.assign(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
    return !f.bad();
}

// Puts the rename of a file into the folder on disk too.
void synchronizujslozku(const std::string& cesta) {
    const std::string slozka = slozkacesty(cesta);
    platform::Soubor f = platform::otevriprocteni(slozka.empty() ? "." : slozka.c_str());
    if (f.otevren()) platform::synchronizuj(f.fd());
}

}  // namespace

Uloziste::Uloziste(std::string cesta, std::string jmeno) : cesta_(std::move(cesta)), jmeno_(std::move(jmeno)) {
    std::lock_guard<std::mutex> zamek(m_);
    verze_ = verzepro(false, "");
    podivejsezamceno();
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
    std::lock_guard<std::mutex> zamek(m_);
    podivejsezamceno();
    return {existuje_, bajty_, verze_};
}

void Uloziste::podivejse() {
    std::lock_guard<std::mutex> zamek(m_);
    podivejsezamceno();
}

void Uloziste::podivejsezamceno() {
    platform::Otisk ted = platform::otisk(cesta_.c_str());
    if (ted == otisk_ && (ted.existuje || !existuje_)) return;
    // Another editor may write in several steps: wait until it holds still.
    for (int i = 0; i < 25; ++i) {
        platform::spi(20);
        const platform::Otisk dalsi = platform::otisk(cesta_.c_str());
        if (dalsi == ted) break;
        ted = dalsi;
    }
    otisk_ = ted;
    std::string bajty;
    const bool existuje = ted.existuje && nacti(cesta_, bajty);
    if (existuje == existuje_ && bajty == bajty_) return;
    existuje_ = existuje;
    bajty_ = std::move(bajty);
    verze_ = verzepro(existuje_, bajty_);
    zmena_.notify_all();
}

Uloziste::Ulozeni Uloziste::uloz(const std::string& bajty, const std::string& zaklad) {
    std::lock_guard<std::mutex> zamek(m_);
    podivejsezamceno();
    Ulozeni r;
    r.verze = verze_;
    if (r.verze != zaklad) {
        r.konflikt = true;
        return r;
    }
    // Nothing new, or an empty score that was never saved.
    if (bajty == bajty_ && (existuje_ || bajty.empty())) {
        r.ulozeno = true;
        return r;
    }
    if (existuje_ && !lzeprepsat(cesta_)) {
        r.chyba = "cannot save " + jmeno_ + ": " + popischyby(errno);
        return r;
    }
    // Written beside the score and renamed into place only when complete
    // and on disk, so that the score is always either the old or the new.
    const std::string docasny = cesta_ + ".part";
    platform::Soubor f = platform::vytvornovy(docasny.c_str());
    if (!f.otevren()) {
        r.chyba = "cannot save " + jmeno_ + ": cannot write " + docasny + ": " + popischyby(errno);
        return r;
    }
    const platform::Totoznost totoznost = platform::totoznost(f.fd());
    if (existuje_) prevezmiprava(f.fd(), cesta_);
    if (!platform::zapisvse(f.fd(), bajty.data(), bajty.size(), 0) || !platform::synchronizuj(f.fd())) {
        r.chyba = "cannot save " + jmeno_ + ": " + popischyby(errno);
        platform::smazsvuj(docasny.c_str(), totoznost);
        return r;
    }
    switch (platform::prejmenujsvuj(docasny.c_str(), cesta_.c_str(), totoznost)) {
        case platform::Prejmenovani::hotovo:
            break;
        case platform::Prejmenovani::chyba:
            r.chyba = "cannot save " + jmeno_ + ": " + popischyby(errno);
            platform::smazsvuj(docasny.c_str(), totoznost);
            return r;
        default:
            r.chyba = "cannot save " + jmeno_ + ": another program put a file of its own under " + docasny;
            platform::smazsvuj(docasny.c_str(), totoznost);
            return r;
    }
    synchronizujslozku(cesta_);
    existuje_ = true;
    bajty_ = bajty;
    verze_ = verzepro(existuje_, bajty_);
    otisk_ = platform::otisk(cesta_.c_str());
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
