#include "platform/klavesy.h"

#include <cstdlib>
#include <dirent.h>
#include <poll.h>
#include <unistd.h>

namespace skladba::platform {

namespace {

// One byte of standard input within milisekund, or -1.
int bajt(int milisekund) {
    pollfd p{STDIN_FILENO, POLLIN, 0};
    if (::poll(&p, 1, milisekund) <= 0 || !(p.revents & POLLIN)) return -1;
    unsigned char c = 0;
    return ::read(STDIN_FILENO, &c, 1) == 1 ? c : -1;
}

}  // namespace

Klavesa ctiklavesu(int milisekund) {
    const int c = bajt(milisekund);
    if (c < 0) return Klavesa::zadna;
    if (c == ' ') return Klavesa::mezera;
    if (c == 'q' || c == 'Q') return Klavesa::konec;
    if (c != 0x1b) return Klavesa::jina;
    // ESC [ D / ESC [ C, ESC [ H / ESC O H / ESC [ 1 ~ / ESC [ 7 ~; the rest
    // of a sequence comes at once.
    const int d = bajt(20);
    if (d != '[' && d != 'O') return Klavesa::jina;
    const int e = bajt(20);
    switch (e) {
        case 'D': return Klavesa::vlevo;
        case 'C': return Klavesa::vpravo;
        case 'H': return Klavesa::domu;
        case '1':
        case '7':
            return bajt(20) == '~' ? Klavesa::domu : Klavesa::jina;
        default: return Klavesa::jina;
    }
}

void cekejnavstup(int milisekund) {
    pollfd p{STDIN_FILENO, POLLIN, 0};
    ::poll(&p, 1, milisekund);
}

std::string novaslozka(const char* predpona) {
    const char* tmp = std::getenv("TMPDIR");
    std::string vzor = std::string(tmp && *tmp ? tmp : "/tmp") + "/" + predpona + ".XXXXXX";
    if (!::mkdtemp(&vzor[0])) return "";
    return vzor;
}

void odstranslozku(const std::string& slozka) {
    if (slozka.empty()) return;
    if (DIR* d = ::opendir(slozka.c_str())) {
        while (dirent* e = ::readdir(d)) {
            const std::string jmeno = e->d_name;
            if (jmeno != "." && jmeno != "..") ::unlink((slozka + "/" + jmeno).c_str());
        }
        ::closedir(d);
    }
    ::rmdir(slozka.c_str());
}

}  // namespace skladba::platform
