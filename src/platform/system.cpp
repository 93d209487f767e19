#include "platform/system.h"

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

namespace skladba::platform {

namespace {

ssize_t systemovypread(int fd, void* buf, size_t count, off_t offset) {
    return ::pread(fd, buf, count, offset);
}

ssize_t systemovypwrite(int fd, const void* buf, size_t count, off_t offset) {
    return ::pwrite(fd, buf, count, offset);
}

ssize_t systemovywrite(int fd, const void* buf, size_t count) { return ::write(fd, buf, count); }

Volani volanisystemu{systemovypread, systemovypwrite, systemovywrite};

}  // namespace

Volani& volani() { return volanisystemu; }
void obnovvolani() { volanisystemu = Volani{systemovypread, systemovypwrite, systemovywrite}; }

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
    return Soubor(::open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
}

int obsadstandardni() {
    int zavrene = 0;
    for (int fd = 0; fd <= 2; ++fd) {
        if (::fcntl(fd, F_GETFD) >= 0 || errno != EBADF) continue;
        zavrene |= 1 << fd;
        const int nove = ::open("/dev/null", O_RDWR | O_NOCTTY);
        if (nove > fd) {
            ::dup2(nove, fd);
            ::close(nove);
        }
    }
    return zavrene;
}

Soubor standardnivstup() { return Soubor(::fcntl(STDIN_FILENO, F_DUPFD_CLOEXEC, 0)); }

void cekejnapisatele(int fd) {
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISFIFO(st.st_mode)) return;
    pollfd p{fd, POLLIN, 0};
    while (::poll(&p, 1, -1) < 0 && errno == EINTR) {
    }
}

void nastavblokujici(int fd) {
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags >= 0 && (flags & O_NONBLOCK)) ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
}

Soubor vytvorprozapis(const char* path) {
    return Soubor(::open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666));
}

Druh druh(const char* path) {
    struct stat st {};
    if (::lstat(path, &st) != 0) return Druh::zadny;
    if (S_ISREG(st.st_mode)) return Druh::obycejny;
    if (S_ISLNK(st.st_mode)) return Druh::odkaz;
    if (S_ISDIR(st.st_mode)) return Druh::slozka;
    return Druh::jiny;
}

namespace {

// Removes whatever stands under one of the program's own temporary names, so
// that a fresh file can be created there. A folder is left alone (EISDIR).
bool uvolnijmeno(const char* path) {
    const Druh d = druh(path);
    if (d == Druh::zadny) return true;
    if (d == Druh::slozka) {
        errno = EISDIR;
        return false;
    }
    return ::unlink(path) == 0 || errno == ENOENT;
}

constexpr int pokusyojmeno = 8;

}  // namespace

Soubor otevrizamceny(const char* path) {
    constexpr int priznaky = O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
    for (int attempt = 0; attempt < pokusyojmeno; ++attempt) {
        // A fresh file: O_EXCL never opens anything that already stands there.
        Soubor f(::open(path, priznaky | O_CREAT | O_EXCL, 0666));
        if (!f.otevren()) {
            if (errno != EEXIST) return f;
            // Something stands there: a file an interrupted run left, another
            // run's locked mix, or something planted. Only a regular file is
            // ever opened; anything else loses its name unopened.
            struct stat st {};
            if (::lstat(path, &st) != 0) continue;
            if (S_ISDIR(st.st_mode)) {
                errno = EISDIR;
                return Soubor();
            }
            if (!S_ISREG(st.st_mode)) {
                if (!uvolnijmeno(path)) return Soubor();
                continue;
            }
            f = Soubor(::open(path, priznaky));
            struct stat otevreny {};
            if (!f.otevren() || ::fstat(f.fd(), &otevreny) != 0 || otevreny.st_dev != st.st_dev ||
                otevreny.st_ino != st.st_ino) {
                continue;   // replaced or removed in between: look again
            }
        }
        if (!zamkni(f.fd())) return Soubor();
        struct stat st {};
        if (::fstat(f.fd(), &st) != 0) return Soubor();
        // Another name for the same file: it is someone else's, never ours.
        if (st.st_nlink > 1 && tentyzsoubor(f.fd(), path)) {
            if (::unlink(path) != 0 && errno != ENOENT) return Soubor();
            continue;
        }
        if (!tentyzsoubor(f.fd(), path)) continue;
        return f;
    }
    errno = EBUSY;
    return Soubor();
}

Soubor vytvornovy(const char* path) {
    for (int attempt = 0; attempt < pokusyojmeno; ++attempt) {
        Soubor f(::open(path, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0600));
        if (f.otevren() || errno != EEXIST) return f;
        if (!uvolnijmeno(path)) return Soubor();
    }
    errno = EBUSY;
    return Soubor();
}

bool Hlidac::zmena(int klidms, int pokusu) {
    Otisk ted = otisk(path_.c_str(), nasledovat_);
    if (ted == posledni_) return false;
    for (int i = 0; i < pokusu && ted.existuje; ++i) {
        spi(klidms);
        const Otisk dalsi = otisk(path_.c_str(), nasledovat_);
        if (dalsi == ted) break;
        ted = dalsi;
    }
    posledni_ = ted;
    return true;
}

