#include "lsp/ramec.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <strings.h>
#include <unistd.h>

namespace skladba::lsp {

int Vstup::bajt() {
    if (od_ == do_) {
        ssize_t n;
        do {
            n = ::read(fd_, buf_, sizeof buf_);
        } while (n < 0 && errno == EINTR);
        if (n <= 0) return -1;
        od_ = 0;
        do_ = static_cast<size_t>(n);
    }
    return static_cast<unsigned char>(buf_[od_++]);
}

// One header line without its "\r\n" (a bare "\n" is taken too); false at
// the end of input. An overlong line is cut, not held.
bool Vstup::radek(std::string& r) {
    r.clear();
    for (;;) {
        const int b = bajt();
        if (b < 0) return false;
        if (b == '\n') break;
        if (r.size() < 4096) r += static_cast<char>(b);
    }
    if (!r.empty() && r.back() == '\r') r.pop_back();
    return true;
}

Vstup::Co Vstup::cti(std::string& telo) {
    std::string r;
    int64_t delka = -1;
    bool hlavicky = false;
    for (;;) {
        if (!radek(r)) return Co::konec;
        if (r.empty()) {
            if (hlavicky) break;
            continue;   // blank lines between messages
        }
        hlavicky = true;
        const size_t dvojtecka = r.find(':');
        if (dvojtecka == std::string::npos) continue;
        if (strncasecmp(r.c_str(), "Content-Length", dvojtecka) == 0 && dvojtecka == 14) {
            const char* s = r.c_str() + dvojtecka + 1;
            while (*s == ' ' || *s == '\t') ++s;
            char* konec = nullptr;
            errno = 0;
            const long long n = std::strtoll(s, &konec, 10);
            delka = (konec != s && *konec == '\0' && errno == 0 && n >= 0) ? n : -2;
        }
    }
    if (delka < 0) return Co::hlavicka;
    const bool velka = delka > nejvetsizprava;
    telo.clear();
    if (!velka) telo.reserve(static_cast<size_t>(delka));
    for (int64_t i = 0; i < delka; ++i) {
        if (od_ == do_ && bajt() >= 0) --od_;
        if (od_ == do_) return Co::konec;
        const size_t kolik = static_cast<size_t>(std::min<int64_t>(delka - i, static_cast<int64_t>(do_ - od_)));
        if (!velka) telo.append(buf_ + od_, kolik);
        od_ += kolik;
        i += static_cast<int64_t>(kolik) - 1;
    }
    return velka ? Co::velka : Co::zprava;
}

bool Vystup::posli(const std::string& telo) {
    const std::string zprava = "Content-Length: " + std::to_string(telo.size()) + "\r\n\r\n" + telo;
    std::lock_guard<std::mutex> z(zamek_);
    if (pryc_) return false;
    size_t hotovo = 0;
    while (hotovo < zprava.size()) {
        const ssize_t n = ::write(fd_, zprava.data() + hotovo, zprava.size() - hotovo);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            pryc_ = true;
            return false;
        }
        hotovo += static_cast<size_t>(n);
    }
    return true;
}

}  // namespace skladba::lsp
