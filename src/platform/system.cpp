#include "platform/system.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace skladba::platform {

namespace {

ssize_t systemovypread(int fd, void* buf, size_t count, off_t offset) {
    return ::pread(fd, buf, count, offset);
}

ssize_t systemovypwrite(int fd, const void* buf, size_t count, off_t offset) {
    return ::pwrite(fd, buf, count, offset);
}

Volani volanisystemu{systemovypread, systemovypwrite};

}  // namespace

Volani& volani() { return volanisystemu; }
void obnovvolani() { volanisystemu = Volani{systemovypread, systemovypwrite}; }

Soubor& Soubor::operator=(Soubor&& other) noexcept {
    if (this != &other) {
        zavri();
        fd_ = other.uvolni();
    }
    return *this;
}

Soubor::~Soubor() { zavri(); }

int Soubor::uvolni() {
    int fd = fd_;
    fd_ = -1;
    return fd;
}

void Soubor::zavri() {
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
}

Soubor otevriprocteni(const char* path) {
    return Soubor(::open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK));
}

Soubor otevriprozapis(const char* path) {
    return Soubor(::open(path, O_RDWR | O_CREAT | O_CLOEXEC, 0666));
}

Soubor vytvorprozapis(const char* path) {
    return Soubor(::open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666));
}

ssize_t ctivse(int fd, void* buf, size_t count, off_t offset) {
    auto* bytes = static_cast<char*>(buf);
    size_t done = 0;
    while (done < count) {
        ssize_t n = volanisystemu.pread(fd, bytes + done, count - done, offset + static_cast<off_t>(done));
        if (n < 0) {
            if (errno == EINTR) continue;
            return -1;
        }
        if (n == 0) break;
        done += static_cast<size_t>(n);
    }
    return static_cast<ssize_t>(done);
}

ssize_t zapisjednou(int fd, const void* buf, size_t count, off_t offset) {
    ssize_t n;
    do {
        n = volanisystemu.pwrite(fd, buf, count, offset);
    } while (n < 0 && errno == EINTR);
    return n;
}

bool zapisvse(int fd, const void* buf, size_t count, off_t offset) {
    const auto* bytes = static_cast<const char*>(buf);
    size_t done = 0;
    for (int attempt = 0; done < count; ++attempt) {
        if (attempt == pokusyzapisu) {
            errno = EIO;
            return false;
        }
        ssize_t n = zapisjednou(fd, bytes + done, count - done, offset + static_cast<off_t>(done));
        if (n < 0) return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

int64_t velikost(int fd) {
    struct stat st {};
    if (::fstat(fd, &st) != 0) return -1;
    return static_cast<int64_t>(st.st_size);
}

bool jeobycejny(int fd) {
    struct stat st {};
    return ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
}

bool zkrat(int fd) { return ::ftruncate(fd, 0) == 0; }
bool nastavvelikost(int fd, int64_t bytes) { return ::ftruncate(fd, static_cast<off_t>(bytes)) == 0; }
bool synchronizuj(int fd) { return ::fsync(fd) == 0; }
bool prejmenuj(const char* from, const char* to) { return ::rename(from, to) == 0; }
void smaz(const char* path) { ::unlink(path); }

bool zamkni(int fd) {
    int r;
    do {
        r = ::flock(fd, LOCK_EX | LOCK_NB);
    } while (r != 0 && errno == EINTR);
    return r == 0;
}

bool tentyzsoubor(int fd, const char* path) {
    struct stat a {}, b {};
    if (::fstat(fd, &a) != 0 || ::stat(path, &b) != 0) return false;
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

bool vstupjeterminal() { return ::isatty(STDIN_FILENO) == 1; }

namespace {

// The terminal settings in force before cekejnaklavesu changed them, so that an
// interruption during the wait can put them back.
termios ulozenyterminal {};
volatile std::sig_atomic_t terminalzmenen = 0;

}  // namespace

void cekejnaklavesu() {
    if (::tcgetattr(STDIN_FILENO, &ulozenyterminal) == 0) {
        termios t = ulozenyterminal;
        t.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
        t.c_cc[VMIN] = 1;
        t.c_cc[VTIME] = 0;
        terminalzmenen = 1;
        ::tcsetattr(STDIN_FILENO, TCSANOW, &t);
    }
    char c;
    while (::read(STDIN_FILENO, &c, 1) < 0 && errno == EINTR) {
    }
    if (terminalzmenen) {
        ::tcsetattr(STDIN_FILENO, TCSANOW, &ulozenyterminal);
        terminalzmenen = 0;
    }
}

namespace {

volatile std::sig_atomic_t docasnyoznacen[2] = {0, 0};
const char* volatile docasnacesta[2] = {nullptr, nullptr};

void smazdocasneaskonci(int sig) {
    if (terminalzmenen) ::tcsetattr(STDIN_FILENO, TCSANOW, &ulozenyterminal);
    for (int i = 0; i < 2; ++i) {
        if (docasnyoznacen[i] && docasnacesta[i]) ::unlink(docasnacesta[i]);
    }
    ::_exit(128 + sig);
}

}  // namespace

void oznacdocasny(Docasny which, const char* path) {
    int i = static_cast<int>(which);
    docasnacesta[i] = path;
    docasnyoznacen[i] = 1;
}

void odznacdocasny(Docasny which) { docasnyoznacen[static_cast<int>(which)] = 0; }

void nastavpreruseni() {
    struct sigaction sa {};
    sa.sa_handler = smazdocasneaskonci;
    sigemptyset(&sa.sa_mask);
    sigaddset(&sa.sa_mask, SIGINT);
    sigaddset(&sa.sa_mask, SIGTERM);
    sigaddset(&sa.sa_mask, SIGHUP);
    ::sigaction(SIGINT, &sa, nullptr);
    ::sigaction(SIGTERM, &sa, nullptr);
    ::sigaction(SIGHUP, &sa, nullptr);   // the terminal went away
}

}  // namespace skladba::platform
