#include "output/rozpracovany.h"

#include <cerrno>
#include <utility>

#include "base/chyba.h"

namespace skladba {

namespace {

constexpr size_t velikostbufferu = 1 << 16;

}  // namespace

Rozpracovany::Rozpracovany(std::string cil) : cil_(std::move(cil)), docasny_(cil_ + ".part") {
    // Marked before it exists, with signals held, so that an interruption
    // finds it either marked or not yet made.
    platform::zadrzpreruseni();
    znacka_ = platform::oznacdocasny(docasny_);
    soubor_ = platform::vytvornovy(docasny_.c_str());
    const int err = errno;
    if (!soubor_.otevren()) platform::odznacdocasny(std::exchange(znacka_, -1));
    platform::pustpreruseni();
    if (!soubor_.otevren()) chybasouboru("cannot write", cil_, err);
    totoznost_ = platform::totoznost(soubor_.fd());
    buf_.reserve(velikostbufferu);
}

Rozpracovany::~Rozpracovany() {
    if (hotovo_) return;
    platform::zadrzpreruseni();
    platform::smazsvuj(docasny_.c_str(), totoznost_);
    platform::odznacdocasny(std::exchange(znacka_, -1));
    platform::pustpreruseni();
}

void Rozpracovany::chyba() const {
    const int err = errno;
    chybasouboru("cannot write", cil_, err);
}

void Rozpracovany::vyprazdni() {
    if (buf_.empty()) return;
    if (!platform::zapisvse(soubor_.fd(), buf_.data(), buf_.size(), zapsano_)) chyba();
    zapsano_ += static_cast<off_t>(buf_.size());
    buf_.clear();
}

void Rozpracovany::pis(const void* data, size_t bajtu) {
    const char* p = static_cast<const char*>(data);
    if (buf_.size() + bajtu > velikostbufferu) vyprazdni();
    if (bajtu >= velikostbufferu) {
        if (!platform::zapisvse(soubor_.fd(), p, bajtu, zapsano_)) chyba();
        zapsano_ += static_cast<off_t>(bajtu);
        return;
    }
    buf_.append(p, bajtu);
}

void Rozpracovany::dokonci(bool nadisk) {
    vyprazdni();
    if (!platform::nastavprava(soubor_.fd(), prava_)) chyba();
    if (nadisk && !platform::synchronizuj(soubor_.fd())) chyba();
}

std::string Rozpracovany::prekazka() const {
    if (!platform::tentyzsoubor(soubor_.fd(), docasny_.c_str())) {
        return "cannot write " + cil_ + ": another program replaced its temporary file " + docasny_ +
               " while it was written";
    }
    switch (platform::druh(cil_.c_str())) {
        case platform::Druh::odkaz:
            return "refusing to write " + cil_ + ": it has become a symbolic link";
        case platform::Druh::slozka:
            return "cannot write " + cil_ + ": " + popischyby(EISDIR);
        case platform::Druh::jiny:
            return "refusing to write " + cil_ + ": it has become a file that is not a regular one";
        default:
            return "";
    }
}

void Rozpracovany::prejmenuj() {
    switch (platform::prejmenujsvuj(docasny_.c_str(), cil_.c_str(), totoznost_)) {
        case platform::Prejmenovani::hotovo:
            break;
        case platform::Prejmenovani::nahrazenpred:
            chybasouboru("cannot write " + cil_ + ": another program replaced its temporary file " + docasny_ +
                         " while it was written");
        case platform::Prejmenovani::nahrazenpo:
            hotovo_ = true;
            platform::odznacdocasny(std::exchange(znacka_, -1));
            chybasouboru("cannot write " + cil_ + ": another program replaced it as it was put in place");
        case platform::Prejmenovani::chyba:
            chyba();
    }
    platform::odznacdocasny(std::exchange(znacka_, -1));
    hotovo_ = true;
}

}  // namespace skladba
