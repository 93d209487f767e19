#include "serve/soustava.h"

#include <arpa/inet.h>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <vector>
#include <limits.h>
#include <spawn.h>
#include <dirent.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

extern char** environ;

namespace skladba {

namespace {

const char predpona[] = "skladba-serve-";
const char zamek[] = "/zamek";

// Removes the scratch folders in tmp of this account's servers that are gone.
void uklid(const std::string& tmp) {
    DIR* d = ::opendir(tmp.c_str());
    if (!d) return;
    std::vector<std::string> opustene;
    while (const dirent* e = ::readdir(d)) {
        const std::string jmeno = e->d_name;
        if (jmeno.size() != sizeof predpona - 1 + 6 || jmeno.compare(0, sizeof predpona - 1, predpona) != 0) continue;
        const std::string slozka = tmp + "/" + jmeno;
        struct stat st {};
        if (::lstat(slozka.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::getuid()) continue;
        const int fd = ::open((slozka + zamek).c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        if (fd >= 0) {
            // Its server holds the lock while it runs.
            if (::flock(fd, LOCK_EX | LOCK_NB) == 0) opustene.push_back(slozka);
            ::close(fd);
        } else if (errno == ENOENT && st.st_mtime < ::time(nullptr) - 60) {
            // A server that was killed before it could lock it (or older
            // than the lock): a server starting now locks it at once.
            opustene.push_back(slozka);
        }
    }
    ::closedir(d);
    for (const std::string& s : opustene) smazslozku(s);
}

}  // namespace

std::string novaslozka() {
    const char* tmp = std::getenv("TMPDIR");
    const std::string koren = tmp && *tmp ? tmp : "/tmp";
    uklid(koren);
    std::string vzor = koren + "/" + predpona + "XXXXXX";
    if (!::mkdtemp(vzor.data())) return "";
    // Held, never closed, until the process ends.
    const int fd = ::open((vzor + zamek).c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0 || ::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int err = errno;
        smazslozku(vzor);
        errno = err;
        return "";
    }
    return vzor;
}

void smazslozku(const std::string& slozka) {
    std::error_code chyba;
    std::filesystem::remove_all(slozka, chyba);
}

bool otevriprohlizec(const std::string& url, std::string& chyba) {
    posix_spawn_file_actions_t akce;
    posix_spawn_file_actions_init(&akce);
    // The browser's chatter stays out of the server's terminal.
    posix_spawn_file_actions_addopen(&akce, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&akce, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&akce, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    // Its own process group, so that Ctrl-C in the server's terminal stops
    // the server, not the browser.
    posix_spawnattr_t atributy;
    posix_spawnattr_init(&atributy);
    posix_spawnattr_setflags(&atributy, POSIX_SPAWN_SETPGROUP);
    posix_spawnattr_setpgroup(&atributy, 0);
    std::string program = "xdg-open";
    std::string adresa = url;
    char* argv[] = {program.data(), adresa.data(), nullptr};
    // Nobody waits for it: the kernel reaps it once it ends.
    ::signal(SIGCHLD, SIG_IGN);
    pid_t pid = 0;
    const int err = ::posix_spawnp(&pid, "xdg-open", &akce, &atributy, argv, environ);
    posix_spawn_file_actions_destroy(&akce);
    posix_spawnattr_destroy(&atributy);
    if (err != 0) {
        chyba = std::strerror(err);
        return false;
    }
    return true;
}

std::string skutecnacesta(const std::string& cesta) {
    char buf[PATH_MAX];
    if (::realpath(cesta.c_str(), buf)) return buf;
    return cesta;
}

bool lzeprepsat(const std::string& cesta) { return ::access(cesta.c_str(), W_OK) == 0; }

unsigned pravasouboru(const std::string& cesta, unsigned jinak) {
    struct stat st {};
    return ::lstat(cesta.c_str(), &st) == 0 && S_ISREG(st.st_mode) ? st.st_mode & 07777 : jinak;
}

bool jeadresa(const std::string& text) {
    unsigned char buf[16];
    return ::inet_pton(AF_INET, text.c_str(), buf) == 1 || ::inet_pton(AF_INET6, text.c_str(), buf) == 1;
}

std::string jmenopocitace() {
    char buf[256] = {};
    if (::gethostname(buf, sizeof buf - 1) != 0) return "";
    return buf;
}

}  // namespace skladba