namespace {

// The umask can only be read by setting it: read once, and kept.
std::atomic<int> pravamasky{-1};

}  // namespace

unsigned pravanovych() {
    int prava = pravamasky.load();
    if (prava < 0) {
        const mode_t maska = ::umask(077);
        ::umask(maska);
        prava = static_cast<int>(0666u & ~static_cast<unsigned>(maska));
        int nic = -1;
        if (!pravamasky.compare_exchange_strong(nic, prava)) prava = nic;
    }
    return static_cast<unsigned>(prava);
}

void jensvoje() {
    ::umask(077);
    pravamasky = 0600;
}

bool nastavprava(int fd, unsigned mode) { return ::fchmod(fd, static_cast<mode_t>(mode & 07777)) == 0; }

Precteny ctisoubor(const char* path, size_t limit) {
    Precteny r;
    Soubor f(::open(path, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (!f.otevren()) {
        r.stav = errno == ENOENT ? Cteni::chybi : errno == ELOOP ? Cteni::jiny : Cteni::chyba;
        return r;
    }
    struct stat st {};
    if (::fstat(f.fd(), &st) != 0) return r;
    r.zarizeni = static_cast<uint64_t>(st.st_dev);
    r.inode = static_cast<uint64_t>(st.st_ino);
    if (!S_ISREG(st.st_mode)) {
        r.stav = Cteni::jiny;
        return r;
    }
    if (static_cast<uint64_t>(st.st_size) > limit) {
        r.stav = Cteni::velky;
        return r;
    }
    // It may grow while it is read: never more than limit + 1 bytes.
    r.bajty.resize(limit + 1);
    const ssize_t n = ctivse(f.fd(), r.bajty.data(), r.bajty.size(), 0);
    if (n < 0) {
        r.bajty.clear();
        return r;
    }
    r.bajty.resize(static_cast<size_t>(n));
    if (r.bajty.size() > limit) {
        r.bajty.clear();
        r.stav = Cteni::velky;
        return r;
    }
    r.bajty.shrink_to_fit();
    r.stav = Cteni::obsah;
    return r;
}

bool nahodne(void* buf, size_t count) {
    Soubor f(::open("/dev/urandom", O_RDONLY | O_CLOEXEC | O_NOCTTY));
    return f.otevren() && ctiproud(f.fd(), buf, count) == static_cast<ssize_t>(count);
}

bool jeobycejnysoubor(const char* path) {
    struct stat st {};
    return ::stat(path, &st) == 0 && S_ISREG(st.st_mode);
}

bool jeslozka(const char* path) {
    struct stat st {};
    return ::stat(path, &st) == 0 && S_ISDIR(st.st_mode);
}

bool lzezapsatdo(const char* folder) {
    struct stat st {};
    if (::stat(folder, &st) != 0) return false;
    if (!S_ISDIR(st.st_mode)) {
        errno = ENOTDIR;
        return false;
    }
    // A folder removed while still open (a current folder someone deleted)
    // takes no new files.
    if (st.st_nlink == 0) {
        errno = ENOENT;
        return false;
    }
    return ::access(folder, W_OK | X_OK) == 0;
}

bool tentyz(const char* a, const char* b) {
    struct stat x {}, y {};
    return ::stat(a, &x) == 0 && ::stat(b, &y) == 0 && x.st_dev == y.st_dev && x.st_ino == y.st_ino;
}

std::string vyresenacesta(const std::string& path) {
    const size_t lomitko = path.rfind('/');
    const std::string slozka = lomitko == std::string::npos ? "." : lomitko == 0 ? "/" : path.substr(0, lomitko);
    const std::string jmeno = lomitko == std::string::npos ? path : path.substr(lomitko + 1);
    const bool celou = jmeno.empty() || jmeno == "." || jmeno == "..";
    char buf[PATH_MAX];
    if (!::realpath(celou ? path.c_str() : slozka.c_str(), buf)) return path;
    if (celou) return buf;
    const std::string vyresena = buf;
    return vyresena + (vyresena == "/" ? "" : "/") + jmeno;
}

namespace {

// Reads until count bytes are in or the file ends, retrying interrupted and
// partial reads: by position from offset, or from the current position of a
// pipe or terminal when offset is negative.
ssize_t ctidokonce(int fd, void* buf, size_t count, off_t offset) {
    auto* bytes = static_cast<char*>(buf);
    size_t done = 0;
    while (done < count) {
        const ssize_t n = offset < 0 ? ::read(fd, bytes + done, count - done)
                                     : volanisystemu.pread(fd, bytes + done, count - done,
                                                           offset + static_cast<off_t>(done));
        if (n < 0) {
            if (errno == EINTR) continue;
            return -1;
        }
        if (n == 0) break;
        done += static_cast<size_t>(n);
    }
    return static_cast<ssize_t>(done);
}

}  // namespace

ssize_t ctivse(int fd, void* buf, size_t count, off_t offset) { return ctidokonce(fd, buf, count, offset); }
ssize_t ctiproud(int fd, void* buf, size_t count) { return ctidokonce(fd, buf, count, -1); }

namespace {

// One call: by position, or at the current position when offset is negative;
// an interrupted call is repeated. Returns what the call returned.
ssize_t zapisjednou(int fd, const char* bytes, size_t count, off_t offset) {
    ssize_t n;
    do {
        n = offset < 0 ? volanisystemu.write(fd, bytes, count) : volanisystemu.pwrite(fd, bytes, count, offset);
    } while (n < 0 && errno == EINTR);
    return n;
}

}  // namespace

bool zapisvse(int fd, const void* buf, size_t count, off_t offset, int* opakovani) {
    const auto* bytes = static_cast<const char*>(buf);
    size_t done = 0;
    int err = 0;
    for (int attempt = 0; done < count; ++attempt) {
        const off_t at = offset < 0 ? -1 : offset + static_cast<off_t>(done);
        if (attempt == pokusyzapisu) {
            if (err == 0) {
                // Short writes do not say why; one more write of the rest
                // does (a full disk, a file-size limit).
                const ssize_t n = zapisjednou(fd, bytes + done, count - done, at);
                if (n == static_cast<ssize_t>(count - done)) return true;
                err = n < 0 ? errno : EIO;
            }
            errno = err;
            return false;
        }
        const ssize_t n = zapisjednou(fd, bytes + done, count - done, at);
        if (n > 0) done += static_cast<size_t>(n);
        if (done < count) {
            err = n < 0 ? errno : 0;
            if (opakovani) ++*opakovani;
        }
    }
    return true;
}

int64_t velikost(int fd) {
    struct stat st {};
    if (::fstat(fd, &st) != 0) return -1;
    return static_cast<int64_t>(st.st_size);
}

int64_t pozicecteni(int fd) { return static_cast<int64_t>(::lseek(fd, 0, SEEK_CUR)); }

bool jeobycejny(int fd) {
    struct stat st {};
    return ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
}

bool nastavvelikost(int fd, int64_t bytes) { return ::ftruncate(fd, static_cast<off_t>(bytes)) == 0; }
bool synchronizuj(int fd) { return ::fsync(fd) == 0; }

bool zamkni(int fd) {
    int r;
    do {
        r = ::flock(fd, LOCK_EX | LOCK_NB);
    } while (r != 0 && errno == EINTR);
    return r == 0;
}

bool tentyzsoubor(int fd, const char* path) {
    struct stat a {}, b {};
    if (::fstat(fd, &a) != 0 || ::lstat(path, &b) != 0) return false;
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

Totoznost totoznost(int fd) {
    struct stat st {};
    if (::fstat(fd, &st) != 0) return {};
    return {static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino)};
}

Totoznost totoznost(const char* path) {
    struct stat st {};
    if (::stat(path, &st) != 0) return {};
    return {static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino)};
}

namespace {

bool jmenuje(const char* path, const Totoznost& t) {
    struct stat st {};
    return ::lstat(path, &st) == 0 && S_ISREG(st.st_mode) && st.st_dev == t.zarizeni && st.st_ino == t.inode;
}

}  // namespace

void smazsvuj(const char* path, const Totoznost& soubor) {
    if (jmenuje(path, soubor)) ::unlink(path);
}

Prejmenovani prejmenujsvuj(const char* from, const char* to, const Totoznost& soubor) {
    if (!jmenuje(from, soubor)) return Prejmenovani::nahrazenpred;
    if (::rename(from, to) != 0) return Prejmenovani::chyba;
    return jmenuje(to, soubor) ? Prejmenovani::hotovo : Prejmenovani::nahrazenpo;
}

bool Otisk::operator==(const Otisk& o) const {
    return existuje == o.existuje && zarizeni == o.zarizeni && inode == o.inode && velikost == o.velikost &&
           zmeneno == o.zmeneno && zmenenostav == o.zmenenostav;
}

namespace {

Otisk zestat(const struct stat& st) {
    Otisk o;
    o.existuje = true;
    o.zarizeni = st.st_dev;
    o.inode = st.st_ino;
    o.velikost = st.st_size;
    o.zmeneno = int64_t{st.st_mtim.tv_sec} * 1000000000 + st.st_mtim.tv_nsec;
    o.zmenenostav = int64_t{st.st_ctim.tv_sec} * 1000000000 + st.st_ctim.tv_nsec;
    return o;
}

}  // namespace

Otisk otisk(const char* path, bool nasledovat) {
    struct stat st {};
    if ((nasledovat ? ::stat(path, &st) : ::lstat(path, &st)) != 0) return Otisk{};
    return zestat(st);
}

Otisk otisk(int fd) {
    struct stat st {};
    if (::fstat(fd, &st) != 0) return Otisk{};
    return zestat(st);
}

}  // namespace skladba::platform
